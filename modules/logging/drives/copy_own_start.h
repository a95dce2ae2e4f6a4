// A copy's name on the destination drive may hold the start of the very
// recording it copies: the USB drive's own writer wrote it there until the
// drive was pulled. Such a start is completed in place rather than kept
// beside a second, whole copy under another name.
#pragma once

#include <cstdint>
#include <functional>

enum class MeasOwnStart {
    NONE,        // nothing there, or not this recording's start: the copy goes its usual way
    COMPLETED,   // the file at the name now holds the whole recording
    FAILED,      // it was this recording's start, and could not be completed (logged)
};

// Looks at what stands at `to` (device path) without following a link: a
// plain file with one name that holds at least the file header and is byte
// for byte the start of the source (descriptor src, read from offset 0;
// `from` names it) gets the rest of the source appended. destDrive is
// checked before every piece written, as the copy does. The file the
// drive's writer of this run made under that name and has closed
// (meas_app_writerLetGo) may differ after the file header (it has a gap):
// it is cut back to its first differing byte and completed from there.
// piece is asked with the bytes the file holds by then: false ends the
// completion there (FAILED, not logged: the caller's stop names it).
MeasOwnStart meas_copyCompleteOwnStart(int src, const char* to, const char* from, const char* destDrive,
                                       const std::function<bool(int64_t held)>& piece);
