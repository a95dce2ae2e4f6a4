// The process's logging call.
//
// A record (level, time, tag with milliseconds and task name, device name and
// a message of at most 200 characters) is put without waiting into the named
// queue "/syslogq"; a reader writes the records to the log file of the device
// folder. Level = facility * 8 + severity; only the severity is compared with
// the threshold (default 7: everything passes).
#pragma once

#include <cstdint>

void syslogx(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Logs "Flooding suspicion! Syslogx message 0x%08x will be suppressed in
// future" at level 147 for a reporting site (its counter's address or an id).
void syslogss_floodwarn(uintptr_t site);

// A reporting site that can repeat keeps a one-byte counter: it logs while the
// counter is below 13, warns once at 13 and stays silent afterwards.
#define SYSLOGX_FLOOD(counter, level, ...)                                   \
    do {                                                                     \
        if ((counter) < 13) {                                                \
            ++(counter);                                                     \
            syslogx((level), __VA_ARGS__);                                   \
        } else if ((counter) == 13) {                                        \
            ++(counter);                                                     \
            syslogss_floodwarn(reinterpret_cast<uintptr_t>(&(counter)));     \
        }                                                                    \
    } while (0)
