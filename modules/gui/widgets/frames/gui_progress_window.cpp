// GuiProgressWindow: a message window with a progress bar above its
// buttons.
#include <new>

#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_progress_bar.h"

GuiProgressWindow::GuiProgressWindow(const GuiRect& rect, const char* title, const char* message,
                                     unsigned short style, unsigned short barStyle, GuiBitmap* icon, GuiThing* owner)
    : GuiMessageWindow(rect, title, message, style, icon, owner), mpProgressBar(nullptr), mBarStyle(barStyle)
{
    AddProgBar();
}

GuiProgressWindow::GuiProgressWindow(const char* title, const char* message, unsigned short style,
                                     unsigned short barStyle, GuiBitmap* icon, GuiThing* owner)
    : GuiMessageWindow(title, message, style, icon, owner), mpProgressBar(nullptr), mBarStyle(barStyle)
{
    // Room for the bar; the buttons move down below it.
    GuiRect grown = mOuter;
    grown.bottom = int16_t(grown.bottom + (GuiHasMessageButtons(style) ? 40 : 24));
    GuiWindow::Resize(grown);
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (c->mType != GT_TEXT_BUTTON || c->IsNonClient()) continue;
        GuiRect r = c->mOuter;
        r.Shift(0, 40);
        c->Resize(r);
    }
    AddProgBar();
}

GuiProgressWindow::~GuiProgressWindow() = default;

void GuiProgressWindow::AddProgBar()
{
    const bool buttons = GuiHasMessageButtons(mStyle);
    const GuiRect r(mClient.left + 10, mClient.bottom - (buttons ? 56 : 28), mClient.right - 10,
                    mClient.bottom - (buttons ? 32 : 4));
    mpProgressBar = new (std::nothrow) GuiProgressBar(r, uint16_t(mBarStyle), 0, 100, 0);
    if (mpProgressBar) Add(mpProgressBar, 1);
}
