// Reader of "cfg:/apps.xml" and the table of application names.
#include "logging/events/event_apps.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/syslogx.h"
#include "xml/xml.h"

namespace {

std::mutex gMx;
bool gRead = false;
char gNames[EVENT_APPS][EVENT_APP_NAME_MAX + 1];
bool gInitialised = false;

// Until the file names them, devices are named by their PID.
void builtIn() {
    for (unsigned pid = 0; pid < EVENT_APPS; ++pid) std::snprintf(gNames[pid], sizeof gNames[pid], "PID%02u", pid);
    gInitialised = true;
}

bool isStart(const XmlTok_t& t) { return t.kind == XML_TOK_START || t.kind == XML_TOK_START_ATTR; }

// One <Application pid= name=/>: only the empty form names a device.
void readApplication(XmlScan& scan, char (&names)[EVENT_APPS][EVENT_APP_NAME_MAX + 1]) {
    int32_t pid = -1;
    char name[EVENT_APP_NAME_MAX + 1] = {};
    XmlTagParser p(2);
    p.addAttribute("pid", &pid, sizeof pid, XML_INT, 0);
    p.addAttribute("name", name, sizeof name, XML_STRING, 0);
    const int kind = p.parse(scan);
    if (pid < 0 || pid >= int32_t(EVENT_APPS)) throw XmlError("pid too high", "pid", scan);
    if (kind == XML_TOK_EMPTY_END) {
        std::memcpy(names[pid], name, sizeof name);
        names[pid][EVENT_APP_NAME_MAX] = 0;
    } else {
        scan.scanOverTag();
    }
}

// The elements of one <Applicationlist> up to its end tag.
void readList(XmlScan& scan, char (&names)[EVENT_APPS][EVENT_APP_NAME_MAX + 1]) {
    XmlTagParser listAttrs(1);   // the list's attributes are read and ignored
    if (listAttrs.parse(scan) == XML_TOK_EMPTY_END) return;
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_EOF) throw XmlError("unexpected end of file", scan);
        if (t.kind == XML_TOK_END) return;   // the end of the list
        if (!isStart(t)) continue;
        if (t.name == "Application") readApplication(scan, names);
        else scan.scanOverTag();
    }
}

}  // namespace

void eventApps_readOnce() {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gInitialised) builtIn();
    if (gRead) return;
    XmlFile file(EVENT_APPS_FILE);
    XmlScan scan(file);
    // a broken file changes nothing: names are taken only when all of it reads
    char names[EVENT_APPS][EVENT_APP_NAME_MAX + 1];
    std::memcpy(names, gNames, sizeof names);
    bool listFound = false;
    for (;;) {
        const XmlTok_t& t = scan.getTok();
        if (t.kind == XML_TOK_EOF) break;
        if (t.kind == XML_TOK_END && scan.getNesting() < 0) throw XmlError("unexpected tag close", scan);
        if (!isStart(t)) continue;
        if (t.name == "Applicationlist") {
            listFound = true;
            readList(scan, names);
        } else {
            scan.scanOverTag();
        }
    }
    // well-formed, but naming nothing: the devices keep their built-in names
    if (!listFound)
        syslogx(148, "eventApps_readOnce(): %s holds no Applicationlist element, all of it ignored", EVENT_APPS_FILE);
    std::memcpy(gNames, names, sizeof names);
    gRead = true;
}

bool eventApps_read() {
    std::lock_guard<std::mutex> lk(gMx);
    return gRead;
}

size_t eventApps_name(unsigned pid, char* out) {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gInitialised) builtIn();
    const char* n = pid < EVENT_APPS ? gNames[pid] : "";
    const size_t len = strnlen(n, EVENT_APP_NAME_MAX);
    std::memcpy(out, n, len);
    out[len] = 0;
    return len;
}

void eventApps_resetForTest() {
    std::lock_guard<std::mutex> lk(gMx);
    builtIn();
    gRead = false;
}
