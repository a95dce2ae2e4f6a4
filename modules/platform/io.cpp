// I/O front ends over the kernel-side services.
#include "platform/io.h"

#include "platform/appman.h"
#include "platform/crc.h"
#include "platform/syslogx.h"
#include "host/kernel/kernel.h"

#include <arpa/inet.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::atomic<uint32_t> gMeasStatus{0};

constexpr int kMaxSubnets = 10;
std::mutex gSubnetMx;
uint32_t gSubnets[kMaxSubnets];
int gSubnetCount = 0;

void pushStatus(uint32_t word) {
    host::rtpSyscall(RtpIndex, word, 0, 0, 0, 0, 0, 0, host::SC_MEAS_STATUS);
}

}  // namespace

void PwmOut_Set(unsigned channel, float duty, float frequency) {
    if (host::rtpSyscall(RtpIndex, channel, host::floatArg(duty), host::floatArg(frequency), 0, 0, 0, 0,
                         host::SC_PWM_OUT_SET) < 0)
        syslogx(147, "PwmOut_Set: channel %u refused", channel);
}

void PwmOut_Stop(unsigned channel) {
    host::rtpSyscall(RtpIndex, channel, 0, 0, 0, 0, 0, 0, host::SC_PWM_OUT_STOP);
}

unsigned digital_ioIn(unsigned channel) { return host::digitalInGet(channel); }

void digital_ioOut(unsigned channel, unsigned level) { host::digitalOutSet(channel, level); }

void meas_led_set_status(uint32_t mask) { pushStatus(gMeasStatus.fetch_or(mask) | mask); }

void meas_led_clr_status(uint32_t mask) { pushStatus(gMeasStatus.fetch_and(~mask) & ~mask); }

uint32_t meas_led_get_status() { return gMeasStatus.load(); }

int ow_readRomID(uint8_t* out) {
    if (!out) return 0;
    uint8_t id[8] = {};
    if (host::rtpSyscall(RtpIndex, reinterpret_cast<intptr_t>(id), 0, 0, 0, 0, 0, 0, host::SC_OW_ROMID) < 0) {
        syslogx(147, "Reading OWID failed");
        memset(out, 0, 8);
        return 0;
    }
    memcpy(out, id, 8);
    return 1;
}

uint32_t unit_id_get() {
    uint8_t rom[8];
    ow_readRomID(rom);
    return crc32_bsd(rom, sizeof rom);
}

bool pinConfig_getRS232TeleEnabled() {
    const auto& paths = host::startParams().serialPath;
    return !paths.empty() && !paths[0].empty();
}

int add_subnet(uint32_t addr) {
    in_addr own{};
    uint32_t ownHost = inet_aton(device_ip_addr, &own) ? ntohl(own.s_addr) : 0;
    uint32_t net = addr & 0xFFFFFF00u;
    std::lock_guard<std::mutex> lk(gSubnetMx);
    if (net == (ownHost & 0xFFFFFF00u)) return -1;
    for (int i = 0; i < gSubnetCount; ++i)
        if (gSubnets[i] == net) return -1;
    if (gSubnetCount >= kMaxSubnets) {
        syslogx(147, "add_subnet: too many subnets (ignored): %d.%d.%d.%d", static_cast<int>(addr >> 24),
                static_cast<int>((addr >> 16) & 0xFF), static_cast<int>((addr >> 8) & 0xFF),
                static_cast<int>(addr & 0xFF));
        return -1;
    }
    uint32_t ifAddr = net | (ownHost & 0xFFu);
    long r = host::rtpSyscall(RtpIndex, ifAddr, 0, 0, 0, 0, 0, 0, host::SC_ADD_SUBNET);
    if (r >= 0) gSubnets[gSubnetCount++] = net;
    return static_cast<int>(r);
}

void add_subnet_resetForTest() {
    std::lock_guard<std::mutex> lk(gSubnetMx);
    gSubnetCount = 0;
}

int memInfoGet(MemInfo* info) {
    if (!info) return -1;
    // The process heap grows on demand, so what the system can still give is
    // the free memory; one contiguous block of it can be had as well.
    FILE* f = fopen("/proc/meminfo", "r");
    uint64_t availKb = 0;
    if (f) {
        char line[128];
        while (fgets(line, sizeof line, f)) {
            unsigned long long v;
            if (sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
                availKb = v;
                break;
            }
        }
        fclose(f);
    }
    struct mallinfo2 mi = mallinfo2();
    info->numBytesFree = availKb * 1024 + mi.fordblks;
    info->maxBlockSizeFree = availKb ? availKb * 1024 : mi.fordblks;
    return (availKb || mi.fordblks) ? 0 : -1;
}
