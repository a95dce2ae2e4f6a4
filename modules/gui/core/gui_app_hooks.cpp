// The runtime's own stand-ins for the three hooks of the display
// application. The display application defines the real ones; these are
// weak, so its definitions take their place when it is linked in.
//
// Until then GuiAppInitialize shows a start window of the runtime, so that a
// running device puts a recognisable frame on its screen.
#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/core/gui_prompt.h"
#include "gui/core/gui_task.h"
#include "gui/draw/gui_screen.h"

__attribute__((weak)) void ConfigureGuiInput()
{
    // Input configuration fills a local buffer only; nothing to do here.
}

__attribute__((weak)) void RestoreGuiInput() {}

__attribute__((weak)) void GuiAppInitialize(GuiPresentationManager* pm) { GuiShowStartWindow(pm); }

void GuiShowStartWindow(GuiPresentationManager* pm)
{
    if (!pm) return;
    // A dark blue background with a framed window on it: a blue title
    // prompt, two lines of text and a button.
    auto* main = new GuiWindow(GuiRect(0, 0, 639, 479), GST_FRAME_NONE);
    main->SetColor(0, 0x102040);
    auto* panel = new GuiWindow(GuiRect(80, 90, 559, 389), GST_FRAME_THICK);
    panel->SetColor(0, 0xC0C0C0);
    const GuiRect& c = panel->mClient;

    auto* title = new GuiPrompt(GuiRect(c.left, c.top, c.right, c.top + 21), "TAV9 GUI runtime", 0,
                                GST_FRAME_NONE | GST_TEXT_LEFT, 0);
    title->SetColor(0, 0x0000BF);
    title->SetColor(2, 0xFFFFFF);
    panel->Add(title, 0);

    auto* heading = new GuiPrompt(GuiRect(c.left + 20, c.top + 50, c.right - 20, c.top + 91), "TAV9", 0,
                                  GST_FRAME_NONE | GST_TRANSPARENT, 1);
    heading->SetColor(2, 0x102040);
    panel->Add(heading, 0);
    auto* note = new GuiPrompt(GuiRect(c.left + 20, c.top + 110, c.right - 20, c.top + 131),
                               "Waiting for the display application.", 0, GST_FRAME_RECESSED, 0);
    panel->Add(note, 0);
    auto* version = new GuiPrompt(c.left + 20, c.top + 150, GuiThing::Version(), 0,
                                  GST_FRAME_NONE | GST_TRANSPARENT | GST_TEXT_LEFT, &MenuFont, 0);
    panel->Add(version, 0);

    GuiRect at(c.right - 100, c.bottom - 40, c.right - 20, c.bottom - 14);
    panel->Add(new GuiTextButton(at, "OK", 0, GST_ENABLED), 0);

    main->Add(panel, 0);
    pm->Add(main, 1);

    if (GuiThing::mpScreen) {
        GuiThing::mpScreen->Invalidate(pm->mClient);
        pm->Draw();
        GuiThing::mpScreen->FlushScreen();
        GuiThing::mpScreen->WaitFlushFinish();
    }
}
