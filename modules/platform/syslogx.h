// The process's logging call.
//
// A record (level, time, tag with milliseconds and task name, device name and
// a message of at most 200 characters) is put without waiting into the named
// queue "/syslogq"; a reader writes the records to the log file of the device
// folder. Level = facility * 8 + severity; only the severity is compared with
// the threshold (default 7: everything passes).
#pragma once

#include <cstdint>

// A line that names records lost, dropped or refused (measurement records,
// events, values, files or parts of them) adds SYSLOGX_LOSS to its level,
// e.g. syslogx(147 | SYSLOGX_LOSS, ...) or SYSLOGX_FLOOD(counter, 147 |
// SYSLOGX_LOSS, ...). Such a line is never lost to the log's limits: it
// passes the threshold, is never folded into "Last message repeated" (a fold
// it breaks is said first), and past a flood limit, or when the log queue is
// full, it is counted instead of dropped; the count is logged by the log
// reader within about a second with the last line it counts: "syslogx: N
// lines held back by the flood limit, the last: TEXT" ("... by a full log
// queue, ..."). The flag is not part of the record's level.
constexpr int SYSLOGX_LOSS = 1 << 16;

void syslogx(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The flood warning of a reporting site (its counter's address): logs
// "Flooding suspicion! Syslogx message "TEXT" will be suppressed in future"
// at level 147 with the text of the site's message that the limit holds
// back first; for a line with SYSLOGX_LOSS "... will be held back and counted
// in future", and that line is counted.
void syslogss_floodwarn(const void* site, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
// A line with SYSLOGX_LOSS past its site's flood limit: counted (see above).
void syslogx_floodHold(const void* site, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A reporting site that can repeat keeps a one-byte counter: it logs while the
// counter is below 13, warns once at 13 and stays silent afterwards; a line
// with SYSLOGX_LOSS is counted afterwards instead.
#define SYSLOGX_FLOOD(counter, level, ...)                                   \
    do {                                                                     \
        if ((counter) < 13) {                                                \
            ++(counter);                                                     \
            syslogx((level), __VA_ARGS__);                                   \
        } else if ((counter) == 13) {                                        \
            ++(counter);                                                     \
            syslogss_floodwarn(&(counter), (level), __VA_ARGS__);            \
        } else if ((level) & SYSLOGX_LOSS) {                                 \
            syslogx_floodHold(&(counter), (level), __VA_ARGS__);             \
        }                                                                    \
    } while (0)

// A line on lost records that a flood limit of its own held back: counted,
// and logged by the log reader within about a second as head, the count and
// tail in one line at level (e.g. "Diradir2: ", " log lines on records for a
// full FIFO caused by ADDRESS were held back"). Lines of equal head and tail
// count together.
void syslogx_countHeld(int level, const char* head, const char* tail);
// Logs every count held back so far, each in one line (the log reader calls
// it about once a second and before it stops). False when the log queue had
// no room for all of them: the rest are logged at the next call.
bool syslogx_reportHeld();
