// Buttons: clicks and the signal mask, dragging out and back, radio
// buttons and check boxes, auto-repeat by timer ticks, the bevel by pixels.
#include <gtest/gtest.h>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/core/test_runtime_pixels.h"

namespace {

using GuiButtonTest = GuiRuntimeTest;

RecWindow* Host(GuiPresentationManager* pm)
{
    auto* w = new RecWindow(GuiRect(0, 0, 399, 299));
    pm->Add(w, 1);
    return w;
}

TEST_F(GuiButtonTest, ClickReachesTheParentOnlyWithTheSignalMask)
{
    RecWindow* w = Host(pm);
    GuiRect r(10, 10, 69, 39);
    auto* b = new GuiTextButton(r, "Go", 5, GST_ENABLED);
    w->Add(b, 1);
    const uint16_t clicked = GuiSignalType(5, GUI_SIG_CLICKED);
    Click(mq, 20, 20);
    Pump();
    EXPECT_EQ(w->Count(clicked), 1);
    EXPECT_FALSE(b->IsPressed());
    EXPECT_EQ(pm->GetPointerOwner(), nullptr);

    b->mSignalMask = 0;
    Click(mq, 20, 20);
    Pump();
    EXPECT_EQ(w->Count(clicked), 1);

    // Dragged out and back in before the release: one click; released
    // outside: none.
    b->mSignalMask = 1u << GUI_SIG_CLICKED;
    Post(PointerAt(GM_POINTER_PRESS, 20, 20));
    Post(PointerAt(GM_POINTER_MOVE, 200, 200));
    Pump();
    EXPECT_FALSE(b->IsPressed());
    Post(PointerAt(GM_POINTER_MOVE, 30, 20));
    Pump();
    EXPECT_TRUE(b->IsPressed());
    Post(PointerAt(GM_POINTER_RELEASE, 30, 20));
    Post(PointerAt(GM_POINTER_PRESS, 20, 20));
    Post(PointerAt(GM_POINTER_MOVE, 200, 200));
    Post(PointerAt(GM_POINTER_RELEASE, 200, 200));
    Pump();
    EXPECT_EQ(w->Count(clicked), 2);

    // A disabled button takes no press.
    b->Disable();
    Click(mq, 20, 20);
    Pump();
    EXPECT_EQ(w->Count(clicked), 2);
    EXPECT_FALSE(b->mStatus & GS_SELECTABLE);
}

TEST_F(GuiButtonTest, FaceAndBevelFollowThePressedState)
{
    RecWindow* w = Host(pm);
    GuiRect r(10, 10, 69, 39);
    auto* b = new GuiButton(r, 0, GST_ENABLED, nullptr, 0);
    w->Add(b, 1);
    EXPECT_EQ(Pixel(10, 20), 0xFFFFFFu);   // white left edge
    EXPECT_EQ(Pixel(69, 20), 0u);          // black right edge
    EXPECT_EQ(Pixel(68, 20), 0x808080u);
    EXPECT_EQ(Pixel(30, 25), 0xC0C0C0u);
    Post(PointerAt(GM_POINTER_PRESS, 20, 20));
    Pump();
    EXPECT_EQ(Pixel(10, 20), 0u);
    EXPECT_EQ(Pixel(11, 20), 0x808080u);
    EXPECT_EQ(Pixel(69, 20), 0xFFFFFFu);
    EXPECT_EQ(b->mClient.left, 11);   // the content shifts by one pixel
    Post(PointerAt(GM_POINTER_RELEASE, 20, 20));
    Pump();
}

TEST_F(GuiButtonTest, RadioButtonsExcludeEachOtherAndCheckBoxesToggle)
{
    RecWindow* w = Host(pm);
    auto* r1 = new GuiRadioButton(10, 10, "One", 1, GST_ENABLED);
    auto* r2 = new GuiRadioButton(10, 40, "Two", 2, GST_ENABLED);
    auto* r3 = new GuiRadioButton(10, 70, "Three", 3, 0);   // disabled
    auto* box = new GuiCheckBox(200, 10, "Box", 4, GST_ENABLED);
    for (GuiThing* t : {static_cast<GuiThing*>(r1), static_cast<GuiThing*>(r2), static_cast<GuiThing*>(r3),
                        static_cast<GuiThing*>(box)})
        w->Add(t, 1);
    EXPECT_EQ(r1->mSignalMask, 1u << GUI_SIG_SELECTED);
    r1->mSignalMask |= 1u << GUI_SIG_DESELECTED;
    // Sized by the mark and the text.
    EXPECT_EQ(r1->mOuter.bottom - r1->mOuter.top, MenuFont.height + 4);

    Click(mq, 15, 15);
    Pump();
    EXPECT_TRUE(r1->IsSelected());
    w->seen.clear();
    Click(mq, 15, 45);
    Pump();
    EXPECT_FALSE(r1->IsSelected());
    EXPECT_TRUE(r2->IsSelected());
    // The old one's signal 11 comes before the new one's 10.
    std::vector<uint16_t> signals;
    for (const auto& m : w->seen)
        if (m.type >= GM_SIGNAL_BASE) signals.push_back(m.type);
    EXPECT_EQ(signals, (std::vector<uint16_t>{GuiSignalType(1, GUI_SIG_DESELECTED), GuiSignalType(2, GUI_SIG_SELECTED)}));
    // The selected one shows the "on" mark: its centre is black.
    const int cy = (r2->mOuter.top + r2->mOuter.bottom) / 2;
    EXPECT_EQ(Pixel(r2->mOuter.left + 3 + 5, cy - 6 + 5), 0u);

    // A disabled radio button ignores presses and shows the disabled mark.
    Click(mq, 15, 75);
    Pump();
    EXPECT_FALSE(r3->IsSelected());
    EXPECT_TRUE(r2->IsSelected());
    EXPECT_EQ(Pixel(r3->mOuter.left + 3 + 5, (r3->mOuter.top + r3->mOuter.bottom) / 2 - 6 + 5), 0xC0C0C0u);

    Click(mq, 205, 15);
    Pump();
    EXPECT_TRUE(box->IsChecked());
    Click(mq, 205, 15);
    Pump();
    EXPECT_FALSE(box->IsChecked());
    EXPECT_EQ(w->Count(GuiSignalType(4, GUI_SIG_CHANGED)), 1);
    EXPECT_EQ(w->Count(GuiSignalType(4, GUI_SIG_UNCHECKED)), 1);
}

TEST_F(GuiButtonTest, AutoRepeatAfterOneSecondThenEveryQuarter)
{
    RecWindow* w = Host(pm);
    auto* b = new GuiBitmapButton(10, 10, &gbUpArrowBitmap, 7, 0x801A);
    w->Add(b, 1);
    EXPECT_EQ(b->mOuter, GuiRect(10, 10, 10 + 7 - 1 + 4, 10 + 4 - 1 + 4));
    const uint16_t clicked = GuiSignalType(7, GUI_SIG_CLICKED);
    Post(PointerAt(GM_POINTER_PRESS, 12, 12));
    Pump();
    EXPECT_EQ(w->Count(clicked), 1);   // signal on the press itself
    std::vector<int> repeats;
    for (int tick = 1; tick <= 40; ++tick) {
        GuiTimerTaskStep();
        const int before = w->Count(clicked);
        Pump();
        if (w->Count(clicked) > before) repeats.push_back(tick);
    }
    EXPECT_EQ(repeats, (std::vector<int>{20, 25, 30, 35, 40}));
    Post(PointerAt(GM_POINTER_RELEASE, 12, 12));
    Pump();
    EXPECT_EQ(mq->FindTimer(b, GUI_REPEAT_TIMER), nullptr);
    for (int tick = 0; tick < 10; ++tick) GuiTimerTaskStep(), Pump();
    EXPECT_EQ(w->Count(clicked), 6);
}

}  // namespace
