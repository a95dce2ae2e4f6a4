// The application manager's front end reads start.cfg: the values reach the
// process, lines that cannot be used are logged with their number.
#include "platform/appman.h"

#include "platform_fixture.h"

using AppManStart = PlatformTest;

TEST_F(AppManStart, StartCfgValuesReachTheProcessAndBadLinesAreLogged) {
    writeFile("start.cfg",
              "pid = 5\n"
              "can0_port = 31000\n"
              "xcp_port = 6000\n"
              "pid = 99999999999999999999\n"
              "ip = 999.1.1.1\n");
    ASSERT_EQ(AppMan_init(1), 1);
    EXPECT_EQ(app_pid, 5);
    EXPECT_EQ(AppMan_getPID(), 5);
    EXPECT_EQ(AppMan_getXCPPort(), 6000);
    EXPECT_STREQ(device_ip_addr, "127.0.0.1");
    EXPECT_EQ(host::startParams().canPort[0], 31000);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "start.cfg line 4: bad value '99999999999999999999' for pid (value of line 1 kept)"));
    EXPECT_TRUE(logContains(log, "start.cfg line 5: bad value '999.1.1.1' for ip (default kept)"));
}

TEST_F(AppManStart, UnreadableStartCfgGivesDefaults) {
    std::filesystem::create_directory(dir + "/start.cfg");
    ASSERT_EQ(AppMan_init(1), 1);
    EXPECT_EQ(app_pid, 1);
    EXPECT_EQ(AppMan_getXCPPort(), 5555);
    EXPECT_TRUE(logContains(takeLogTexts(), "start.cfg is a folder (defaults used)"));
}
