// Start-up, raster and shutdown wiring of the xcp component.
#include "wiring.h"

void wire_xcp_init() {}       // nothing to start yet
void wire_xcp_rasters() {}    // no raster entry points yet
void wire_xcp_shutdown() {}   // nothing to stop yet
int wire_xcp_start() { return 1; }   // no XCP slave yet
