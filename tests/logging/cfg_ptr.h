// Frees a loaded measurement configuration when the test ends.
#pragma once

#include "logging/config/meas_config.h"

struct CfgPtr {
    MEASConfiguration* p;
    ~CfgPtr() { meas_app_free_MEASConfiguration(p); }
    MEASConfiguration* operator->() { return p; }
};
