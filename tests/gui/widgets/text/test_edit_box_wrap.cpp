// Multi-line text editor with word wrap and automatic scroll bars: the text
// and the cursor against a model while a bar comes and goes (the text is
// wrapped again at the new width), and the partial redraws of typing and
// deleting against a full redraw of the box, pixel for pixel.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "gui/core/gui_scroll.h"
#include "gui/widgets/text/gui_edit_box.h"
#include "gui/widgets/text/text_widget_fixture.h"

namespace {

using namespace textwidgets;

constexpr unsigned short kId = 3;
constexpr unsigned short kEditable = 0x0100;
const std::string kSentence = "the quick brown fox jumps over the lazy dog ";

class EditBoxWrapTest : public TextWidgetTest {
protected:
    GuiEditBox* Editor(const GuiRect& rect, unsigned short style, unsigned scrollMode, const char* text = nullptr)
    {
        box = new GuiEditBox(rect, kId, style | kEditable, text, 2000);
        host->Add(box, 1);
        box->SetScrollMode(scrollMode);
        pm->MoveFocusTree(box);
        return box;
    }
    void Key(unsigned key) { ASSERT_EQ(box->InsertKey(key), 1) << "key " << key; }
    std::string Text() const { return box->mpText ? box->mpText : ""; }

    std::vector<uint32_t> Grab(const GuiRect& r) const
    {
        std::vector<uint32_t> pixels;
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x) pixels.push_back(Pixel(x, y));
        return pixels;
    }
    // Pixels of the box (frame and bars included) that differ from what a
    // full redraw of it paints.
    int DiffersFromFullRedraw()
    {
        const GuiRect area = box->mOuter;
        const std::vector<uint32_t> before = Grab(area);
        GuiThing::mpScreen->Invalidate(area);
        box->Draw();
        const std::vector<uint32_t> after = Grab(area);
        int differ = 0;
        for (size_t i = 0; i < before.size(); ++i) differ += before[i] != after[i];
        return differ;
    }

    GuiEditBox* box = nullptr;
};

TEST_F(EditBoxWrapTest, TypingPastTheAutomaticBarKeepsTheTextAndTheCursorWithTheModel)
{
    Editor(GuiRect(20, 20, 179, 99), GST_FRAME_THIN | GST_TEXT_WRAP, GUI_SCROLL_V_AUTO);
    ASSERT_EQ(box->mpVScroll, nullptr);
    std::string model;
    int afterBar = 0;
    for (size_t i = 0; afterBar < 60 && i < 1000; ++i) {
        const char c = kSentence[i % kSentence.size()];
        Key(unsigned(c));
        model += c;
        ASSERT_EQ(Text(), model) << "after " << model.size() << " characters";
        ASSERT_EQ(box->CursorOffset(), int(model.size())) << "after " << model.size() << " characters";
        ASSERT_GE(box->mCursorRow, box->TopLine());
        ASSERT_LT(box->mCursorRow, box->TopLine() + box->VisibleLines());
        if (box->mpVScroll) ++afterBar;
    }
    ASSERT_EQ(afterBar, 60) << "the bar never came";

    // Deleting again until the bar goes: the text widens and wraps anew.
    while (box->mpVScroll && !model.empty()) {
        Key(GUI_KEY_BACKSPACE);
        model.pop_back();
        ASSERT_EQ(Text(), model) << "at " << model.size() << " characters";
        ASSERT_EQ(box->CursorOffset(), int(model.size())) << "at " << model.size() << " characters";
    }
    EXPECT_EQ(box->mpVScroll, nullptr);
    Key('X');
    EXPECT_EQ(Text(), model + "X");
}

TEST_F(EditBoxWrapTest, InsertingInTheMiddleWhenTheBarComesLandsAtTheModelsOffset)
{
    Editor(GuiRect(20, 20, 179, 99), GST_FRAME_THIN | GST_TEXT_WRAP, GUI_SCROLL_V_AUTO);
    std::string model;
    while (!box->mpVScroll) {
        const char c = kSentence[model.size() % kSentence.size()];
        // Typing goes in before the last word typed so far.
        const int at = box->CursorOffset();
        Key(unsigned(c));
        model.insert(size_t(at), 1, c);
        ASSERT_EQ(Text(), model);
        ASSERT_EQ(box->CursorOffset(), at + 1);
        if (c == ' ') Key(GUI_KEY_LEFT);
        ASSERT_LT(model.size(), 1000u);
    }
    Key('#');
    EXPECT_EQ(Text().find('#'), size_t(box->CursorOffset() - 1));
}

// A mark from offset 60 to 10 characters before the end, in a text long
// enough to show the bar: replacing or deleting it makes the bar go, and
// the rows before the mark's start wrap anew at the wider width.
class EditBoxWrapMarkTest : public EditBoxWrapTest {
protected:
    std::string MarkMiddle()
    {
        std::string text;
        while (text.size() < 250) text += kSentence;
        Editor(GuiRect(20, 20, 179, 99), GST_FRAME_THIN | GST_TEXT_WRAP, GUI_SCROLL_V_AUTO, text.c_str());
        EXPECT_NE(box->mpVScroll, nullptr);
        box->SetCursorRowColFromIndex(kFrom);
        box->mAnchor = CURSOR_POS{box->mCursorColumn, box->mCursorRow};
        box->SetCursorRowColFromIndex(int(text.size()) - 10);
        box->mMarkEnd = CURSOR_POS{box->mCursorColumn, box->mCursorRow};
        box->mEditFlags = GuiEditBox::MARKED;
        return text.substr(0, kFrom) + text.substr(text.size() - 10);
    }
    static constexpr int kFrom = 60;
};

TEST_F(EditBoxWrapMarkTest, ReplacingAMarkThatTakesTheBarAwayPutsTheCursorBehindTheNewCharacter)
{
    const std::string rest = MarkMiddle();
    Key('Z');
    EXPECT_EQ(box->mpVScroll, nullptr);
    EXPECT_EQ(box->CursorOffset(), kFrom + 1);
    Key('Y');
    EXPECT_EQ(Text(), rest.substr(0, kFrom) + "ZY" + rest.substr(kFrom));
}

TEST_F(EditBoxWrapMarkTest, DeletingAMarkThatTakesTheBarAwayPutsTheCursorAtTheMarkStart)
{
    const std::string rest = MarkMiddle();
    Key(GUI_KEY_DELETE);
    EXPECT_EQ(box->mpVScroll, nullptr);
    EXPECT_EQ(box->CursorOffset(), kFrom);
    Key('Y');
    EXPECT_EQ(Text(), rest.substr(0, kFrom) + "Y" + rest.substr(kFrom));
}

TEST_F(EditBoxWrapTest, BackspaceThatPullsAWordUpLooksLikeAFullRedraw)
{
    // Wrap width: "abcdefgh" fits, "xx abcdefgh" does not. Backspace at the
    // start of "cdefgh" joins the words, which leave the row above together.
    const int wrap = GuiThing::mpScreen->TextWidth("abcdefghi", &SysFont, -1);
    Editor(GuiRect(20, 20, 20 + wrap + 6 - 1, 119), GST_FRAME_THIN | GST_TEXT_WRAP, 0, "xx ab cdefgh");
    box->Draw();
    ASSERT_GE(box->TotalLines(), 2);
    // The cursor to the start of the last row, then Backspace.
    box->SetCursorRowColFromIndex(int(std::string("xx ab cdefgh").find("cdefgh")));
    box->DrawCursor();
    ASSERT_EQ(box->mCursorColumn, 0);
    const int row = box->mCursorRow;
    Key(GUI_KEY_BACKSPACE);
    EXPECT_EQ(Text(), "xx abcdefgh");
    EXPECT_EQ(box->CursorOffset(), 5);
    EXPECT_EQ(box->mCursorRow, row);
    EXPECT_EQ(DiffersFromFullRedraw(), 0);
}

TEST_F(EditBoxWrapTest, TypingThatWrapsWithTheCursorRedrawsTheRowItLeft)
{
    // A word longer than a row breaks where the row is full: "abcdefgh" and
    // "ijk". An "i" typed before the "h" pushes the "h" and the cursor down.
    GuiScreen* screen = GuiThing::mpScreen;
    ASSERT_LE(screen->TextWidth("i", &SysFont, -1), screen->TextWidth("h", &SysFont, -1));
    const int wrap = screen->TextWidth("abcdefgh", &SysFont, -1) + 1;
    Editor(GuiRect(20, 20, 20 + wrap + 6 - 1, 119), GST_FRAME_THIN | GST_TEXT_WRAP, 0, "abcdefghijk");
    box->Draw();
    ASSERT_EQ(box->LineLength(0), 8);
    box->SetCursorRowColFromIndex(7);
    Key('i');
    EXPECT_EQ(Text(), "abcdefgihijk");
    EXPECT_EQ(box->mCursorRow, 1);
    EXPECT_EQ(box->mCursorColumn, 0);
    EXPECT_EQ(DiffersFromFullRedraw(), 0);
}

TEST_F(EditBoxWrapTest, WrappedTypingAndDeletingAlwaysLookLikeAFullRedraw)
{
    Editor(GuiRect(20, 20, 179, 139), GST_FRAME_THIN | GST_TEXT_WRAP, GUI_SCROLL_V_AUTO);
    std::string model;
    for (size_t i = 0; i < 3 * kSentence.size(); ++i) {
        const char c = kSentence[i % kSentence.size()];
        Key(unsigned(c));
        model += c;
        ASSERT_EQ(DiffersFromFullRedraw(), 0) << "after typing " << model.size();
        if (i % 7 == 6) {
            // Back into the text, delete a character before the cursor, return.
            Key(GUI_KEY_LEFT);
            Key(GUI_KEY_LEFT);
            const int at = box->CursorOffset();
            Key(GUI_KEY_BACKSPACE);
            model.erase(size_t(at - 1), 1);
            ASSERT_EQ(Text(), model);
            ASSERT_EQ(DiffersFromFullRedraw(), 0) << "after backspace at " << at;
            Key(GUI_KEY_END);
            while (box->CursorOffset() < int(model.size())) Key(GUI_KEY_RIGHT);
        }
    }
}

TEST_F(EditBoxWrapTest, TypingWithTheAutomaticHorizontalBarMovesItsThumb)
{
    Editor(GuiRect(20, 20, 219, 119), GST_FRAME_THIN, GUI_SCROLL_H_AUTO, "start");
    box->Draw();
    Key(GUI_KEY_END);
    for (int i = 0; i < 80; ++i) {
        Key(unsigned('a' + i % 26));
        ASSERT_EQ(DiffersFromFullRedraw(), 0) << "after " << i + 1 << " characters";
    }
    ASSERT_NE(box->mpHScroll, nullptr);
    // Typing at the start of the line widens it without scrolling.
    Key(GUI_KEY_HOME);
    for (int i = 0; i < 10; ++i) {
        const int32_t maximum = box->mpHScroll->mInfo.maximum;
        Key('w');
        ASSERT_GT(box->mpHScroll->mInfo.maximum, maximum);
        ASSERT_EQ(DiffersFromFullRedraw(), 0) << "after " << i + 1 << " characters at the start";
    }
    Key(GUI_KEY_END);
    for (int i = 0; i < 30; ++i) {
        Key(GUI_KEY_BACKSPACE);
        ASSERT_EQ(DiffersFromFullRedraw(), 0) << "after " << i + 1 << " deletions";
    }
}

// Random keys: the text follows a model of it, and the screen what a full
// redraw paints. The box holds whole rows only: a deletion can leave the
// cursor on the row below the window (the editor scrolls only when a key
// moves or types), and a full redraw leaves a part row at the bottom blank.
class EditBoxRandomKeysTest : public EditBoxWrapTest {
protected:
    void Run(unsigned short style, unsigned scrollMode, unsigned seed)
    {
        Editor(GuiRect(20, 20, 179, 119), GST_FRAME_THIN | style, scrollMode);
        const int height = 5 * box->LineHeight() + 2 * box->mBorderWhitespace + 2;   // rows, borders, frame
        box->Resize(GuiRect(20, 20, 179, int16_t(20 + height - 1)));
        ASSERT_EQ((box->mClient.Height() - 2 * box->mBorderWhitespace) % box->LineHeight(), 0);
        GuiThing::mpScreen->Invalidate(host->mOuter);
        host->Draw();
        std::mt19937 random(seed);
        const unsigned keys[] = {GUI_KEY_BACKSPACE, GUI_KEY_DELETE, GUI_KEY_LEFT, GUI_KEY_RIGHT, GUI_KEY_ENTER,
                                 GUI_KEY_UP,        GUI_KEY_DOWN,   GUI_KEY_HOME, GUI_KEY_END};
        std::string model;
        for (int i = 0; i < 1000; ++i) {
            const int at = box->CursorOffset();
            const unsigned pick = random() % 24;
            const unsigned key = pick < 15 ? unsigned(kSentence[random() % kSentence.size()])
                                           : keys[(pick - 15) % std::size(keys)];
            Key(key);
            if (GuiIsTextCharacter(key)) model.insert(size_t(at), 1, char(key));
            else if (key == GUI_KEY_ENTER) model.insert(size_t(at), 1, '\r');
            else if (key == GUI_KEY_BACKSPACE && at > 0) model.erase(size_t(at - 1), 1);
            else if (key == GUI_KEY_DELETE && at < int(model.size())) model.erase(size_t(at), 1);
            ASSERT_EQ(Text(), model) << "step " << i << ", key " << key;
            ASSERT_EQ(DiffersFromFullRedraw(), 0) << "step " << i << ", key " << key;
        }
    }
};

TEST_F(EditBoxRandomKeysTest, WrappingWithTheAutomaticVerticalBar) { Run(GST_TEXT_WRAP, GUI_SCROLL_V_AUTO, 6); }

TEST_F(EditBoxRandomKeysTest, LongLinesWithBothAutomaticBars)
{
    Run(0, GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO, 2);
}

}  // namespace
