// Start-up, raster and shutdown wiring of the virari component.
#include "wiring.h"

void wire_virari_init() {}       // nothing to start yet
void wire_virari_rasters() {}    // no raster entry points yet
void wire_virari_shutdown() {}   // nothing to stop yet
void wire_virari_start() {}   // no measurement time yet
