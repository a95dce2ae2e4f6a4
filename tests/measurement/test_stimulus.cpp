// Stimulus description: shapes, unusable lines, and the sample file.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "measurement/signalpage.h"
#include "measurement/stimulus.h"
#include "log_capture.h"
#include "meas_fixture.h"

using StimulusTest = MeasTest;

TEST_F(StimulusTest, ShapesWriteTheirSignals) {
    ASSERT_EQ(stimulus_load("# comment\n"
                            "t_air const 21.5\n"
                            "throttle square 100 20 10\n"
                            "lap_distance ramp 0 1000 100\n"
                            "gear steps 1 4 40   # one gear per 10 ms\n"),
              4);
    stimulus_step(0);
    EXPECT_EQ(signalPage()->t_air, 21.5f);
    EXPECT_EQ(signalPage()->throttle, 100.0f);
    EXPECT_EQ(signalPage()->gear, 1);
    EXPECT_EQ(signalPage()->stim_active, 1);
    stimulus_step(25);
    EXPECT_EQ(signalPage()->throttle, 20.0f);
    EXPECT_EQ(signalPage()->lap_distance, 250.0f);
    EXPECT_EQ(signalPage()->gear, 3);
    stimulus_step(75);
    EXPECT_EQ(signalPage()->gear, 4);
    stimulus_clear();
}

TEST_F(StimulusTest, UnusableLinesAreSkipped) {
    EXPECT_EQ(stimulus_load("nothing_here const 1\n"       // unknown name
                            "PCODE const 2\n"              // not a signal-page variable
                            "t_air wobble 1 2 3\n"         // unknown shape
                            "t_air sine 1\n"               // missing numbers
                            "t_oil sine 100 5 1000\n"),
              1);
    stimulus_clear();
}

TEST_F(StimulusTest, PeriodsAndValuesOutOfRangeAreRefusedWithTheirLine) {
    takeLogTexts();
    EXPECT_EQ(stimulus_load("t_oil sine 100 5 0\n"          // 1: no period
                            "t_oil sine 100 5 -50\n"        // 2: negative
                            "t_oil sine 100 5 1e300\n"      // 3: huge
                            "t_air const 1e39\n"            // 4: beyond float
                            "gear steps 1 300 1000\n"       // 5: beyond int8
                            "gear steps 6 1 1000\n"         // 6: steps backwards
                            "t_air const 25 26\n"           // 7: extra word
                            "gear square -128 127 1000\n"), // 8: fits
              1);
    std::vector<std::string> log = takeLogTexts();
    for (int line : {1, 2, 3}) EXPECT_TRUE(logContains(log, "stimulus: line " + std::to_string(line) + ": period"));
    EXPECT_TRUE(logContains(log, "stimulus: line 4: values out of the range of t_air"));
    EXPECT_TRUE(logContains(log, "stimulus: line 5: values out of the range of gear"));
    EXPECT_TRUE(logContains(log, "stimulus: line 6: steps need a <= b"));
    EXPECT_TRUE(logContains(log, "stimulus: line 7: extra word '26'"));
    EXPECT_EQ(countContaining(log, "stimulus: line 8"), 0);
    stimulus_clear();
}

TEST_F(StimulusTest, SampleDescriptionDrivesTheUsualChannels) {
    const char* env = std::getenv("TAV9_SOURCE_DIR");
    std::filesystem::path src = env ? std::filesystem::path(env)
                                    : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    std::ifstream f(src / "sample/stimulus.cfg");
    ASSERT_TRUE(f.good());
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(stimulus_load(ss.str()), 12);
    stimulus_step(1500);
    EXPECT_GT(signalPage()->n_engine, 4000.0f);
    EXPECT_GE(signalPage()->gear, 1);
    EXPECT_EQ(signalPage()->sw_brightness, 6);
    stimulus_clear();
}

// The stimulus writes on the 1 ms raster while the shell reads: a reader sees
// each value whole, the old one or the new one (ThreadSanitizer checks the
// access itself).
TEST_F(StimulusTest, ReadersSeeValuesWholeWhileTheStimulusWrites) {
    ASSERT_EQ(stimulus_load("n_engine square 1.5 -1e30 2\n"), 1);
    CatEntry el;
    const CatEntry* e = catalogue_find("n_engine", &el);
    ASSERT_NE(e, nullptr);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (uint64_t ms = 0; !stop.load(); ++ms) stimulus_step(ms);
    });
    int odd = 0;
    for (int i = 0; i < 20000; ++i) {
        double v = 0;
        ASSERT_TRUE(catalogue_read(e, &v));
        odd += !(v == 1.5 || v == double(-1e30f) || v == 0);
    }
    stop = true;
    writer.join();
    EXPECT_EQ(odd, 0);
    stimulus_clear();
}

// A signal has one shape: a later line for it takes the place of the earlier
// one, and the repeat is named once by its line, however often it comes; the
// stimulus never holds more channels than there are signals.
TEST_F(StimulusTest, ALaterLineForASignalReplacesTheEarlierOneAndIsNamedOnce) {
    takeLogTexts();
    EXPECT_EQ(stimulus_load("t_air const 20\n"
                            "t_oil const 90\n"
                            "t_air const 21\n"       // 3: named
                            "t_oil const 91\n"       // 4: named
                            "t_air const 22\n"),     // 5: counted only
              2);
    stimulus_step(0);
    EXPECT_EQ(signalPage()->t_air, 22.0f);
    EXPECT_EQ(signalPage()->t_oil, 91.0f);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "stimulus: line 3: t_air again (first in line 1), the later line counts"));
    EXPECT_TRUE(logContains(log, "stimulus: line 4: t_oil again (first in line 2), the later line counts"));
    EXPECT_EQ(countContaining(log, "line 5"), 0);
    EXPECT_TRUE(logContains(log, "stimulus: 3 lines repeat a signal, the last line of each counts"));

    // a large file of one line over and over: one channel, a few log lines
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "t_air const 25\n";
    EXPECT_EQ(stimulus_load(many), 1);
    log = takeLogTexts();
    EXPECT_EQ(countContaining(log, "again"), 1);
    EXPECT_TRUE(logContains(log, "stimulus: 199999 lines repeat a signal, the last line of each counts"));
    EXPECT_LE(log.size(), 3u);
    stimulus_clear();
}

// A file of lines that cannot be used names the first of them by line and
// counts the others, rather than fill the log queue at start-up.
TEST_F(StimulusTest, ManyUnusableLinesAreNamedUpToALimitAndCounted) {
    takeLogTexts();
    std::string junk;
    for (int i = 0; i < 5000; ++i) junk += "nothing_here const 1\n";
    junk += "t_air const 30\n";
    EXPECT_EQ(stimulus_load(junk), 1);
    std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "stimulus: line 1: nothing_here is no signal-page variable"));
    EXPECT_LE(countContaining(log, "is no signal-page variable"), 20);
    EXPECT_TRUE(logContains(log, "more lines not used"));
    stimulus_clear();
}

// A file as other systems' editors write it: CR, LF and CR LF each end a
// line, a byte-order mark at the start is skipped. A line holding a NUL
// byte is refused and named where the byte stands: the name would end
// there for the catalogue.
TEST_F(StimulusTest, LineEndsByteOrderMarkAndNulBytes) {
    takeLogTexts();
    static const char text[] = "\xEF\xBB\xBFt_oil const 111\r"   // 1
                               "t_air const 33\r"                  // 2
                               "t_air\0junk const 44\r"            // 3
                               "p_fuel const 4\r\n"               // 4
                               "throttle const 7\n";               // 5
    writeFile("stimulus.cfg", std::string(text, sizeof text - 1));
    EXPECT_EQ(stimulus_init(), 4);
    stimulus_step(0);
    EXPECT_EQ(signalPage()->t_oil, 111.0f);
    EXPECT_EQ(signalPage()->t_air, 33.0f);
    EXPECT_EQ(signalPage()->p_fuel, 4.0f);
    EXPECT_EQ(signalPage()->throttle, 7.0f);
    const std::vector<std::string> log = takeLogTexts();
    EXPECT_TRUE(logContains(log, "stimulus: NUL byte in line 3 column 6, line ignored")) << ::testing::PrintToString(log);
    EXPECT_EQ(countContaining(log, "stimulus: "), 1) << ::testing::PrintToString(log);
    stimulus_clear();
}

// An empty stimulus.cfg is named as such: the inputs then stay still.
TEST_F(StimulusTest, AnEmptyFileIsNamedAsEmpty) {
    writeFile("stimulus.cfg", "");
    takeLogTexts();
    EXPECT_EQ(stimulus_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "stimulus: stimulus.cfg is empty, the inputs stay still"));
    writeFile("stimulus.cfg", "# only a comment\n");
    EXPECT_EQ(stimulus_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "stimulus: stimulus.cfg drives no signal, the inputs stay still"));
    stimulus_clear();
}
