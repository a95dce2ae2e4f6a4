// The events a logger has written open into the files of the recording
// that runs (from a start to its stop): each is closed in those files, and
// only there. A close is written only for an event whose open such a file
// holds; at the stop every event still open is closed at the stop's stamp
// in the recording's last file, and its own close, when it comes later,
// goes nowhere (the next recording never held its open).
#pragma once

#include <cstdint>

#include "logging/events/event_record.h"

class EventRunOpens {
public:
    struct Open {
        bool used;
        bool held;   // written held back for a new time's first file
        uint16_t pid;
        uint32_t timeOf;   // the time base its open was written in (time_stepOfStamp)
        uint32_t length;
        uint8_t payload[EVENT_PAYLOAD_MAX];
    };
    static constexpr unsigned kOpens = 64;

    // An open (duration EVENT_DURATION_OPEN) of a source PID written into a
    // file in the time base timeOf (held: kept back for the next
    // recording's first file). False when no room is left for it.
    bool opened(uint16_t pid, const uint8_t* payload, uint32_t length, bool held, uint32_t timeOf);
    // A close of an event: true when its open is kept; *timeOf gets the
    // time base of the open, which the close belongs to.
    bool isOpen(uint16_t pid, const uint8_t* payload, uint32_t* timeOf) const;
    // Its close went into a file: the open is forgotten. Until then the
    // stop closes it (a close no file took, stamped past the files' end).
    void closed(uint16_t pid, const uint8_t* payload);
    // The recording ends at `end`: each kept open written into its files is
    // taken out with its payload turned into its close at `end` (one that
    // began at or after `end` ends where it began, event_closeDuration) and
    // handed to `close`. One written held back stays while `inNoFile` says
    // that no file took it yet: its file is the next recording's first,
    // whether it was held before this end or after the end of the recording
    // before (then the file it went into is this one's).
    template <class H, class F>
    unsigned endRun(uint32_t end, H&& inNoFile, F&& close) {
        unsigned n = 0;
        for (Open& o : opens_) {
            if (!o.used) continue;
            if (o.held && inNoFile(o)) continue;
            closeAt(o, end);
            close(o);
            o.used = false;
            ++n;
        }
        return n;
    }
    unsigned count() const;

private:
    static void closeAt(Open& o, uint32_t end);

    Open opens_[kOpens] = {};
};
