#include "logging/meas_runtime.h"

meas_t meas[MEAS_COUNT];
TeleSlot tele[TELE_SLOTS];
