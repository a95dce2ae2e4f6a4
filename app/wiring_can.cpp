// Start-up, raster and shutdown wiring of the can component.
#include "wiring.h"

void wire_can_init() {}       // nothing to start yet
void wire_can_rasters() {}    // no raster entry points yet
void wire_can_shutdown() {}   // nothing to stop yet
