// Page and brightness control: positions restored from NVRAM and limited,
// the page channel followed, its timeout in the error memory, the curves.
#include <atomic>
#include <vector>

#include "../app/display_app_fixture.h"
#include "log_capture.h"
#include "measurement/catalogue.h"

namespace {

// Active error-memory entry of the display path with its type, or 0.
unsigned activeDisplayError() {
    std::vector<uint8_t> buf(ERRMGR_ENTRY_SIZE * ERRMGR_MAX_ENTRIES);
    const int n = error_mgr_get_data(buf.data(), buf.size());
    for (int i = 0; i + int(ERRMGR_ENTRY_SIZE) <= n; i += int(ERRMGR_ENTRY_SIZE)) {
        const unsigned path = buf[size_t(i)] | unsigned(buf[size_t(i) + 1]) << 8;
        if (path == ERRMGR_PATH_DISPLAY && (buf[size_t(i) + 3] & 1)) return buf[size_t(i) + 2];
    }
    return 0;
}

class DisplayCtrl : public DisplayAppTest {
protected:
    std::string fivePages(const std::string& inputs = "") {
        std::vector<std::string> pages;
        for (int i = 0; i < 5; ++i) pages.push_back(boxAt(20, 20, 200, 100, ownChannel("n_engine"), 1));
        return displayXml(pages, inputs);
    }
    // Posted requests are carried out by the GUI task.
    void Pass(int n = 1) {
        for (int i = 0; i < n; ++i) displayCtrl_pass();
        Dispatch();
    }
};

TEST_F(DisplayCtrl, StoredPageBeyondThePageCountBecomesTheLastAndIsWrittenBack) {
    const uint8_t seven = 7, nine = 9;
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_PAGE, 0, &seven, 1), 1);
    ASSERT_EQ(nvram_dbs_write(NVRAM_ID_DISPLAY_BRIGHTNESS, 0, &nine, 1), 1);
    StartWith(fivePages());
    EXPECT_EQ(signalPage()->display_page_mx, 5);
    EXPECT_EQ(signalPage()->display_page, 5);
    EXPECT_EQ(signalPage()->display_brightness, 6);
    uint8_t stored = 0;
    nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &stored, 1);
    EXPECT_EQ(stored, 5);
    EXPECT_EQ(container->currentPage, 4);
    // without a page channel the first pass requests the stored page once
    Pass();
    EXPECT_EQ(container->currentPage, 4);
    EXPECT_EQ(displayCtrl_state.load(), 2);
}

TEST_F(DisplayCtrl, PageChannelChoosesThePageLimitedToTheRangeAndKeptInNvram) {
    StartWith(fivePages(inputOf("PageInput", ownChannel("gear"), "SINT8")));
    signalPage()->gear = 3;
    Produce();
    Pass();
    EXPECT_EQ(signalPage()->display_page, 3);
    EXPECT_EQ(container->currentPage, 2);
    signalPage()->gear = -1;
    Produce();
    Pass();
    EXPECT_EQ(signalPage()->display_page, 1);
    signalPage()->gear = 40;
    Produce();
    Pass();
    EXPECT_EQ(signalPage()->display_page, 5);
    uint8_t stored = 0;
    nvram_dbs_read(NVRAM_ID_DISPLAY_PAGE, 0, &stored, 1);
    EXPECT_EQ(stored, 5);

    // a restart of the display shows the stored page before any value arrives
    displayStop();
    Dispatch();
    displayCtrl_resetForTest();
    displayStart();
    Dispatch();
    EXPECT_EQ(container->currentPage, 4);
}

TEST_F(DisplayCtrl, SilentPageChannelRaisesItsErrorAfterSixtySecondsAndClearsOnData) {
    StartWith(fivePages(inputOf("PageInput", ownChannel("gear"), "SINT8")));
    // no value ever arrives: one pass per clock tick
    const int minute = sysClkRateGet() * 60;
    for (int i = 0; i < minute; ++i) displayCtrl_pass();
    EXPECT_EQ(activeDisplayError(), 0u);
    displayCtrl_pass();
    EXPECT_EQ(activeDisplayError(), ERRMGR_TYPE_PAGE_TIMEOUT);
    EXPECT_EQ(signalPage()->display_page, 1);   // the stored position is kept
    Produce();
    displayCtrl_pass();
    EXPECT_EQ(activeDisplayError(), 0u);
    Dispatch();
}

TEST_F(DisplayCtrl, StopWhileRunningKeepsThePositionsAndTheNextStartReadsNoNvram) {
    StartWith(fivePages());
    Pass();   // state 2
    displayStop();
    Dispatch();
    EXPECT_EQ(signalPage()->display_page, 1);
    takeLogTexts();
    displayStart();
    Dispatch();
    EXPECT_FALSE(logContains(takeLogTexts(), "displayCtrl_start: no page channel"));
}

TEST(DisplayCurves, LimitAndCurvesFollowTheCalibrationDefaults) {
    EXPECT_EQ(limit1toMax(0, 5), 1);
    EXPECT_EQ(limit1toMax(-3, 5), 1);
    EXPECT_EQ(limit1toMax(9, 5), 5);
    EXPECT_EQ(limit1toMax(0, 0), 0);   // no pages: position 0, request index -1
}

class DisplayCurvesDefaults : public MeasTest {};

TEST_F(DisplayCurvesDefaults, BacklightSaturationAndLedScale) {
    EXPECT_NEAR(display_brightness_bg(100.0f), 100.0f, 1e-4);
    EXPECT_NEAR(display_brightness_bg(80.0f), 20.0f, 1e-4);
    EXPECT_EQ(display_brightness_colSat(0.0f), 40);
    EXPECT_EQ(display_brightness_colSat(100.0f), 255);
    EXPECT_EQ(display_brightness_colSat(200.0f), 255);   // limited
    EXPECT_NEAR(display_brightness_led_red(255.0f, 100.0f), 255.0f, 1e-3);
    EXPECT_NEAR(display_brightness_led_green(200.0f, 50.0f), 16.0f, 1e-3);
    EXPECT_EQ(display_brightness_led_blue(-5.0f, 50.0f), 0.0f);
}

// The GUI task reads the brightness curves while a calibration tool copies
// the working page over the reference page (a store) and back: each value
// is read whole, and a curve whose page is copied onto itself keeps its
// values.
TEST_F(DisplayCurvesDefaults, CurvesReadWhileATaskCopiesThePages) {
    std::atomic<bool> stop{false};
    std::atomic<int> copies{0};
    TASK_ID copier = taskSpawn("tXcpRx", 100, 0, 0, [&] {
        while (!stop.load()) {
            seramCopyPage(SERAM_REFPAGE_ADDR, SERAM_WORKPAGE_ADDR, SERAM_PAGE_SIZE);
            seramCopyPage(SERAM_WORKPAGE_ADDR, SERAM_REFPAGE_ADDR, SERAM_PAGE_SIZE);
            ++copies;
        }
    });
    ASSERT_NE(copier, TASK_ID_ERROR);
    for (int i = 0; i < 200 || copies.load() < 3; ++i) {
        if (i % 2) seramSetWorkpageActive();
        else seramSetRefpageActive();
        EXPECT_NEAR(display_brightness_bg(80.0f), 20.0f, 1e-4);
        EXPECT_EQ(display_brightness_colSat(100.0f), 255);
        EXPECT_NEAR(display_brightness_led_red(255.0f, 100.0f), 255.0f, 1e-3);
        EXPECT_NEAR(display_brightness_led_green(200.0f, 50.0f), 16.0f, 1e-3);
        EXPECT_NEAR(display_brightness_led_blue(100.0f, 100.0f), 100.0f, 1e-3);
    }
    stop = true;
    EXPECT_EQ(taskWait(copier, WAIT_FOREVER), OK);
    seramSetRefpageActive();
}

}  // namespace

namespace {

// The page and brightness task reads its channels every tick while the GUI
// task stops and starts the display, which frees and remakes them.
TEST_F(DisplayCtrl, TaskReadsChannelsWhileTheDisplayStopsAndStarts) {
    StartWith(fivePages(inputOf("PageInput", ownChannel("gear"), "SINT8") +
                        inputOf("BrightnessInput", ownChannel("p_fuel"))));
    displayCtrl_ini();
    for (int i = 0; i < 30; ++i) {
        signalPage()->gear = int8_t(1 + i % 5);
        Produce();
        taskDelay(2);
        Dispatch();
        displayStop();
        Dispatch();
        taskDelay(1);
        displayStart();
        Dispatch();
    }
    displayCtrl_exit();
    Dispatch();
    EXPECT_NE(container->config, nullptr);
}

}  // namespace

namespace {

// A tool reads the display's signal-page values on its own task (the shell's
// getvar) while the GUI task starts, refreshes and stops the pages: each
// value is written as one atomic word, so the reader never races the writer.
TEST_F(DisplayCtrl, ToolReadsSignalValuesWhileTheGuiTaskWritesThem) {
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    TASK_ID reader = taskSpawn("tGetvar", 100, 0, 0, [&] {
        char line[128];
        DispSignals& sig = dispSignals();
        while (!stop.load()) {
            if (const CatEntry* e = catalogue_find("display_page_mx")) catalogue_format(e, line, sizeof line);
            (void)std::atomic_ref<uint16_t>(sig.display_elements_updated).load();
            (void)std::atomic_ref<uint16_t>(sig.display_elements_skipped).load();
            (void)std::atomic_ref<uint8_t>(sig.display_err).load();
            (void)std::atomic_ref<uint8_t>(sig.disp_online_mn).load();
            (void)std::atomic_ref<uint32_t>(sig.disp_timeout_all).load();
            ++reads;
            taskDelay(0);
        }
    });
    ASSERT_NE(reader, TASK_ID_ERROR);
    StartWith(fivePages());
    for (int i = 0; i < 20; ++i) {
        Produce();
        Refresh();
        displayStop();
        Dispatch();
        displayStart();
        Dispatch();
        Pass();
    }
    while (reads.load() < 10) taskDelay(1);
    stop = true;
    EXPECT_EQ(taskWait(reader, WAIT_FOREVER), OK);
    EXPECT_EQ(signalPage()->display_page_mx, 5);
}

}  // namespace
