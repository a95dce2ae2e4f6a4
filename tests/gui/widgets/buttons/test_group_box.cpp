// Group box drawn through the real driver: the caption gap in the etched
// top edge, the parent's background, enabling and disabling the buttons
// inside, focus handed on to the first child.
#include <gtest/gtest.h>

#include "gui/core/gui_prompt.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/gui_test_font.h"
#include "gui/widgets/buttons/gui_decorated_button.h"
#include "gui/widgets/buttons/gui_ml_text_button.h"
#include "gui/widgets/group/gui_group.h"

namespace {

constexpr uint32_t kGround = 0x00A000, kShade = 0x808080, kWhite = 0xFFFFFF, kBlack = 0;

class GroupTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        host->mColor[0] = kGround;
        pm->Add(host, 1);
    }
    GuiGroup* Shown(GuiRect r, const char* caption) {
        auto* g = new GuiGroup(r, caption, GST_ENABLED);
        host->Add(g, 1);
        Pump();
        return g;
    }
    void Redraw(GuiThing* t) {
        GuiThing::mpScreen->Invalidate(t->mOuter);
        t->Draw();
    }
    RecWindow* host = nullptr;
};

TEST_F(GroupTest, CaptionSitsInAGapOfTheTopEdge)
{
    GuiGroup* g = Shown(GuiRect(20, 20, 219, 119), "8");
    const int half = GuiThing::mpScreen->TextHeight(nullptr, &MenuFont) / 2;
    EXPECT_TRUE(g->mClient == GuiRect(22, 22 + half, 217, 117));
    EXPECT_EQ(g->mType, GT_GROUP);
    EXPECT_EQ(g->mColor[0], kGround) << "the parent's background";
    g->SetFont(&GuiTestFont);
    Redraw(host);

    const int L = 20, T = 20, R = 219, ct = g->mClient.top, w = 5;
    EXPECT_EQ(Pixel(L, ct - 2), kShade);
    EXPECT_EQ(Pixel(L + 7, ct - 2), kShade);
    EXPECT_EQ(Pixel(L + 1, ct - 1), kWhite);
    EXPECT_EQ(Pixel(L + 7, ct - 1), kWhite);
    for (int x = L + 8; x <= L + 10 + w; ++x) {
        EXPECT_NE(Pixel(x, ct - 2), kShade) << x;
        EXPECT_NE(Pixel(x, ct - 1), kWhite) << x;
    }
    EXPECT_EQ(Pixel(L + 11 + w, ct - 2), kShade);
    EXPECT_EQ(Pixel(L + 11 + w, ct - 1), kWhite);
    EXPECT_EQ(Pixel(R, ct - 2), kWhite) << "the right edge's white covers the grey top line's end";
    // The caption starts at L + 9 on the outer top row.
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(Pixel(L + 9 + x, T + y) == kBlack, GuiTestFontPixel('8', x, y)) << x << "," << y;
    EXPECT_EQ(CountColour(g->mClient, kGround), g->mClient.Width() * g->mClient.Height());

    // Without a caption the top lines run unbroken.
    GuiGroup* bare = Shown(GuiRect(240, 20, 339, 119), nullptr);
    const int bt = bare->mClient.top;
    EXPECT_EQ(CountColour(GuiRect(240, bt - 2, 338, bt - 2), kShade), 99);
    EXPECT_EQ(CountColour(GuiRect(241, bt - 1, 337, bt - 1), kWhite), 97);
}

TEST_F(GroupTest, EnableActsOnButtonsOnlyAndOnlyOnAChange)
{
    GuiGroup* g = Shown(GuiRect(20, 20, 319, 199), "Mode");
    GuiRect r1(30, 40, 129, 59);
    auto* radio = new GuiRadioButton(r1, "Wet", 1, GST_ENABLED);
    auto* multi = new GuiMLTextButton(30, 70, "Pit|lane", '|', 2, GST_ENABLED);
    auto* decorated = new GuiDecoratedButton(150, 40, 100, "Box", nullptr, 3, GST_ENABLED, 0);
    auto* prompt = new GuiPrompt(GuiRect(150, 90, 249, 109), "Info", 4, GST_ENABLED, 0);
    auto* inner = new GuiWindow(GuiRect(150, 120, 249, 179), GST_FRAME_THIN);
    for (GuiThing* c : {static_cast<GuiThing*>(radio), static_cast<GuiThing*>(multi),
                        static_cast<GuiThing*>(decorated), static_cast<GuiThing*>(prompt), static_cast<GuiThing*>(inner)})
        g->Add(c, 1);
    EXPECT_FALSE(inner->mStatus & GS_VIEWPORT_OWNER) << "draws inside the group's area";
    const uint16_t promptStatus = prompt->mStatus;

    g->Enable(0);
    for (GuiButton* b : {static_cast<GuiButton*>(radio), static_cast<GuiButton*>(multi),
                         static_cast<GuiButton*>(decorated)}) {
        EXPECT_FALSE(b->mStyle & GST_ENABLED);
        EXPECT_FALSE(b->mStatus & (GS_ACTIVE | GS_SELECTABLE));
    }
    EXPECT_EQ(prompt->mStatus, promptStatus);
    EXPECT_TRUE(prompt->mStyle & GST_ENABLED);
    EXPECT_FALSE(g->mStatus & GS_ACTIVE);
    const GuiRect caption(29, 20, 29 + GuiThing::mpScreen->TextWidth("Mode", &MenuFont, -1), 32);
    EXPECT_GT(CountColour(caption, kShade), 10) << "grey caption";
    EXPECT_EQ(CountColour(caption, kBlack), 0);
    EXPECT_GT(CountColour(multi->mClient, kShade), 10) << "grey lines on the disabled button";

    // Disabled again: nothing happens, not even a redraw.
    const size_t marker = size_t(190) * 1024 + 40;
    gbVMemory[marker] = 0x123456;
    g->Enable(0);
    EXPECT_EQ(gbVMemory[marker], 0x123456u);
    g->Enable(1);
    EXPECT_NE(gbVMemory[marker], 0x123456u);
    EXPECT_TRUE(radio->mStyle & GST_ENABLED);
    EXPECT_TRUE(decorated->mStatus & GS_SELECTABLE);
    EXPECT_GT(CountColour(caption, kBlack), 10);
    gbVMemory[marker] = 0x123456;
    g->Enable(1);
    EXPECT_EQ(gbVMemory[marker], 0x123456u);

    // Removing a child redraws its area through the group's parent.
    const GuiRect promptArea = prompt->mOuter;
    EXPECT_GT(CountColour(promptArea, kBlack), 10);
    EXPECT_EQ(g->Remove(prompt, 1), prompt);
    EXPECT_EQ(CountColour(promptArea, kBlack), 0);
    delete prompt;

    // A group that gets the focus hands it on to its first child.
    GuiRect r2(0, 0, 99, 99);
    auto* other = new GuiGroup(r2, "Other", GST_ENABLED);
    GuiRect r3(10, 20, 80, 40);
    auto* box = new GuiCheckBox(r3, "On", 9, GST_ENABLED);
    other->Add(box, 0);
    host->Add(other, 1);
    EXPECT_EQ(pm->mpFocus, box);
}

}  // namespace
