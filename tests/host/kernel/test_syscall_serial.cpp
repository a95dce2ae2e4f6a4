// The numbered system call with pointer arguments, and the serial ports.
#include "host/device_fixture.h"
#include "host/os/os.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace {

using SyscallTest = DeviceFolderTest;

long sc(int number, intptr_t a2 = 0, intptr_t a3 = 0, intptr_t a4 = 0, intptr_t a5 = 0) {
    return host::rtpSyscall(1, a2, a3, a4, a5, 0, 0, 0, number);
}
template <class T>
intptr_t P(T* p) {
    return reinterpret_cast<intptr_t>(p);
}

TEST_F(SyscallTest, NvramAndDrivesThroughTheDispatcher) {
    uint8_t page = 4, out = 0;
    EXPECT_EQ(sc(host::SC_NVRAM_WRITE, 8, 0, P(&page), 1), 1);
    EXPECT_EQ(sc(host::SC_NVRAM_READ, 8, 0, P(&out), 1), 1);
    EXPECT_EQ(out, 4);
    EXPECT_EQ(sc(host::SC_NVRAM_READ, 9, 0, P(&out), 1), -1);
    EXPECT_EQ(sc(host::SC_NVRAM_READ, 8, 0, P(&out), -1), -1);
    EXPECT_EQ(sc(host::SC_DRIVE_AVAILABLE, P("cfg:")), -1);
    std::filesystem::create_directory(dir + "/cfg");
    EXPECT_EQ(sc(host::SC_DRIVE_AVAILABLE, P("cfg:")), 0);
    EXPECT_EQ(sc(host::SC_DRIVE_AVAILABLE, 0), -1);
    EXPECT_EQ(sc(12345), -1);
}

TEST_F(SyscallTest, ApplicationManager) {
    writeFile("start.cfg", "pid = 12\nip = 127.0.0.2\nport_offset = 20\n");
    host::loadStartParams(1);
    host::StartParamsRecord r;
    ASSERT_EQ(sc(host::SC_APPMAN, 0, host::AM_READ_PARAMS, P(&r)), 0);
    EXPECT_EQ(r.appNumber, 1);
    EXPECT_EQ(r.pid, 12);
    EXPECT_STREQ(r.ip, "127.0.0.2");
    EXPECT_EQ(r.xcpPort, 5555);
    EXPECT_EQ(r.portOffset, 20);
    sc(host::SC_APPMAN, 0, host::AM_WATCHDOG_FEED);
    sc(host::SC_APPMAN, 0, host::AM_WATCHDOG_FEED);
    sc(host::SC_APPMAN, 0, host::AM_WATCHDOG_STARVE);
    EXPECT_EQ(host::watchdogFeedCount(), 2u);
    EXPECT_EQ(host::watchdogStarveCount(), 1u);
    EXPECT_FALSE(host::watchdogInShutdown());
    sc(host::SC_APPMAN, 0, host::AM_WATCHDOG_SHUTDOWN);
    EXPECT_TRUE(host::watchdogInShutdown());
    int target = 0;
    void* addr = nullptr;
    host::registerSymbol("seramInfo", &target);
    EXPECT_EQ(sc(host::SC_APPMAN, 0, host::AM_SYMBOL_ADDRESS, P("seramInfo"), P(&addr)), 0);
    EXPECT_EQ(addr, &target);   // a full 64-bit pointer
    EXPECT_EQ(sc(host::SC_APPMAN, 0, host::AM_SYMBOL_ADDRESS, P("nothing"), P(&addr)), -1);
    EXPECT_EQ(sc(host::SC_APPMAN, 0, 99), -1);
}

TEST_F(SyscallTest, PwmRtcSharedPageAndRecords) {
    EXPECT_EQ(sc(host::SC_PWM_OUT_SET, 0, host::floatArg(42.5f), host::floatArg(1000.0f)), 0);
    host::PwmState st = host::pwmOutGet(0);
    EXPECT_TRUE(st.on);
    EXPECT_FLOAT_EQ(st.duty, 42.5f);
    EXPECT_FLOAT_EQ(st.frequency, 1000.0f);
    EXPECT_EQ(sc(host::SC_PWM_OUT_STOP, 0), 0);
    EXPECT_FALSE(host::pwmOutGet(0).on);
    EXPECT_EQ(sc(host::SC_PWM_OUT_SET, 99, 0, 0), -1);
    host::pwmInSet(2, 30.0f, 50.0f);
    float v = 0;
    EXPECT_EQ(sc(host::SC_PWM_IN_BASE + 1, 2, P(&v)), 0);
    EXPECT_FLOAT_EQ(v, 50.0f);

    int64_t before = 0, after = 0;
    sc(host::SC_RTC_READ, P(&before));
    const int64_t year2030 = 1893456000000LL;
    EXPECT_EQ(sc(host::SC_RTC_WRITE, year2030), 0);
    sc(host::SC_RTC_READ, P(&after));
    EXPECT_GE(after, year2030);
    EXPECT_LT(after - year2030, 60000);
    EXPECT_LT(before, year2030);

    void* page = nullptr;
    ASSERT_EQ(sc(host::SC_SHM_BASE, P("/shm/ApplComm"), P(&page)), 0);
    EXPECT_EQ(page, host::applCommPage());
    EXPECT_EQ(sc(host::SC_SHM_BASE, P("/shm/Other"), P(&page)), -1);
    const char msg[] = "lap";
    EXPECT_EQ(sc(host::SC_SHM_BASE + 2, 4094, P(msg), 4), 2);   // cut at the page end
    char back[4] = {};
    EXPECT_EQ(sc(host::SC_SHM_BASE + 1, 4094, P(back), 4), 2);
    EXPECT_EQ(back[1], 'a');
    EXPECT_EQ(sc(host::SC_SHM_BASE + 1, 5000, P(back), 4), -1);
    EXPECT_NE(semOpen("/ApplComSem", SEM_TYPE_BINARY, 0, 0, 0), nullptr);

    char part[16];
    EXPECT_EQ(sc(host::SC_DEVREC_BASE + 1, P(part)), 16);
    EXPECT_STREQ(part, host::deviceRecord().partNumber);
    uint8_t rom[8];
    EXPECT_EQ(sc(host::SC_OW_ROMID, P(rom)), 0);
    EXPECT_EQ(rom[0], host::deviceRecord().romId[0]);

    EXPECT_EQ(sc(host::SC_EPK_HANDOVER, P("EPK_TEST_1234"), 8), 0);
    EXPECT_EQ(host::handedOverEpk(), "EPK_TEST");
}

TEST_F(SyscallTest, ReferencePageAndBootLogo) {
    uint8_t ref[300];
    for (int i = 0; i < 300; ++i) ref[i] = static_cast<uint8_t>(i);
    uint8_t out[400] = {};
    EXPECT_EQ(sc(host::SC_REFPAGE_LOAD, P(out), sizeof out), -1);
    EXPECT_EQ(sc(host::SC_REFPAGE_STORE, P(ref), sizeof ref), 300);
    EXPECT_EQ(sc(host::SC_REFPAGE_LOAD, P(out), sizeof out), 300);
    EXPECT_EQ(out[299], ref[299]);
    EXPECT_EQ(sc(host::SC_REFPAGE_LOAD, P(out), 10), 10);

    uint32_t size = 99;
    EXPECT_EQ(sc(host::SC_BOOTLOGO_SIZE, P(&size)), 0);
    EXPECT_EQ(size, 0u);
    writeFile("bootlogo.bin", "LOGO");
    EXPECT_EQ(sc(host::SC_BOOTLOGO_SIZE, P(&size)), 0);
    EXPECT_EQ(size, 4u);
    char logo[8] = {};
    EXPECT_EQ(sc(host::SC_BOOTLOGO, P(logo), 2), 2);
    EXPECT_EQ(logo[1], 'O');
}

using SerialTest = DeviceFolderTest;

TEST_F(SerialTest, PtyGetsBaudAndRawMode) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    writeFile("start.cfg", std::string("serial1 = ") + ptsname(master) + "\nserial0 = " + dir + "/plain\n");
    writeFile("plain", "");
    host::loadStartParams(1);

    int fd = host::serialOpen("/tyCo/1", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(host::serialSetBaud(fd, 115200), 0);
    EXPECT_EQ(host::serialSetRaw(fd), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_lflag & ICANON, 0u);
    EXPECT_EQ(host::serialSetBaud(fd, 12345), -1);
    ASSERT_EQ(write(fd, "$GP", 3), 3);
    char buf[4] = {};
    EXPECT_EQ(read(master, buf, 3), 3);
    EXPECT_STREQ(buf, "$GP");
    close(fd);
    close(master);

    int plain = host::serialOpen("/tyCo/0", O_RDWR);   // not a terminal: settings ignored
    ASSERT_GE(plain, 0);
    EXPECT_EQ(host::serialSetBaud(plain, 9600), 0);
    EXPECT_EQ(host::serialSetRaw(plain), 0);
    close(plain);
    EXPECT_EQ(host::serialOpen("/tyCo/7", O_RDWR), -1);
    EXPECT_EQ(host::serialOpen("meas:/x", O_RDWR), -1);
}

}  // namespace
