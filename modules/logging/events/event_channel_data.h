// One input channel of the event channels: a measured value of this or
// another device read through the gateway, its mask and its conversion into
// a physical value.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "measurement/types.h"

class EventChData {
public:
    // coeff: a, b, c, d, e, f; the physical value is (f * x - c) / b, so b
    // must not be 0 (the reader refuses such a channel).
    EventChData(measaddr_t address, uint32_t mask, TypeEnum_t type, const char* name, const char* vtab,
                const float (&coeff)[6]);

    // Gateway element type of a configured type (255 for none).
    static uint8_t convDataType(TypeEnum_t t);
    // Bytes of the element type in a slot (0 for an unknown type).
    static unsigned elemWidth(uint8_t elemType);

    // Stores the big-endian value of the element type found at p; the value
    // counts as updated and is converted at the next read.
    void putData(const uint8_t* p);
    // Converts the latest raw value.
    void updateData();
    double getQuantData();
    uint32_t getQuantDataU32();
    int32_t getQuantDataS32();
    double getRawData() const;
    uint32_t getRawDataU32() const;
    int32_t getRawDataS32() const;
    bool getMeasUpdateState() const { return updated_.load(std::memory_order_acquire); }
    // No data from the source: the value is no longer current.
    void setTimeout() { updated_.store(false, std::memory_order_release); }
    // Values stored so far (wraps): a reader that notes it sees when a new one came.
    uint32_t receivedCount() const { return received_.load(std::memory_order_acquire); }

    measaddr_t address() const { return address_; }
    uint8_t elemType() const { return elemType_; }
    unsigned width() const { return elemWidth(elemType_); }
    uint32_t mask() const { return mask_; }
    uint8_t shift() const { return shift_; }
    const std::string& name() const { return name_; }

private:
    measaddr_t address_;
    uint32_t mask_;
    uint8_t shift_;        // trailing zero bits of the mask (0 without a mask)
    uint8_t elemType_;
    std::string name_;
    std::string vtab_;
    float a_, b_, c_, d_, e_, f_;
    int64_t rawInt_ = 0;
    double rawFloat_ = 0;
    std::atomic<bool> updated_{false};
    std::atomic<uint32_t> received_{0};
    bool converted_ = false;
    double phys_ = 0;
};
