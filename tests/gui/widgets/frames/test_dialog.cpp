// Dialogs and message windows closing through their command buttons, run
// modally or modeless with an owner, and the sizes of the message windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gui/core/gui_button.h"
#include "gui/widgets/frames/frames_fixture.h"
#include "gui/widgets/frames/gui_message_window.h"
#include "gui/widgets/frames/gui_title.h"
#include "gui/widgets/text/gui_text_box.h"

namespace {

class DialogTest : public FramesTest {
protected:
    GuiDialog* MakeDialog(GuiThing* dialogOwner) {
        auto* d = new GuiDialog(GuiRect(200, 100, 439, 299), "Setup", dialogOwner, GST_FRAME_THIN);
        GuiRect ok(210, 250, 269, 279), apply(300, 250, 359, 279);
        okButton = new GuiTextButton(ok, "OK", GUI_ID_OK, GST_ENABLED);
        applyButton = new GuiTextButton(apply, "Apply", GUI_ID_NOTIFY, GST_ENABLED);
        d->Add(okButton, 0);
        d->Add(applyButton, 0);
        return d;
    }
    GuiMessage ClickOf(GuiThing* window, uint16_t id) {
        return GuiMessage(GuiSignalType(id, GUI_SIG_CLICKED), id, window, nullptr);
    }
    GuiTextButton* okButton = nullptr;
    GuiTextButton* applyButton = nullptr;
};

TEST_F(DialogTest, ModalDialogEndsWithTheIdOfOkAndIgnoresTheNotifyButton)
{
    GuiDialog* d = MakeDialog(owner);
    ASSERT_NE(d->mpTitle, nullptr);
    EXPECT_TRUE(d->mStatus & GS_MOVABLE);
    Click(mq, 330, 265);   // id 1004: ignored while modal
    Click(mq, 240, 265);   // OK
    EXPECT_EQ(d->Execute(1), GUI_ID_OK);
    EXPECT_TRUE(OwnerGot(GM_DIALOG_NOTIFY).empty());
    Pump();   // the deferred deletion
    EXPECT_EQ(pm->mpFirstChild, owner);
}

TEST_F(DialogTest, ModelessDialogNotifiesItsOwnerAndCloses)
{
    GuiDialog* d = MakeDialog(owner);
    pm->Add(d, 1);
    Pump();
    ClickOn(applyButton);   // notifies, stays open
    ASSERT_EQ(OwnerGot(GM_DIALOG_NOTIFY).size(), 1u);
    EXPECT_EQ(OwnerGot(GM_DIALOG_NOTIFY)[0].data, GUI_ID_NOTIFY);
    EXPECT_TRUE(d->IsVisible());

    ClickOn(okButton);
    const auto notes = OwnerGot(GM_DIALOG_NOTIFY);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].data, GUI_ID_OK);
    EXPECT_EQ(notes[1].source, d);
    EXPECT_EQ(pm->mpFirstChild, owner);
}

TEST_F(DialogTest, DialogWithoutOwnerTellsTheWindowItIsShownIn)
{
    auto* d = new GuiDialog(GuiRect(200, 100, 439, 299), nullptr, nullptr, GST_FRAME_THIN);
    EXPECT_EQ(d->mpTitle, nullptr);
    owner->Add(d, 1);
    EXPECT_EQ(d->mpOwner, owner);
    Post(ClickOf(d, GUI_ID_CANCEL));
    Pump();
    ASSERT_EQ(OwnerGot(GM_DIALOG_NOTIFY).size(), 1u);
    EXPECT_EQ(OwnerGot(GM_DIALOG_NOTIFY)[0].data, GUI_ID_CANCEL);
}

TEST_F(DialogTest, MessageWindowHandsItsOwnerTheClickType)
{
    auto* m = new GuiMessageWindow("Logging", "Stick full", GMW_OK | GMW_CANCEL, nullptr, owner);
    pm->Add(m, 1);
    Pump();
    GuiThing* ok = m->Find(GUI_ID_OK, 0);
    ASSERT_NE(ok, nullptr);
    ClickOn(ok);
    const auto notes = OwnerGot(GM_MSGWIN_NOTIFY);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(uint16_t(notes[0].data), 16164);
    EXPECT_EQ(notes[0].source, m);
    EXPECT_EQ(pm->mpFirstChild, owner);

    // Modal, the window ends Execute with the id; 1004 closes it too.
    auto* modal = new GuiMLMessageWindow(nullptr, "Retry?", GMW_YES | GMW_NO, nullptr, owner);
    Post(ClickOf(modal, GUI_ID_NOTIFY));
    EXPECT_EQ(modal->Execute(1), GUI_ID_NOTIFY);
    Pump();
    EXPECT_EQ(OwnerGot(GM_MSGWIN_NOTIFY).size(), 1u);
}

TEST_F(DialogTest, ContentSizedMessageWindows)
{
    auto* empty = new GuiMessageWindow(nullptr, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(empty->mOuter.Width(), 81);
    EXPECT_EQ(empty->mOuter.Height(), 27);
    delete empty;

    // Buttons sit in a row centred in the client width, "Cancel" wide.
    auto* m = new GuiMessageWindow("Pit", "Box this lap", GMW_OK | GMW_YES | GMW_NO, nullptr, nullptr);
    const int bw = GuiThing::mpScreen->TextWidth("Cancel", &MenuFont, -1) + 8;
    GuiThing* yes = m->Find(GUI_ID_YES, 0);
    GuiThing* no = m->Find(GUI_ID_NO, 0);
    ASSERT_TRUE(yes && no);
    EXPECT_EQ(no->mOuter.left - yes->mOuter.left, bw + 8);
    const int leftGap = m->Find(GUI_ID_OK, 0)->mOuter.left - m->mClient.left;
    const int rightGap = m->mClient.right - no->mOuter.left - bw + 1;
    EXPECT_LE(leftGap, rightGap);
    EXPECT_LE(rightGap - leftGap, 1);
    // Centred on the screen.
    EXPECT_EQ(m->mOuter.left, (pm->mClient.right - (m->mOuter.right - m->mOuter.left)) / 2);
    delete m;

    // An icon wider than the room beside the text widens the window.
    GuiBitmap icon{0, 8, 200, 30, 0, nullptr};
    auto* wide = new GuiMessageWindow(nullptr, "Hot", 0, &icon, nullptr);
    EXPECT_EQ(wide->mOuter.Width() - 1, wide->mMessageWidth + 200 + 24);
    delete wide;
}

TEST_F(DialogTest, MultiLineMessageWindowGrowsUntilEveryLineFits)
{
    auto* none = new GuiMLMessageWindow("Note", nullptr, GMW_OK, nullptr, nullptr);
    EXPECT_EQ(none->mpTextBox, nullptr);
    const int plain = none->mOuter.Height();
    delete none;

    const char* text = "Oil pressure dropped below the warning limit on the last three laps; "
                       "check the sensor and the pump before the next outing.";
    auto* m = new GuiMLMessageWindow("Note", text, GMW_OK, nullptr, nullptr);
    ASSERT_NE(m->mpTextBox, nullptr);
    const int line = GuiThing::mpScreen->TextHeight(nullptr, &MenuFont);
    const int lines = m->mpTextBox->TotalLines();
    EXPECT_GT(lines, 3);
    // Every line shows inside the box's border whitespace.
    EXPECT_GE(m->mpTextBox->VisibleLines(), lines);
    const int growth = m->mOuter.Height() - plain;
    EXPECT_GT(growth, 0);
    EXPECT_EQ(growth % (line + 3), 0);
    EXPECT_LT(m->mpTextBox->mOuter.Height() - 4 - (line + 3), lines * line);
    // The buttons stay below the text.
    EXPECT_GT(m->Find(GUI_ID_OK, 0)->mOuter.top, m->mpTextBox->mOuter.bottom);
    delete m;

    // Whatever the count of lines, the last one shows.
    std::string many;
    for (int n = 1; n <= 24; ++n) {
        many += "Lap\n";
        auto* w = new GuiMLMessageWindow(nullptr, many.c_str(), GMW_OK, nullptr, nullptr);
        EXPECT_GE(w->mpTextBox->VisibleLines(), w->mpTextBox->TotalLines()) << n;
        delete w;
    }
}

}  // namespace
