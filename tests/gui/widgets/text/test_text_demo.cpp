// A demo screen of the four text widgets, written as a PNG picture into the
// build folder (text_widgets_demo.png) for a look by eye.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/widgets/text/gui_edit_field.h"
#include "gui/widgets/text/gui_terminal.h"
#include "gui/widgets/text/text_widget_fixture.h"
#include "host/screen/screen_png.h"

namespace {

using namespace textwidgets;
using TextWidgetDemo = TextWidgetTest;

// The build folder: the one CTest names, else the test program's own
// folder, so that a run by hand from the sources writes nothing there.
std::string OutputFolder()
{
    const char* dir = std::getenv("TAV9_BINARY_DIR");
    if (dir && *dir) return dir;
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::temp_directory_path().string() : self.parent_path().string();
}

TEST_F(TextWidgetDemo, FourWidgetsOnOneScreenGoToAPicture)
{
    host->SetColor(0, 0xC0C0C0);
    GuiThing::mpScreen->Invalidate(host->mOuter);
    host->Draw();

    const std::string boxText =
        "GuiTextBox: a scrolling multi-line text with word wrap. Long lines break after the last space, "
        "comma or hyphen that fits.\r\nLine ends (13, 13 10 or 10) end lines.\n" + NumberedLines(40);
    auto* box = new GuiTextBox(GuiRect(10, 10, 309, 229), 0, GST_FRAME_RECESSED | GST_TEXT_WRAP, boxText.c_str(),
                               4000);
    host->Add(box, 1);
    box->SetScrollMode(GUI_SCROLL_V_AUTO);
    box->SetHighlightedLine(3);
    GuiThing::mpScreen->Invalidate(box->mOuter);
    box->Draw();

    auto* editor = new GuiEditBox(GuiRect(330, 10, 629, 229), 2, GST_FRAME_RECESSED | 0x0100,
                                  "GuiEditBox\rmarked by a drag,\rtyped at the cursor: ", 4000);
    host->Add(editor, 1);
    pm->MoveFocusTree(editor);
    for (const char* p = "hello"; *p; ++p) editor->InsertKey(static_cast<unsigned char>(*p));
    auto* marked = new GuiEditBox(GuiRect(330, 240, 629, 299), 3, GST_FRAME_THIN | 0x0100,
                                  "a mark over several words", 4000);
    host->Add(marked, 1);
    auto* field = new GuiEditField(GuiRect(10, 240, 309, 263), "GuiEditField, scrolled by whole characters", 4,
                                   GST_FRAME_RECESSED | 0x0100, 200);
    host->Add(field, 1);
    field->SetMark(0, 0);
    field->InsertKey(GUI_KEY_END);
    GuiThing::mpScreen->Invalidate(field->mOuter);
    field->Draw();

    auto* term = new GuiTerminalWin(GuiRect(10, 280, 309, 469), 5, GST_FRAME_RECESSED | 0x0100,
                                    "GuiTerminalWin\r", 4000);
    term->SetPrompt("> ");
    host->Add(term, 1);
    term->Prompt();
    for (const char* p = "ls"; *p; ++p) term->InsertKey(static_cast<unsigned char>(*p));
    term->Append("\rfile.txt  notes.txt\r", 0);
    term->Prompt();
    pm->MoveFocusTree(term);
    EXPECT_EQ(CountColour(term->mClient, kCursor), term->LineHeight());
    // Last, a drag marks words in the small editor (the focus goes there).
    const int y = marked->mClient.top + 5;
    const int x0 = marked->mClient.left + 2 + GuiThing::mpScreen->TextWidth("a ", &SysFont, -1);
    const int x1 = marked->mClient.left + 2 + GuiThing::mpScreen->TextWidth("a mark over", &SysFont, -1);
    Post(PointerAt(GM_POINTER_PRESS, x0, y));
    Post(PointerAt(GM_POINTER_MOVE, x1, y));
    Post(PointerAt(GM_POINTER_RELEASE, x1, y));
    Pump();


    // The widgets drew something of their own in their areas.
    EXPECT_GT(CountColour(box->mClient, kInk), 200);
    EXPECT_GT(CountColour(marked->mClient, 0x0000BF), 100);
    EXPECT_GT(CountColour(term->mClient, kInk), 100);

    std::vector<uint32_t> frame(size_t(640) * 480);
    for (int row = 0; row < 480; ++row)
        for (int col = 0; col < 640; ++col) frame[size_t(row) * 640 + size_t(col)] = Pixel(col, row);
    const std::string path = OutputFolder() + "/text_widgets_demo.png";
    EXPECT_TRUE(host::detail::writeScreenPng(path, frame.data(), 640, 480)) << path;
}

}  // namespace
