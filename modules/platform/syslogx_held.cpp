// The counts of lines on lost records that were held back: a bounded table,
// reported by the log reader about once a second, so that a count is never
// left waiting for a later line of its kind that may not come.
#include "platform/syslogx.h"
#include "platform/syslogx_held.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr size_t kLine = 200;      // a record's message
constexpr unsigned kSlots = 64;

struct Held {
    const void* site = nullptr;
    int level = 0;
    unsigned count = 0;            // 0: the slot is free
    char head[32] = "";
    char tail[kLine + 1] = "";     // with the last line's text for a site
};

std::mutex gMx;
Held gHeld[kSlots];

void copyText(char* out, size_t size, const char* a, const char* b, size_t blen) {
    snprintf(out, size, "%s%.*s", a ? a : "", int(blen), b ? b : "");
}

bool matches(const Held& h, const void* site, const char* head, const char* tail) {
    if (h.count == 0) return false;
    if (site) return h.site == site;
    return !h.site && strcmp(h.head, head) == 0 && strcmp(h.tail, tail) == 0;
}

size_t lineOf(const Held& h, char (&line)[kLine + 1]) {
    const int n = snprintf(line, sizeof line, "%s%u%s", h.head, h.count, h.tail);
    return n < 0 ? 0 : size_t(n) < kLine ? size_t(n) : kLine;
}

}  // namespace

bool syslogx_holdLine(const void* site, int level, const char* head, const char* tail, const char* text, size_t len) {
    if (!head) head = "";
    if (!tail) tail = "";
    char full[kLine + 1];
    copyText(full, sizeof full, tail, text, text ? len : 0);
    {
        std::lock_guard<std::mutex> lk(gMx);
        Held* free = nullptr;
        for (Held& h : gHeld) {
            if (matches(h, site, head, full)) {
                if (h.count != ~0u) ++h.count;
                h.level = level;
                if (site) memcpy(h.tail, full, sizeof h.tail);   // the last line is named
                return true;
            }
            if (!free && h.count == 0) free = &h;
        }
        if (free) {
            free->site = site;
            free->level = level;
            free->count = 1;
            snprintf(free->head, sizeof free->head, "%s", head);
            memcpy(free->tail, full, sizeof free->tail);
            return true;
        }
    }
    // every slot counts something else: this one is said now
    Held one;
    one.count = 1;
    snprintf(one.head, sizeof one.head, "%s", head);
    memcpy(one.tail, full, sizeof one.tail);
    char line[kLine + 1];
    return syslogx_sendNow(level, line, lineOf(one, line));
}

void syslogx_countHeld(int level, const char* head, const char* tail) {
    syslogx_holdLine(nullptr, level & ~SYSLOGX_LOSS, head, tail, nullptr, 0);
}

bool syslogx_reportHeld() {
    // The counts are taken under the lock and sent outside it (taking the
    // record's task name and device name on the way); a count the queue
    // has no room for goes back, added to what came meanwhile.
    static std::mutex reporting;   // one report at a time, so the order of counts stays
    std::lock_guard<std::mutex> one(reporting);
    static Held taken[kSlots];     // the reader's stack is small; guarded by `reporting`
    unsigned n = 0;
    {
        std::lock_guard<std::mutex> lk(gMx);
        for (Held& h : gHeld) {
            if (h.count == 0) continue;
            taken[n++] = h;
            h = Held{};
        }
    }
    unsigned sent = 0;
    for (; sent < n; ++sent) {
        char line[kLine + 1];
        if (!syslogx_sendNow(taken[sent].level, line, lineOf(taken[sent], line))) break;
    }
    if (sent == n) return true;
    std::lock_guard<std::mutex> lk(gMx);
    for (unsigned i = sent; i < n; ++i) {
        const Held& back = taken[i];
        Held* into = nullptr;
        for (Held& h : gHeld)
            if (matches(h, back.site, back.head, back.tail)) {
                into = &h;
                break;
            }
        if (into) {
            into->count = into->count + back.count < into->count ? ~0u : into->count + back.count;
            continue;
        }
        // into a free slot: none is free only when other sites' counts took
        // every slot within the moment of the report (64 of them)
        for (Held& h : gHeld)
            if (h.count == 0) {
                h = back;
                break;
            }
    }
    return false;
}
