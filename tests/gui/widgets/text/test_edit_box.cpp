// Multi-line text editor: typing, deleting and the cursor by pixels, marks
// made by the pointer, what a mark does to keys, the keys that are refused,
// the cursor at the end of the last line, the scratch pad and the signals.
#include <gtest/gtest.h>

#include <string>

#include "gui/core/gui_scroll.h"
#include "gui/widgets/text/gui_edit_box.h"
#include "gui/widgets/text/text_widget_fixture.h"

namespace {

using namespace textwidgets;
using GuiEditBoxTest = TextWidgetTest;

constexpr unsigned short kId = 3;

class EditBoxTest : public TextWidgetTest {
protected:
    GuiEditBox* Editor(const char* text, int maxChars = 1000, unsigned short style = GST_FRAME_THIN | 0x0100)
    {
        box = new GuiEditBox(GuiRect(20, 20, 319, 219), kId, style, text, maxChars);
        host->Add(box, 1);
        return box;
    }
    void Focus() { pm->MoveFocusTree(box); }
    void Keys(std::initializer_list<unsigned> keys)
    {
        for (unsigned k : keys) EXPECT_EQ(box->InsertKey(k), 1) << "key " << k;
    }
    std::string Text() const { return box->mpText ? box->mpText : ""; }
    // Left edge of character `column` of the first row.
    int ColumnX(const char* line, int column)
    {
        return box->mClient.left + 2 + GuiThing::mpScreen->TextWidth(line, &SysFont, column);
    }
    // A drag with the pointer from one character to another of row 0.
    void Drag(const char* line, int from, int to)
    {
        const int y = box->mClient.top + 5;
        Post(PointerAt(GM_POINTER_PRESS, ColumnX(line, from), y));
        Post(PointerAt(GM_POINTER_MOVE, ColumnX(line, to), y));
        Post(PointerAt(GM_POINTER_RELEASE, ColumnX(line, to), y));
        Pump();
    }

    GuiEditBox* box = nullptr;
};

TEST_F(EditBoxTest, TypingLeftAndBackspaceLeaveTheTextAndABlueCursorOneLineHigh)
{
    Editor(nullptr);
    Focus();
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::EDITING);
    Keys({'a', 'b', 'c', GUI_KEY_LEFT, GUI_KEY_BACKSPACE});
    EXPECT_EQ(Text(), "ac");
    EXPECT_EQ(box->mCursorColumn, 1);
    EXPECT_EQ(box->mCursorRow, 0);

    const GuiRect ink = InkBox(box->mClient, kCursor);
    EXPECT_EQ(ink.Width(), 1);
    EXPECT_EQ(ink.Height(), box->LineHeight());
    EXPECT_EQ(ink.left, ColumnX("ac", 1));
    EXPECT_EQ(ink.top, box->mClient.top + 2);
    // Exactly one cursor: the ones drawn before were erased.
    EXPECT_EQ(CountColour(box->mClient, kCursor), box->LineHeight());
}

TEST_F(EditBoxTest, EnterOpensALineAndTheCursorKeysWalkTheLines)
{
    Editor(nullptr);
    Focus();
    Keys({'a', 'b', GUI_KEY_ENTER, 'c', 'd', 'e'});
    EXPECT_EQ(Text(), "ab\rcde");
    EXPECT_EQ(box->TotalLines(), 2);
    EXPECT_EQ(box->mCursorRow, 1);
    EXPECT_EQ(box->mCursorColumn, 3);
    Keys({GUI_KEY_UP});
    EXPECT_EQ(box->mCursorRow, 0);
    EXPECT_EQ(box->mCursorColumn, 2);   // the shorter line's end
    Keys({GUI_KEY_HOME, GUI_KEY_DOWN});
    EXPECT_EQ(box->mCursorRow, 1);
    EXPECT_EQ(box->mCursorColumn, 0);
    Keys({GUI_KEY_LEFT});
    EXPECT_EQ(box->mCursorRow, 0);
    EXPECT_EQ(box->mCursorColumn, 2);
    Keys({GUI_KEY_RIGHT});
    EXPECT_EQ(box->mCursorRow, 1);
    EXPECT_EQ(box->mCursorColumn, 0);
    Keys({GUI_KEY_END, GUI_KEY_DELETE});   // nothing behind the end
    EXPECT_EQ(Text(), "ab\rcde");
    Keys({GUI_KEY_HOME, GUI_KEY_BACKSPACE});   // joins the lines
    EXPECT_EQ(Text(), "abcde");
    EXPECT_EQ(box->mCursorColumn, 2);
}

TEST_F(EditBoxTest, RightAtTheEndOfTheLastLineStopsThere)
{
    Editor("ab\rcd");
    Focus();
    EXPECT_EQ(box->mCursorRow, 1);
    EXPECT_EQ(box->mCursorColumn, 2);
    for (int i = 0; i < 20; ++i) Keys({GUI_KEY_RIGHT});
    EXPECT_EQ(box->mCursorColumn, 2);
    Keys({'x'});
    EXPECT_EQ(Text(), "ab\rcdx");
    EXPECT_EQ(box->mCursorColumn, 3);
    // A full box takes no line end and the cursor stays at the end.
    box->mMaxChars = 6;
    Keys({GUI_KEY_ENTER});
    EXPECT_EQ(Text(), "ab\rcdx");
    EXPECT_EQ(box->mCursorColumn, 3);
    EXPECT_EQ(box->InsertKey('y'), 1);
    EXPECT_EQ(Text(), "ab\rcdx");
    // Delete at the end of a one-character text keeps it.
    box->DataSet("z");
    box->SetCursorRowCol(1);
    Keys({GUI_KEY_DELETE});
    EXPECT_EQ(Text(), "z");
}

TEST_F(EditBoxTest, KeysBeyondEightBitsAreRefusedWithOrWithoutAMark)
{
    Editor("hello");
    Focus();
    for (unsigned key : {256u, 300u, 599u, 601u, 604u, 9999u}) EXPECT_EQ(box->InsertKey(key), 0) << key;
    EXPECT_EQ(Text(), "hello");
    Drag("hello", 1, 3);
    ASSERT_TRUE(box->mEditFlags & GuiEditBox::MARKED);
    EXPECT_EQ(box->InsertKey(300), 0);
    EXPECT_EQ(Text(), "hello");
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::MARKED);
    EXPECT_EQ(box->InsertKey(0xE9), 1);   // an 8-bit character is a character
    EXPECT_EQ(Text(), "h\xE9lo");
}

TEST_F(EditBoxTest, AMarkIsReplacedByACharacterAndIgnoresBackspaceAndEnter)
{
    Editor("hello world");
    Focus();
    Drag("hello world", 0, 5);
    ASSERT_TRUE(box->mEditFlags & GuiEditBox::MARKED);
    EXPECT_FALSE(box->mEditFlags & GuiEditBox::EDITING);
    // The marked characters are drawn selected.
    EXPECT_GT(CountColour(box->mClient, 0x0000BF), 50);
    EXPECT_EQ(box->InsertKey(GUI_KEY_BACKSPACE), 0);
    EXPECT_EQ(box->InsertKey(GUI_KEY_ENTER), 0);
    EXPECT_EQ(Text(), "hello world");
    EXPECT_EQ(box->InsertKey('x'), 1);
    EXPECT_EQ(Text(), "x world");
    EXPECT_EQ(box->mCursorColumn, 1);
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::EDITING);
    EXPECT_EQ(CountColour(box->mClient, 0x0000BF), 0);

    // A mark over the whole text deleted leaves nothing and the cursor at 0, 0.
    Drag("x world", 0, 7);
    EXPECT_EQ(box->InsertKey(GUI_KEY_DELETE), 1);
    EXPECT_EQ(box->mpText, nullptr);
    EXPECT_EQ(box->mCursorColumn, 0);
    EXPECT_EQ(box->mCursorRow, 0);
}

TEST_F(EditBoxTest, AClickLeavesNoMarkAndADragSignalsOnlyWithItsMaskBit)
{
    Editor("hello world");
    Focus();
    Drag("hello world", 4, 4);
    EXPECT_FALSE(box->mEditFlags & GuiEditBox::MARKED);
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::EDITING);
    EXPECT_EQ(box->mCursorColumn, 4);
    Drag("hello world", 2, 8);
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::MARKED);
    Pump();
    EXPECT_EQ(Signals(kId, GUI_SIG_MARKED), 0);

    box->mSignalMask = 0x0100;
    Drag("hello world", 1, 6);
    Pump();
    EXPECT_EQ(Signals(kId, GUI_SIG_MARKED), 1);
    CURSOR_POS start{}, end{};
    box->GetMarkStartAndEnd(&start, &end);
    EXPECT_EQ(start.column, 1);
    EXPECT_EQ(end.column, 6);
    // Dragged backwards: the earlier point is the start.
    Drag("hello world", 9, 3);
    box->GetMarkStartAndEnd(&start, &end);
    EXPECT_EQ(start.column, 3);
    EXPECT_EQ(end.column, 9);
    EXPECT_EQ(box->mStatus & GS_CAPTURE, 0);
}

TEST_F(EditBoxTest, CutCopyAndPasteGoThroughTheScratchPad)
{
    Editor("hello world", 14);
    Focus();
    box->mSignalMask = 0x0200;
    Drag("hello world", 6, 11);
    Post(GuiMessage(GM_COPY));
    Pump();
    ASSERT_NE(pm->mpScratchPad, nullptr);
    EXPECT_STREQ(pm->mpScratchPad, "world");
    Post(GuiMessage(GM_CUT));
    Pump();
    Pump();
    EXPECT_EQ(Text(), "hello ");
    EXPECT_EQ(Signals(kId, GUI_SIG_CUT_PASTE), 1);
    Post(GuiMessage(GM_PASTE));
    Pump();
    EXPECT_EQ(Text(), "hello world");
    // Only as much as the maximum (14) leaves room for, then nothing.
    Post(GuiMessage(GM_PASTE));
    Pump();
    EXPECT_EQ(Text(), "hello worldwor");
    Post(GuiMessage(GM_PASTE));
    Pump();
    EXPECT_EQ(Text(), "hello worldwor");
    Pump();
    EXPECT_EQ(Signals(kId, GUI_SIG_CUT_PASTE), 4);
}

TEST_F(EditBoxTest, EditingEndsWithSignalTenWhenTheFocusGoes)
{
    Editor("abc");
    box->mSignalMask = 0x0400;
    auto* other = new GuiEditBox(GuiRect(340, 20, 619, 119), 4, GST_FRAME_THIN | 0x0100, nullptr, 10);
    host->Add(other, 1);
    Focus();
    Pump();
    const int before = Signals(kId, GUI_SIG_EDIT_DONE);
    Keys({'d'});
    pm->MoveFocusTree(other);
    Pump();
    EXPECT_EQ(Signals(kId, GUI_SIG_EDIT_DONE), before + 1);
    EXPECT_FALSE(box->mEditFlags & GuiEditBox::EDITING);
    EXPECT_EQ(CountColour(box->mClient, kCursor), 0);
    // Without the mask bit editing ends silently.
    box->mSignalMask = 0;
    Focus();
    pm->MoveFocusTree(other);
    Pump();
    EXPECT_EQ(Signals(kId, GUI_SIG_EDIT_DONE), before + 1);
}

TEST_F(EditBoxTest, TypingBelowTheWindowScrollsToKeepTheCursorInView)
{
    Editor(nullptr);
    box->SetScrollMode(GUI_SCROLL_V);
    Focus();
    const int visible = box->VisibleLines();
    for (int i = 0; i < visible + 3; ++i) Keys({'a', GUI_KEY_ENTER});
    EXPECT_EQ(box->mCursorRow, visible + 3);
    EXPECT_EQ(box->TopLine(), box->mCursorRow - visible + 1);
    // Up from the top line moves to the line above and scrolls one line.
    for (int i = 0; i < visible - 1; ++i) Keys({GUI_KEY_UP});
    EXPECT_EQ(box->mCursorRow, box->TopLine());
    const int top = box->TopLine();
    Keys({GUI_KEY_END, GUI_KEY_UP});
    EXPECT_EQ(box->TopLine(), top - 1);
    EXPECT_EQ(box->mCursorRow, top - 1);
    EXPECT_EQ(box->mCursorColumn, 0);
}

TEST_F(EditBoxTest, TypingPastTheRightEdgeScrollsSidewaysAndHomeComesBack)
{
    Editor(nullptr);
    box->SetScrollMode(GUI_SCROLL_H);
    ASSERT_NE(box->mpHScroll, nullptr);
    Focus();
    for (int i = 0; i < 60; ++i) Keys({'w'});
    EXPECT_GT(box->mHorizontalOffset, 0);
    EXPECT_LT(box->mCursorPoint.x, box->mClient.right);
    EXPECT_EQ(box->mpHScroll->mInfo.current, box->mHorizontalOffset);
    // The cursor is drawn, one line high, inside the client.
    const GuiRect ink = InkBox(box->mClient, kCursor);
    EXPECT_EQ(ink.Height(), box->LineHeight());
    EXPECT_EQ(ink.left, box->mCursorPoint.x);
    Keys({GUI_KEY_HOME});
    EXPECT_EQ(box->mHorizontalOffset, 0);
    EXPECT_EQ(box->mCursorColumn, 0);
}

TEST_F(EditBoxTest, ANonEditableBoxMarksItsTextOnFocusAndTakesNoPointerEdits)
{
    Editor("read only", 100, GST_FRAME_THIN | GST_ENABLED);
    box->mStatus |= GS_ACCEPTS_FOCUS;
    Focus();
    EXPECT_TRUE(box->mEditFlags & GuiEditBox::MARKED);
    Post(GuiMessage(GM_COPY));
    Pump();
    ASSERT_NE(pm->mpScratchPad, nullptr);
    EXPECT_STREQ(pm->mpScratchPad, "read only");
    Drag("read only", 0, 4);
    EXPECT_EQ(box->mStatus & GS_CAPTURE, 0);
}

}  // namespace
