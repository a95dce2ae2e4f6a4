// Free memory of the heap as measurable values, once a second; a log line
// after the first minute and then whenever the free memory reaches a new low.
#include "platform/io.h"
#include "platform/syslogx.h"
#include "virari/netdebug/netdebug.h"

namespace {
constexpr float kMiB = 1.0f / (1024.0f * 1024.0f);
unsigned gCalls = 0;          // 1000 ms raster only
bool gLogged = false;
uint64_t gLowest = 0;
}  // namespace

void mem_usage_1s() {
    MemInfo mi{};
    if (memInfoGet(&mi) != 0) return;
    NetDebugSignals& s = netdebugSignals();
    s.mem_free_mb = float(mi.numBytesFree) * kMiB;
    s.mem_biggest_free_blk_mb = float(mi.maxBlockSizeFree) * kMiB;
    if (++gCalls % 60 != 0) return;
    if (gLogged && mi.numBytesFree >= gLowest) return;
    syslogx(150, "memory usage: %6.2f MB free, biggest free block %6.2f MB", double(s.mem_free_mb),
            double(s.mem_biggest_free_blk_mb));
    gLogged = true;
    gLowest = mi.numBytesFree;
}

void netdebug_resetMemUsage() {
    gCalls = 0;
    gLogged = false;
    gLowest = 0;
}
