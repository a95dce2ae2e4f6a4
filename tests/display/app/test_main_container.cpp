// The main container driven by its application messages: start from
// display.xml, page switches, next page, the colour page, text overlays,
// brightness, the external alarm window, the screen dump and stop/start
// cycles that free what they made.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "display/app/display_dump.h"
#include "display_app_fixture.h"
#include "host/screen/display_regs.h"
#include "host/kernel/kernel.h"
#include "log_capture.h"

namespace {

class MainContainer : public DisplayAppTest {
protected:
    std::string twoPages() {
        const uint32_t rpm = ownChannel("n_engine");
        return displayXml({boxAt(20, 20, 200, 100, rpm, 1), "", boxAt(300, 300, 200, 100, rpm, 1)});
    }
};

TEST_F(MainContainer, StartBuildsTheUsedPagesAndShowsTheStoredPosition) {
    StartWith(twoPages());
    ASSERT_NE(container->config, nullptr);
    EXPECT_EQ(disp_started.load(), 1);
    // Pages 1 and 3 have elements, page 2 none: two pages, slots 0 and 1 used
    // (an empty page element is still a used page).
    int made = 0;
    for (CDispPage* p : container->pages) made += p != nullptr;
    EXPECT_EQ(made, container->config->page_count);
    // No NVRAM entry yet: position 1, written back.
    EXPECT_EQ(signalPage()->display_page, 1);
    uint8_t stored = 0;
    EXPECT_EQ(nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &stored, 1), 1);
    EXPECT_EQ(stored, 1);
    ASSERT_NE(Current(), nullptr);
    EXPECT_EQ(Current()->mpParent, container);
    EXPECT_EQ(displayMaxPages(-1), made - 1);
}

TEST_F(MainContainer, WithoutDisplayXmlTheStartSucceedsAndTheBootLogoStays) {
    takeLogTexts();
    ASSERT_EQ(displayStart(), 0);
    Dispatch();
    EXPECT_EQ(disp_started.load(), 1);
    EXPECT_EQ(container->config, nullptr);
    EXPECT_TRUE(logContains(takeLogTexts(), "MainContainer::setupMeas - reading of display control file failed"));
    // next only moves the index
    const int before = container->currentPage;
    displayNext();
    Dispatch();
    EXPECT_EQ(container->currentPage, (before + 1) % 12);
    EXPECT_EQ(Pixel(2, 2), 0x102040u);   // the logo's background
}

TEST_F(MainContainer, PageSwitchToAnEmptySlotRemovesThePageAndNextWrapsToTheFirst) {
    StartWith(twoPages());
    CDispPage* first = Current();
    ASSERT_NE(first, nullptr);
    displaySwitchPage(7);   // no page there
    Dispatch();
    EXPECT_EQ(container->currentPage, 7);
    EXPECT_EQ(first->mpParent, nullptr);
    displayNext();   // from 7 on: slots 8..11 empty, then 0
    Dispatch();
    EXPECT_EQ(container->currentPage, 0);
    EXPECT_EQ(first->mpParent, container);
    displayPrev();   // forward as well
    Dispatch();
    EXPECT_EQ(container->currentPage, 1);
}

TEST_F(MainContainer, CommonElementAlwaysShownMakesAllTwelvePages) {
    const uint32_t rpm = ownChannel("n_engine");
    StartWith(displayXml({boxAt(20, 20, 200, 100, rpm, 1)}, "", boxAt(400, 20, 200, 100, rpm, 1)));
    for (CDispPage* p : container->pages) EXPECT_NE(p, nullptr);
    EXPECT_EQ(signalPage()->display_page_mx, 12);
    for (int i = 0; i < 12; ++i) {
        displayNext();
        Dispatch();
    }
    EXPECT_EQ(container->currentPage, 0);
}

TEST_F(MainContainer, RefreshShowsLiveValuesAndFlushesEveryPeriod) {
    StartWith(twoPages());
    Produce();
    const uint64_t frames = host::screenFrameNumber();
    Refresh(3);
    EXPECT_GE(host::screenFrameNumber(), frames + 3);
    // the page's background colour and a drawn box
    EXPECT_EQ(Pixel(630, 470), 0x000064u);
    EXPECT_NE(Pixel(25, 25), 0x000064u);
    EXPECT_EQ(dispSignals().display_elements_skipped, 0);
}

TEST_F(MainContainer, ColourPageCoversTheScreenAndStaysAfterTheStop) {
    StartWith(twoPages());
    // "display color 0xFF0000": the colour, then the stop.
    char cmd[] = "display", word[] = "color", par[] = "0xFF0000";
    char* argv[] = {cmd, word, par};
    EXPECT_EQ(displayCommandFunc(3, argv), 0);
    Dispatch();
    EXPECT_EQ(Pixel(320, 240), 0xFF0000u);
    EXPECT_EQ(Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(container->colourPage, nullptr);   // freed by the stop
    EXPECT_EQ(container->config, nullptr);
}

TEST_F(MainContainer, TextOverlayShowsRedAndStaysOnTopAcrossAPageSwitch) {
    StartWith(twoPages());
    displayTxtShowFree("HELLO");
    Dispatch();
    ASSERT_NE(container->textWindow, nullptr);
    EXPECT_EQ(Pixel(20, 155), 0xFF0000u);
    displaySwitchPage(1);
    Dispatch();
    EXPECT_EQ(container->mpFirstChild, container->textWindow);
    displayTxtShow2("A", "B");   // replaces the first overlay
    Dispatch();
    ASSERT_NE(container->textPrompt2, nullptr);
    EXPECT_EQ(Pixel(20, 135), 0xFF0000u);
    displayTxtHide();
    Dispatch();
    EXPECT_EQ(container->textWindow, nullptr);
    EXPECT_NE(Pixel(20, 135), 0xFF0000u);
    displayTxtHide();   // without overlay: only the flush
    Dispatch();
}

TEST_F(MainContainer, LongFreeTextIsCutTo254Characters) {
    StartWith(twoPages());
    const std::string text(300, 'x');
    displayTxtShowFree(text.c_str());
    Dispatch();
    ASSERT_NE(container->textPrompt1, nullptr);
    EXPECT_EQ(std::string(container->textPrompt1->mpText).size(), 254u);
}

TEST_F(MainContainer, BrightnessDrivesBacklightAndSaturationWithinTheConfiguredSteps) {
    StartWith(twoPages());
    displayBrightness(0);   // 10 %
    Dispatch();
    EXPECT_EQ(brightness_switch_pos, 0);
    EXPECT_NEAR(host::pwmOutGet(0).duty, display_brightness_bg(10.0f), 1e-4);
    EXPECT_EQ(host::displayRegRead(DISP_COLSAT_REGISTER), display_brightness_colSat(10.0f));
    displayBrightness(2);   // 100 %
    Dispatch();
    EXPECT_NEAR(host::pwmOutGet(0).duty, 100.0f, 1e-3);
    EXPECT_EQ(host::displayRegRead(DISP_COLSAT_REGISTER), 255u);
    displayBrightness(4);   // beyond the three steps: only the position
    Dispatch();
    EXPECT_EQ(brightness_switch_pos, 4);
    EXPECT_NEAR(host::pwmOutGet(0).duty, 100.0f, 1e-3);
    displayBrightness(12);   // ignored entirely
    Dispatch();
    EXPECT_EQ(brightness_switch_pos, 4);
}

TEST_F(MainContainer, BacklightAtStartIsThePositionsWhicheverTaskRunsFirst) {
    // Brightness position 2 is stored: the second step, 50 %.
    const uint8_t position = 2;
    ASSERT_NE(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, &position, 1), 0u);
    const float asked = display_brightness_bg(50.0f);
    // the start's brightness request first, then the start-up task
    StartWith(twoPages());
    EXPECT_EQ(brightness_switch_pos, 1);
    displayInitDone(nullptr);
    EXPECT_NEAR(host::pwmOutGet(0).duty, asked, 1e-4);
    EXPECT_TRUE(host::pwmOutGet(0).on);
    // the start-up task first, then a new start
    displayStop();
    Dispatch();
    displayInitDone(nullptr);
    EXPECT_NEAR(host::pwmOutGet(0).duty, 95.0f, 1e-4);   // no configuration: switched on at 95 %
    displayStart();
    Dispatch();
    EXPECT_NEAR(host::pwmOutGet(0).duty, asked, 1e-4);
}

TEST_F(MainContainer, BacklightStaysAtItsSwitchOnWhereThePositionHasNoStep) {
    // Position 5 with three configured steps: no brightness of its own.
    const uint8_t position = 5;
    ASSERT_NE(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, &position, 1), 0u);
    StartWith(twoPages());
    EXPECT_EQ(brightness_switch_pos, 4);
    displayInitDone(nullptr);
    EXPECT_NEAR(host::pwmOutGet(0).duty, 95.0f, 1e-4);
}

TEST_F(MainContainer, RateAndFlashWithoutPageChangeNothing) {
    StartWith(twoPages());
    displaySwitchPage(9);
    Dispatch();
    displaySetUpdateRate(4);
    displayFlashStart();
    Dispatch();
    EXPECT_EQ(container->frameRate, 1);
    EXPECT_EQ(container->flash, 0);
    displaySwitchPage(0);
    displaySetUpdateRate(4);
    displayFlashStart();
    Dispatch();
    EXPECT_EQ(container->frameRate, 4);
    EXPECT_EQ(container->flash, 1);
    ASSERT_NE(Current()->flashWindow, nullptr);
    Refresh(2);
    displayFlashStop();
    Dispatch();
    EXPECT_EQ(Current()->flashWindow->mpParent, nullptr);
}

TEST_F(MainContainer, ExternalAlarmWindowShowsAndHides) {
    StartWith(twoPages());
    display_alarm(1, 100, 100, 200, 80, 0xFFFFFF, 0x00FF00, 1, "A B");
    EXPECT_EQ(uint8_t(ext_alarm.text[1]), 0x81);
    Dispatch();
    ASSERT_NE(container->extWindow, nullptr);
    EXPECT_EQ(ext_alarm.shown, 1);
    EXPECT_NE(container->extResetPrompt, nullptr);
    EXPECT_EQ(Pixel(290, 170), 0x00FF00u);
    display_alarm(0, 100, 100, 200, 80, 0xFFFFFF, 0x00FF00, 1, "");
    Dispatch();
    EXPECT_EQ(ext_alarm.shown, 0);
    EXPECT_EQ(container->extWindow->mpParent, nullptr);
}

TEST_F(MainContainer, ScreenDumpIsTheVisibleScreenAsBmp) {
    StartWith(twoPages());
    Refresh();
    unsigned int size = 0;
    unsigned char* image = DumpReal(&size);
    ASSERT_NE(image, nullptr);
    ASSERT_GT(size, 54u);
    int32_t w = 0, h = 0;
    std::memcpy(&w, image + 18, 4);
    std::memcpy(&h, image + 22, 4);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(std::abs(h), 480);
    delete[] image;

    const std::string path = dir + "/dump.bmp";
    EXPECT_EQ(display_bmpdump("dump.bmp"), 0);
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), size);
    EXPECT_EQ(bytes[0], 'B');
    // an unwritable path reports and writes nothing
    testing::internal::CaptureStdout();
    EXPECT_EQ(display_bmpdump("no/such/dir/x.bmp"), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error, unable to open file"), std::string::npos);
}

TEST_F(MainContainer, HundredStopStartCyclesFreeEverythingTheyMade) {
    const uint32_t rpm = ownChannel("n_engine");
    StartWith(displayXml({boxAt(20, 20, 200, 100, rpm, 1)}, inputOf("PageInput", ownChannel("gear"), "SINT8") +
                                                                inputOf("ResetInput", ownChannel("stim_active"), "UINT8")));
    for (int i = 0; i < 100; ++i) {
        displayStop();
        Dispatch();
        EXPECT_EQ(container->data, nullptr);
        EXPECT_EQ(CDispPage::page_chan, nullptr);
        EXPECT_EQ(displayGetPageChan(nullptr, nullptr), 0);   // the reader never meets a freed source
        displayStart();
        Dispatch();
        ASSERT_NE(CDispPage::page_chan, nullptr);
        Produce();
        Refresh();
    }
}

}  // namespace

namespace {

// The GUI ends with an overlay, an alarm window and pages on the screen:
// the container goes with the presentation manager without drawing over
// the released boot logo.
TEST_F(MainContainer, TeardownWithEverythingShown) {
    StartWith(twoPages());
    displayTxtShow2("A", "B");
    display_alarm(1, 10, 10, 100, 50, 0xFFFFFF, 0x0000FF, 0, "X");
    displayColor(0x00FF00);
    Dispatch();
    Refresh();
}

}  // namespace
