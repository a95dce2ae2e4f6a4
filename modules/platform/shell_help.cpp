// The shell command "help": every registered command, with what the
// device's own commands take and do.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace {

struct Summary {
    const char* name;
    const char* text;
};

// One line each, or two where the arguments need them; a command a module
// registered that is not here is listed by its name alone.
constexpr Summary kSummaries[] = {
    {"display", "display page N | brightness N | next | prev | bmpdump FILE | ...: shows a page,\n"
                "      sets the brightness, dumps the screen (display alone: every sub-command)"},
    {"getvar", "getvar NAME: a signal, signal-page value or calibration parameter (NAME[i]: an element)"},
    {"help", "help: this list"},
    {"lof_fratrig", "lof_fratrig: the next fragment (the files split)"},
    {"lof_get", "lof_get: the lap, outing and fragment counters, the lap's time stamp (0.1 ms)\n"
                "      and the absolute lap counter"},
    {"lof_laptrig", "lof_laptrig: the next lap (the files split)"},
    {"lof_outtrig", "lof_outtrig: the next outing (the files split)"},
    {"lof_set", "lof_set LAP OUTING: sets the lap and outing counters"},
    {"meas", "meas [start|stop|init|destroy]: the logging's state (SG: m01 on meas:, TELE: m02,\n"
             "      the telemetry, FDE: m03 on meas2:), or that request to the logging"},
    {"reset_voz", "reset_voz: ends the device in its orderly shutdown"},
    {"setvar", "setvar NAME VALUE: writes what getvar reads and answers with the value written"},
};

const char* summaryOf(const std::string& name) {
    for (const Summary& s : kSummaries)
        if (name == s.name) return s.text;
    return nullptr;
}

}  // namespace

int shell_help(int argc, char**) {
    // it takes no words: extra ones may be a typo of another command
    if (argc > 1) {
        std::printf("usage: help\n");
        return -1;
    }
    std::printf("commands:\n");
    for (const std::string& name : shell_commandNames()) {
        const char* text = summaryOf(name);
        std::printf("  %s\n", text ? text : name.c_str());
    }
    return 0;
}
