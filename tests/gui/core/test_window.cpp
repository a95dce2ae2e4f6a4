// Windows: frames and wallpaper by pixels, moving and sizing by pointer
// messages, modal execution, maximise, minimise to an icon and back.
#include <gtest/gtest.h>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/core/test_runtime_pixels.h"

namespace {

using GuiWindowTest = GuiRuntimeTest;

constexpr uint32_t kLight = 0xC0C0C0, kDark = 0x808080, kWhite = 0xFFFFFF, kBlack = 0, kFill = 0x00A000;

GuiWindow* Show(GuiPresentationManager* pm, const GuiRect& r, unsigned style)
{
    auto* w = new GuiWindow(r, style);
    w->SetColor(0, kFill);
    pm->Add(w, 1);
    return w;
}

TEST_F(GuiWindowTest, EachFrameStyleDrawsItsEdgesAndFillsTheClient)
{
    // No frame: everything is the fill.
    GuiWindow* none = Show(pm, GuiRect(10, 10, 59, 59), GST_FRAME_NONE);
    EXPECT_EQ(CountColour(none->mOuter, kFill), 50 * 50);

    GuiWindow* thin = Show(pm, GuiRect(70, 10, 119, 59), GST_FRAME_THIN);
    EXPECT_EQ(Pixel(70, 10), kBlack);
    EXPECT_EQ(Pixel(119, 30), kBlack);
    EXPECT_EQ(CountColour(thin->mClient, kFill), 48 * 48);

    GuiWindow* raised = Show(pm, GuiRect(130, 10, 179, 59), GST_FRAME_RAISED);
    EXPECT_EQ(Pixel(130, 30), kLight);
    EXPECT_EQ(Pixel(131, 30), kWhite);
    EXPECT_EQ(Pixel(178, 30), kDark);
    EXPECT_EQ(Pixel(179, 30), kBlack);
    EXPECT_EQ(Pixel(150, 59), kBlack);
    EXPECT_EQ(CountColour(raised->mClient, kFill), 46 * 46);

    GuiWindow* sunk = Show(pm, GuiRect(190, 10, 239, 59), GST_FRAME_RECESSED);
    EXPECT_EQ(Pixel(190, 30), kDark);
    EXPECT_EQ(Pixel(191, 30), kBlack);
    EXPECT_EQ(Pixel(238, 30), kLight);
    EXPECT_EQ(Pixel(239, 30), kWhite);
    EXPECT_EQ(Pixel(210, 59), kWhite);
    EXPECT_EQ(CountColour(sunk->mClient, kFill), 46 * 46);

    GuiWindow* thick = Show(pm, GuiRect(250, 10, 299, 59), GST_FRAME_THICK);
    EXPECT_EQ(thick->mClient, GuiRect(255, 15, 294, 54));
    EXPECT_EQ(Pixel(251, 30), kWhite);
    EXPECT_EQ(Pixel(252, 30), kLight);
    EXPECT_EQ(Pixel(254, 30), kDark);   // just left of the client
    EXPECT_EQ(Pixel(296, 30), kWhite);
    EXPECT_EQ(Pixel(298, 30), kDark);
    EXPECT_EQ(Pixel(299, 30), kBlack);
    EXPECT_EQ(CountColour(thick->mClient, kFill), 40 * 40);
    // The thick frame makes the window sizable and movable.
    EXPECT_EQ(thick->mStatus & (GS_SIZABLE | GS_MOVABLE), GS_SIZABLE | GS_MOVABLE);
    EXPECT_FALSE(raised->mStatus & GS_SIZABLE);
}

TEST_F(GuiWindowTest, WallpaperIsTiledOrCentred)
{
    // 2 x 2: red, blue / blue, red (palette 12 and 9).
    uint8_t px[4] = {12, 9, 9, 12};
    GuiBitmap paper{0, 8, 2, 2, 0, px};
    auto* tiled = new GuiWindow(GuiRect(10, 10, 29, 29), GST_FRAME_NONE);
    auto* centred = new GuiWindow(GST_FRAME_NONE);
    EXPECT_EQ(tiled->mWallpaperMode, 1);
    EXPECT_EQ(centred->mWallpaperMode, 0);
    tiled->SetWallpaper(&paper, tiled->mWallpaperMode);
    centred->Resize(GuiRect(40, 10, 59, 29));
    centred->InitClient();
    centred->SetColor(0, kFill);
    centred->SetWallpaper(&paper, centred->mWallpaperMode);
    pm->Add(tiled, 1);
    pm->Add(centred, 1);
    EXPECT_EQ(CountColour(tiled->mOuter, 0xFF0000), 200);
    EXPECT_EQ(CountColour(tiled->mOuter, 0x0000FF), 200);
    EXPECT_EQ(Pixel(10, 10), 0xFF0000u);
    EXPECT_EQ(Pixel(29, 28), 0x0000FFu);
    // Centred: one copy in the middle of a filled client.
    EXPECT_EQ(CountColour(centred->mOuter, 0xFF0000), 2);
    EXPECT_EQ(Pixel(49, 19), 0xFF0000u);
    EXPECT_EQ(Pixel(48, 19), 0x0000FFu);
    EXPECT_EQ(CountColour(centred->mOuter, kFill), 400 - 4);
}

TEST_F(GuiWindowTest, BordersSizeAndWholeWindowMovesWithinTheLimits)
{
    GuiWindow* w = Show(pm, GuiRect(100, 100, 299, 249), GST_FRAME_THICK);
    EXPECT_EQ(w->BorderContains(GuiPoint{102, 150}), GUI_BORDER_LEFT);
    EXPECT_EQ(w->BorderContains(GuiPoint{297, 247}), GUI_BORDER_RIGHT | GUI_BORDER_BOTTOM);
    EXPECT_EQ(w->BorderContains(GuiPoint{150, 150}), 0);

    // Drag the left border out to x 80.
    Post(PointerAt(GM_POINTER_PRESS, 102, 150));
    Post(PointerAt(GM_POINTER_MOVE, 90, 150));
    Post(PointerAt(GM_POINTER_MOVE, 82, 150));
    Post(PointerAt(GM_POINTER_RELEASE, 82, 150));
    Pump();
    EXPECT_EQ(w->mOuter, GuiRect(80, 100, 299, 249));
    EXPECT_EQ(w->mClient, GuiRect(85, 105, 294, 244));
    EXPECT_EQ(w->mMoveMode, 0);
    EXPECT_EQ(pm->GetPointerOwner(), nullptr);

    // Too far to the right: the left edge stops at the limit, the right stays.
    Post(PointerAt(GM_POINTER_PRESS, 82, 150));
    Post(PointerAt(GM_POINTER_RELEASE, 292, 150));
    Pump();
    EXPECT_EQ(w->mOuter.right, 299);
    EXPECT_EQ(w->mOuter.left, 286);   // client keeps 4 pixels
    EXPECT_EQ(w->mClient.right - w->mClient.left, 3);

    // A release where the press was changes nothing.
    const GuiRect before = w->mOuter;
    Post(PointerAt(GM_POINTER_PRESS, 297, 200));
    Post(PointerAt(GM_POINTER_RELEASE, 297, 200));
    Pump();
    EXPECT_EQ(w->mOuter, before);

    // Message 21 moves the whole window; the XOR outline is gone afterwards.
    GuiMessage start(GM_START_MOVE, GUI_MOVE_WINDOW, w, nullptr);
    start.SetPoint(GuiPoint{290, 150});
    Post(start);
    Post(PointerAt(GM_POINTER_MOVE, 300, 160));
    Post(PointerAt(GM_POINTER_RELEASE, 310, 170));
    Pump();
    EXPECT_EQ(w->mOuter, GuiRect(before.left + 20, before.top + 20, before.right + 20, before.bottom + 20));
    EXPECT_EQ(w->mMoveOutlineShown, 0);
    EXPECT_EQ(Pixel(before.right + 20, 200), kBlack);
}

TEST_F(GuiWindowTest, ExecuteReturnsTheIdOfTheClosingButton)
{
    auto* w = new RecWindow(GuiRect(100, 100, 299, 199));
    GuiRect ok(110, 110, 169, 139), other(200, 110, 259, 139);
    w->Add(new GuiTextButton(ok, "OK", 1002, GST_ENABLED), 0);
    w->Add(new GuiTextButton(other, "More", 1001, GST_ENABLED), 0);
    // A press outside the modal window is dropped; 1001 does not close it.
    Click(mq, 20, 20);
    Click(mq, 220, 120);
    Click(mq, 130, 120);
    EXPECT_EQ(w->Execute(1), 1002);
    EXPECT_EQ(w->Count(GuiSignalType(1001, GUI_SIG_CLICKED)), 1);
    EXPECT_FALSE(w->IsVisible());
    Pump();   // the deferred deletion
    EXPECT_EQ(pm->mpFirstChild, nullptr);
}

TEST_F(GuiWindowTest, GlobalModalWindowKeepsThePointerUntilItCloses)
{
    auto* back = new RecWindow(GuiRect(0, 0, 639, 479));
    pm->Add(back, 1);
    auto* w = new RecWindow(GuiRect(100, 100, 299, 199));
    GuiRect ok(110, 110, 169, 139);
    auto* button = new GuiTextButton(ok, "OK", 1002, GST_ENABLED);
    w->Add(button, 0);
    Click(mq, 20, 20);   // on the background: it stays there
    Post(PointerAt(GM_POINTER_MOVE, 120, 120));
    Click(mq, 130, 120);
    EXPECT_EQ(w->GlobalModalExecute(), 1002);
    EXPECT_EQ(back->Count(GM_POINTER_PRESS), 0);
    EXPECT_EQ(pm->GetPointerOwner(), nullptr);
    EXPECT_EQ(pm->mpPointerOver, nullptr);
    Pump();
    EXPECT_EQ(pm->mpFirstChild, back);
}

TEST_F(GuiWindowTest, MinimisedWindowComesBackThroughItsIcon)
{
    GuiWindow* w = Show(pm, GuiRect(100, 100, 299, 249), GST_FRAME_THICK);
    w->mId = 9;
    Post(GuiMessage(GM_MINIMIZE, 0, w, nullptr));
    Pump();
    EXPECT_FALSE(w->IsVisible());
    GuiThing* icon = pm->mpFirstChild;
    ASSERT_NE(icon, nullptr);
    ASSERT_EQ(icon->mType, GT_ICON);
    EXPECT_EQ(icon->mId, 9);
    // Bottom-left of the screen, the built-in icon drawn there.
    EXPECT_EQ(icon->mOuter.left, 10);
    EXPECT_EQ(icon->mOuter.top, 479 - gbWinIconBitmap.height - 10);
    EXPECT_EQ(Pixel(icon->mOuter.left + 1, icon->mOuter.top + 1), kBlack);
    // A second icon lines up 10 pixels right of the first.
    GuiWindow* other = Show(pm, GuiRect(300, 100, 399, 149), GST_FRAME_THICK);
    Post(GuiMessage(GM_MINIMIZE, 0, other, nullptr));
    Pump();
    ASSERT_EQ(pm->mpFirstChild->mType, GT_ICON);
    EXPECT_EQ(pm->mpFirstChild->mOuter.left, icon->mOuter.right + 10);

    Click(mq, icon->mOuter.left + 5, icon->mOuter.top + 5);
    Pump();
    Pump();
    EXPECT_TRUE(w->IsVisible());
    EXPECT_EQ(w->mpParent, pm);
    int icons = 0;
    for (GuiThing* c = pm->mpFirstChild; c; c = c->mpNext) icons += c->mType == GT_ICON;
    EXPECT_EQ(icons, 1);   // only the other window's is left
}

TEST_F(GuiWindowTest, MaximiseFillsTheParentAndRestoreGoesBack)
{
    GuiWindow* w = Show(pm, GuiRect(100, 100, 299, 249), GST_FRAME_THICK);
    GuiWindow* fixed = Show(pm, GuiRect(400, 100, 499, 149), GST_FRAME_RAISED);
    Post(GuiMessage(GM_MAXIMIZE, 0, w, nullptr));
    Post(GuiMessage(GM_MAXIMIZE, 0, fixed, nullptr));   // not sizable: ignored
    Pump();
    EXPECT_EQ(w->mOuter, pm->mClient);
    EXPECT_EQ(w->mMaximized, 1);
    EXPECT_EQ(fixed->mOuter, GuiRect(400, 100, 499, 149));
    // No border sizing while maximised.
    Post(PointerAt(GM_POINTER_PRESS, 2, 200));
    Pump();
    EXPECT_EQ(w->mMoveMode, 0);
    Post(GuiMessage(GM_RESTORE, 0, w, nullptr));
    Pump();
    EXPECT_EQ(w->mOuter, GuiRect(100, 100, 299, 249));
    EXPECT_EQ(w->mMaximized, 0);
}

TEST_F(GuiWindowTest, StartWindowShowsAFramedWindowWithTitleAndButton)
{
    GuiShowStartWindow(pm);
    GuiThing* main = pm->mpFirstChild;
    ASSERT_NE(main, nullptr);
    GuiThing* panel = main->mpFirstChild;
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->mStyle & GST_FRAME_MASK, GST_FRAME_THICK);
    EXPECT_EQ(Pixel(panel->mOuter.right, panel->mOuter.top + 50), kBlack);
    // The title prompt: blue with white text across the top of the client.
    const GuiRect& c = panel->mClient;
    const GuiRect title(c.left, c.top, c.right, c.top + 21);
    EXPECT_GT(CountColour(title, 0x0000BF), title.Width() * title.Height() / 2);
    EXPECT_GT(CountColour(title, kWhite), 20);
    // A text button with its bevel.
    GuiThing* button = nullptr;
    for (GuiThing* t = panel->mpFirstChild; t; t = t->mpNext)
        if (t->mType == GT_TEXT_BUTTON) button = t;
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(Pixel(button->mOuter.left, button->mOuter.top + 5), kWhite);
    EXPECT_EQ(Pixel(button->mOuter.right, button->mOuter.top + 5), kBlack);
    EXPECT_GT(CountColour(button->mOuter, kBlack), 2 * button->mOuter.Height());   // edge and text
}

}  // namespace
