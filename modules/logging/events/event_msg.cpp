// The event command message as every device sends and receives it.
#include "logging/events/event_record.h"

#include <cstring>

#include "measurement/comint.h"

uint16_t event_buildMsg(uint8_t* msg, const EventRecord& ev, const char* name, const char* description,
                        uint16_t sourcePid) {
    std::memset(msg, 0, EVENT_MSG_SIZE);
    const size_t nameLen = name ? strnlen(name, EVENT_TEXT_MAX) : 0;
    const size_t descLen = description ? strnlen(description, EVENT_TEXT_MAX - nameLen) : 0;
    const uint16_t len = uint16_t(EVENT_PAYLOAD_FIXED + nameLen + 1 + descLen + 1);
    be_put16(msg + 2, len);
    be_put16(msg + 4, sourcePid);
    be_put16(msg + 6, CI_PID_ALL);
    be_put16(msg + 16, CI_CMD_EVENT);
    uint8_t* p = msg + CI_HEADER_SIZE;
    be_put32(p, ev.id);
    be_put32(p + 4, ev.timeStamp);
    be_put32(p + 8, ev.duration);
    p[12] = ev.kind;
    p[13] = ev.severity;
    be_put16(p + 14, sourcePid);
    if (nameLen) std::memcpy(p + EVENT_PAYLOAD_FIXED, name, nameLen);
    if (descLen) std::memcpy(p + EVENT_PAYLOAD_FIXED + nameLen + 1, description, descLen);
    return len;
}
