// Spin button pressed through the real queue: stepping a slave prompt
// within limits, the two forms and their arrows, and the more and less
// signals to the parent.
#include <gtest/gtest.h>

#include "gui/core/gui_prompt.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/widgets/spin/gui_spin_button.h"

namespace {

class SpinTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
        slave = new GuiPrompt(GuiRect(20, 20, 79, 39), "9", 50, GST_FRAME_THIN, 0);
        host->Add(slave, 1);
    }

    GuiThing* Arrow(GuiSpinButton* spin, unsigned short id) { return spin->Find(id, 0); }

    void Press(GuiThing* t) {
        const int x = (t->mOuter.left + t->mOuter.right) / 2, y = (t->mOuter.top + t->mOuter.bottom) / 2;
        Click(mq, x, y);
        Pump();
    }

    int Signals(unsigned short id, uint8_t signal) const { return host->Count(GuiSignalType(id, signal)); }

    RecWindow* host = nullptr;
    GuiPrompt* slave = nullptr;
};

TEST_F(SpinTest, StepsTheSlaveWithinTheLimits)
{
    auto* spin = new GuiSpinButton(100, 20, slave, 0, 10, 3, 7, GSB_VERTICAL | GST_ENABLED);
    host->Add(spin, 1);
    Pump();
    EXPECT_EQ(slave->mCopy, 1) << "the slave owns its text";

    Press(Arrow(spin, GUI_ID_SPIN_UP));
    EXPECT_STREQ(slave->mpText, "10");
    Press(Arrow(spin, GUI_ID_SPIN_UP));
    EXPECT_STREQ(slave->mpText, "10");
    slave->DataSet("2");
    Press(Arrow(spin, GUI_ID_SPIN_DOWN));
    EXPECT_STREQ(slave->mpText, "0");
    EXPECT_EQ(Signals(7, 8), 2);
    EXPECT_EQ(Signals(7, 9), 1);

    // Negative limits, zero padding, and text that is not a number.
    spin->SetLimits(-20, 20, 15);
    spin->mMinDigits = 4;
    slave->DataSet("-10");
    Press(Arrow(spin, GUI_ID_SPIN_DOWN));
    EXPECT_STREQ(slave->mpText, "-020") << "zeros after the sign";
    Press(Arrow(spin, GUI_ID_SPIN_UP));
    EXPECT_STREQ(slave->mpText, "-005") << "the padded text reads back";
    slave->DataSet("lap");
    Press(Arrow(spin, GUI_ID_SPIN_UP));
    EXPECT_STREQ(slave->mpText, "0015") << "no number reads as 0";
    spin->SetLimits(INT32_MIN, INT32_MAX, 1000);
    spin->mMinDigits = 0;
    slave->DataSet("2147483000");
    Press(Arrow(spin, GUI_ID_SPIN_UP));
    EXPECT_STREQ(slave->mpText, "2147483647");
}

TEST_F(SpinTest, VerticalAndHorizontalForms)
{
    auto* v = new GuiSpinButton(100, 50, 8, GSB_VERTICAL | GST_ENABLED);
    EXPECT_TRUE(v->mOuter == GuiRect(100, 50, 115, 81));
    EXPECT_TRUE(Arrow(v, GUI_ID_SPIN_UP)->mOuter == GuiRect(100, 50, 115, 66));
    EXPECT_TRUE(Arrow(v, GUI_ID_SPIN_DOWN)->mOuter == GuiRect(100, 67, 115, 81));
    EXPECT_EQ(v->mType, GT_SPIN_BUTTON);
    auto* h = new GuiSpinButton(200, 50, 9, GST_ENABLED);
    EXPECT_TRUE(h->mOuter == GuiRect(200, 50, 231, 65));
    EXPECT_TRUE(Arrow(h, GUI_ID_SPIN_LEFT)->mOuter == GuiRect(200, 50, 216, 65));
    EXPECT_TRUE(Arrow(h, GUI_ID_SPIN_RIGHT)->mOuter == GuiRect(217, 50, 231, 65));
    host->Add(v, 1);
    host->Add(h, 1);
    Pump();

    // The arrows point the right way: ink in the upper half's top rows is
    // one pixel wide at the tip.
    const GuiRect up = Arrow(v, GUI_ID_SPIN_UP)->mOuter;
    GuiRect inside = up;
    inside -= 3;   // inside the button's frame
    const GuiRect ink = InkBox(inside, 0x000000);
    ASSERT_FALSE(ink.IsEmpty());
    EXPECT_EQ(ink.Width(), 7);
    EXPECT_EQ(ink.Height(), 4);
    EXPECT_EQ(CountColour(GuiRect(inside.left, ink.top, inside.right, ink.top), 0x000000), 1);

    // Without a slave the signals still reach the parent.
    Press(Arrow(h, GUI_ID_SPIN_RIGHT));
    Press(Arrow(h, GUI_ID_SPIN_LEFT));
    Press(Arrow(v, GUI_ID_SPIN_DOWN));
    EXPECT_EQ(Signals(9, 8), 1);
    EXPECT_EQ(Signals(9, 9), 1);
    EXPECT_EQ(Signals(8, 9), 1);
}

TEST_F(SpinTest, EmptySlaveStaysEmptyAndIdZeroIsSilent)
{
    slave->DataSet("");
    auto* spin = new GuiSpinButton(GuiRect(100, 20, 131, 35), slave, 0, 10, 1, 11, GST_ENABLED);
    host->Add(spin, 1);
    Pump();
    Press(Arrow(spin, GUI_ID_SPIN_RIGHT));
    EXPECT_EQ(slave->mpText, nullptr);
    EXPECT_EQ(Signals(11, 8), 1);

    slave->DataSet("4");
    auto* quiet = new GuiSpinButton(GuiRect(150, 20, 181, 35), slave, 0, 10, 1, 0, GST_ENABLED);
    host->Add(quiet, 1);
    Pump();
    const size_t before = host->seen.size();
    Press(Arrow(quiet, GUI_ID_SPIN_RIGHT));
    EXPECT_STREQ(slave->mpText, "5");
    for (size_t i = before; i < host->seen.size(); ++i) EXPECT_LT(host->seen[i].type, GM_SIGNAL_BASE);
}

}  // namespace
