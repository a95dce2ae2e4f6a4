// Start of the time service and the time master's side: the master task on
// the core's gap interrupt, the time message to all devices and the time
// export datagram.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "measurement/comint.h"
#include "platform/appman.h"
#include "platform/byteorder.h"
#include "platform/crc.h"
#include "platform/io.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"
#include "virari/DiraDir2/bc2.h"
#include "virari/timeserv/timeserv.h"
#include "virari/timeserv/timeserv_internal.h"
#include "platform/task_stop.h"

namespace {

constexpr const char* kQueueName = "/MQ_TsMr";
constexpr const char* kTaskName = "r_TsMr";

void timeServMasterTask() {
    TimeServState& s = timeserv();
    time_initMrIsr();
    time_initTimeModule();
    time_MrSetControl(1);
    for (;;) {
        uint32_t irq = 0;
        if (msgQReceive(s.queue, &irq, sizeof irq, WAIT_FOREVER) == ERROR) {
            syslogx(147, "timeserv_master_task, error receiving from queue, exiting: %s", strerror(errno));
            return;
        }
        if (!s.isMaster) continue;
        struct timespec now;
        clock_devicetime(&now);
        const uint32_t gap = time_getNextGapTimestamp();   // read once for both
        timeserv_sendTime(&now, gap);
        timeserv_exportTime(&now, gap);
    }
}

}  // namespace

TimeServState& timeserv() {
    static TimeServState s;
    return s;
}

void timeserv_putDate(uint8_t* p, const date_t& d) {
    const uint16_t f[7] = {d.year, d.month, d.day, d.hour, d.minute, d.second, d.millisecond};
    for (int i = 0; i < 7; ++i) be_put16(p + 2 * i, f[i]);
}

date_t timeserv_getDate(const uint8_t* p) {
    return date_t{be_get16(p),      be_get16(p + 2), be_get16(p + 4),  be_get16(p + 6),
                  be_get16(p + 8), be_get16(p + 10), be_get16(p + 12)};
}

bool timeserv_clockDate(const struct timespec& clock, date_t* out) { return conv_time_to_date(&clock, out) != 0; }

int timeserv_readSystemTime(date_t* out) {
    struct timespec now;
    clock_devicetime(&now);
    return out && timeserv_clockDate(now, out) ? 1 : 0;
}

int timeserv_init(int writeAccess, bool asMaster) {
    TimeServState& s = timeserv();
    ci_register_command(TIMESERV_CMD_TIME, timeserv_distributeTime_cmd);
    ci_register_command(TIMESERV_CMD_NEW_SYSTEM_TIME, timeserv_newSystemTime_cmd);
    ci_register_command(TIMESERV_CMD_SUGGEST_TIME, timeserv_suggestOwnTime_cmd);

    date_t d{};
    s.qualifier = timeserv_readSystemTime(&d) && d.year - 1970 > 30 ? RTC_Q_YEAR_AFTER_2000 : RTC_Q_UNSET;

    if (asMaster) {
        if (s.isMaster) SYSLOGX_FLOOD(s.floodInitAgain, 149, "timeserv_init(): init as timeMaster called again!");
        if (!writeAccess) syslogx(147, "timeserv_init(): timeMaster without write access !?!");
        if (!s.queue) {
            s.queue = msgQOpen(kQueueName, 10, 4, MSG_Q_FIFO, OM_CREATE);
            if (!s.queue) {
                syslogx(155, "timeServMasterTask(): msgQOpen failed : %s", strerror(errno));
                return 0;
            }
        }
        uint8_t rom[8];
        ow_readRomID(rom);
        {
            std::lock_guard<std::mutex> lk(s.idMx);
            s.masterBootCnt = base_boot_count_get();
            s.masterId = crc32_bsd(rom, sizeof rom);
            s.masterPid = app_pid;
            s.idsValid = true;
        }
        if (!s.task) {
            s.task = taskSpawn(kTaskName, 27, VX_FP_TASK, 10000, [] { timeServMasterTask(); });
            if (!s.task) {
                syslogx(147, "timeserv_init(): create %s failed", kTaskName);
                return 0;
            }
        }
        time_MrSetControl(1);
        s.isMaster = true;
    } else if (writeAccess) {
        time_MrSetControl(0);
        s.isMaster = false;
    }
    return 1;
}

int timeserv_init_as_array(const int args[2]) { return args ? timeserv_init(args[0], args[1] != 0) : 0; }

void timeserv_stop() {
    TimeServState& s = timeserv();
    s.isMaster = false;
    if (!task_stop(s.task, "timeserv_stop()", "its queue and export socket")) s.taskGivenUp = true;
    s.task = nullptr;
    time_MrSetControl(0);
}

void timeserv_shutdown() {
    TimeServState& s = timeserv();
    timeserv_stop();
    // A master task given up in a system call (a send of the export socket,
    // under its lock) may use both when its call returns: they are kept.
    if (!s.taskGivenUp) {
        if (s.queue) msgQClose(s.queue);
        std::lock_guard<std::mutex> lk(s.exportMx);
        if (s.exportSock >= 0) close(s.exportSock);
        s.exportSock = -1;
    }
    s.queue = nullptr;
    {
        std::lock_guard<std::mutex> lk(s.idMx);
        s.masterId = s.masterBootCnt = 0;
        s.masterPid = 0;
        s.idsValid = false;
        s.masterHeardMs = 0;
        s.masterGap = s.masterRun = 0;
        s.secondId = s.secondBootCnt = 0;
        s.secondNamed = false;
    }
    s.qualifier = 0;
    s.lockedPid = 0;
    s.lockedId = s.lockedBootCnt = s.lockedRun = 0;
    s.lockedValid = false;
    s.candidatePid = 0;
    s.changeCnt = 0;
    s.conflictCnt = 0;
    s.firstSyncPending = true;
    timeserv_MeasTime_reset();
}

bool timeserv_isMaster() { return timeserv().isMaster; }
uint32_t timeserv_getQualifier() { return timeserv().qualifier; }

bool timeserv_getMasterIds(uint32_t* id, uint32_t* bootCount) {
    TimeServState& s = timeserv();
    std::lock_guard<std::mutex> lk(s.idMx);
    if (s.idsValid) {
        if (id) *id = s.masterId;
        if (bootCount) *bootCount = s.masterBootCnt;
    }
    return s.idsValid;
}

void timeserv_sendTime(const struct timespec* clock, uint32_t gap) {
    if (!comint_status()) return;
    TimeServState& s = timeserv();
    ci_msg_t m;
    ci_init_msg(&m, TIMESERV_CMD_TIME, CI_PID_ALL, TIMESERV_TIME_PAYLOAD);
    std::memset(m.payload, 0, TIMESERV_TIME_PAYLOAD);
    be_put32(m.payload, gap);
    date_t d{};
    if (clock && timeserv_clockDate(*clock, &d)) {
        timeserv_putDate(m.payload + 4, d);
        be_put32(m.payload + 20, s.qualifier);
    }
    uint32_t id = 0, boot = 0;
    {
        std::lock_guard<std::mutex> lk(s.idMx);
        id = s.masterId;
        boot = s.masterBootCnt;
    }
    be_put32(m.payload + 24, id);
    be_put32(m.payload + 28, boot);
    comint_put_cmd(&m, 1);
}

void timeserv_exportTime(const struct timespec* clock, uint32_t gap) {
    TimeServState& s = timeserv();
    std::lock_guard<std::mutex> lk(s.exportMx);
    if (s.exportSock < 0) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0) {
            SYSLOGX_FLOOD(s.floodExport, 147, "timeserv_exportTime, ERROR creating socket: %s", strerror(errno));
            return;
        }
        in_addr ifAddr{};
        ifAddr.s_addr = inet_addr(device_ip_addr);
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &ifAddr, sizeof ifAddr) != 0) {
            SYSLOGX_FLOOD(s.floodExport, 147, "timeserv_exportTime, set socket option IP_MULTICAST_IF failed! (%s)",
                          strerror(errno));
            close(fd);
            return;
        }
        s.exportSock = fd;
    }
    uint8_t b[TIMESERV_EXPORT_LEN] = {1};
    be_put32(b + 4, gap);
    date_t d{};
    if (clock && timeserv_clockDate(*clock, &d)) {
        const uint16_t f[6] = {d.year, d.month, d.day, d.hour, d.minute, d.second};
        for (int i = 0; i < 6; ++i) be_put16(b + 8 + 2 * i, f[i]);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(TIMESERV_EXPORT_PORT);
    to.sin_addr.s_addr = inet_addr(TIMESERV_EXPORT_GROUP);
    if (sendto(s.exportSock, b, sizeof b, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        SYSLOGX_FLOOD(s.floodExport, 147, "timeserv_exportTime, ERROR sendto: %s", strerror(errno));
}
