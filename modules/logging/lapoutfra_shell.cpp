// Target-shell commands of the lap, outing and fragment counters.
#include <cstdio>
#include <cstdlib>

#include "logging/lapoutfra.h"
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

}  // namespace

int lof_set(int argc, char** argv) {
    if (argc != 3 || !argv) {
        std::printf("usage: lof_set lapcnt outcnt\n");
        return 0;
    }
    LapOutFra_initLapOutCnt(uint16_t(std::strtol(argv[1], nullptr, 10)),
                            uint16_t(std::strtol(argv[2], nullptr, 10)));
    printState();
    return 0;
}

int lof_laptrig(int, char**) {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    LapOutFra_setLapOutCnt(uint16_t(s.lap + 1), s.outing, time_getTimestamp());
    printState();
    return 0;
}

int lof_outtrig(int, char**) {
    LapOutFraState s{};
    LapOutFra_getState(&s);
    LapOutFra_setLapOutCnt(s.lap, uint16_t(s.outing + 1), time_getTimestamp());
    printState();
    return 0;
}

int lof_fratrig(int, char**) {
    LapOutFra_setFragmentTrig(time_getTimestamp());
    printState();
    return 0;
}

int lof_get(int, char**) {
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
