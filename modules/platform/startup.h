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
// Blocks the caller until the post-run semaphore is given; the caller
// then runs at the stop's priority (platform/stop_priority.h).
void startup_waitPostrun();
// The longest a stop may take from its request to the end of the process
// (0: no limit, the default), the budget every wait of the stop shares
// (platform/stop_budget.h). Where the stop's tail would begin, a stop that
// has not reached its end is ended by its guard: the logger's halt and the
// copies' end name what they leave, the writes of the device folder that a
// slow disk still holds up are named ("rtpShutdown: the write of nvram.bin
// left unfinished at the stop after 8150 ms"), the log is written out, and
// the process exits with 0, or kExitStopUnnamed when the halt or the log
// could not finish. At the limit itself the process ends whatever still
// runs, with kExitStopUnnamed.
void startup_setStopLimit(unsigned ms);
// The end of the process is claimed once, by the stop's last steps or by
// the limit above: true for the first caller only.
bool startup_claimEnd();

// What the components above the platform do at shutdown, set by the main
// program before start-up ends.
struct ShutdownHooks {
    // Stops the components in their order (status block, logging, CAN output,
    // display, gateway, XCP slave, evaluation modules, ADC filter, DiraDir2).
    void (*stopComponents)() = nullptr;
    // True once the logger has written everything; polled up to 950 ms.
    bool (*loggerFlushed)() = nullptr;
    // Then: the logger's writers stop taking work, and what they had not
    // written is named; returns within a bound, whatever the disk does. It
    // first waits up to fastStopWaitMs for the logging's fast stop to have
    // queued its closes, or names the files it leaves open.
    void (*haltLogger)(unsigned fastStopWaitMs) = nullptr;
    // Then: the copies of finished files still pending are made (filesWhole:
    // the logger was flushed) within waitMs, or named as not made.
    void (*endCopies)(bool filesWhole, unsigned waitMs) = nullptr;
    // After the halt: each measurement still recording whose stop has not
    // said where its recording ended says so now (the fast stop had not run).
    // Takes no lock and touches no file.
    void (*noteRecordingStops)() = nullptr;
};
void rtpShutdown_setHooks(const ShutdownHooks& hooks);
// The logger's halt and the copies' end, once, by the stop or by its guard
// (filesWhole as above). A later caller waits a little for the first: true
// once they have run, with their naming of what they leave. Every caller
// has the recordings' ends said before it returns.
bool rtpShutdown_endLogging(bool filesWhole, unsigned fastStopWaitMs);

// The ordered shutdown: PWM outputs off, the components' stops, the wait for
// the logger, the rasters stopped (the watchdog enters its shutdown mode), the
// error memory written, one log line per raster with its tick count, and the
// log written out. Runs once; further calls return at once. Every wait takes
// its share of the stop's budget (platform/stop_budget.h). Returns the exit
// code: 0, or kExitStopUnnamed when the log could not be written out.
int rtpShutdown();
