// Post-run semaphore and the ordered shutdown of the process.
//
// The main task creates "/SemPostDrive<n>" at start-up and, once the start-up
// is done, blocks on it. startPostrun() (XCP store-calibration, the display's
// page-set command, the shell's "reset_voz", SIGINT/SIGTERM, or anyone who
// opens the semaphore by name) wakes it; it then runs rtpShutdown() and the
// process ends.
#pragma once

// Creates (or opens) "/SemPostDrive<appNumber>". 1 on success.
int startup_postrunInit(int appNumber);
// Gives the post-run semaphore.
void startPostrun();
// Blocks the caller until the post-run semaphore is given.
void startup_waitPostrun();

// What the components above the platform do at shutdown, set by the main
// program before start-up ends.
struct ShutdownHooks {
    // Stops the components in their order (status block, logging, CAN output,
    // display, gateway, XCP slave, evaluation modules, ADC filter, DiraDir2).
    void (*stopComponents)() = nullptr;
    // True once the logger has written everything; polled up to 950 ms.
    bool (*loggerFlushed)() = nullptr;
    // Then: the copies of finished files still pending are made (filesWhole:
    // the logger was flushed) or named as not made; returns within a bound.
    void (*endCopies)(bool filesWhole) = nullptr;
};
void rtpShutdown_setHooks(const ShutdownHooks& hooks);

// The ordered shutdown: PWM outputs off, the components' stops, the wait for
// the logger, the rasters stopped (the watchdog enters its shutdown mode), the
// error memory written, one log line per raster with its tick count, and the
// log written out. Runs once; further calls return at once.
void rtpShutdown();
