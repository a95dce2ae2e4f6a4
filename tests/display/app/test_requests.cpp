// Request functions and the shell command "display": what each posts.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "display/app/pageset.h"
#include "display_app_fixture.h"
#include "log_capture.h"
#include "gui/draw/scrndrv.h"
#include "host/kernel/kernel.h"
#include "measurement/comint.h"

namespace {

class DisplayRequests : public DisplayAppTest {
protected:
    // Takes every queued request without carrying it out.
    std::vector<GuiMessage> Queued() {
        std::vector<GuiMessage> out;
        GuiMessage m;
        while (GuiTryPopMessage(&m, gpGuiMesgQueue)) out.push_back(m);
        return out;
    }
    int Shell(std::vector<std::string> words) {
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        return displayCommandFunc(int(argv.size()), argv.data());
    }
};

TEST_F(DisplayRequests, ShellWordsPostTheirRequests) {
    Queued();
    EXPECT_EQ(Shell({"display", "page", "15"}), 0);
    EXPECT_EQ(Shell({"display", "prev"}), 0);
    EXPECT_EQ(Shell({"display", "brightness", "2"}), 0);
    EXPECT_EQ(Shell({"display", "fstart"}), 0);
    auto q = Queued();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0].type, DISP_MSG_PAGE);
    EXPECT_EQ(q[0].Word(0), 11);   // 12 or more: the last page
    EXPECT_EQ(q[1].type, DISP_MSG_NEXT);
    EXPECT_EQ(q[2].type, DISP_MSG_BRIGHTNESS);
    EXPECT_EQ(q[2].Word(0), 2);
    EXPECT_EQ(q[3].type, DISP_MSG_FLASH_ON);
}

// The shell writes its screen dumps only into the device folder: an absolute
// path or one that climbs out with ".." is refused and nothing is written.
TEST_F(DisplayRequests, BmpDumpStaysInsideTheDeviceFolder) {
    const std::string outside = testing::TempDir() + "tav9_dump_outside.bmp";
    std::remove(outside.c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display", "bmpdump", outside}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "../x.bmp"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "sub/../../x.bmp"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", ""}), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error, file ../x.bmp is not inside the device folder.\n"), std::string::npos) << out;
    FILE* f = std::fopen(outside.c_str(), "rb");
    EXPECT_EQ(f, nullptr);
    if (f) std::fclose(f);
}

std::string ReadAll(const std::string& path) {
    std::string s;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char b[4096];
        for (size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;) s.append(b, n);
        std::fclose(f);
    }
    return s;
}

// A dump creates a new file of the device folder: it never replaces one
// (the NVRAM, the start parameters, the lock, a measurement) and never
// writes through a symbolic link, whether the link is the file or a folder
// on the way.
TEST_F(DisplayRequests, BmpDumpCreatesNewFilesOnlyAndFollowsNoLink) {
    writeFile("start.cfg", "pid = 1\n");
    const std::string outside = testing::TempDir() + "tav9_dump_target";
    std::remove((outside + "/x.bmp").c_str());
    std::remove(outside.c_str());
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    ASSERT_EQ(symlink(outside.c_str(), (dir + "/out").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/x.bmp").c_str(), (dir + "/link.bmp").c_str()), 0);
    ASSERT_EQ(symlink("start.cfg", (dir + "/inner.bmp").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/shots").c_str(), 0755), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display", "bmpdump", "start.cfg"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "link.bmp"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "inner.bmp"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "out/x.bmp"}), -1);
    EXPECT_EQ(Shell({"display", "bmpdump", "shots/one.bmp"}), 0);
    EXPECT_EQ(Shell({"display", "bmpdump", "./shots/one.bmp"}), -1);   // now it exists
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Error, file start.cfg exists.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Error, file link.bmp is not inside the device folder.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Error, file inner.bmp is not inside the device folder.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Error, file out/x.bmp is not inside the device folder.\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Error, file ./shots/one.bmp exists.\n"), std::string::npos) << out;

    EXPECT_EQ(ReadAll(dir + "/start.cfg"), "pid = 1\n");
    EXPECT_EQ(ReadAll(outside + "/x.bmp"), "");
    const std::string shot = ReadAll(dir + "/shots/one.bmp");
    ASSERT_GT(shot.size(), 54u);
    EXPECT_EQ(shot.substr(0, 2), "BM");
    // without a screen image the new file is taken back
    gbGuiInitialized = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display", "bmpdump", "shots/two.bmp"}), -1);
    gbGuiInitialized = 1;
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error, no screen image for file shots/two.bmp.\n"),
              std::string::npos);
    EXPECT_NE(access((dir + "/shots/two.bmp").c_str(), F_OK), 0);
    std::remove(outside.c_str());
}

// A dump that cannot be written whole (a full drive: here a file size
// limit cuts the write short) takes its file back: no part of an image stays.
TEST_F(DisplayRequests, ADumpThatFailsToWriteLeavesNoFile) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 65536;   // the image of 640 x 480 pixels is far larger
    void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);   // the write fails instead of ending the process
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStdout();
    const int rc = Shell({"display", "bmpdump", "small.bmp"});
    const std::string out = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, savedSignal);
    EXPECT_EQ(rc, -1);
    EXPECT_NE(out.find("Error, unable to write file small.bmp.\n"), std::string::npos) << out;
    EXPECT_NE(access((dir + "/small.bmp").c_str(), F_OK), 0) << "the partial dump stayed";
    // with room again the same name is free for a whole dump
    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display", "bmpdump", "small.bmp"}), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_GT(ReadAll(dir + "/small.bmp").size(), 640u * 480u);
}

TEST_F(DisplayRequests, UsageListsTheWordsTheCommandTakes) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display"}), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* word : {"<start|stop>", "<color> <par>", "<bmpdump> <par>", "<next|prev>", "<page> <par>",
                             "<brightness> <par>", "<fstop|fstart>", "<txtshow> <par>", "<txthide>"})
        EXPECT_NE(out.find(word), std::string::npos) << word << " missing in\n" << out;
    EXPECT_EQ(out.find("writebmp"), std::string::npos) << out;
}

// Words the command cannot take answer nonzero, as every refused shell
// command does; a colour without its prefix still stops the pages.
TEST_F(DisplayRequests, ParameterErrorsReportAndColourWithoutPrefixStillStops) {
    Queued();
    testing::internal::CaptureStdout();
    EXPECT_EQ(Shell({"display", "page", "x"}), -1);
    EXPECT_EQ(Shell({"display", "brightness", "-"}), -1);
    EXPECT_EQ(Shell({"display", "color", "ff0000"}), -1);
    EXPECT_EQ(Shell({"display", "writebmp"}), -1);   // the usage's name is not a word
    EXPECT_EQ(Shell({"display", "start", "extra"}), -1);
    EXPECT_EQ(Shell({"display", "txtshow", "hello", "world"}), -1);   // a text of several words needs quotes
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Invalid page number.\n"), std::string::npos);
    EXPECT_NE(out.find("Invalid brightness switch position.\n"), std::string::npos);
    EXPECT_NE(out.find("Invalid color format. RGB Format: 0x00RRGGBB\n"), std::string::npos);
    EXPECT_NE(out.find("usage: display <command> [<par>]\n"), std::string::npos);
    auto q = Queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].type, DISP_MSG_STOP);
}

// A number is the whole word or none: a word with anything after its digits
// (or a colour with no digits) is refused with its message and posts only
// the stop that a colour command always posts.
TEST_F(DisplayRequests, NumbersWithTrailingCharactersAreRefused) {
    Queued();
    testing::internal::CaptureStdout();
    for (const char* page : {"1abc", "1.5", "", " "}) EXPECT_EQ(Shell({"display", "page", page}), -1) << page;
    EXPECT_EQ(Shell({"display", "brightness", "3x"}), -1);
    const char* colours[] = {"0xZZ", "0x", "1x", "0x00FF00zz", "0x1FFFFFFFF", "0x-1", "0x 1"};
    for (const char* colour : colours) EXPECT_EQ(Shell({"display", "color", colour}), -1) << colour;
    const std::string out = testing::internal::GetCapturedStdout();
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = out.find(what); at != std::string::npos; at = out.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("Invalid page number.\n"), 4u) << out;
    EXPECT_EQ(count("Invalid brightness switch position.\n"), 1u) << out;
    EXPECT_EQ(count("Invalid color format."), std::size(colours)) << out;
    auto q = Queued();
    ASSERT_EQ(q.size(), std::size(colours));
    for (const GuiMessage& m : q) EXPECT_EQ(m.type, DISP_MSG_STOP);

    // the forms the command has always taken still work: -1 and numbers past
    // the last page give the last one, a colour of up to eight digits
    EXPECT_EQ(Shell({"display", "page", "-1"}), 0);
    EXPECT_EQ(Shell({"display", "page", "99999999999"}), 0);
    EXPECT_EQ(Shell({"display", "color", "0x00ff00"}), 0);
    q = Queued();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0].Word(0), 11);
    EXPECT_EQ(q[1].Word(0), 11);
    EXPECT_EQ(q[2].type, DISP_MSG_COLOR);
    EXPECT_EQ(q[2].Word(0), 0x00FF00);
}

TEST_F(DisplayRequests, TwoTextsTravelAsTwoPointersAndMaxPagesKeepsItsValue) {
    Queued();
    static const char a[] = "first", b[] = "second";
    EXPECT_EQ(displayTxtShow2(a, b), 0);
    auto q = Queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].Pointer(0), a);
    EXPECT_EQ(q[0].Pointer(1), b);
    EXPECT_EQ(displayMaxPages(7), 7);
    EXPECT_EQ(displayMaxPages(-1), 7);
    EXPECT_EQ(displayStatus(0), 0);
    EXPECT_EQ(displayStatus(1), 1);
    display_trigger_inhibit_alarms();
    EXPECT_EQ(display_get_alarm_hidden(), 1);
    display_reset_inhibit_alarms();
    EXPECT_EQ(display_get_alarm_hidden(), 0);
}

TEST_F(DisplayRequests, AlarmTextIsCutAndItsBlanksMarked) {
    Queued();
    const std::string text = "A B" + std::string(300, 'c');
    display_alarm(1, 0, 0, 10, 10, 0, 0, 0, text.c_str());
    EXPECT_EQ(uint8_t(ext_alarm.text[0]), 0x41);
    EXPECT_EQ(uint8_t(ext_alarm.text[1]), 0x81);
    EXPECT_EQ(uint8_t(ext_alarm.text[2]), 0x42);
    EXPECT_EQ(std::string(ext_alarm.text).size(), 254u);
    EXPECT_EQ(ext_alarm.changed, 1);
    ext_alarm_s* where = nullptr;
    display_get_alarm_state(&where);
    EXPECT_EQ(where, &ext_alarm);
    EXPECT_EQ(Queued().size(), 1u);
}

// The page-set command: 36 bytes, the name padded with zeros.
ci_msg_t pagesetMessage(const char* name) {
    ci_msg_t m{};
    ci_init_msg(&m, CI_CMD_DISPLAY_PAGESET, kOwnPid, DISP_PAGESET_NAME_LEN);
    std::memcpy(m.payload, name, strnlen(name, DISP_PAGESET_NAME_LEN));
    return m;
}

TEST_F(DisplayRequests, PageSetWithEmptyNameIsIgnoredAnyOtherEndsTheProcess) {
    takeLogTexts();
    ci_msg_t empty = pagesetMessage("");
    EXPECT_EQ(display_pageset_cmd(reinterpret_cast<unsigned char*>(&empty)), 1);
    auto log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "display_pageset_cmd(): received active pageset '' -> ignored"));
    // a full 16-character name is not terminated in the message
    ci_msg_t full = pagesetMessage("ABCDEFGHIJKLMNOPQRS");
    full.payload[16] = 'Z';
    display_pageset_cmd(reinterpret_cast<unsigned char*>(&full));
    log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "display_pageset_cmd(): received pageset 'ABCDEFGHIJKLMNOP'"));
}

}  // namespace

namespace {

TEST_F(DisplayRequests, InitDoneSwitchesBacklightOutputAndLayerOnceTheGuiGivesItsSemaphore) {
    SEM_ID sem = semBCreate(SEM_Q_PRIORITY, SEM_FULL);
    scrndrvLayerDisable(1);
    displayInitDone(sem);   // takes and deletes the given semaphore
    EXPECT_NEAR(host::pwmOutGet(0).duty, 95.0f, 1e-4);
    EXPECT_TRUE(host::pwmOutGet(0).on);
    EXPECT_EQ(host::digitalOutGet(5), 1u);
    EXPECT_NE(scrndrvLayerRegister(1), 0u);
}

}  // namespace

namespace {

TEST_F(DisplayRequests, PageSetNameShorterThanItsFieldAndTheSender) {
    takeLogTexts();
    // a payload of 3 bytes: the rest of the name counts as zeros, whatever
    // the message buffer holds behind it
    ci_msg_t m = pagesetMessage("ABC");
    ci_set_len(&m, 3);
    std::memset(m.payload + 3, 'x', 20);
    display_pageset_cmd(reinterpret_cast<unsigned char*>(&m));
    EXPECT_TRUE(logContains(takeLogTexts(), "display_pageset_cmd(): received pageset 'ABC'"));
    display_pageset_tlc(0x12, "SET2");
    EXPECT_TRUE(logContains(takeLogTexts(), "display_pageset_tlc(): send new pageset to pid 0x12, \"SET2\""));
    EXPECT_EQ(display_pageset_cmd(nullptr), 0);
}

}  // namespace
