// Vertical prompt: five characters stacked and each centred on the
// client's middle column, checked against the glyph art of the test font.
#include <gtest/gtest.h>

#include <cstring>

#include "gui/core/test_runtime_pixels.h"
#include "gui/gui_test_font.h"
#include "gui/widgets/prompts/gui_vprompt.h"

namespace {

using VPromptTest = GuiRuntimeTest;

TEST_F(VPromptTest, FiveCharactersAreCentredOnTheMiddleColumn)
{
    auto* host = new RecWindow(GuiRect(0, 0, 299, 299));
    pm->Add(host, 1);
    const char* text = "01010";
    auto* prompt = new GuiVPrompt(GuiRect(100, 40, 139, 119), text, 3, GST_FRAME_NONE);
    EXPECT_EQ(prompt->mType, GT_VPROMPT);
    EXPECT_FALSE(prompt->mStatus & GS_ACCEPTS_FOCUS);   // not enabled
    prompt->SetFont(&GuiTestFont);
    host->Add(prompt, 1);

    // Height of the chain 9, so a step of 8; five steps centred in 80 rows.
    const int step = 8, middle = (100 + 139) / 2;
    const int top = 40 + (80 - 5 * step) / 2;
    for (int i = 0; i < 5; ++i) {
        const char ch = text[i];
        const int width = ch == '1' ? 3 : 5;
        const int x0 = middle - width / 2, y0 = top + i * step;
        for (int gy = 0; gy < 7; ++gy)
            for (int gx = 0; gx < width; ++gx)
                ASSERT_EQ(Pixel(x0 + gx, y0 + gy), GuiTestFontPixel(ch, gx, gy) ? 0x000000u : 0xFFFFFFu)
                    << "character " << i << " at " << gx << "," << gy;
    }
    // Nothing else is inked.
    GuiRect ink = InkBox(prompt->mClient, 0x000000);
    EXPECT_GE(ink.left, middle - 2);
    EXPECT_LE(ink.right, middle + 2);
    EXPECT_GE(ink.top, top);
    EXPECT_LT(ink.bottom, top + 5 * step);

    // Enabled: takes the focus and shows it in the selected colours.
    auto* enabled = new GuiVPrompt(GuiRect(200, 40, 229, 119), "AB", 4, uint16_t(GST_ENABLED | GST_FRAME_THIN));
    EXPECT_TRUE(enabled->mStatus & GS_ACTIVE);
    EXPECT_EQ(enabled->mSignalMask, 1u << GUI_SIG_FOCUS_GAINED);
    host->Add(enabled, 1);
    pm->MoveFocusTree(enabled);
    enabled->Message(GuiMessage(GM_REDRAW, 0, enabled, nullptr));
    EXPECT_GT(CountColour(enabled->mClient, 0x0000BF), 100);
}

}  // namespace
