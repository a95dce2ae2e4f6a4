// The runtime's own stand-ins for the three hooks of the display
// application. The display application defines the real ones; these are
// weak, so its definitions take their place when it is linked in.
//
// Until then GuiAppInitialize shows a test window of the runtime, so that a
// running device puts a recognisable frame on its screen.
#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/core/gui_task.h"

namespace {

// One line of text on the window's background, in the thing's text colour.
class TestLabel : public GuiTextThing {
public:
    TestLabel(const GuiRect& r, const char* text, int fontSlot, int doubled)
        : GuiTextThing(r, 0, GST_FRAME_NONE, text, fontSlot), mDoubled(doubled)
    {
        mColor[2] = 0xFFFFFF;
    }
    void Draw() override {
        if (!mpScreen || !mpParent) return;
        mpScreen->BeginDraw(this);
        GuiColor c{mColor[2], mpParent->mColor[0], 0};
        mpScreen->DrawText(this, GuiPoint{mClient.left, mClient.top}, mpText, c, mpFont, -1, mDoubled);
        mpScreen->EndDraw();
    }

private:
    int mDoubled;
};

}  // namespace

__attribute__((weak)) void ConfigureGuiInput()
{
    // Input configuration fills a local buffer only; nothing to do here.
}

__attribute__((weak)) void RestoreGuiInput() {}

__attribute__((weak)) void GuiAppInitialize(GuiPresentationManager* pm)
{
    if (!pm) return;
    // A dark blue main window over the visible screen with a raised and a
    // thin-framed window inside it, each with a line of text.
    auto* main = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
    main->SetColor(0, 0x102040);
    auto* panel = new GuiWindow(GuiRect(40, 40, 599, 199), GST_FRAME_RAISED);
    panel->SetColor(0, 0xC0C0C0);
    auto* box = new GuiWindow(GuiRect(40, 240, 599, 439), GST_FRAME_THIN);
    box->SetColor(0, 0x20A040);
    auto* title = new TestLabel(GuiRect(60, 60, 579, 91), "TAV9 GUI RUNTIME", 6, 1);
    title->mColor[2] = 0x102040;
    panel->Add(title, 0);
    auto* note = new TestLabel(GuiRect(60, 110, 579, 125), "Waiting for the display application.", 2, 0);
    note->mColor[2] = 0x102040;
    panel->Add(note, 0);
    box->Add(new TestLabel(GuiRect(60, 260, 579, 275), GuiThing::Version(), 6, 0), 0);
    main->Add(panel, 0);
    main->Add(box, 0);
    pm->Add(main, 1);

    if (GuiThing::mpScreen) {
        GuiThing::mpScreen->Invalidate(pm->mClient);
        pm->Draw();
        GuiThing::mpScreen->FlushScreen();
        GuiThing::mpScreen->WaitFlushFinish();
    }
}
