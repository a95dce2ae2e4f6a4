// Reads back the records syslogx queued, for tests that check log lines. The
// log reader task must not be running, or it takes the records first.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "host/os/os.h"
#include "platform/syslog_reader.h"

// Takes every record queued so far.
inline std::vector<SyslogRecord> takeLogRecords() {
    std::vector<SyslogRecord> out;
    HostMsgQ* q = syslogx_queue();
    SyslogRecord r;
    while (q && msgQReceive(q, &r, sizeof r, NO_WAIT) == static_cast<long>(sizeof r)) out.push_back(r);
    return out;
}

inline std::string recordText(const SyslogRecord& r) { return std::string(r.msg, strnlen(r.msg, sizeof r.msg)); }

// The messages of every record queued so far.
inline std::vector<std::string> takeLogTexts() {
    std::vector<std::string> out;
    for (const auto& r : takeLogRecords()) out.push_back(recordText(r));
    return out;
}

inline int countContaining(const std::vector<std::string>& texts, const std::string& part) {
    int n = 0;
    for (const auto& t : texts) n += t.find(part) != std::string::npos;
    return n;
}

inline bool logContains(const std::vector<std::string>& texts, const std::string& part) {
    return countContaining(texts, part) > 0;
}

// The messages of the records queued so far whose severity (level & 7) is the
// given one (4: warning); every record is taken.
inline std::vector<std::string> takeTextsAtSeverity(int severity) {
    std::vector<std::string> out;
    for (const auto& r : takeLogRecords())
        if ((r.level & 7) == severity) out.push_back(recordText(r));
    return out;
}
