// Within the log: the counts of lines on lost records held back (by a
// flood limit or a full log queue), which the log reader logs about once a
// second (syslogx_reportHeld).
#pragma once

#include <cstddef>

// What the count of a flood-limited site's lines says after the number.
constexpr const char* kFloodHeldTail = " lines held back by the flood limit, the last: ";

// Counts one line held back under site; its count is logged as head, the
// count, tail and text (the last line counted, len characters). A null site
// counts the lines of equal head and tail together. With no room left for
// another count the line goes out now as a count of 1; false when the queue
// has no room for it either.
bool syslogx_holdLine(const void* site, int level, const char* head, const char* tail, const char* text, size_t len);

// Queues one record of the calling task without waiting and without
// folding; false when the queue has no room.
bool syslogx_sendNow(int level, const char* msg, size_t len);
