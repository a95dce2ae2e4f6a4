// Demo picture of the family: an item list, an open combo box, a tree view
// and a vertical prompt, written as lists_demo.png into the build folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/core/gui_bitmaps.h"
#include "gui/widgets/lists/gui_combo_box.h"
#include "gui/widgets/lists/gui_tree_view.h"
#include "gui/widgets/lists/test_lists_fixture.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/prompts/gui_vprompt.h"
#include "host/screen/screen_png.h"

namespace {

using ListsDemoTest = ListWidgetTest;

// The build folder: TAV9_BINARY_DIR when set, else the folder of the test
// program (which lives in the build folder), never the source tree.
std::string OutputFolder()
{
    if (const char* dir = std::getenv("TAV9_BINARY_DIR"); dir && *dir) return dir;
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? ::testing::TempDir() : self.parent_path().string();
}

TEST_F(ListsDemoTest, WritesThePictureIntoTheBuildFolder)
{
    host->Resize(GuiRect(0, 0, 639, 479));
    host->SetColor(0, 0xC0C0C0);

    auto* list = new GuiVertList(GuiRect(20, 20, 179, 139), 1, GST_FRAME_RECESSED);
    list->SetScrollMode(GUI_SCROLL_V_AUTO);
    const char* fruit[] = {"Apple", "Banana", "Cherry", "Damson", "Elder", "Fig", "Grape", "Kiwi"};
    for (const char* f : fruit) list->AddToEnd(Item(f, 10), 0);
    host->Add(list, 1);
    list->SetSelected(2);

    auto* combo = new GuiComboBox(GuiRect(220, 20, 379, 139), 2, GST_FRAME_THIN);
    const char* gears[] = {"Gear 1", "Gear 2", "Gear 3", "Gear 4"};
    for (const char* g : gears) combo->AddToEnd(Item(g, 20), 0);
    host->Add(combo, 1);
    combo->SetSelected(1);

    auto* tree = new GuiTreeView(GuiRect(20, 180, 259, 419), GST_FRAME_THIN, "Car", &gbCheckBoxOnBitmap);
    auto* engine = new GuiTreeNode("Engine", &gbCheckBoxOffBitmap);
    tree->mpRoot->Add(engine, 0);
    engine->Add(new GuiTreeNode("Oil pressure", nullptr), 0);
    engine->Add(new GuiTreeNode("Water temperature", nullptr), 0);
    engine->mOpen = 1;
    auto* chassis = new GuiTreeNode("Chassis", &gbCheckBoxOffBitmap);
    tree->mpRoot->Add(chassis, 0);
    chassis->Add(new GuiTreeNode("Damper front left", nullptr), 0);
    tree->mpRoot->Add(new GuiTreeNode("Lap counter", nullptr), 0);
    host->Add(tree, 1);
    tree->Select(engine, 1);

    host->Add(new GuiVPrompt(GuiRect(300, 180, 339, 419), "LISTS", 3, GST_FRAME_RAISED), 1);
    Pump();
    // Opened last: giving the focus to a later window would close it.
    combo->OpenList();
    Pump();
    EXPECT_TRUE(combo->mpList->IsVisible());
    // The host grew after it was drawn: the whole screen once more.
    GuiThing::mpScreen->Invalidate(pm->mOuter);
    pm->Draw();

    const std::string path = OutputFolder() + "/lists_demo.png";
    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    EXPECT_TRUE(host::detail::writeScreenPng(path, frame.data(), 640, 480)) << path;
}

}  // namespace
