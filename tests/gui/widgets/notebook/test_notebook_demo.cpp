// A demo screen of the notebook, the group box and the decorated and
// multi-line text buttons, written as notebook_demo.png into the build
// folder for a look by eye.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_prompt.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/buttons/gui_decorated_button.h"
#include "gui/widgets/buttons/gui_ml_text_button.h"
#include "gui/widgets/group/gui_group.h"
#include "gui/widgets/notebook/gui_notebook.h"
#include "host/screen/screen_png.h"

namespace {

using NotebookDemo = GuiRuntimeTest;

// The build folder CTest names, else the test program's own folder.
std::string OutputFolder()
{
    const char* dir = std::getenv("TAV9_BINARY_DIR");
    if (dir && *dir) return dir;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::temp_directory_path().string() : self.parent_path().string();
}

// The page of the first tab: a group of radio buttons and the buttons.
GuiWindow* SetupPage()
{
    auto* page = new GuiWindow(GuiRect(0, 0, 9, 9), GST_FRAME_NONE);
    page->mColor[0] = 0xC0C0C0;
    return page;
}

void FillSetupPage(GuiWindow* page)
{
    const int l = page->mClient.left, t = page->mClient.top;
    GuiRect box(l + 10, t + 10, l + 200, t + 110);
    auto* group = new GuiGroup(box, "Track state", GST_ENABLED);
    page->Add(group, 0);
    const char* const states[] = {"Dry", "Damp", "Wet"};
    for (int i = 0; i < 3; ++i)
        group->Add(new GuiRadioButton(l + 20, t + 32 + 24 * i, states[i], uint16_t(10 + i), GST_ENABLED), 0);
    static_cast<GuiRadioButton*>(group->Find(10, 0))->SetSelected(1);

    GuiRect off(l + 220, t + 10, l + 400, t + 110);
    auto* disabled = new GuiGroup(off, "Pit limiter", GST_ENABLED);
    page->Add(disabled, 0);
    disabled->Add(new GuiCheckBox(l + 230, t + 36, "Armed", 20, GST_ENABLED), 0);
    disabled->Add(new GuiMLTextButton(l + 230, t + 62, 120, "Speed|60 km/h", '|', 21, GST_ENABLED), 0);
    disabled->Enable(0);

    page->Add(new GuiDecoratedButton(l + 10, t + 130, "Close", &gbCloseButtonBitmap, 30, GST_ENABLED, 0), 0);
    page->Add(new GuiDecoratedButton(l + 100, t + 130, "Up", &gbUpArrowBitmap, 31,
                                     GST_ENABLED | GDB_BITMAP_ABOVE, 0), 0);
    page->Add(new GuiDecoratedButton(l + 160, t + 130, "Next", &gbMoreBitmap, 32,
                                     GST_ENABLED | GDB_BITMAP_RIGHT, 1), 0);
    page->Add(new GuiMLTextButton(l + 250, t + 130, "Box|this|lap", '|', 33, GST_ENABLED), 0);
    page->Add(new GuiMLTextButton(l + 320, t + 130, 90, "Left|aligned", '|', 34, GST_ENABLED | GST_TEXT_LEFT), 0);
}

TEST_F(NotebookDemo, WritesThePictureIntoTheBuildFolder)
{
    auto* host = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
    host->mColor[0] = 0xE0E0E0;
    pm->Add(host, 1);

    auto* nb = new GuiNotebook(GuiRect(10, 10, 629, 300), GNB_TABS_ON_TOP | GNB_TAB_STRINGS | GST_FRAME_RAISED, 4);
    const char* const labels[] = {"Setup", "Laps", "Sectors", "Alarms"};
    for (uint8_t i = 0; i < 4; ++i) nb->SetTabString(i, labels[i]);
    GuiWindow* setup = SetupPage();
    nb->SetPageClient(0, setup);
    for (uint8_t i = 1; i < 4; ++i) nb->SetPageClient(i, new GuiPrompt(GuiRect(0, 0, 9, 9), labels[i], 0, 0, 0));
    host->Add(nb, 1);
    Pump();
    FillSetupPage(setup);

    // A crowded notebook with its tabs at the bottom, scrolled by one.
    auto* crowded = new GuiNotebook(GuiRect(10, 320, 400, 469), GNB_TAB_STRINGS | GST_FRAME_THICK, 9);
    for (uint8_t i = 0; i < 9; ++i) {
        const std::string label = "Page " + std::to_string(i + 1);
        crowded->SetTabString(i, label.c_str());
        crowded->SetPageClient(i, new GuiPrompt(GuiRect(0, 0, 9, 9), "Wheel speeds", 0, 0, 0));
    }
    host->Add(crowded, 1);
    Pump();
    ASSERT_NE(crowded->mpSpin, nullptr);
    crowded->SelectTab(uint8_t(crowded->mVisibleTabs));

    GuiThing::mpScreen->Invalidate(pm->mOuter);
    pm->Draw();
    Pump();

    std::vector<uint32_t> frame(size_t(640) * 480);
    for (int row = 0; row < 480; ++row)
        for (int col = 0; col < 640; ++col) frame[size_t(row) * 640 + size_t(col)] = Pixel(col, row);
    const std::string path = OutputFolder() + "/notebook_demo.png";
    EXPECT_TRUE(host::detail::writeScreenPng(path, frame.data(), 640, 480)) << path;
}

}  // namespace
