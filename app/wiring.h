// Wiring of the components above the platform into the process.
//
// Each component's file app/wiring_<c>.cpp defines these calls; app/startup.cpp
// makes them. Register raster entry points with raster_addEntry()
// (platform/raster.h) in wire_<c>_rasters(); module rasters of their own use
// raster_hookFunction().
//
// Start-up order (each init at the component's first place in the sequence):
//   NVRAM, boot counter, wire_measurement_init (calibration memory and the
//   rest of the measurement core), EPK hand-over, device record, sibling page,
//   time base, raster step 0, NVRAM objects, error memory, CAN receive queue,
//   wire_logging_init (system configuration onwards), shell bridge,
//   wire_virari_init (time service, serial-network manager), wire_can_init
//   (CAN controllers, CAN configuration, CCP master), wire_xcp_init (XCP
//   master), wire_gui_init, wire_display_init (display control and display),
//   wire_telemetry_init (after the logging application),
//   the raster hooks: wire_<c>_rasters() for every component in this order,
//   raster step 1 (dispatching starts), wire_virari_start (measurement time),
//   wire_xcp_start (XCP slave; 0 ends the process), wire_display_start
//   (asks once a tick, at most 50 times, then leaves the asking to a task).
// Shutdown order (after the PWM outputs are off):
//   wire_logging_shutdown (status block, fast stop of the logging),
//   wire_can_shutdown (CAN output), wire_display_shutdown, wire_gui_shutdown,
//   wire_virari_stop_time (time master task), wire_virari_stop_network (DiraDir2 hands no more
//   received commands on), wire_measurement_shutdown (gateway, evaluation modules, ADC filter),
//   wire_xcp_shutdown (XCP slave), wire_virari_shutdown (DiraDir2); then
//   wire_logging_flushed() is polled up to 950 ms, wire_logging_haltWriters waits for
//   a late fast stop, ends the writers' work and names what they had not written,
//   wire_logging_endCopies makes the copies to the USB drive still pending, the
//   rasters stop and the error memory is written; every wait within what is left
//   of the stop's budget (platform/stop_budget.h).
#pragma once

// A start-up step's result: a failure is logged as "startup: <name> failed";
// a fatal one ends the process with the log written. Returns ok.
bool startup_step(const char* name, bool ok, bool fatal = false);

void wire_measurement_init();
void wire_measurement_rasters();
void wire_measurement_shutdown();

void wire_logging_init();
void wire_logging_rasters();
void wire_logging_shutdown();
bool wire_logging_flushed();   // true once the logger has written everything
void wire_logging_haltWriters(unsigned fastStopWaitMs);
// The sources of the records end next: names what a fast stop that has not
// run by then will not find.
void wire_logging_sourcesEnd();
void wire_logging_endCopies(bool filesWhole, unsigned waitMs);

void wire_can_init();
void wire_can_rasters();
void wire_can_shutdown();

void wire_xcp_init();
void wire_xcp_rasters();
int wire_xcp_start();          // XCP slave; 1 on success, 0 ends the process
void wire_xcp_shutdown();

void wire_virari_init();
void wire_virari_rasters();
void wire_virari_start();      // measurement time, after dispatching starts
void wire_virari_stop_time();   // before the command interface goes
void wire_virari_stop_network();   // likewise
void wire_virari_shutdown();
void wire_telemetry_init();    // after the logging application

void wire_gui_init();
void wire_gui_rasters();
void wire_gui_shutdown();

void wire_display_init();
void wire_display_rasters();
void wire_display_start();     // asks a while, then a task of its own keeps asking
void wire_display_shutdown();
