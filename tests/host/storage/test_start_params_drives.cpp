// start.cfg parsing, drives, host paths and file attributes.
#include "host/device_fixture.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <filesystem>

namespace {

using StartParamsTest = DeviceFolderTest;

TEST_F(StartParamsTest, DefaultsWithoutFile) {
    const host::StartParams& p = host::loadStartParams(2);
    EXPECT_EQ(p.appNumber, 2);
    EXPECT_EQ(p.pid, 1);
    EXPECT_EQ(p.ip, "127.0.0.1");
    EXPECT_EQ(p.xcpPort, 5555);
    EXPECT_EQ(p.portOffset, 0);
    EXPECT_EQ(p.canBus, "udp");
    EXPECT_TRUE(p.serialPath.empty());
}

TEST_F(StartParamsTest, ValuesCommentsAndBadInput) {
    writeFile("start.cfg",
              "# device 7\n"
              "pid = 7   # trailing comment\n"
              "ip=127.0.0.9\n"
              "  xcp_port =  0x1600 \n"
              "port_offset = 100\n"
              "can1_port = 40001\n"
              "can_bus = loopback\n"
              "serial1 = /dev/pts/9\n"
              "no equals sign here\n"
              "can0_port = 70000\n"     // out of range: default kept
              "ip = 999.1.1.1\n"         // bad address: previous kept
              "pid = 64\n"               // PIDs go to 63
              "color = blue\n");
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.pid, 7);
    EXPECT_EQ(p.ip, "127.0.0.9");
    EXPECT_EQ(p.xcpPort, 0x1600);
    EXPECT_EQ(p.portOffset, 100);
    EXPECT_EQ(p.canPort[0], 29536);
    EXPECT_EQ(p.canPort[1], 40001);
    EXPECT_EQ(p.canBus, "loopback");
    ASSERT_EQ(p.serialPath.size(), 2u);
    EXPECT_EQ(p.serialPath[1], "/dev/pts/9");
    EXPECT_EQ(host::hostPath("/tyCo/1"), "/dev/pts/9");
    EXPECT_EQ(host::hostPath("/tyCo/0"), "");
    EXPECT_EQ(host::hostPath("/tyCo/5"), "");
    EXPECT_EQ(host::hostPath("/tyCo/x"), "");
}

bool hasProblem(const host::StartParams& p, const std::string& text) {
    return std::find(p.problems.begin(), p.problems.end(), text) != p.problems.end();
}

// Numbers are decimal unless they start with 0x: a leading zero is no octal.
TEST_F(StartParamsTest, NumbersWithALeadingZeroAreDecimal) {
    writeFile("start.cfg",
              "xcp_port = 05555\n"
              "pid = 010\n"
              "port_offset = 029\n"
              "can0_port = 0x7000\n"
              "can1_port = 0X7001\n"
              "sibling_laptrig_pid = 0x\n"        // no digits
              "sibling_fuelcons_pid = 0017\n"
              "serial09 = /dev/pts/4\n");
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.xcpPort, 5555);
    EXPECT_EQ(p.pid, 10);
    EXPECT_EQ(p.portOffset, 29);
    EXPECT_EQ(p.canPort[0], 0x7000);
    EXPECT_EQ(p.canPort[1], 0x7001);
    EXPECT_EQ(p.siblingLaptrigPid, -1);
    EXPECT_TRUE(hasProblem(p, "start.cfg line 6: bad value '0x' for sibling_laptrig_pid (default kept)"))
        << ::testing::PrintToString(p.problems);
    EXPECT_EQ(p.siblingFuelconsPid, 17);
    ASSERT_EQ(p.serialPath.size(), 10u);
    EXPECT_EQ(p.serialPath[9], "/dev/pts/4");
}

// CR, LF and CR LF each end a line, also mixed in one file; the line numbers
// count them alike.
TEST_F(StartParamsTest, CrLfAndCrLfEachEndALine) {
    writeFile("start.cfg", "# device 7\rpid = 7\rxcp_port = 6000\r");
    const host::StartParams* p = &host::loadStartParams(1);
    EXPECT_EQ(p->pid, 7);
    EXPECT_EQ(p->xcpPort, 6000);
    EXPECT_TRUE(p->problems.empty()) << ::testing::PrintToString(p->problems);

    writeFile("start.cfg", "# mixed\r\npid = 8\r\n\rport_offset = 12\nip = 127.0.0.3\rpid = x\r\n");
    p = &host::loadStartParams(1);
    EXPECT_EQ(p->pid, 8);
    EXPECT_EQ(p->portOffset, 12);
    EXPECT_EQ(p->ip, "127.0.0.3");
    EXPECT_TRUE(hasProblem(*p, "start.cfg line 6: bad value 'x' for pid (value of line 2 kept)"))
        << ::testing::PrintToString(p->problems);
}

// Lines that cannot be used are named up to ten and the rest counted, so
// that a large file of them does not flood the log at the start.
TEST_F(StartParamsTest, ManyUnusableLinesAreNamedUpToTenAndCounted) {
    std::string text = "pid = 9\n";
    for (int i = 0; i < 200000; ++i) text += i % 2 ? "junk\n" : "colour = red\n";
    writeFile("start.cfg", text + "xcp_port = 6001\n");
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.pid, 9);
    EXPECT_EQ(p.xcpPort, 6001);
    ASSERT_EQ(p.problems.size(), 11u) << ::testing::PrintToString(p.problems);
    EXPECT_EQ(p.problems[0], "start.cfg line 2: unknown key 'colour' ignored");
    EXPECT_EQ(p.problems[9], "start.cfg line 11: no '=' (ignored)");
    EXPECT_EQ(p.problems[10], "start.cfg: 199990 more lines not used");
}

// A key given again: the later line counts and the repeat is named with
// both lines, once per key, however often it comes. A byte-order mark
// before the first key is no part of it.
TEST_F(StartParamsTest, ARepeatedKeyIsNamedAndTheLaterLineCounts) {
    writeFile("start.cfg",
              "\xEF\xBB\xBFpid = 5\n"
              "serial1 = /dev/pts/1\n"
              "pid = 6\n"                  // 3: named
              "serial01 = /dev/pts/2\n"    // 4: the same port, named
              "pid = 64\n"                 // 5: bad, line 3's value stays
              "pid = 7\n");                // 6: counted only
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.pid, 7);
    ASSERT_EQ(p.serialPath.size(), 2u);
    EXPECT_EQ(p.serialPath[1], "/dev/pts/2");
    EXPECT_EQ(p.problems, (std::vector<std::string>{
                              "start.cfg line 3: pid again (first in line 1), the later line counts",
                              "start.cfg line 4: serial1 again (first in line 2), the later line counts",
                              "start.cfg line 5: bad value '64' for pid (value of line 3 kept)",
                              "start.cfg: 3 lines repeat a key, the last line of each counts"}));

    std::string many;
    for (int i = 0; i < 100000; ++i) many += "pid = 8\n";
    writeFile("start.cfg", many);
    const host::StartParams& q = host::loadStartParams(1);
    EXPECT_EQ(q.pid, 8);
    EXPECT_EQ(q.problems, (std::vector<std::string>{
                              "start.cfg line 2: pid again (first in line 1), the later line counts",
                              "start.cfg: 99999 lines repeat a key, the last line of each counts"}));
}

// An empty start.cfg is named: it is most likely a file that lost its content.
TEST_F(StartParamsTest, AnEmptyFileIsNamedAndGivesTheDefaults) {
    writeFile("start.cfg", "");
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.pid, 1);
    EXPECT_EQ(p.problems, std::vector<std::string>{"start.cfg is empty (defaults used)"});
}

// A NUL byte would end the value early for a reader of C strings: its line
// is named where the byte stands and not used; what the key keeps is named
// (the default, or the value an earlier line gave it).
TEST_F(StartParamsTest, ALineWithANulByteIsNamedAndNotUsed) {
    static const char text[] = "pid = 7\nxcp_port = 55\0" "99\nip = 127.0.0.9\npid = 9\0\n";
    writeFile("start.cfg", std::string(text, sizeof text - 1));
    const host::StartParams& p = host::loadStartParams(1);
    EXPECT_EQ(p.xcpPort, 5555);
    EXPECT_EQ(p.pid, 7);
    EXPECT_EQ(p.ip, "127.0.0.9");
    EXPECT_TRUE(hasProblem(p, "start.cfg: NUL byte in line 2 column 14, line ignored (default kept)"))
        << ::testing::PrintToString(p.problems);
    EXPECT_TRUE(hasProblem(p, "start.cfg: NUL byte in line 4 column 8, line ignored (value of line 1 kept)"))
        << ::testing::PrintToString(p.problems);
}

// The files the host reads whole that are no plain file: each is named as
// what it is, none is waited on, none is read past the one size limit.
TEST_F(StartParamsTest, FilesThatAreNoPlainFileAreNamedAndNeverWaitedOn) {
    const std::string path = dir + "/start.cfg";
    std::vector<uint8_t> bytes;
    std::string why;
    host::FileRead r = host::FileRead::Ok;
    makeFifo("start.cfg");
    EXPECT_TRUE(returnsBesideFifo("start.cfg", [&] { r = host::readWholeFile(path, &bytes, &why); }));
    EXPECT_EQ(r, host::FileRead::Unreadable);
    EXPECT_EQ(why, "is a FIFO");
    EXPECT_EQ(host::fileProblem(path), "is a FIFO");
    const host::StartParams* p = nullptr;
    EXPECT_TRUE(returnsBesideFifo("start.cfg", [&] { p = &host::loadStartParams(1); }));
    EXPECT_TRUE(hasProblem(*p, "start.cfg is a FIFO (defaults used)")) << ::testing::PrintToString(p->problems);
    EXPECT_EQ(p->xcpPort, 5555);

    std::filesystem::remove(path);
    std::filesystem::create_symlink("/dev/null", path);
    EXPECT_EQ(host::readWholeFile(path, &bytes, &why), host::FileRead::Unreadable);
    EXPECT_EQ(why, "is a device");

    std::filesystem::remove(path);
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(host::readWholeFile(path, &bytes, &why), host::FileRead::Unreadable);
    ::close(s);
    EXPECT_EQ(why, "is a socket");

    std::filesystem::remove(path);
    std::filesystem::create_symlink("gone.cfg", path);
    EXPECT_EQ(host::readWholeFile(path, &bytes, &why), host::FileRead::Unreadable);
    EXPECT_EQ(why, "is a link that leads nowhere");

    // the limit: a sparse file one byte past it is not read, one at it is
    std::filesystem::remove(path);
    const uint64_t limit = 16u * 1024u * 1024u;
    writeFile("start.cfg", "");
    std::filesystem::resize_file(path, limit + 1);
    bytes.assign(3, 1);
    EXPECT_EQ(host::readWholeFile(path, &bytes, &why), host::FileRead::Unreadable);
    EXPECT_EQ(why, "is too large (16777217 bytes)");
    EXPECT_TRUE(bytes.empty());
    std::filesystem::resize_file(path, limit);
    EXPECT_EQ(host::readWholeFile(path, &bytes, &why), host::FileRead::Ok);
    EXPECT_EQ(bytes.size(), limit);
}

using DrivesTest = DeviceFolderTest;

TEST_F(DrivesTest, AvailabilityFollowsFolders) {
    EXPECT_FALSE(host::driveAvailable("meas:"));
    std::filesystem::create_directory(dir + "/meas");
    std::filesystem::create_directory(dir + "/usb_meas");
    EXPECT_TRUE(host::driveAvailable("meas:"));
    EXPECT_TRUE(host::driveAvailable("meas"));
    EXPECT_TRUE(host::driveAvailable("USB_MEAS:/"));
    EXPECT_FALSE(host::driveAvailable("meas2:"));
    EXPECT_FALSE(host::driveAvailable("tmp:"));
    writeFile("cfg", "a file, not a folder");
    EXPECT_FALSE(host::driveAvailable("cfg:"));
}

TEST_F(DrivesTest, HostPathMapping) {
    EXPECT_EQ(host::hostPath("meas:/a/b.dat"), dir + "/meas/a/b.dat");
    EXPECT_EQ(host::hostPath("meas:b.dat"), dir + "/meas/b.dat");
    EXPECT_EQ(host::hostPath("meas2:/x"), dir + "/meas2/x");
    EXPECT_EQ(host::hostPath("usb_meas:/x"), dir + "/usb_meas/x");
    EXPECT_EQ(host::hostPath("cfg:/m01.xml"), dir + "/cfg/m01.xml");
    EXPECT_EQ(host::hostPath("cfg:rtracks.xml"), dir + "/cfg/rtracks.xml");
    EXPECT_EQ(host::hostPath("c:/psts/upload/scrutineering.xml"), dir + "/c/psts/upload/scrutineering.xml");
    EXPECT_EQ(host::hostPath("c:\\psts\\a.txt"), dir + "/c/psts/a.txt");
    EXPECT_EQ(host::hostPath("meas:"), dir + "/meas");
    EXPECT_EQ(host::hostPath("/tmp/plain"), "/tmp/plain");
    EXPECT_EQ(host::hostPath("relative/file.txt"), "relative/file.txt");
    EXPECT_EQ(host::hostPath("./a:b"), "./a:b");
    EXPECT_EQ(host::hostPath("nodrive:/x"), "");
    EXPECT_EQ(host::hostPath("meas:/../../etc/passwd"), "");
    EXPECT_EQ(host::hostPath("meas:/a/.."), "");
    EXPECT_EQ(host::hostPath("meas:/a..b"), dir + "/meas/a..b");
}

TEST_F(DrivesTest, FileAttributesKeptPerFile) {
    std::filesystem::create_directories(dir + "/meas/sub");
    writeFile("meas/a.dat", "x");
    writeFile("meas/b.dat", "y");
    uint32_t a = 0xFF;
    ASSERT_TRUE(host::getFileAttributes("meas:/a.dat", &a));
    EXPECT_EQ(a, 0u);
    ASSERT_TRUE(host::setFileAttributes("meas:/a.dat", host::ATTR_READ_ONLY | host::ATTR_ARCHIVE));
    ASSERT_TRUE(host::getFileAttributes("meas:/a.dat", &a));
    EXPECT_EQ(a, host::ATTR_READ_ONLY | host::ATTR_ARCHIVE);
    ASSERT_TRUE(host::getFileAttributes("meas:/b.dat", &a));
    EXPECT_EQ(a, 0u);
    ASSERT_TRUE(host::getFileAttributes("meas:/sub", &a));
    EXPECT_EQ(a, host::ATTR_DIRECTORY);
    ASSERT_TRUE(host::setFileAttributes("meas:/sub", host::ATTR_HIDDEN | host::ATTR_DIRECTORY));
    ASSERT_TRUE(host::getFileAttributes("meas:/sub", &a));
    EXPECT_EQ(a, host::ATTR_HIDDEN | host::ATTR_DIRECTORY);
    EXPECT_FALSE(host::getFileAttributes("meas:/missing.dat", &a));
    EXPECT_FALSE(host::setFileAttributes("meas:/missing.dat", 1));
    EXPECT_FALSE(host::getFileAttributes("nodrive:/a", &a));
}

}  // namespace

using DeviceLockTest = DeviceFolderTest;

TEST_F(DeviceLockTest, SecondHolderIsRefusedAndNamesTheFirst) {
    std::string holder;
    ASSERT_TRUE(host::lockDeviceFolder(&holder));
    EXPECT_FALSE(host::lockDeviceFolder(&holder));
    EXPECT_EQ(holder, "is in use by process " + std::to_string(getpid()));
    // the lock is the folder's: removing device.lock does not free it, and
    // the refusal still names the holder (and makes no device.lock anew)
    std::filesystem::remove(dir + "/device.lock");
    holder.clear();
    EXPECT_FALSE(host::lockDeviceFolder(&holder));
    EXPECT_EQ(holder, "is in use by process " + std::to_string(getpid()));
    EXPECT_FALSE(std::filesystem::exists(dir + "/device.lock"));
}

// What stands in place of device.lock when no process holds it is named as
// what it is; nothing is created through a link that leads nowhere.
TEST_F(DeviceLockTest, SomethingElseInPlaceOfTheLockIsNamed) {
    std::string why;
    std::filesystem::create_directory(dir + "/device.lock");
    EXPECT_FALSE(host::lockDeviceFolder(&why));
    EXPECT_EQ(why, "cannot be locked: device.lock is a folder");
    std::filesystem::remove(dir + "/device.lock");

    std::filesystem::create_symlink("elsewhere.lock", dir + "/device.lock");
    EXPECT_FALSE(host::lockDeviceFolder(&why));
    EXPECT_EQ(why, "cannot be locked: device.lock is a link that leads nowhere");
    EXPECT_FALSE(std::filesystem::exists(dir + "/elsewhere.lock"));
    std::filesystem::remove(dir + "/device.lock");

    std::filesystem::create_symlink("gone/elsewhere.lock", dir + "/device.lock");
    EXPECT_FALSE(host::lockDeviceFolder(&why));
    EXPECT_EQ(why, "cannot be locked: device.lock is a link that leads nowhere");
}
