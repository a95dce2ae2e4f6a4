// Log lines that another device (or anybody on the network) causes, limited
// per source address: each address may write 13 lines of each kind a
// minute. What it causes beyond that is held back and counted, and the
// first line of the kind in a later minute is preceded by one line saying
// how many were held back; so a flooding address cannot fill the log, a
// real peer's comings and goings are logged again a minute later, and the
// other addresses are not silenced with it. The count of the lines on
// records dropped is logged within about a second instead (by the log
// reader): it must not wait for a later line that may never come.
//
// A bounded table: an address quiet for a minute gives its slot to a new
// one; while every slot is in use, new addresses share one last set.
#include <arpa/inet.h>

#include <cstdio>
#include <ctime>
#include <iterator>

#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2_internal.h"

namespace {
constexpr unsigned kAddresses = 32;
constexpr unsigned kBudget = 13;          // lines of one kind per address and window
constexpr int64_t kWindowMs = 60000;

// What a kind of line is about, for the line that reports it held back.
const char* const kLineName[] = {
    "accepted connections",
    "connections of no host",
    "socket closes",
    "hosts added",
    "hosts timed out",
    "hosts gone offline",
    "routes removed",
    "hosts disconnected",
    "hosts moved",
    "resets",
    "channel records made",
    "channels up on one side only",
    "channels established",
    "active connects",
    "active connect binds failed",
    "active connects failed",
    "channel sockets not made",
    "channels disconnected",
    "data addresses set before",
    "header receive errors",
    "connections closed by the peer",
    "receive errors",
    "records for other PIDs",
    "peers taking no data",
    "short presence messages",
    "presence messages of a wrong PID",
    "second units under a PID",
    "command streams out of step",
    "records for a full FIFO",
    "records or commands too long",
    "served lists stopped",
};
static_assert(std::size(kLineName) == BC2_FLOOD_LINES, "every limited line has its name");

struct Window {
    uint64_t start = 0;      // ms, when the window began
    uint16_t used = 0;       // lines let through in it
    bool warned = false;     // the holding back was announced
    uint32_t held = 0;       // lines held back since the last report
};

struct Slot {
    bool used = false;
    uint32_t addr = 0;
    uint64_t lastMs = 0;     // the last line of the address, let through or not
    Window w[BC2_FLOOD_LINES];
};

std::mutex gMx;
Slot gSlots[kAddresses + 1];   // the last one: addresses beyond the table

bool elapsed(uint64_t now, uint64_t since) { return int64_t(now - since) >= kWindowMs; }

// The kinds of line that name records dropped.
bool namesLoss(Bc2FloodLine line) { return line == FL_FIFO_FULL || line == FL_TOO_LONG; }

void addrText(const Slot& s, char* out, size_t size) {
    if (&s == &gSlots[kAddresses]) {
        snprintf(out, size, "other addresses");
        return;
    }
    in_addr a{};
    a.s_addr = s.addr;
    if (!inet_ntop(AF_INET, &a, out, socklen_t(size))) snprintf(out, size, "?");
}

// What is to be logged besides the line itself (filled under the lock,
// logged after it).
struct Notes {
    char addr[INET_ADDRSTRLEN + 16] = "";
    char evicted[INET_ADDRSTRLEN + 16] = "";
    uint32_t evictedHeld = 0;
    uint32_t held = 0;       // reported before the line
    uint32_t othersHeld = 0; // held back of the addresses beyond the table, reported too
    bool warn = false;       // the line is the first held back in its window
};

// A window whose minute is over begins anew; what it held back is returned
// for the report.
uint32_t renewIfOver(Window& w, uint64_t now) {
    if (w.used != 0 && !elapsed(now, w.start)) return 0;
    const uint32_t held = w.held;
    w = Window{};
    w.start = now;
    return held;
}

Slot& slotFor(uint32_t addr, uint64_t now, Notes& n) {
    Slot* free = nullptr;
    Slot* quietest = nullptr;
    for (unsigned i = 0; i < kAddresses; ++i) {
        Slot& s = gSlots[i];
        if (s.used && s.addr == addr) return s;
        if (!s.used) {
            if (!free) free = &s;
        } else if (!quietest || int64_t(quietest->lastMs - s.lastMs) > 0) {
            quietest = &s;
        }
    }
    Slot* take = free;
    if (!take) {
        if (!quietest || !elapsed(now, quietest->lastMs)) return gSlots[kAddresses];
        // what was held back of the address that leaves is said now
        for (const Window& w : quietest->w) n.evictedHeld += w.held;
        if (n.evictedHeld) addrText(*quietest, n.evicted, sizeof n.evicted);
        take = quietest;
    }
    *take = Slot{};
    take->used = true;
    take->addr = addr;
    return *take;
}
}  // namespace

uint64_t bc2_now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000u + uint64_t(t.tv_nsec / 1000000);
}

bool bc2_flood_pass(uint32_t addrNet, Bc2FloodLine line, uint64_t nowMs) {
    if (line >= BC2_FLOOD_LINES) return false;
    Notes n;
    bool pass;
    {
        std::lock_guard<std::mutex> lk(gMx);
        Slot& s = slotFor(addrNet, nowMs, n);
        s.lastMs = nowMs;
        Window& w = s.w[line];
        n.held = renewIfOver(w, nowMs);
        // The addresses beyond the table may never come again (their
        // slot's window would then keep its count for good): what they held
        // back is reported with the next line of its kind after their
        // minute, whoever causes it.
        Slot& others = gSlots[kAddresses];
        if (&s != &others && others.w[line].held && elapsed(nowMs, others.w[line].start))
            n.othersHeld = renewIfOver(others.w[line], nowMs);
        pass = w.used < kBudget;
        if (pass) {
            ++w.used;
        } else {
            n.warn = !w.warned;
            w.warned = true;
            if (w.held < UINT32_MAX && !namesLoss(line)) ++w.held;
        }
        if (n.held || n.warn || (!pass && namesLoss(line))) addrText(s, n.addr, sizeof n.addr);
    }
    if (n.evictedHeld)
        syslogx(147, "Diradir2: %u log lines caused by %s were held back", unsigned(n.evictedHeld), n.evicted);
    if (n.othersHeld)
        syslogx(147, "Diradir2: %u log lines on %s caused by other addresses were held back", unsigned(n.othersHeld),
                kLineName[line]);
    if (n.held)
        syslogx(147, "Diradir2: %u log lines on %s caused by %s were held back", unsigned(n.held), kLineName[line],
                n.addr);
    if (n.warn)
        syslogx(147, "Diradir2: log lines on %s caused by %s are held back for up to a minute", kLineName[line],
                n.addr);
    if (!pass && namesLoss(line)) {
        char tail[160];
        snprintf(tail, sizeof tail, " log lines on %s caused by %s were held back", kLineName[line], n.addr);
        syslogx_countHeld(147, "Diradir2: ", tail);
    }
    return pass;
}

void bc2_flood_reset() {
    std::lock_guard<std::mutex> lk(gMx);
    for (Slot& s : gSlots) s = Slot{};
}
