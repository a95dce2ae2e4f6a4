// Demo picture of the window frames: a decorated window with title, menu,
// tool and status bars, a dialog, the message windows, a progress window
// and progress bars of each kind, written as frames_demo.png into the
// working directory (the build folder).
#include <gtest/gtest.h>

#include <vector>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/widgets/frames/frames_fixture.h"
#include "gui/widgets/frames/gui_message_window.h"
#include "gui/widgets/frames/gui_progress_bar.h"
#include "gui/widgets/frames/gui_status_bar.h"
#include "gui/widgets/frames/gui_title.h"
#include "gui/widgets/frames/gui_tool_bar.h"
#include "gui/widgets/menus/gui_menu.h"
#include "gui/widgets/text/gui_text_box.h"
#include "host/screen/screen_png.h"

namespace {

GuiMenuDescription kMenu[] = {
    {"File", 1, GST_ENABLED, nullptr},
    {"View", 2, GST_ENABLED, nullptr},
    {"Help", 3, GST_ENABLED, nullptr},
    {nullptr, 0, 0, nullptr},
};

using FramesDemoTest = FramesTest;

// Moves a window so that its top-left corner is at (x, y).
void placeAt(GuiThing* w, int x, int y)
{
    GuiRect r = w->mOuter;
    r.MoveTo(x, y);
    w->Resize(r);
}

TEST_F(FramesDemoTest, WritesThePictureIntoTheBuildFolder)
{
    owner->SetColor(0, 0x306080);

    auto* main = new GuiDecoratedWindow(GuiRect(10, 10, 329, 229), GST_FRAME_THICK);
    main->Add(new GuiTitle("Session", GTS_SYSTEM_MENU | GTS_MIN_MAX | GTS_CLOSE), 1);
    main->Add(new GuiMenuBar(kMenu), 1);
    auto* tools = new GuiToolBar(10);
    for (int p = 0; p < 2; ++p) {
        auto* panel = new GuiToolBarPanel(uint16_t(11 + p));
        for (int b = 0; b < 3 - p; ++b)
            panel->AddToEnd(new GuiBitmapButton(GuiRect(0, 0, 17, 17), b % 2 ? &gbMaxButtonBitmap : &gbMinButtonBitmap,
                                                unsigned(20 + 3 * p + b), GST_ENABLED),
                            0);
        tools->AddPanel(panel, 0);
    }
    main->Add(tools, 1);
    auto* status = new GuiStatusBar();
    status->AddTextField(70, 1, "Lap 12");
    status->AddTextField(90, 2, "1:32.418");
    main->Add(status, 1);
    pm->Add(main, 1);
    pm->MoveFocusTree(main->mpTitle);

    auto* dialog = new GuiDialog(GuiRect(350, 10, 629, 149), "Channel setup", owner, GST_FRAME_THIN);
    GuiRect ok(430, 110, 499, 135), cancel(510, 110, 579, 135);
    dialog->Add(new GuiTextButton(ok, GUISC_OK, GUI_ID_OK, GST_ENABLED), 0);
    dialog->Add(new GuiTextButton(cancel, GUISC_CANCEL, GUI_ID_CANCEL, GST_ENABLED), 0);
    pm->Add(dialog, 1);

    auto* message = new GuiMessageWindow("Logging", "USB stick is full", GMW_OK | GMW_CANCEL | GST_FRAME_RAISED,
                                         nullptr, nullptr);
    placeAt(message, 10, 250);
    pm->Add(message, 1);

    auto* ml = new GuiMLMessageWindow("Note",
                                      "Oil pressure dropped below the warning limit on the last laps; check "
                                      "the sensor before the next outing.",
                                      GMW_YES | GMW_NO | GST_FRAME_RAISED, nullptr, nullptr);
    placeAt(ml, 220, 250);
    pm->Add(ml, 1);

    auto* progress = new GuiProgressWindow("Copying", "meas: to usb_meas:", GMW_CANCEL | GST_FRAME_RAISED,
                                           GPS_SHOW_VALUE | GPS_PERCENT | GST_FRAME_RECESSED, nullptr, nullptr);
    placeAt(progress, 420, 170);
    pm->Add(progress, 1);
    progress->mpProgressBar->Update(40, 1);

    auto* segments = new GuiProgressBar(GuiRect(420, 330, 629, 349), GPS_SEGMENTS | GST_FRAME_RECESSED, 0, 100, 65);
    owner->Add(segments, 1);
    auto* split = new GuiProgressBar(GuiRect(420, 360, 629, 379), GPS_SHOW_VALUE | GPS_RAISED | GST_FRAME_RECESSED,
                                     0, 1000, 480);
    split->SetColor(2, 0x000000);
    owner->Add(split, 1);
    auto* vertical = new GuiProgressBar(GuiRect(600, 390, 629, 469),
                                        GPS_VERTICAL | GPS_SHOW_VALUE | GPS_PERCENT | GST_FRAME_RECESSED, 0, 8, 5);
    owner->Add(vertical, 1);
    GuiThing::mpScreen->Invalidate(pm->mOuter);
    pm->Draw();
    Pump();

    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    EXPECT_TRUE(host::detail::writeScreenPng("frames_demo.png", frame.data(), 640, 480));
}

}  // namespace
