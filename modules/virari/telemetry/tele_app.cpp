// Start and stop of the telemetry, and its frame task "r_tele".
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "logging/app/meas_runtime.h"
#include "measurement/chandata.h"
#include "platform/error_mgr.h"
#include "platform/io.h"
#include "platform/raster.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc_socket.h"
#include "virari/telemetry/tele_internal.h"
#include "virari/telemetry/tele_signals.h"
#include "platform/task_stop.h"

namespace tele_detail {
std::mutex mx;
TeleConfig config{};
FrameFunc frameFunc = nullptr;
int udpSocket = -1;
int serialFd = -1;
uint8_t serialRest[TELE_MAX_L + TELE_CRC_LEN];
unsigned serialRestLen = 0;
sockaddr_in peer{};
uint8_t header[TELE_HEADER_LEN];
unsigned nextSlowTurn = 1;
uint16_t updateRate = 1000;
FrameStats stats{};

void resetStats() { stats = FrameStats{}; }

void closeOutputs() {
    if (udpSocket >= 0) bcSocket_close(udpSocket);
    udpSocket = -1;
    if (serialFd >= 0) ::close(serialFd);
    serialFd = -1;
    serialRestLen = 0;
}
}  // namespace tele_detail

using namespace tele_detail;

namespace {
constexpr unsigned kErrPathTelemetry = 483;
constexpr unsigned kErrTypeNotConfigured = 15;
constexpr int kTelePriority = 105;
constexpr size_t kTeleStack = 65536;

TASK_ID gFrameTask = nullptr;
std::atomic<SEM_ID> gFrameSem{nullptr};

void teleTask(intptr_t) {
    SEM_ID sem = semCCreate(0, 0);
    if (!sem) {
        syslogx(147, "tele_task(): creating semaphore failed");
        return;
    }
    gFrameSem = sem;
    for (;;) raster_taskDelay(sem, tele_func());
}

// Slow block ids that have blocks, and their value bytes.
void slowTotals(uint32_t* bytes, uint32_t* ids, uint32_t* largest) {
    *bytes = *ids = *largest = 0;
    for (unsigned id = 1; id < TELE_SLOTS; ++id) {
        if (!tele[id].first || !tele[id].count) continue;
        uint32_t n = tele_slotValueBytes(id);
        *bytes += n;
        ++*ids;
        if (n > *largest) *largest = n;
    }
}

// The length field and the fast block length are one byte each: a
// configuration whose frame could exceed them is refused, never cut.
bool frameFits(uint32_t fastBytes, uint32_t largestSlow) {
    uint32_t fastLen = TELE_TIMESTAMP_LEN + fastBytes;
    uint32_t maxL = TELE_HEADER_LEN + fastLen + largestSlow;
    if (fastLen <= 0xFF && maxL <= TELE_MAX_L) return true;
    syslogx(155, "tele_app_start(): telemetry frame of %u bytes exceeds %u, telemetry refused", unsigned(maxL),
            TELE_MAX_L);
    return false;
}

bool openSerial() {
    if (!pinConfig_getRS232TeleEnabled()) {
        error_mgr_set(kErrPathTelemetry, kErrTypeNotConfigured, 1);
        syslogx(150, "tele_app_ini(): RS232 not configured");
        return false;
    }
    // Never blocking: the frame builder writes under the telemetry's lock,
    // and a modem that stalls (or a pty nobody reads) must hold up neither
    // the JSON line nor the stop.
    serialFd = host::serialOpen("/tyCo/0", O_WRONLY | O_NONBLOCK);
    return serialFd >= 0;
}

// Installs the frame builder for the serial modes; false when the port is
// not there.
bool startSerial() {
    if (serialFd < 0) {
        syslogx(155, "Can not open tele_io_stream.");
        return false;
    }
    if (host::serialSetRaw(serialFd) != 0) syslogx(147, "tele_app_ini() could not set OPT_RAW: errno %s", strerror(errno));
    if (host::serialSetBaud(serialFd, int(config.info.baudrate)) != 0)
        syslogx(147, "tele_app_ini() could not set baudrate: errno %s, %d", strerror(errno), int(config.info.baudrate));
    return true;
}
}  // namespace

void tele_app_ini() {
    {
        std::lock_guard<std::mutex> lk(mx);
        udpSocket = -1;
        serialFd = -1;
        frameFunc = nullptr;
    }
    if (gFrameTask) return;
    gFrameTask = taskSpawn("r_tele", kTelePriority, VX_FP_TASK, kTeleStack, teleTask, 0);
    if (!gFrameTask) syslogx(147, "tele_app_ini(): could not start tele_task");
}

int tele_app_start(meas_t* m) {
    std::lock_guard<std::mutex> lk(mx);
    TeleSignals& sig = teleSignals();
    teleSet(sig.telemetry_state, TELE_STATE_NOT_STARTED);
    if (!m || !m->config || !m->config->teleInfo) return 0;
    closeOutputs();   // a start without a stop must not leak the earlier ones
    config.info = *m->config->teleInfo;
    config.active = 1;

    if (config.info.mode == 2) {
        udpSocket = bcSocket_get(AF_INET, SOCK_DGRAM, 0);
        if (udpSocket < 0) {
            syslogx(155, "tele_app_ini(): Create UDP Tx Socket failed");
            return 0;
        }
        add_subnet(ntohl(config.info.ipAddr));
        peer = sockaddr_in{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = config.info.ipAddr;
        peer.sin_port = htons(config.info.port);
    }
    openSerial();

    uint16_t protocol = m->config->protocol;
    if (protocol != 1) {
        if (protocol != 0) syslogx(155, "Found no configuration for KORVA telemetry!");
        closeOutputs();
        return 0;
    }
    uint32_t fastBytes = tele_slotValueBytes(0), slowBytes, slowIds, largestSlow;
    slowTotals(&slowBytes, &slowIds, &largestSlow);
    bool serial = config.info.mode != 2;
    if (!frameFits(fastBytes, largestSlow) || (serial && config.info.baudrate < 11)) {
        if (serial && config.info.baudrate < 11)
            syslogx(155, "tele_app_start(): baud rate %u too low, telemetry refused", unsigned(config.info.baudrate));
        closeOutputs();
        return 0;
    }

    header[0] = uint8_t(config.info.projectCode);
    header[1] = uint8_t(config.info.projectCode >> 8);
    header[2] = config.info.softwareId;
    header[3] = header[4] = header[5] = 0;
    resetStats();
    bool installed = serial ? startSerial() : true;
    if (installed) {
        nextSlowTurn = 1;
        frameFunc = korvaTele_func;
        syslogx(158, "Found a valid configuration for KORVA telemetry.");
    }
    updateRate = uint16_t(tele_udpPeriod(fastBytes, slowBytes, slowIds, config.info.dataRate));

    startJsonTasks();
    chan_meas_setup(config.info.startCond, 3, 3);
    // The JSON line reads these; set up here so that a new configuration is
    // read after a restart of the measurement too.
    chan_meas_setup(config.info.lapDist, 3, 7);
    chan_meas_setup(config.info.gpsLat, 3, 7);
    chan_meas_setup(config.info.gpsLong, 3, 7);
    if (SEM_ID s = gFrameSem) semGive(s);   // first frame now, not after the idle second
    return installed ? 1 : 0;
}

void tele_app_stop() {
    std::lock_guard<std::mutex> lk(mx);
    frameFunc = nullptr;
    // The channels belong to the measurement's configuration, which may be
    // freed after the stop: forget them.
    config = TeleConfig{};
    closeOutputs();
    TeleSignals& sig = teleSignals();
    teleSet(sig.telemetry_state, 0);
    teleSet(sig.tele_fastblock_dt, 0);
    teleSet(sig.tele_slowblock_dt, 0);
    teleSet(sig.tele_data_rate, 0);
    teleSet(sig.tele_data_rate_kBit, 0);
    teleSet(sig.telemetry_active, 0);
}

void tele_app_exit() {
    tele_app_stop();
    stopJsonTasks();
    const bool ended = task_stop(gFrameTask, "tele_app_exit()", "its frame semaphore");
    gFrameTask = nullptr;
    // a task given up in a system call may take it when its call returns
    if (SEM_ID s = gFrameSem.exchange(nullptr); s && ended) semDelete(s);
    tele_unpublishSignals();
}
