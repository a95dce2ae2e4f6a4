// Time bases over the host's clocks and the stand-in time-synchronisation core.
#include "platform/timebase.h"

#include "platform/appman.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <atomic>
#include <chrono>
#include <cstdio>

namespace {

const auto kApplStart = std::chrono::steady_clock::now();

constexpr int64_t kNsPerSec = 1000000000;
constexpr int64_t kMaxSeconds = 253402300799;   // 9999-12-31 23:59:59

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

unsigned daysInMonth(unsigned y, unsigned m) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return kDays[m - 1];
}

std::atomic<uint32_t> gControl{0};
std::atomic<uint32_t> gLastSync{0xFFFFFFFFu};

// Register value of the core: bits 0-1 sync state, bit 2 external sync. The
// host's time core reports 1 for "synchronised", which is full sync here.
uint32_t syncRegister() {
    uint32_t v = host::timeSyncState();
    return v == 1 ? 3u : (v & 7u);
}

}  // namespace

int clock_appltime(struct timespec* out) {
    if (!out) return -1;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                  std::chrono::steady_clock::now() - kApplStart).count();
    out->tv_sec = static_cast<time_t>(ns / kNsPerSec);
    out->tv_nsec = static_cast<long>(ns % kNsPerSec);
    return 0;
}

int clock_difftime(const struct timespec* a, const struct timespec* b, struct timespec* out) {
    if (!a || !b || !out) return -1;
    int64_t ns = (static_cast<int64_t>(a->tv_sec) - b->tv_sec) * kNsPerSec + (a->tv_nsec - b->tv_nsec);
    if (ns < 0) {
        printf("clock_difftime() calculated negative time \n");
        out->tv_sec = 0;
        out->tv_nsec = 0;
        return -1;
    }
    out->tv_sec = static_cast<time_t>(ns / kNsPerSec);
    out->tv_nsec = static_cast<long>(ns % kNsPerSec);
    return 0;
}

int clock_devicetime(struct timespec* out) {
    if (!out) return -1;
    int64_t ms = host::rtcGetUnixMs();
    out->tv_sec = static_cast<time_t>(ms / 1000);
    out->tv_nsec = static_cast<long>(ms % 1000) * 1000000;
    return 0;
}

bool date_valid(const date_t* d) {
    if (!d) return false;
    if (d->year < 1970 || d->year > 9999) return false;
    if (d->month < 1 || d->month > 12) return false;
    if (d->day < 1 || d->day > daysInMonth(d->year, d->month)) return false;
    return d->hour < 24 && d->minute < 60 && d->second < 60 && d->millisecond < 1000;
}

int conv_time_to_date(const struct timespec* t, date_t* out) {
    if (!t || !out) {
        syslogx(147, "conv_time_to_date: null argument");
        return 0;
    }
    if (t->tv_sec < 0 || t->tv_sec > kMaxSeconds || t->tv_nsec < 0 || t->tv_nsec >= kNsPerSec) {
        syslogx(147, "conv_time_to_date: invalid time %lld s %ld ns",
                static_cast<long long>(t->tv_sec), static_cast<long>(t->tv_nsec));
        return 0;
    }
    int64_t secs = t->tv_sec;
    int64_t days = secs / 86400;
    int64_t rest = secs % 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, &y, &m, &d);
    out->year = static_cast<uint16_t>(y);
    out->month = static_cast<uint16_t>(m);
    out->day = static_cast<uint16_t>(d);
    out->hour = static_cast<uint16_t>(rest / 3600);
    out->minute = static_cast<uint16_t>(rest / 60 % 60);
    out->second = static_cast<uint16_t>(rest % 60);
    out->millisecond = static_cast<uint16_t>(t->tv_nsec / 1000000);
    return 1;
}

int conv_date_to_time(const date_t* d, struct timespec* out) {
    if (!out) return 0;
    if (!date_valid(d)) {
        if (d)
            syslogx(148, "conv_date_to_time: invalid date %.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", d->day,
                    d->month, d->year, d->hour, d->minute, d->second, d->millisecond);
        return 0;
    }
    int64_t days = daysFromCivil(d->year, d->month, d->day);
    out->tv_sec = static_cast<time_t>(days * 86400 + d->hour * 3600 + d->minute * 60 + d->second);
    out->tv_nsec = static_cast<long>(d->millisecond) * 1000000;
    return 1;
}

int rtc_writeAndSetSystemTime(const date_t* d) {
    struct timespec t;
    if (!conv_date_to_time(d, &t)) return 0;
    host::rtcSetUnixMs(static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
    return 1;
}

int rtc_readDate(date_t* out) {
    struct timespec t;
    clock_devicetime(&t);
    return conv_time_to_date(&t, out);
}

uint32_t time_getTimestamp() { return host::timeStamp(); }
uint32_t time_getTimestamp_reg() { return host::timeStamp(); }
uint32_t time_getNextGapTimestamp() { return host::timeNextGap(); }
void time_putNextGapTimestamp(uint32_t value) { host::setTimeNextGap(value); }

uint32_t time_getSyncState_reg() { return syncRegister() & 3u; }

uint32_t time_getSyncXState() { return syncRegister() & 7u; }

uint32_t time_getSyncState() {
    uint32_t x = syncRegister();
    uint32_t last = gLastSync.exchange(x);
    if (last != x) {
        static const char* kNames[4] = {"NOSYNC", "QSIGNAL", "SIGNAL", "FULLSYNC"};
        syslogx(151, "syncState %s%s at LocTime %d, q signal %d signal %d q sync %d", kNames[x & 3],
                (x & 4) ? " EXT" : "", static_cast<int>(host::timeStamp()), static_cast<int>(x & 1),
                static_cast<int>((x >> 1) & 1), static_cast<int>((x & 3) == 3));
    }
    return x & 3u;
}

void time_MrSetControl(int on) {
    if (on)
        gControl.fetch_or(0x0Au);
    else
        gControl.fetch_and(~0x0Au);
    host::setTimeMasterMode(on != 0);
}

void time_initTimeModule() {
    if (gControl.load() & 0x02u) return;
    gControl.fetch_and(~0x04u);   // reset pulse: bit 2 low for 10 us
    taskDelay(0);
    gControl.fetch_or(0x06u);
}

int time_initMrIsr() {
    static const char kQueue[] = "/MQ_TsMr";
    MSG_Q_ID q = msgQOpen(kQueue, 16, 4, MSG_Q_FIFO, OM_CREATE);
    if (!q || host::rtpSyscall(RtpIndex, 63, reinterpret_cast<intptr_t>(kQueue), 4, 0, 0, 0, 0,
                               host::SC_IRQ_TO_QUEUE) < 0) {
        syslogx(147, "time_initMrIsr: connecting interrupt 63 to %s failed", kQueue);
        return 0;
    }
    gControl.fetch_or(0x10u);   // interrupt enabled
    return 1;
}

uint32_t time_controlReg() { return gControl.load(); }
