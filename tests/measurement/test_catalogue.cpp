// Variable catalogue by name, arrays, reading at the active page, writing
// with range checks, and the shell commands.
#include <atomic>
#include <string>
#include <thread>

#include "measurement/calparams.h"
#include "measurement/signalpage.h"
#include "measurement/stimulus.h"
#include "platform/shell.h"
#include "meas_fixture.h"

using CatalogueTest = MeasTest;

TEST_F(CatalogueTest, NamesResolveToAddressesTypesAndArrayElements) {
    const CatEntry* e = catalogue_find("PCODE");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->addr, calRefAddr(offsetof(CalPage, PCODE)));
    EXPECT_EQ(e->type, TE_UINT16);
    e = catalogue_find("memory_canin");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->count, CANIN_MAX_VALUES);
    CatEntry el;
    const CatEntry* x = catalogue_find("memory_canin[3]", &el);
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->addr, e->addr + 12);
    EXPECT_EQ(catalogue_find("memory_canin[1000]", &el), nullptr);
    EXPECT_EQ(catalogue_find("memory_canin[x]", &el), nullptr);
    EXPECT_EQ(catalogue_find("memory_canin[-1]", &el), nullptr);
    // an index is digits alone
    for (const char* name : {"memory_canin[ 3]", "memory_canin[+3]", "memory_canin[]", "memory_canin[99999999999999999999]"})
        EXPECT_EQ(catalogue_find(name, &el), nullptr) << name;
    EXPECT_EQ(catalogue_find("no_such_thing"), nullptr);
    EXPECT_EQ(catalogue_find(nullptr), nullptr);
    EXPECT_EQ(catalogue_find("gear")->type, TE_SINT8);
    EXPECT_EQ(catalogue_find("CL_DISP_BRIGHT_LED_RED")->count, 11);
}

TEST_F(CatalogueTest, AddedVariablesLiveInTheSignalPageFreeArea) {
    uint32_t a = seramSignalAlloc(6);
    ASSERT_NE(a, 0u);
    EXPECT_EQ(a % 4, 0u);
    EXPECT_GE(a, SERAM_SIGNAL_ADDR + sizeof(SignalPage));
    EXPECT_EQ(catalogue_add("test_added_u16", a, TE_UINT16, 3), 1);
    EXPECT_EQ(catalogue_add("test_added_u16", a, TE_UINT16), 0);   // taken by another shape
    EXPECT_EQ(catalogue_add("test_added_u16", a + 2, TE_UINT16, 3), 1);   // moved
    EXPECT_EQ(catalogue_addr("test_added_u16"), a + 2);
    EXPECT_EQ(catalogue_add("test_added_u16", a, TE_UINT16, 3), 1);
    EXPECT_EQ(catalogue_add("bad_type", a, TE_NONE), 0);
    EXPECT_EQ(catalogue_add(std::string(60, 'x').c_str(), a, TE_UINT8), 0);
    EXPECT_EQ(seramSignalAlloc(SERAM_SIGNAL_SIZE), 0u);
    EXPECT_EQ(catalogue_addr("test_added_u16[2]"), a + 4);
}

TEST_F(CatalogueTest, ReadFollowsActivePageAndWriteChecksRange) {
    const CatEntry* p = catalogue_find("PCODE");
    double v = 0;
    ASSERT_TRUE(catalogue_read(p, &v));
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(catalogue_write(p, 513));   // lands in the working page
    ASSERT_TRUE(catalogue_read(p, &v));
    EXPECT_EQ(v, 1);
    seramSetWorkpageActive();
    ASSERT_TRUE(catalogue_read(p, &v));
    EXPECT_EQ(v, 513);
    EXPECT_FALSE(catalogue_write(p, 70000));
    EXPECT_FALSE(catalogue_write(p, -1));
    EXPECT_FALSE(catalogue_write(p, 1.5));
    const CatEntry* g = catalogue_find("gear");
    EXPECT_TRUE(catalogue_write(g, -1));
    EXPECT_EQ(signalPage()->gear, -1);
    EXPECT_FALSE(catalogue_write(g, 128));
    const CatEntry* f = catalogue_find("throttle");
    EXPECT_TRUE(catalogue_write(f, 12.5));
    EXPECT_EQ(signalPage()->throttle, 12.5f);
}

TEST_F(CatalogueTest, GetvarAndSetvarFromTheShell) {
    ASSERT_EQ(catalogue_shell_init(), 1);
    std::string out;
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness 4", &out), 0);
    EXPECT_EQ(signalPage()->display_brightness, 4);
    EXPECT_EQ(shell_runLineCapture("getvar display_brightness", &out), 0);
    EXPECT_EQ(out, "display_brightness = 4\n");
    EXPECT_EQ(shell_runLineCapture("setvar throttle 33.25", &out), 0);
    EXPECT_EQ(shell_runLineCapture("getvar throttle", &out), 0);
    EXPECT_EQ(out, "throttle = 33.25\n");
    EXPECT_EQ(shell_runLineCapture("setvar gear -0", &out), 0);
    EXPECT_EQ(out, "gear = 0\n");
    EXPECT_EQ(shell_runLineCapture("getvar memory_canin[2]", &out), 0);
    EXPECT_EQ(out, "memory_canin[2] = 0\n");
    EXPECT_EQ(shell_runLineCapture("getvar nothing", &out), -1);
    EXPECT_EQ(shell_runLineCapture("getvar", &out), -1);
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness", &out), -1);
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness 4x", &out), -1);
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness 256", &out), -1);
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness nan", &out), -1);
    EXPECT_EQ(shell_runLineCapture("setvar display_brightness 3 4", &out), -1);   // extra word
    EXPECT_EQ(out, "usage: setvar <name> <value>\n");
    EXPECT_EQ(shell_runLineCapture("getvar display_brightness x", &out), -1);
    EXPECT_EQ(signalPage()->display_brightness, 4);
}

// setvar answers with the value it wrote, also on a signal the stimulus
// drives, which may write its own value again right after.
TEST_F(CatalogueTest, SetvarEchoesWhatItWroteWhileTheStimulusWrites) {
    ASSERT_EQ(catalogue_shell_init(), 1);
    ASSERT_EQ(stimulus_load("t_air const 33\ngear const 2\n"), 2);
    std::atomic<bool> stop{false};
    std::thread stimulus([&stop] {
        for (uint64_t ms = 0; !stop.load(); ++ms) stimulus_step(ms);
    });
    int wrong = 0;
    std::string out, firstWrong;
    for (int i = 0; i < 10000; ++i) {
        const bool isFloat = i % 2 == 0;
        shell_runLineCapture(isFloat ? "setvar t_air 5.5" : "setvar gear 4", &out);
        if (out != (isFloat ? "t_air = 5.5\n" : "gear = 4\n") && !wrong++) firstWrong = out;
    }
    stop.store(true);
    stimulus.join();
    stimulus_clear();
    EXPECT_EQ(wrong, 0) << "first: " << firstWrong;
}
