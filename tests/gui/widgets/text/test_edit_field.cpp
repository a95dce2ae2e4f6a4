// Single-line edit field: the maximum, delete and End keeping the text and
// its length in step, scrolling by whole characters, a field narrower than
// a character, the focus marking the text and signal 10 on losing it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gui/widgets/text/gui_text_keys.h"
#include "gui/widgets/text/gui_edit_field.h"
#include "gui/widgets/text/text_widget_fixture.h"

namespace {

using namespace textwidgets;

constexpr unsigned short kEditable = 0x0100;

class EditFieldTest : public TextWidgetTest {
protected:
    GuiEditField* Field(const char* text, int maxChars, int width = 200, unsigned short id = 7,
                        unsigned short style = GST_FRAME_THIN | kEditable)
    {
        field = new GuiEditField(GuiRect(20, 20, 20 + width - 1, 41), text, id, style, maxChars);
        host->Add(field, 1);
        return field;
    }
    std::string Text() const { return field->mpText ? field->mpText : ""; }
    void Keys(const char* text)
    {
        for (const char* p = text; *p; ++p) EXPECT_EQ(field->InsertKey(static_cast<unsigned char>(*p)), 1);
    }

    GuiEditField* field = nullptr;
};

TEST_F(EditFieldTest, TheMaximumRefusesFurtherCharacters)
{
    Field(nullptr, 5);
    Keys("abcde");
    EXPECT_EQ(field->InsertKey('f'), 0);
    EXPECT_EQ(Text(), "abcde");
    EXPECT_EQ(field->mCursor, 5);

    // Maximum 0 takes nothing and the cursor stays at the text's end.
    Field(nullptr, 0, 200, 8);
    EXPECT_EQ(field->InsertKey('a'), 0);
    EXPECT_EQ(field->mpText, nullptr);
    EXPECT_EQ(field->mCursor, 0);

    // A negative maximum never limits.
    Field(nullptr, -1, 200, 9);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(field->InsertKey('x'), 1);
    EXPECT_EQ(field->TextLength(), 300);
}

TEST_F(EditFieldTest, DeleteKeepsTheLengthInStepThenEndAndACharacterAppend)
{
    Field("abcdef", 20);
    // Shown with the focus, the text is marked whole: the mark goes first.
    EXPECT_TRUE(field->mFieldFlags & GuiEditField::MARKED);
    field->SetMark(0, 0);
    ASSERT_EQ(field->mCursor, 0);
    EXPECT_EQ(field->InsertKey(GUI_KEY_DELETE), 1);
    EXPECT_EQ(Text(), "bcdef");
    EXPECT_EQ(field->mLength, 6);
    EXPECT_EQ(field->InsertKey(GUI_KEY_END), 1);
    EXPECT_EQ(field->mCursor, 5);
    EXPECT_EQ(field->InsertKey('x'), 1);
    EXPECT_EQ(Text(), "bcdefx");
    EXPECT_TRUE(field->mFieldFlags & GuiEditField::MODIFIED);

    // Left, backspace and home.
    EXPECT_EQ(field->InsertKey(GUI_KEY_LEFT), 1);
    EXPECT_EQ(field->InsertKey(GUI_KEY_BACKSPACE), 1);
    EXPECT_EQ(Text(), "bcdex");
    EXPECT_EQ(field->mCursor, 4);
    EXPECT_EQ(field->InsertKey(GUI_KEY_HOME), 1);
    EXPECT_EQ(field->mCursor, 0);
    EXPECT_EQ(field->InsertKey(GUI_KEY_BACKSPACE), 1);
    EXPECT_EQ(Text(), "bcdex");

    // Deleting the last character leaves no text at all.
    Field("z", 20, 200, 8);
    field->SetMark(0, 0);
    EXPECT_EQ(field->InsertKey(GUI_KEY_DELETE), 1);
    EXPECT_EQ(field->mpText, nullptr);
    EXPECT_EQ(field->InsertKey(GUI_KEY_DELETE), 1);
}

TEST_F(EditFieldTest, TypingPastTheRightEdgeScrollsByWholeCharacters)
{
    Field(nullptr, 100, 60);
    const std::string typed = "abcdefghijklmnopqrst";
    Keys(typed.c_str());
    EXPECT_GT(field->mFirstVisible, 0);
    EXPECT_LT(field->mCursorPoint.x, field->mClient.right);
    // The cursor sits where the visible characters end.
    const int shown = GuiThing::mpScreen->TextWidth(field->mpText + field->mFirstVisible, &SysFont, -1);
    EXPECT_EQ(field->mCursorPoint.x, field->mClient.left + 1 + shown);
    // Home and left bring the start back.
    EXPECT_EQ(field->InsertKey(GUI_KEY_HOME), 1);
    EXPECT_EQ(field->mFirstVisible, 0);
    EXPECT_EQ(field->InsertKey(GUI_KEY_END), 1);
    const int first = field->mFirstVisible;
    EXPECT_GT(first, 0);
    for (int i = 0; i < 20; ++i) field->InsertKey(GUI_KEY_LEFT);
    EXPECT_EQ(field->mCursor, 0);
    EXPECT_EQ(field->mFirstVisible, 0);
    EXPECT_GE(field->mCursorPoint.x, field->mClient.left);
}

TEST_F(EditFieldTest, AFieldNarrowerThanACharacterStopsScrollingAtTheCursor)
{
    Field(nullptr, 100, 3);   // the frame and the inner margin leave no client at all
    Keys("word");
    EXPECT_EQ(field->InsertKey(GUI_KEY_END), 1);
    EXPECT_EQ(field->mCursor, 4);
    EXPECT_LE(field->mFirstVisible, 4);
    EXPECT_EQ(field->InsertKey(GUI_KEY_RIGHT), 1);
    field->DataSet("another word");
    EXPECT_LE(field->mFirstVisible, field->TextLength());
    GuiThing::mpScreen->Invalidate(field->mOuter);
    field->Draw();
}

TEST_F(EditFieldTest, APointerPositionPicksTheNearestCharacterBoundary)
{
    Field("mmmm", 20);
    const int wm = GuiThing::mpScreen->TextWidth("m", &SysFont, -1);
    const int left = field->mClient.left;
    field->SetCursorPos(GuiPoint{int16_t(left + 1 + 2 * wm + 1), 30});   // just right of the second boundary
    EXPECT_EQ(field->mCursor, 2);
    EXPECT_EQ(field->mCursorPoint.x, left + 1 + 2 * wm);
    field->SetCursorPos(GuiPoint{int16_t(left + 1 + 2 * wm + wm - 2), 30});   // nearer the third
    EXPECT_EQ(field->mCursor, 3);
    field->SetCursorPos(GuiPoint{int16_t(left + 500), 30});
    EXPECT_EQ(field->mCursor, 4);
    field->SetCursorPos(GuiPoint{int16_t(left - 50), 30});
    EXPECT_EQ(field->mCursor, 0);
}

TEST_F(EditFieldTest, KeysBeyondEightBitsChangeNothing)
{
    Field("abc", 10);
    for (int key : {256, 300, 599, 601, 13, 606}) EXPECT_EQ(field->InsertKey(key), 0) << key;
    EXPECT_EQ(Text(), "abc");
    EXPECT_FALSE(field->mFieldFlags & GuiEditField::MODIFIED);
    field->SetMark(0, 2);
    EXPECT_EQ(field->InsertKey(300), 0);
    EXPECT_EQ(Text(), "abc");
    EXPECT_EQ(field->InsertKey('Z'), 1);
    EXPECT_EQ(Text(), "Zc");
}

TEST_F(EditFieldTest, FocusMarksTheTextAndTheFirstKeyReplacesIt)
{
    Field("old text", 20);
    pm->MoveFocusTree(field);
    EXPECT_TRUE(field->mFieldFlags & GuiEditField::MARKED);
    EXPECT_GT(CountColour(field->mClient, 0x0000BF), 50);
    EXPECT_EQ(field->InsertKey('n'), 1);
    EXPECT_EQ(Text(), "n");
    EXPECT_EQ(field->mCursor, 1);
    EXPECT_FALSE(field->mFieldFlags & GuiEditField::MARKED);

    // With a mark, left goes to the start and right to the end.
    field->DataSet("abcdef");
    field->SetMark(2, 4);
    EXPECT_EQ(field->InsertKey(GUI_KEY_LEFT), 1);
    EXPECT_EQ(field->mCursor, 0);
    field->SetMark(2, 4);
    EXPECT_EQ(field->InsertKey(GUI_KEY_RIGHT), 1);
    EXPECT_EQ(field->mCursor, 6);
    // An empty mark is dropped.
    field->SetMark(2, 2);
    EXPECT_FALSE(field->mFieldFlags & GuiEditField::MARKED);
}

TEST_F(EditFieldTest, LosingTheFocusAfterAChangeSignalsOnlyWhenEditableWithAnId)
{
    struct Case {
        unsigned short id;
        unsigned short style;
        int signals;
    };
    auto* other = new GuiEditField(GuiRect(300, 300, 399, 321), nullptr, 99, GST_FRAME_THIN | kEditable, 10);
    host->Add(other, 1);
    for (const Case c : {Case{7, GST_FRAME_THIN | kEditable, 1}, Case{0, GST_FRAME_THIN | kEditable, 0},
                         Case{8, GST_FRAME_THIN, 0}}) {
        Field("abc", 10, 200, c.id, c.style);
        field->mStatus |= GS_ACCEPTS_FOCUS;   // a read-only field takes the focus only when told
        pm->MoveFocusTree(field);
        // Unchanged: no signal.
        pm->MoveFocusTree(other);
        pm->MoveFocusTree(field);
        field->InsertKey(GUI_KEY_END);
        field->InsertKey('d');
        pm->MoveFocusTree(other);
        Pump();
        EXPECT_EQ(Signals(c.id, 10), c.signals) << "id " << c.id;
        host->Remove(field, 1);
        delete field;
    }
}

TEST_F(EditFieldTest, PasteKeepsTheTextBehindTheCursorWithinTheMaximum)
{
    Field("abcd", 6);
    pm->SetScratchPad("XYZ");
    field->InsertKey(GUI_KEY_END);
    field->InsertKey(GUI_KEY_LEFT);
    field->InsertKey(GUI_KEY_LEFT);
    field->mFieldFlags &= uint16_t(~(GuiEditField::MARKED | GuiEditField::MARK_ALL_NEXT));
    field->PasteFromScratchPad();
    EXPECT_EQ(Text(), "abXYcd");
    // Cut and copy through messages.
    field->SetMark(0, 2);
    field->Message(GuiMessage(GM_CUT, 0, field));
    EXPECT_EQ(Text(), "XYcd");
    EXPECT_STREQ(pm->mpScratchPad, "ab");
    EXPECT_TRUE(field->mFieldFlags & GuiEditField::MODIFIED);
}

TEST_F(EditFieldTest, SizedConstructorsFollowTheFontAndTheFrame)
{
    const int h = GuiThing::mpScreen->TextHeight(nullptr, &SysFont);
    auto* a = new GuiEditField(10, 300, 120, "x", 0, GST_FRAME_RECESSED | kEditable, 10);
    EXPECT_EQ(a->mOuter, GuiRect(10, 300, 129, 300 + h + 4));
    auto* b = new GuiEditField(10, 350, "sized", 0, GST_FRAME_THIN, 10);
    EXPECT_EQ(b->mOuter.right, 10 + GuiThing::mpScreen->TextWidth("sized", &SysFont, -1) + 10);
    EXPECT_EQ(b->mOuter.bottom, 350 + h + 2);
    EXPECT_EQ(b->mClient.left, b->mOuter.left + 2);
    EXPECT_EQ(b->mSignalMask, 0);
    EXPECT_EQ(a->mSignalMask, 1 << 10);
    delete a;
    delete b;
}

}  // namespace
