#include "measurement/signal_block.h"

#include <cstdio>

#include "measurement/catalogue.h"

bool signalVars_name(uint32_t base, const SignalVar* vars, size_t n, int suffix) {
    bool ok = true;
    for (size_t i = 0; i < n; ++i) {
        char name[64];
        if (suffix > 0)
            std::snprintf(name, sizeof name, "%s_%d", vars[i].name, suffix);
        else
            std::snprintf(name, sizeof name, "%s", vars[i].name);
        ok &= catalogue_add(name, base + uint32_t(vars[i].offset), vars[i].type) == 1;
    }
    return ok;
}
