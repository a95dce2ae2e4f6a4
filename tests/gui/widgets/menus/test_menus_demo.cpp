// Demo picture of the family: a menu bar with its File menu open (tick,
// dots, an open submenu), sliders with ticks and a spin button with its
// slave, written as menus_demo.png into the working directory (the build
// folder).
#include <gtest/gtest.h>

#include <vector>

#include "gui/core/gui_prompt.h"
#include "gui/widgets/menus/test_menus_fixture.h"
#include "gui/widgets/slider/gui_slider.h"
#include "gui/widgets/spin/gui_spin_button.h"
#include "host/screen/screen_png.h"

namespace {

using MenusDemoTest = MenuTest;

TEST_F(MenusDemoTest, WritesThePictureIntoTheBuildFolder)
{
    host->Resize(GuiRect(0, 0, 639, 479));
    host->SetColor(0, 0xE0E0E0);
    bar->Message(GuiMessage(GM_PARENT_SIZED, 0, bar, host));

    host->Add(new GuiSlider(GuiRect(300, 60, 579, 99), 0, 100, 1, GST_FRAME_RAISED, 10), 1);
    auto* vertical = new GuiSlider(GuiRect(300, 130, 339, 379), -50, 50, 2, GST_FRAME_RECESSED | GSS_SNAP, 25);
    host->Add(vertical, 1);
    vertical->SetCurrentValue(25, 1);
    auto* slave = new GuiPrompt(GuiRect(400, 130, 459, 161), "42", 3, GST_FRAME_THIN, 0);
    host->Add(slave, 1);
    host->Add(new GuiSpinButton(460, 130, slave, 0, 99, 1, 4, GSB_VERTICAL | GST_ENABLED), 1);
    host->Add(new GuiSpinButton(400, 180, 5, GST_ENABLED), 1);
    GuiThing::mpScreen->Invalidate(pm->mOuter);
    pm->Draw();
    Pump();

    GuiMenu* file = OpenFile();
    GuiMenuButton* more = bar->FindButton("More");
    HoverOn(more);
    ASSERT_TRUE(file->IsVisible());
    ASSERT_TRUE(more->mpSubMenu->IsVisible());

    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    EXPECT_TRUE(host::detail::writeScreenPng("menus_demo.png", frame.data(), 640, 480));
}

}  // namespace
