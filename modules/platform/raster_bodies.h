// The raster bodies r1ms ... r1000ms, rEthSend_online/offline, rMeasure and
// the event rasters: fixed call orders over registered entry points.
#pragma once

#include "platform/raster.h"

// Forgets every registration and resets the bodies' tick counters.
void rasterBodies_reset();
// Runs one cycle of a body.
void rasterBodies_run(int body);
