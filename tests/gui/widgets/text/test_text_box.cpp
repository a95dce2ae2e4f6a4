// Multi-line text box: line counts of long texts, the cached line table
// refilled around far lines, line ends, word wrap, appending up to the
// maximum, and scrolling by moving pixels against a full redraw.
#include <gtest/gtest.h>

#include <string>

#include "gui/core/gui_scroll.h"
#include "gui/widgets/text/gui_text_box.h"
#include "gui/widgets/text/text_widget_fixture.h"

namespace {

using namespace textwidgets;
using GuiTextBoxTest = TextWidgetTest;

GuiTextBox* Box(RecWindow* host, const GuiRect& r, const char* text, unsigned short style = GST_FRAME_THIN,
                int maxChars = 100000)
{
    auto* box = new GuiTextBox(r, 0, style, text, maxChars);
    host->Add(box, 1);
    return box;
}

std::string Line(GuiTextBox* box, int line)
{
    int length = -1;
    const char* p = box->GetLineStart(line, &length);
    return p ? std::string(p, size_t(length)) : std::string("<none>");
}

TEST_F(GuiTextBoxTest, LongTextsCountEveryLineAndShowAFarLineAfterARefill)
{
    const std::string hundred = NumberedLines(100), many = NumberedLines(250);
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), hundred.c_str());
    EXPECT_EQ(box->TotalLines(), 100);
    EXPECT_EQ(Line(box, 99), "line 99");
    EXPECT_EQ(Line(box, 100), "<none>");

    box->DataSet(many.c_str());
    EXPECT_EQ(box->TotalLines(), 250);
    EXPECT_EQ(box->VisibleLines(), (198 - 4) / 16);
    box->SetTopLine(180, 1);
    EXPECT_EQ(box->TopLine(), 180);

    // The first row is line 180 exactly as DrawText draws it elsewhere.
    auto* ref = new GuiWindow(GuiRect(340, 20, 639, 219), GST_FRAME_THIN);
    host->Add(ref, 1);
    const GuiPoint at{int16_t(ref->mClient.left + 2), int16_t(ref->mClient.top + 2)};
    DrawReference(ref, at, "line 180", &SysFont);
    const int x = box->mClient.left + 2, y = box->mClient.top + 2;
    EXPECT_GT(CountColour(GuiRect(x, y, x + 100, y + 15), kInk), 20);
    EXPECT_TRUE(SameArea(x, y, at.x, at.y, 200, box->LineHeight()));

    // Lines far before and after the cached window come back by refills.
    EXPECT_EQ(Line(box, 3), "line 3");
    EXPECT_EQ(Line(box, 249), "line 249");
    EXPECT_EQ(Line(box, 120), "line 120");
    EXPECT_EQ(box->GetLineIndex(250), -1);

    // Too far down is pulled back so the window ends at the last line.
    box->SetTopLine(245, 0);
    EXPECT_EQ(box->TopLine(), 250 - box->VisibleLines());

    // A short text replacing a long one scrolled far down is shown from its top.
    box->DataSet("one\ntwo\nthree");
    EXPECT_EQ(box->TotalLines(), 3);
    EXPECT_EQ(box->TopLine(), 0);
    EXPECT_EQ(Line(box, 0), "one");
    box->DataSet(nullptr);
    EXPECT_EQ(box->TotalLines(), 0);
    EXPECT_EQ(box->GetLineStart(0, nullptr), nullptr);
}

TEST_F(GuiTextBoxTest, LineEndsAreNotPartOfTheLines)
{
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), "ab\r\ncd\ref\ngh");
    EXPECT_EQ(box->TotalLines(), 4);
    EXPECT_EQ(Line(box, 0), "ab");
    EXPECT_EQ(Line(box, 1), "cd");
    EXPECT_EQ(Line(box, 2), "ef");
    EXPECT_EQ(Line(box, 3), "gh");
    EXPECT_EQ(box->GetLineIndex(1), 4);
    // A final 10 opens no line; a final 13 opens an empty one (where an
    // editor's cursor goes after Enter).
    box->DataSet("x\n");
    EXPECT_EQ(box->TotalLines(), 1);
    box->DataSet("x\r");
    EXPECT_EQ(box->TotalLines(), 2);
    EXPECT_EQ(Line(box, 1), "");
}

TEST_F(GuiTextBoxTest, WordWrapBreaksAfterTheLastSpaceOrInsideALongWord)
{
    // Frame 1 pixel and border 2 pixels on each side around the wrap width.
    auto wrapBox = [&](int wrap, int top, const char* text) {
        return Box(host, GuiRect(20, top, 20 + wrap + 6 - 1, top + 99), text, GST_FRAME_THIN | GST_TEXT_WRAP);
    };
    GuiTextBox* box = wrapBox(GuiThing::mpScreen->TextWidth("mmm mmm m", &SysFont, -1), 20, "mmm mmm mmm");
    EXPECT_EQ(box->TotalLines(), 2);
    EXPECT_EQ(Line(box, 0), "mmm mmm ");
    EXPECT_EQ(Line(box, 1), "mmm");

    // A word wider than the client breaks at the character reaching the width.
    const int wm = GuiThing::mpScreen->TextWidth("m", &SysFont, -1);
    GuiTextBox* word = wrapBox(10 * wm, 140, "mmmmmmmmmmmmmmmmmmmmmmm");
    EXPECT_EQ(word->WrapWidth(), 10 * wm);
    EXPECT_EQ(word->TotalLines(), 3);
    EXPECT_EQ(Line(word, 0).size(), 9u);
    EXPECT_EQ(Line(word, 1).size(), 9u);
    EXPECT_EQ(Line(word, 2).size(), 5u);
    // Far lines found again by a refill break the same way.
    EXPECT_EQ(word->GetLineIndex(2), 18);
}

TEST_F(GuiTextBoxTest, AppendKeepsTheNewestCharactersUpToTheMaximum)
{
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), "abcdefgh", GST_FRAME_THIN, 10);
    box->Append("xyz", 0);
    EXPECT_STREQ(box->mpText, "bcdefghxyz");
    box->Append("0123456789ABC", 0);
    EXPECT_STREQ(box->mpText, "3456789ABC");
    box->Append("", 1);
    box->Append(nullptr, 1);
    EXPECT_STREQ(box->mpText, "3456789ABC");

    // Appending to a long transcript brings its end into view.
    const std::string many = NumberedLines(60);
    GuiTextBox* log = Box(host, GuiRect(340, 20, 639, 219), many.c_str(), GST_FRAME_THIN, 100000);
    EXPECT_EQ(log->TopLine(), 0);
    log->Append("last", 1);
    EXPECT_EQ(log->TotalLines(), 61);
    EXPECT_EQ(log->TopLine(), 61 - log->VisibleLines());

    // A box that starts empty takes the tail of an over-long first text.
    GuiTextBox* empty = Box(host, GuiRect(20, 240, 319, 439), nullptr, GST_FRAME_THIN, 4);
    empty->Append("abcdef", 0);
    EXPECT_STREQ(empty->mpText, "cdef");
}

TEST_F(GuiTextBoxTest, ScrollingMovesPixelsAndDrawsWhatAFullRedrawDraws)
{
    const std::string many = NumberedLines(80);
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), many.c_str());
    box->SetScrollMode(GUI_SCROLL_V);
    ASSERT_NE(box->mpVScroll, nullptr);
    const GuiRect area = box->mClient;
    auto snapshot = [&] {
        std::vector<uint32_t> px;
        for (int y = area.top; y <= area.bottom; ++y)
            for (int x = area.left; x <= area.right; ++x) px.push_back(Pixel(x, y));
        return px;
    };
    auto scrollTo = [&](int top) {
        GuiMessage m(GM_VSCROLL, box->TopLine(), box, box);
        m.SetWord(0, top);
        box->Message(m);
    };
    for (int top : {3, 1, 40, 38, 0}) {   // by fewer lines than visible, and by many
        scrollTo(top);
        EXPECT_EQ(box->TopLine(), top);
        const auto moved = snapshot();
        GuiThing::mpScreen->Invalidate(box->mOuter);
        box->Draw();
        EXPECT_EQ(moved, snapshot()) << "top " << top;
    }

    // The arrow buttons go through the bar and scroll one line.
    EXPECT_EQ(box->LineUp(), 0);
    EXPECT_EQ(box->LineDown(), 1);
    EXPECT_EQ(box->TopLine(), 1);
    EXPECT_EQ(box->LineUp(), 1);
    EXPECT_EQ(box->TopLine(), 0);
}

TEST_F(GuiTextBoxTest, AutomaticBarsFollowTheText)
{
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), "short");
    box->SetScrollMode(GUI_SCROLL_V_AUTO);
    EXPECT_EQ(box->mpVScroll, nullptr);
    const std::string many = NumberedLines(40);
    box->DataSet(many.c_str());
    ASSERT_NE(box->mpVScroll, nullptr);
    EXPECT_EQ(box->mpVScroll->mInfo.maximum, 39);
    box->SetTopLine(10, 1);
    EXPECT_EQ(box->mpVScroll->mInfo.current, 10);
    box->DataSet("short again");
    EXPECT_EQ(box->mpVScroll, nullptr);
    EXPECT_EQ(box->TopLine(), 0);
}

TEST_F(GuiTextBoxTest, HighlightedLineIsDrawnInTheSelectedColours)
{
    GuiTextBox* box = Box(host, GuiRect(20, 20, 319, 219), "one\ntwo\nthree");
    box->SetHighlightedLine(1);
    GuiThing::mpScreen->Invalidate(box->mOuter);
    box->Draw();
    const int y = box->mClient.top + 2 + box->LineHeight();
    const GuiRect row(box->mClient.left + 2, y, box->mClient.right - 2, y + box->LineHeight() - 1);
    EXPECT_EQ(CountColour(row, 0x0000BF) + CountColour(row, 0xFFFFFF), row.Width() * row.Height());
    EXPECT_GT(CountColour(row, 0xFFFFFF), 10);
    EXPECT_EQ(CountColour(row, kInk), 0);
}

}  // namespace
