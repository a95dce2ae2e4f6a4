#include "logging/events/event_channel_data.h"

#include <bit>
#include <cmath>

#include "measurement/chandata.h"
#include "platform/byteorder.h"

EventChData::EventChData(measaddr_t address, uint32_t mask, TypeEnum_t type, const char* name, const char* vtab,
                         const float (&coeff)[6])
    : address_(address),
      mask_(mask),
      shift_(mask ? uint8_t(std::countr_zero(mask)) : 0),
      elemType_(convDataType(type)),
      name_(name ? name : ""),
      vtab_(vtab ? vtab : ""),
      a_(coeff[0]), b_(coeff[1]), c_(coeff[2]), d_(coeff[3]), e_(coeff[4]), f_(coeff[5]) {}

uint8_t EventChData::convDataType(TypeEnum_t t) { return ChanData::convDataType(t); }

unsigned EventChData::elemWidth(uint8_t t) {
    switch (t) {
    case GW_INT8: case GW_UINT8: case GW_BOOL8: return 1;
    case GW_INT16: case GW_UINT16: return 2;
    case GW_INT32: case GW_UINT32: case GW_FLOAT32: return 4;
    default: return 0;
    }
}

void EventChData::putData(const uint8_t* p) {
    switch (elemType_) {
    case GW_INT8: rawInt_ = int8_t(p[0]); break;
    case GW_UINT8: case GW_BOOL8: rawInt_ = p[0]; break;
    case GW_INT16: rawInt_ = int16_t(be_get16(p)); break;
    case GW_UINT16: rawInt_ = be_get16(p); break;
    case GW_INT32: rawInt_ = int32_t(be_get32(p)); break;
    case GW_UINT32: rawInt_ = be_get32(p); break;
    case GW_FLOAT32: rawFloat_ = be_getf(p); break;
    default: return;
    }
    converted_ = false;
    received_.fetch_add(1, std::memory_order_relaxed);
    updated_.store(true, std::memory_order_release);
}

void EventChData::updateData() {
    double x;
    switch (elemType_) {
    case GW_FLOAT32: x = rawFloat_; break;
    case GW_INT8: case GW_INT16: case GW_INT32:
        x = double(rawInt_ >> shift_);   // signed values are shifted, not masked
        break;
    default:
        x = double(mask_ ? (uint64_t(rawInt_) & mask_) >> shift_ : uint64_t(rawInt_));
        break;
    }
    phys_ = b_ != 0 ? (double(f_) * x - double(c_)) / double(b_) : 0;
    converted_ = true;
}

double EventChData::getQuantData() {
    if (!converted_) updateData();
    return phys_;
}

uint32_t EventChData::getQuantDataU32() {
    const double v = getQuantData();
    if (!(v > 0)) return 0;   // negative values and NaN give 0
    return v >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(v);
}

int32_t EventChData::getQuantDataS32() {
    const double v = getQuantData();
    if (std::isnan(v)) return 0;
    if (v <= -2147483648.0) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return int32_t(v);
}

double EventChData::getRawData() const { return elemType_ == GW_FLOAT32 ? rawFloat_ : double(rawInt_); }
uint32_t EventChData::getRawDataU32() const {
    return elemType_ == GW_FLOAT32 ? (rawFloat_ > 0 && rawFloat_ < 4294967296.0 ? uint32_t(rawFloat_) : 0)
                                   : uint32_t(rawInt_);
}
int32_t EventChData::getRawDataS32() const {
    return elemType_ == GW_FLOAT32 ? (std::fabs(rawFloat_) < 2147483647.0 ? int32_t(rawFloat_) : 0)
                                   : int32_t(rawInt_);
}
