// Shell commands "getvar" and "setvar" over the variable catalogue.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "platform/shell.h"

int shell_getvar(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: getvar <name>\n");
        return -1;
    }
    CatEntry el;
    const CatEntry* e = catalogue_find(argv[1], &el);
    if (!e) {
        std::printf("getvar: unknown variable %s\n", argv[1]);
        return -1;
    }
    char line[128];
    catalogue_format(e, line, sizeof line);
    std::printf("%s\n", line);
    return 0;
}

int shell_setvar(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: setvar <name> <value>\n");
        return -1;
    }
    CatEntry el;
    const CatEntry* e = catalogue_find(argv[1], &el);
    if (!e) {
        std::printf("setvar: unknown variable %s\n", argv[1]);
        return -1;
    }
    char* end = nullptr;
    double v = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !std::isfinite(v)) {
        std::printf("setvar: %s is no number\n", argv[2]);
        return -1;
    }
    if (!catalogue_write(e, v)) {
        std::printf("setvar: %s refused for %s\n", argv[2], argv[1]);
        return -1;
    }
    if (seramVirtualAddrIsRefpage(MEASADDR_OFFSET(e->addr)) && seramActiveOffset.load() == 0)
        std::printf("setvar: %s written to the working page; the reference page is active\n", argv[1]);
    // What was written, not what the variable holds by now: the stimulus or
    // another task may have written it again meanwhile.
    char line[128];
    catalogue_formatValue(e, v, line, sizeof line);
    std::printf("%s\n", line);
    return 0;
}

int catalogue_shell_init() {
    return msd_shellAddCommand("getvar", shell_getvar) && msd_shellAddCommand("setvar", shell_setvar) ? 1 : 0;
}
