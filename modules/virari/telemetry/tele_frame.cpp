// The telemetry frame: header, fast block, one slow block in turn, CRC-16.
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "logging/app/meas_runtime.h"
#include "measurement/chandata.h"
#include "measurement/gateway.h"
#include "platform/byteorder.h"
#include "platform/crc.h"
#include "platform/io.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "virari/telemetry/tele_internal.h"
#include "virari/telemetry/tele_signals.h"

using namespace tele_detail;

namespace {
uint8_t gUdpSendFlood = 0;
uint8_t gSerialSendFlood = 0;

bool slotConfigured(unsigned slot) { return tele[slot].first != nullptr && tele[slot].count != 0; }

// The block's newest record is written by the gateway's read callback on
// another task; copy it byte by byte with atomic loads (a frame may mix two
// successive records, which the receiver tolerates).
void copyValues(uint8_t* dst, const MeasBlock* b, uint32_t n) {
    uint8_t state = std::atomic_ref<const uint8_t>(b->teleState).load(std::memory_order_relaxed);
    const uint8_t* buf = static_cast<const uint8_t*>(
        std::atomic_ref<void*>(const_cast<MeasBlock*>(b)->teleBuffer).load(std::memory_order_acquire));
    if (!buf || state == 0 || gw_pid_offline(b->pid)) {
        std::memset(dst, 0, n);
        return;
    }
    for (uint32_t i = 0; i < n; ++i)
        dst[i] = std::atomic_ref<const uint8_t>(buf[TELE_TIMESTAMP_LEN + i]).load(std::memory_order_relaxed);
}

// Appends the values of every block of a slot; returns the new length.
unsigned appendSlot(uint8_t* frame, unsigned len, unsigned slot, uint8_t* lastTeleSlot) {
    for (unsigned i = 0; i < tele[slot].count; ++i) {
        const MeasBlock* b = &tele[slot].first[i];
        if (!b->owner) continue;
        uint32_t n = tele_blockValueBytes(b);
        if (len + n > TELE_MAX_L) break;   // refused at start; never write past the frame
        copyValues(frame + len, b, n);
        len += n;
        *lastTeleSlot = uint8_t(b->teleSlot);
    }
    return len;
}

// Picks the slow block id of this frame and advances the turn; 0 = none.
// endedAtFirst tells whether the search ended at id 1 (the slow cycle's start).
unsigned pickSlowId(bool* endedAtFirst) {
    *endedAtFirst = false;
    for (unsigned id = nextSlowTurn; id < TELE_SLOTS; ++id) {
        if (slotConfigured(id)) {
            *endedAtFirst = id == 1;
            nextSlowTurn = nextSlowTurn >= TELE_SLOTS - 1 ? 1 : nextSlowTurn + 1;
            return id;
        }
    }
    nextSlowTurn = 1;
    *endedAtFirst = true;
    if (!slotConfigured(1)) return 0;
    nextSlowTurn = 2;
    return 1;
}

void updateActivity() {
    TeleSignals& sig = teleSignals();
    ChanData* cond = config.info.startCond;
    if (!cond) {
        teleSet(sig.telemetry_active, 1);
        return;
    }
    double v;
    if (chan_meas_getValue(cond, &v, 0) && std::isfinite(v))
        teleSet(sig.telemetry_active, std::lround(v) != 0 ? 1 : 0);
}

std::atomic<uint32_t> gSerialDropped{0};

// Writes what the line takes now; -1 when it takes nothing.
ssize_t writeNow(const uint8_t* p, unsigned len) {
    ssize_t n;
    do n = ::write(serialFd, p, len);
    while (n < 0 && errno == EINTR);
    return n;
}

void dropSerialFrame(ssize_t written) {
    ++gSerialDropped;
    SYSLOGX_FLOOD(gSerialSendFlood, 147, "RW37: could not send data on serial port, Bytes %d", int(written));
}

// The serial line is written without waiting: a frame it cannot take now is
// dropped and counted; one it takes in part is finished before the next.
void sendSerial(const uint8_t* frame, unsigned len) {
    if (serialRestLen) {
        ssize_t n = writeNow(serialRest, serialRestLen);
        if (n > 0) {
            serialRestLen -= unsigned(n);
            std::memmove(serialRest, serialRest + n, serialRestLen);
        }
        if (serialRestLen) {
            dropSerialFrame(0);
            return;
        }
    }
    ssize_t n = writeNow(frame, len);
    if (n == ssize_t(len)) return;
    if (n > 0) {
        serialRestLen = len - unsigned(n);
        std::memcpy(serialRest, frame + n, serialRestLen);
        return;
    }
    dropSerialFrame(n);
}

void send(const uint8_t* frame, unsigned len) {
    if (config.info.mode == 2) {
        if (udpSocket < 0) return;
        ssize_t n = ::sendto(udpSocket, frame, len, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
        if (n != ssize_t(len))
            SYSLOGX_FLOOD(gUdpSendFlood, 147, "RW37: could not send data on udp port Bytes %d", int(n));
    } else if (serialFd >= 0) {
        sendSerial(frame, len);
    }
}

void updateStatistics(uint32_t timeStamp, unsigned frameLen, bool slowCycleStart) {
    TeleSignals& sig = teleSignals();
    stats.byteSum += frameLen;
    if (stats.haveLast) teleSet(sig.tele_fastblock_dt, (timeStamp - stats.lastTimeStamp) / 10);
    stats.lastTimeStamp = timeStamp;
    stats.haveLast = true;
    if (!slowCycleStart) return;
    if (stats.haveSlowCycle) {
        uint32_t dt = (timeStamp - stats.lastSlowCycleTimeStamp) / 10;
        teleSet(sig.tele_slowblock_dt, dt);
        if (dt != 0) {
            teleSet(sig.tele_data_rate, uint64_t(stats.byteSum) * 1000 / dt);
            teleSet(sig.tele_data_rate_kBit, uint64_t(stats.byteSum) * 800 / dt);
        }
    }
    stats.lastSlowCycleTimeStamp = timeStamp;
    stats.haveSlowCycle = true;
    stats.byteSum = 0;
}
}  // namespace

uint32_t tele_blockValueBytes(const MeasBlock* b) {
    if (!b || !b->config || b->config->recordSize < TELE_TIMESTAMP_LEN) return 0;
    return b->config->recordSize - TELE_TIMESTAMP_LEN;
}

uint32_t tele_slotValueBytes(unsigned slot) {
    if (slot >= TELE_SLOTS || !tele[slot].first) return 0;
    uint32_t sum = 0;
    for (unsigned i = 0; i < tele[slot].count; ++i)
        if (tele[slot].first[i].owner) sum += tele_blockValueBytes(&tele[slot].first[i]);
    return sum;
}

int tele_serialPeriod(uint32_t frameLenWithCrc, uint32_t baud, uint8_t pause) {
    uint32_t bytesPerSecond = baud / 11;
    if (bytesPerSecond == 0) return 1000;   // refused at start; never divide by zero
    int t = int((frameLenWithCrc * 1000 + 3000) / bytesPerSecond) + pause + 2;
    return t < 40 ? 40 : t;
}

int tele_udpPeriod(uint32_t fastValueBytes, uint32_t slowValueBytes, uint32_t slowIds, uint32_t dataRate) {
    if (dataRate == 0) return 1000;
    uint64_t f = 12 + uint64_t(fastValueBytes);
    uint64_t k = slowIds ? slowIds : 1;
    uint64_t rate = (slowValueBytes + k * f) * 8 / (uint64_t(dataRate) * k);
    if (rate < 10) return 10;
    return rate > 0xFFFF ? 0xFFFF : int(rate);
}

int tele_detail::buildAndSend() {
    TeleSignals& sig = teleSignals();
    updateActivity();
    if (!teleGet(sig.telemetry_active)) {
        teleSet(sig.telemetry_state, TELE_STATE_INACTIVE);
        teleSet(sig.tele_fastblock_dt, 0);
        teleSet(sig.tele_slowblock_dt, 0);
        teleSet(sig.tele_data_rate, 0);
        teleSet(sig.tele_data_rate_kBit, 0);
        return 10;
    }
    switch (config.info.mode) {
    case 1:
        if (digital_ioIn(3)) {
            teleSet(sig.telemetry_state, TELE_STATE_MODEM_BUSY);
            return 1000;
        }
        teleSet(sig.telemetry_state, TELE_STATE_SENDING_GSM);
        break;
    case 2:
        teleSet(sig.telemetry_state, udpSocket >= 0 ? TELE_STATE_SENDING_UDP : TELE_STATE_UDP_NO_SOCKET);
        break;
    default:
        teleSet(sig.telemetry_state, TELE_STATE_SENDING_RW37);
        break;
    }

    uint8_t frame[TELE_MAX_L + TELE_CRC_LEN];
    std::memcpy(frame, header, TELE_HEADER_LEN);
    uint32_t timeStamp = time_getTimestamp();
    be_put32(frame + TELE_HEADER_LEN, timeStamp);
    unsigned len = TELE_HEADER_LEN + TELE_TIMESTAMP_LEN;
    uint8_t lastSlot = 0;
    len = appendSlot(frame, len, 0, &lastSlot);
    unsigned fastLen = len - TELE_HEADER_LEN;

    bool slowCycleStart = false;
    unsigned slowId = pickSlowId(&slowCycleStart);
    uint8_t headerId = 0;
    if (slowId) {
        uint8_t slowSlot = 0;
        len = appendSlot(frame, len, slowId, &slowSlot);
        if (slowSlot) headerId = uint8_t(slowSlot - 1);
    }
    frame[3] = uint8_t(len);
    frame[4] = uint8_t(fastLen);
    frame[5] = headerId;
    uint16_t crc = crc16_ccitt_lsb_accu(frame, len, 0xFFFF);
    frame[len] = uint8_t(crc >> 8);
    frame[len + 1] = uint8_t(crc);
    unsigned total = len + TELE_CRC_LEN;
    send(frame, total);
    updateStatistics(timeStamp, total, slowCycleStart);

    switch (config.info.mode) {
    case 0:
    case 1: return tele_serialPeriod(total, config.info.baudrate, config.info.pause);
    case 2: return updateRate;
    default: return 1000;
    }
}

int korvaTele_func() {
    std::lock_guard<std::mutex> lk(mx);
    return buildAndSend();
}

int tele_func() {
    std::lock_guard<std::mutex> lk(mx);
    return frameFunc ? buildAndSend() : 1000;
}

uint32_t tele_serialFramesDropped() { return gSerialDropped; }

int32_t limit_int(int32_t value, int32_t low, int32_t high) { return value < low ? low : value > high ? high : value; }
uint32_t limit_uint(uint32_t value, uint32_t low, uint32_t high) { return value < low ? low : value > high ? high : value; }
