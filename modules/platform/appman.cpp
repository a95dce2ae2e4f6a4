// Application manager front end over the kernel-side services.
#include "platform/appman.h"

#include "platform/syslogx.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <cstdio>
#include <cstring>

int RtpIndex = 1;
uint16_t app_pid = 1;
char device_ip_addr[20] = "127.0.0.1";

namespace {

constexpr intptr_t kAppManInterfaceVersion = 1;

host::StartParamsRecord gParams = {1, 1, {0, 0, 0}, "127.0.0.1", 5555, 0};

uint8_t readPageByte(unsigned offset) {
    SEM_ID sem = semOpen("/ApplComSem", SEM_TYPE_BINARY, SEM_FULL, SEM_Q_FIFO, OM_CREATE);
    bool locked = sem && semTake(sem, WAIT_FOREVER) == OK;
    uint8_t v = 0;
    if (host::rtpSyscall(RtpIndex, offset, reinterpret_cast<intptr_t>(&v), 1, 0, 0, 0, 0,
                         host::SC_SHM_BASE + 1) != 1)
        v = 0;
    if (locked) semGive(sem);
    if (sem) semClose(sem);
    return v;
}

}  // namespace

int AppMan_init(int appNumber) {
    RtpIndex = appNumber;
    if (host::rtpSyscall(RtpIndex, kAppManInterfaceVersion, 0, 0, 0, 0, 0, 0, host::SC_APPMAN_CHECK) < 0) {
        syslogx(147, "AppMan_init: application manager interface not compatible");
        return 0;
    }
    host::StartParamsRecord rec{};
    if (host::rtpSyscall(RtpIndex, 0, host::AM_READ_PARAMS, reinterpret_cast<intptr_t>(&rec), 0, 0, 0, 0,
                         host::SC_APPMAN) < 0) {
        syslogx(147, "AppMan_init: reading the start parameters failed");
        return 0;
    }
    // lines of start.cfg that could not be used keep their defaults
    for (const std::string& problem : host::startParams().problems) syslogx(147, "AppMan_init: %s", problem.c_str());
    rec.ip[sizeof rec.ip - 1] = 0;
    gParams = rec;
    app_pid = rec.pid;
    snprintf(device_ip_addr, sizeof device_ip_addr, "%s", rec.ip);
    return 1;
}

uint8_t AppMan_getPID() { return gParams.pid; }
uint16_t AppMan_getXCPPort() { return gParams.xcpPort; }
uint16_t AppMan_getBC2PortOffset() { return gParams.portOffset; }

uint8_t applComm_getLaptrigPID() { return readPageByte(APPLCOMM_OFS_LAPTRIG_PID); }
uint8_t applComm_getFuelconsPID() { return readPageByte(APPLCOMM_OFS_FUELCONS_PID); }
