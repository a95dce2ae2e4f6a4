#include "measurement/start_condition.h"

namespace {
template <class T>
bool compare(T a, T b, unsigned op) {
    switch (op) {
    case 0: return a < b;
    case 1: return a <= b;
    case 2: return a > b;
    case 3: return a >= b;
    case 4: return a == b;
    case 5: return a != b;
    default: return true;
    }
}
}  // namespace

bool calc_cond(uint32_t value, int size, uint32_t threshold, unsigned op) {
    switch (size) {
    case 4: return compare<uint32_t>(value, threshold, op);
    case 2: return compare<uint16_t>(uint16_t(value), uint16_t(threshold), op);
    case 1: return compare<uint8_t>(uint8_t(value), uint8_t(threshold), op);
    case -1: return compare<int8_t>(int8_t(value), int8_t(threshold), op);
    case -2: return compare<int16_t>(int16_t(value), int16_t(threshold), op);
    case -4: return compare<int32_t>(int32_t(value), int32_t(threshold), op);
    default: return true;
    }
}
