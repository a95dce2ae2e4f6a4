// The one dispatcher of the kernel's numbered services. The argument layout of
// every number is documented next to SyscallNo in kernel.h.
#include "host/kernel/kernel_internal.h"
#include "host/os/os.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace host {

namespace {

std::mutex stMx;
std::map<std::string, void*> symbols;
std::string epk;
uint32_t measStatus = 0;

template <class T>
T* ptr(intptr_t a) {
    return reinterpret_cast<T*>(a);
}

const char* text(intptr_t a) { return reinterpret_cast<const char*>(a); }

bool ioChannel(intptr_t a) { return a >= 0 && a < static_cast<intptr_t>(detail::kIoChannels); }

// Empty when missing or unreadable.
std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> v;
    if (readWholeFile(path, &v) != FileRead::Ok) v.clear();
    return v;
}

long copyOut(const std::vector<uint8_t>& src, intptr_t dst, intptr_t room) {
    if (room < 0 || (!dst && room)) return -1;
    size_t n = std::min(src.size(), static_cast<size_t>(room));
    if (n) std::memcpy(ptr<void>(dst), src.data(), n);
    return static_cast<long>(n);
}

long appMan(intptr_t appNumber, intptr_t op, intptr_t a4, intptr_t a5) {
    switch (op) {
    case AM_READ_PARAMS: {
        auto* r = ptr<StartParamsRecord>(a4);
        if (!r) return -1;
        // the application manager reads the device's start.cfg when the
        // process asks for its parameters
        const StartParams& p = loadStartParams(static_cast<int>(appNumber));
        std::memset(r, 0, sizeof *r);
        r->appNumber = p.appNumber;
        r->pid = p.pid;
        std::strncpy(r->ip, p.ip.c_str(), sizeof r->ip - 1);
        r->xcpPort = p.xcpPort;
        r->portOffset = p.portOffset;
        return 0;
    }
    case AM_WATCHDOG_FEED: watchdogFeed(); return 0;
    case AM_WATCHDOG_STARVE: watchdogStarve(); return 0;
    case AM_WATCHDOG_SHUTDOWN: watchdogShutdown(); return 0;
    case AM_SYMBOL_ADDRESS: {
        if (!a4 || !a5) return -1;
        std::lock_guard<std::mutex> lk(stMx);
        auto it = symbols.find(text(a4));
        if (it == symbols.end()) return -1;
        *ptr<void*>(a5) = it->second;
        return 0;
    }
    default: return -1;
    }
}

long sharedPage(int routine, intptr_t a2, intptr_t a3, intptr_t a4) {
    switch (routine) {
    case 0:
        if (!a2 || !a3 || std::strcmp(text(a2), "/shm/ApplComm") != 0) return -1;
        *ptr<void*>(a3) = applCommPage();
        return 0;
    case 1:
    case 2: {
        if (a2 < 0 || a4 < 0 || static_cast<size_t>(a2) > kApplCommPageSize || (!a3 && a4)) return -1;
        size_t n = std::min(static_cast<size_t>(a4), kApplCommPageSize - static_cast<size_t>(a2));
        uint8_t* page = applCommPage() + a2;
        if (n) {
            if (routine == 1) std::memcpy(ptr<void>(a3), page, n);
            else std::memcpy(page, ptr<void>(a3), n);
        }
        return static_cast<long>(n);
    }
    case 3: return static_cast<long>(kApplCommPageSize);
    default: return -1;
    }
}

long deviceRecordCall(int routine, intptr_t a2, intptr_t a3) {
    DeviceRecord r = deviceRecord();
    switch (routine) {
    case 0:
        if (!a2) return -1;
        std::memcpy(ptr<void>(a2), &r, sizeof r);
        return sizeof r;
    case 1:
    case 2:
        if (!a2) return -1;
        std::memcpy(ptr<void>(a2), routine == 1 ? r.partNumber : r.serialNumber, 16);
        return 16;
    case 3:
        if (a2) *ptr<uint32_t>(a2) = r.lifeTime;
        if (a3) *ptr<float>(a3) = r.maxTemperature;
        return 0;
    default: return -1;
    }
}

long pwmIn(int routine, intptr_t channel, intptr_t out) {
    if (!ioChannel(channel)) return -1;
    PwmState st = pwmInGet(static_cast<unsigned>(channel));
    switch (routine) {
    case 0: if (!out) return -1; *ptr<float>(out) = st.duty; return 0;
    case 1: if (!out) return -1; *ptr<float>(out) = st.frequency; return 0;
    case 2: return 0;
    default: return -1;
    }
}

}  // namespace

void registerSymbol(const std::string& name, void* address) {
    std::lock_guard<std::mutex> lk(stMx);
    symbols[name] = address;
}

std::string handedOverEpk() {
    std::lock_guard<std::mutex> lk(stMx);
    return epk;
}

uint32_t measStatusWord() {
    std::lock_guard<std::mutex> lk(stMx);
    return measStatus;
}

long rtpSyscall(intptr_t a1, intptr_t a2, intptr_t a3, intptr_t a4, intptr_t a5, intptr_t,
                intptr_t, intptr_t, int number) {
    switch (number) {
    case SC_REFPAGE_STORE:
        if (!a2 || a3 < 0) return -1;
        return detail::writeFileAtomic(inDeviceFolder(kRefpageFile), ptr<void>(a2), static_cast<size_t>(a3))
                   ? static_cast<long>(a3)
                   : -1;
    case SC_REFPAGE_LOAD: {
        std::vector<uint8_t> page;
        switch (readWholeFile(inDeviceFolder(kRefpageFile), &page)) {
        case FileRead::Missing: return -1;
        case FileRead::Unreadable: return -2;
        case FileRead::Ok: break;
        }
        return copyOut(page, a2, a3);
    }
    case SC_SHELL_REGISTER: return a2 ? 0 : -1;
    case SC_NVRAM_READ:
        if (a5 < 0) return -1;
        return nvramRead(static_cast<unsigned>(a2), static_cast<unsigned>(a3), ptr<void>(a4), static_cast<size_t>(a5));
    case SC_NVRAM_WRITE:
        if (a5 < 0) return -1;
        return nvramWrite(static_cast<unsigned>(a2), static_cast<unsigned>(a3), ptr<const void>(a4),
                          static_cast<size_t>(a5));
    case SC_DRIVE_AVAILABLE: return a2 && driveAvailable(text(a2)) ? 0 : -1;
    case SC_IRQ_TO_QUEUE: {
        if (!a3 || a4 <= 0) return -1;
        MSG_Q_ID q = msgQOpen(text(a3), 64, static_cast<int>(a4), MSG_Q_FIFO, OM_CREATE);
        if (q && a2 == kTimeGapIrq) connectTimeGapInterrupt(q);   // the kernel keeps this reference
        return q ? 0 : -1;
    }
    case SC_CAN_REGISTER_RX:
        return canRegisterRx(static_cast<unsigned>(a2), static_cast<uint8_t>(a3), static_cast<uint32_t>(a4));
    case SC_CAN_SEND:
        if (!a3) return -1;
        return canSend(static_cast<unsigned>(a2), *ptr<const CanFrame>(a3));
    case SC_CAN_BAUDRATE:
        return canSetBaudrate(static_cast<unsigned>(a2), static_cast<uint32_t>(a3), static_cast<uint32_t>(a4));
    case SC_CAN_START: return canStart(static_cast<unsigned>(a2));
    case SC_OW_ROMID: {
        if (!a2) return -1;
        const DeviceRecord r = deviceRecord();
        if (!r.romIdReadable) return -1;
        std::memcpy(ptr<void>(a2), r.romId, 8);
        return 0;
    }
    case SC_EPK_HANDOVER: {
        if (!a2 || a3 < 0) return -1;
        std::lock_guard<std::mutex> lk(stMx);
        epk.assign(text(a2), strnlen(text(a2), static_cast<size_t>(a3)));
        return 0;
    }
    case SC_SETTINGS:
    case SC_ADD_SUBNET:
    case SC_DEFAULT_GW:
    case SC_USB_MON_RESET:
    case SC_APPMAN_CHECK:
        // the application manager hands the process the parameters of start.cfg
        loadStartParams(static_cast<int>(a1));
        return 0;
    case SC_MEAS_STATUS: {
        std::lock_guard<std::mutex> lk(stMx);
        measStatus = static_cast<uint32_t>(a2);
        return 0;
    }
    case SC_APPMAN: return appMan(a1, a3, a4, a5);
    case SC_SHM_BASE:
    case SC_SHM_BASE + 1:
    case SC_SHM_BASE + 2:
    case SC_SHM_BASE + 3:
        return sharedPage(number - SC_SHM_BASE, a2, a3, a4);
    case SC_DEVREC_BASE:
    case SC_DEVREC_BASE + 1:
    case SC_DEVREC_BASE + 2:
    case SC_DEVREC_BASE + 3:
        return deviceRecordCall(number - SC_DEVREC_BASE, a2, a3);
    case SC_PWM_IN_BASE:
    case SC_PWM_IN_BASE + 1:
    case SC_PWM_IN_BASE + 2:
        return pwmIn(number - SC_PWM_IN_BASE, a2, a3);
    case SC_PWM_OUT_SET:
        if (!ioChannel(a2)) return -1;
        pwmOutSet(static_cast<unsigned>(a2), argFloat(a3), argFloat(a4));
        return 0;
    case SC_PWM_OUT_STOP:
        if (!ioChannel(a2)) return -1;
        pwmOutStop(static_cast<unsigned>(a2));
        return 0;
    case SC_RTC_READ:
        if (!a2) return -1;
        *ptr<int64_t>(a2) = rtcGetUnixMs();
        return 0;
    case SC_RTC_WRITE: rtcSetUnixMs(static_cast<int64_t>(a2)); return 0;
    case SC_SCREEN_FLUSH:
        return screenFlush(ptr<const uint32_t>(a2), a3 ? static_cast<int>(a3) : 640, a4 ? static_cast<int>(a4) : 480,
                           a5 ? static_cast<int>(a5) : 1024);
    case SC_SCREEN_WAIT: return screenWaitFlush();
    case SC_BOOTLOGO: return copyOut(readFile(inDeviceFolder("bootlogo.bin")), a2, a3);
    case SC_BOOTLOGO_SIZE:
        if (!a2) return -1;
        *ptr<uint32_t>(a2) = static_cast<uint32_t>(readFile(inDeviceFolder("bootlogo.bin")).size());
        return 0;
    default: return -1;
    }
}

void shutdownServices(unsigned limitMs) {
    const auto start = std::chrono::steady_clock::now();
    const auto left = [&] {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        return spent >= limitMs ? 0u : limitMs - static_cast<unsigned>(spent);
    };
    stopBaseTick();
    // the buses' threads end within their poll; one that gets no CPU is left
    canClose(limitMs / 4);
    // the last frame gets half the time left; a writer still inside a frame
    // (a slow drive, no CPU for it) is not waited for
    screenStop(static_cast<int>(left() / 2));
    limitMs = left();
    // the logging's stop has stopped it and named a write it left; one that
    // still writes is not waited for
    stopFormatService(0, nullptr);
    // the shutdown has waited for the NVRAM and named what it lacks: what
    // came after gets what is left, and the end never waits on a disk
    nvramStopWriter(limitMs);
    unlinkProcessQueues();
    joinEndedTasks();
    screenJoinEnded();
}

namespace detail {
void resetSyscallState() {
    std::lock_guard<std::mutex> lk(stMx);
    symbols.clear();
    epk.clear();
    measStatus = 0;
}
}  // namespace detail

void resetForTest() {
    detail::resetBaseTick();
    detail::resetCan();
    detail::resetScreen();
    detail::resetStartParams();
    detail::resetNvram();
    detail::resetIoState();
    detail::resetSharedPage();
    detail::resetTimeCore();
    detail::resetSyscallState();
    stopFormatService();
    unlinkProcessQueues();
}

}  // namespace host
