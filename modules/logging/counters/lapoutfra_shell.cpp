// Target-shell commands of the lap, outing and fragment counters.
#include <cstdio>

#include "logging/counters/lapoutfra.h"
#include "platform/nvram.h"
#include "platform/shell.h"
#include "platform/timebase.h"

namespace {

void printState() {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    std::printf("Valid: \t\t\t%d\n", s.valid);
    std::printf("Lap counter: \t\t%d\n", s.lap);
    std::printf("Outing counter: \t%d\n", s.outing);
    std::printf("Fragment counter: \t%d\n", s.fragment);
    std::printf("Timestamp: \t\t%d\n", int(s.timeStamp));
    std::printf("Absolute lap counter: \t%d (0x%X)\n", s.absLap, s.absLap);
}

// The commands without arguments refuse any.
bool refuseArguments(int argc, char** argv) {
    if (argc <= 1) return false;
    std::printf("usage: %s\n", argv && argv[0] ? argv[0] : "lof_get");
    return true;
}

// A change that could not be stored is lost at the next start: say so. The
// counters' NVRAM writes go to the disk behind the triggers; the shell, which
// may wait for the disk, waits for them (no lock of the counters is held).
int storeResult(const char* command) {
    if (LapOutFra_lastStoreOk() && nvram_dbs_flush()) return 0;
    std::printf("%s: storing the counters in NVRAM failed\n", command);
    return -1;
}

}  // namespace

int lof_set(int argc, char** argv) {
    long lap = 0, outing = 0;
    if (argc != 3 || !argv || !shell_parseLong(argv[1], 0, 0xFFFF, &lap) ||
        !shell_parseLong(argv[2], 0, 0xFFFF, &outing)) {
        std::printf("usage: lof_set lapcnt outcnt\n");
        return -1;
    }
    LapOutFra_initLapOutCnt(uint16_t(lap), uint16_t(outing));
    printState();
    return storeResult("lof_set");
}

int lof_laptrig(int argc, char** argv) {
    if (refuseArguments(argc, argv)) return -1;
    LapOutFraState s{};
    LapOutFra_getState(&s);
    LapOutFra_setLapOutCnt(uint16_t(s.lap + 1), s.outing, time_getTimestamp());
    printState();
    return storeResult("lof_laptrig");
}

int lof_outtrig(int argc, char** argv) {
    if (refuseArguments(argc, argv)) return -1;
    LapOutFraState s{};
    LapOutFra_getState(&s);
    LapOutFra_setLapOutCnt(s.lap, uint16_t(s.outing + 1), time_getTimestamp());
    printState();
    return storeResult("lof_outtrig");
}

int lof_fratrig(int argc, char** argv) {
    if (refuseArguments(argc, argv)) return -1;
    LapOutFra_setFragmentTrig(time_getTimestamp());
    printState();
    return storeResult("lof_fratrig");
}

int lof_get(int argc, char** argv) {
    if (refuseArguments(argc, argv)) return -1;
    printState();
    return 0;
}

int LapOutFra_cmds_init() {
    static const struct {
        const char* name;
        ShellFunc fn;
    } cmds[] = {{"lof_set", lof_set},
                {"lof_laptrig", lof_laptrig},
                {"lof_outtrig", lof_outtrig},
                {"lof_fratrig", lof_fratrig},
                {"lof_get", lof_get}};
    for (const auto& c : cmds)
        if (!msd_shellAddCommand(c.name, c.fn)) return -1;
    return 0;
}
