// Events: short records of something that happened in the car or in the
// device (an error-memory entry raised or cleared, an edge of an event
// channel). Every device sends its events to all devices as command 0x1500;
// every logging device writes all of them into its measurement files.
#pragma once

#include <cstddef>
#include <cstdint>

// What a producer hands to eventlogging_send (native byte order); the name
// and the description travel beside it.
struct EventRecord {
    uint32_t id;          // bits 24..31 the producer (EVENT_ID_*), bits 0..23 its path or event index
    uint32_t timeStamp;   // 0.1 ms: when the event began
    uint32_t duration;    // 0.1 ms; 0 instantaneous, EVENT_DURATION_OPEN while open
    uint8_t kind;         // EVENT_KIND_*
    uint8_t severity;     // 1 Alert, 3 Error, 4 Warning, 6 Info
};

constexpr uint32_t EVENT_ID_OVERLOAD = 0x00000000;
constexpr uint32_t EVENT_ID_ERRMGR = 0x01000000;
constexpr uint32_t EVENT_ID_CHANNEL = 0x02000000;
constexpr uint32_t EVENT_DURATION_OPEN = 0xFFFFFFFFu;

constexpr uint8_t EVENT_KIND_OVERLOAD = 0;
constexpr uint8_t EVENT_KIND_CHANNEL = 2;
constexpr uint8_t EVENT_KIND_ERRMGR = 3;

constexpr uint8_t EVENT_SEV_ALERT = 1;
constexpr uint8_t EVENT_SEV_ERROR = 3;
constexpr uint8_t EVENT_SEV_WARNING = 4;
constexpr uint8_t EVENT_SEV_INFO = 6;

// The command and its message: the 20-byte command header, then the payload
// {u32 id, u32 time stamp, u32 duration, u8 kind, u8 severity, u16 source
// PID, name and NUL, description and NUL}, all big-endian. Name and
// description together hold at most 80 characters, so the payload never
// exceeds 98 bytes and the message fits 120.
constexpr uint16_t CI_CMD_EVENT = 0x1500;
constexpr size_t EVENT_MSG_SIZE = 120;
constexpr size_t EVENT_PAYLOAD_FIXED = 16;
constexpr size_t EVENT_TEXT_MAX = 80;
constexpr size_t EVENT_PAYLOAD_MAX = EVENT_PAYLOAD_FIXED + EVENT_TEXT_MAX + 2;

// The duration of the close of an event open since `start` that ends at
// `end`: never 0, for a duration of 0 is an event of a moment, and the open
// would stay open in every file that holds it. An end at or before the start
// (a step of the time not yet noted, a source silent from the value that
// opened it on) ends the event where it began. Wrap-safe.
constexpr uint32_t event_closeDuration(uint32_t start, uint32_t end) {
    const int32_t lasted = int32_t(end - start);
    return lasted > 0 ? uint32_t(lasted) : 1u;
}

// Builds the whole message addressed to every device (0xFFFE) into msg
// (EVENT_MSG_SIZE bytes, zeroed first): the name is cut at 80 characters,
// the description at 80 minus the name's length. Returns the payload length.
uint16_t event_buildMsg(uint8_t* msg, const EventRecord& ev, const char* name, const char* description,
                        uint16_t sourcePid);
