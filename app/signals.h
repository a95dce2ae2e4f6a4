// SIGINT, SIGTERM, SIGHUP and SIGQUIT end the process in its orderly shutdown;
// a SIGHUP ignored from the start (nohup) stays ignored.
#pragma once

// Blocks those signals in the calling thread (and so in every thread made
// afterwards); call first thing in main. SIGPIPE is ignored, so that a peer
// that closes a socket does not end the process.
void signals_blockTermination();
// Starts a thread that waits for them and calls onSignal once per
// signal (outside any signal handler), at the stop's priority.
void signals_startWatcher(void (*onSignal)());
