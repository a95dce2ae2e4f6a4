// A USB stick slowed to a crawl: every write takes 300 ms, and the data are
// touched only after the wait (a frame freed meanwhile shows).
#pragma once

#include <atomic>

#include "host/os/os.h"
#include "logging/store/writer.h"

class CrawlingWriter : public measure::store::USBWriter {
public:
    using USBWriter::USBWriter;
    bool write(int vfIdx, const uint8_t* data, unsigned length) override {
        beforeWrite();
        taskDelay(300);
        volatile uint8_t sum = 0;
        for (unsigned i = 0; i < length; ++i) sum = uint8_t(sum + data[i]);
        (void)sum;
        return USBWriter::write(vfIdx, data, length);
    }

    // Set when the back end has removed it: a removed writer finds its id
    // gone at the start of its next pass and subscribes again within that
    // pass, so its id shows 255 only for a moment, which a test on a slow
    // host easily misses.
    std::atomic<bool> removed{false};

protected:
    // What a test looks at when a write begins.
    virtual void beforeWrite() {}
    bool taskMain() override {
        if (id() == 255) removed = true;
        return USBWriter::taskMain();
    }
};
