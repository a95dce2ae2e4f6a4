#include "logging/meas_app_drives.h"

#include "platform/files.h"

int meas_app_driveAvDebounce(const char* drive) { return drive && driveAvailable(drive) == 0 ? 0 : -1; }
