// Start-up, raster and shutdown wiring of the display component.
#include "wiring.h"

void wire_display_init() {}       // nothing to start yet
void wire_display_rasters() {}    // no raster entry points yet
void wire_display_shutdown() {}   // nothing to stop yet
int wire_display_start() { return 1; }   // no display yet
