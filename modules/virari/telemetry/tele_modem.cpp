// Status exchange with the radio modem: a JSON line to the modem once a
// second (task "r_teleTxJSON") and the modem's answers read into measurable
// variables (task "r_teleRxJSON").
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "measurement/chandata.h"
#include "platform/appman.h"
#include "platform/crc.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc_socket.h"
#include "virari/telemetry/tele_internal.h"
#include "virari/telemetry/tele_json.h"
#include "virari/telemetry/tele_signals.h"

using namespace tele_detail;

namespace {
constexpr int kTelePriority = 105;
constexpr size_t kTeleStack = 65536;
constexpr size_t kMaxDatagram = 1399;
constexpr size_t kTokenSize = 100;   // keys and values of up to 99 characters

std::atomic<uint16_t> gTxPort{TELE_JSON_TX_PORT};
std::atomic<uint16_t> gRxPort{TELE_JSON_RX_PORT};
TASK_ID gTxTask = nullptr;
TASK_ID gRxTask = nullptr;
uint8_t gTxSendFlood = 0;

bool readChannel(ChanData* ch, double* v) { return ch && chan_meas_getValue(ch, v, 0) && std::isfinite(*v); }

// "{" parts "}" with the parts that are available, comma-separated.
std::string buildStatusLine(bool haveQov, uint32_t qovCrc) {
    std::string line = "{";
    char part[160];
    auto add = [&](const char* fmt, auto... args) {
        std::snprintf(part, sizeof part, fmt, line.size() > 1 ? "," : "", args...);
        line += part;
    };
    std::lock_guard<std::mutex> lk(mx);
    double v;
    if (readChannel(config.info.lapDist, &v)) {
        // Truncated towards zero, negative distances as 0; written as a
        // signed number, so the (never met) distances beyond its range stay
        // at its largest value rather than turn negative.
        double d = v + 0.5;
        add("%s\"lapdist\":%d", d <= 0 ? 0 : d >= 2147483647.0 ? INT_MAX : int(d));
    }
    if (readChannel(config.info.gpsLat, &v)) add("%s\"gps_lat\":%.6f", double(float(v)));
    if (readChannel(config.info.gpsLong, &v)) add("%s\"gps_long\":%.6f", double(float(v)));
    if (haveQov)
        add("%s\"qov_ini_crc\":%u, \"prjcode\":%u, \"sw_id\":%u", unsigned(qovCrc), unsigned(config.info.projectCode),
            unsigned(config.info.softwareId));
    line += "}";
    return line;
}

void jsonTxTask() {
    int sock = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        syslogx(155, "tele_task_JSON(): Create UDP Tx Socket failed");
        return;
    }
    size_t len = 0;
    char* qov = fload("cfg:/qov.ini", &len);
    bool haveQov = qov && len > 0;
    uint32_t crc = haveQov ? crc32_bsd(qov, len) : 0;
    std::free(qov);
    if (haveQov) syslogx(151, "tele_task_JSON(): qov.ini found, checksum : 0x%08x", unsigned(crc));
    else if (qov) syslogx(148, "tele_task_JSON(): qov.ini is empty, no checksum sent");   // there, but nothing in it
    else syslogx(151, "tele_task_JSON(): NO qov.ini found!");

    sockaddr_in modem{};
    modem.sin_family = AF_INET;
    inet_pton(AF_INET, host::startParams().modemIp.c_str(), &modem.sin_addr);
    try {
        for (;;) {
            taskDelay(sysClkRateGet());
            modem.sin_port = htons(gTxPort.load());
            std::string line = buildStatusLine(haveQov, crc);
            if (line.size() <= 2) continue;
            ssize_t n = ::sendto(sock, line.data(), line.size(), 0, reinterpret_cast<sockaddr*>(&modem), sizeof modem);
            if (n != ssize_t(line.size()))
                SYSLOGX_FLOOD(gTxSendFlood, 147, "tele_task_JSON: could not send data on udp port Bytes %d", int(n));
        }
    } catch (...) {
        bcSocket_close(sock);
        throw;
    }
}

void jsonRxTask() {
    int sock = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        syslogx(155, "tele_task_JSON_rx: Create UDP Rx Socket failed (tele rx JSON)");
        return;
    }
    int one = 1;
    if (setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0)
        syslogx(147, "tele_task_JSON_rx: Setting SO_REUSEPORT option failed");
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_port = htons(gRxPort.load());
    inet_pton(AF_INET, device_ip_addr, &own.sin_addr);
    if (bind(sock, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0) {
        syslogx(147, "tele_task_JSON_rx: Socket bind Rx failed (tele rx JSON), %s", strerror(errno));
        bcSocket_close(sock);
        return;
    }
    char buf[kMaxDatagram + 1];
    char key[kTokenSize], value[kTokenSize];
    while (!taskDeletePending()) {
        pollfd p{sock, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;   // wakes up to notice a delete request
        ssize_t n = ::recv(sock, buf, kMaxDatagram, 0);
        if (n < 0) continue;
        buf[n] = 0;
        json_setBuff(buf, size_t(n));
        while (json_getNext(key, sizeof key, value, sizeof value)) applyModemValue(key, value);
    }
    bcSocket_close(sock);
}

// Decimal text as a 32-bit number, saturated.
int32_t decimal(const char* s) {
    long long v = std::strtoll(s, nullptr, 10);
    return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}
uint32_t clampU(int32_t v, uint32_t high) { return v < 0 ? 0 : limit_uint(uint32_t(v), 0, high); }
}  // namespace

void tele_detail::applyModemValue(const char* key, const char* value) {
    TeleSignals& sig = teleSignals();
    if (!std::strcmp(key, "plmn")) {
        // mcc, one separator character, mnc
        char* end = nullptr;
        unsigned long mcc = std::strtoul(value, &end, 10);
        unsigned long mnc = (end && *end) ? std::strtoul(end + 1, nullptr, 10) : 0;
        teleSet(sig.tele_modem_plmn, uint32_t(mcc * 1000 + mnc));
    } else if (!std::strcmp(key, "cid")) {
        teleSet(sig.tele_modem_cid, uint32_t(std::strtoul(value, nullptr, 16)));
    } else if (!std::strcmp(key, "band")) {
        teleSet(sig.tele_modem_band, clampU(decimal(value), 255));
    } else if (!std::strcmp(key, "cpu_load")) {
        float f = std::strtof(value, nullptr) * 2.0f;
        int32_t v = std::isfinite(f) ? (f > 1e6f ? 1000000 : f < -1e6f ? -1000000 : int32_t(f)) : 0;
        teleSet(sig.tele_modem_cpuLoad, clampU(v, 255));
    } else if (!std::strcmp(key, "ping")) {
        teleSet(sig.tele_modem_ping, clampU(int32_t((int64_t(decimal(value)) + 2) / 5), 255));
    } else if (!std::strcmp(key, "rsrp")) {
        int32_t v = decimal(value);
        teleSet(sig.tele_modem_rsrp, limit_int(v > INT32_MAX - 100 ? INT32_MAX : v + 100, -128, 127));
    } else {
        static const struct {
            const char* key;
            uint16_t TeleSignals::*field;
        } kCounters[] = {
            {"ethernet_in", &TeleSignals::tele_modem_ethIn}, {"ethernet_out", &TeleSignals::tele_modem_ethOut},
            {"serial_in", &TeleSignals::tele_modem_serIn},   {"serial_out", &TeleSignals::tele_modem_serOut},
            {"wan_in", &TeleSignals::tele_modem_wanIn},      {"wan_out", &TeleSignals::tele_modem_wanOut},
        };
        for (const auto& c : kCounters)
            if (!std::strcmp(key, c.key)) teleSet(sig.*c.field, clampU(decimal(value), 65535));
    }
}

void tele_detail::startJsonTasks() {
    if (!gTxTask) {
        gTxTask = taskSpawn("r_teleTxJSON", kTelePriority, VX_FP_TASK, kTeleStack, std::function<void()>(jsonTxTask));
        if (!gTxTask) syslogx(147, "tele_app_start(): could not start tele_task_JSON_tx");
    }
    if (!gRxTask) {
        gRxTask = taskSpawn("r_teleRxJSON", kTelePriority, VX_FP_TASK, kTeleStack, std::function<void()>(jsonRxTask));
        if (!gRxTask) syslogx(147, "tele_app_start(): could not start tele_task_JSON_rx");
    }
}

void tele_detail::stopJsonTasks() {
    if (gTxTask) taskDelete(gTxTask);
    if (gRxTask) taskDelete(gRxTask);
    gTxTask = gRxTask = nullptr;
}

void tele_setJsonPortsForTest(uint16_t txPort, uint16_t rxPort) {
    gTxPort = txPort;
    gRxPort = rxPort;
}
