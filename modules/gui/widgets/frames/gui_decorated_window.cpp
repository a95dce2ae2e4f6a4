// GuiDecoratedWindow: the client area follows the bars that are added to
// and removed from the window.
#include "gui/widgets/frames/gui_decorated_window.h"

#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/frames/gui_status_bar.h"
#include "gui/widgets/frames/gui_title.h"
#include "gui/widgets/frames/gui_tool_bar.h"

GuiDecoratedWindow::GuiDecoratedWindow(const GuiRect& rect, unsigned int style)
    : GuiWindow(rect, style), mpTitle(nullptr), mpMenuBar(nullptr), mpStatusBar(nullptr), mpToolBar(nullptr)
{
    mType = GT_DECORATED_WINDOW;
}

GuiDecoratedWindow::GuiDecoratedWindow(unsigned int style)
    : GuiWindow(style), mpTitle(nullptr), mpMenuBar(nullptr), mpStatusBar(nullptr), mpToolBar(nullptr)
{
    mType = GT_DECORATED_WINDOW;
}

GuiDecoratedWindow::~GuiDecoratedWindow() = default;

bool GuiDecoratedWindow::IsBar(const GuiThing* child)
{
    const uint8_t t = child->mType;
    return t == GT_WINDOW_TITLE || t == GT_MENU_BAR || t == GT_STATUS_BAR || t == GT_TOOL_BAR;
}

void GuiDecoratedWindow::RememberBar(GuiThing* child, bool remember)
{
    switch (child->mType) {
    case GT_WINDOW_TITLE:
        if (remember) mpTitle = static_cast<GuiTitle*>(child);
        else if (mpTitle == child) mpTitle = nullptr;
        break;
    case GT_MENU_BAR:
        if (remember) mpMenuBar = static_cast<GuiMenuBar*>(child);
        else if (mpMenuBar == child) mpMenuBar = nullptr;
        break;
    case GT_STATUS_BAR:
        if (remember) mpStatusBar = static_cast<GuiStatusBar*>(child);
        else if (mpStatusBar == child) mpStatusBar = nullptr;
        break;
    case GT_TOOL_BAR:
        if (remember) mpToolBar = static_cast<GuiToolBar*>(child);
        else if (mpToolBar == child) mpToolBar = nullptr;
        break;
    default:
        break;
    }
}

void GuiDecoratedWindow::Add(GuiThing* child, int draw)
{
    if (!child || child == this) return;
    if (IsBar(child)) {
        RememberBar(child, true);
        if (!child->mpParent) {
            if (child->mType == GT_STATUS_BAR) mClient.bottom = int16_t(mClient.bottom - GuiRows(child));
            else mClient.top = int16_t(mClient.top + GuiRows(child));
            if (IsVisible()) UpdateChildClipping();
        }
    }
    GuiWindow::Add(child, draw);
}

GuiThing* GuiDecoratedWindow::Remove(GuiThing* child, int draw)
{
    if (child && child->mpParent == this && IsBar(child)) {
        RememberBar(child, false);
        if (child->mType == GT_STATUS_BAR) {
            // Two rows of the bar stay out of the client area.
            mClient.bottom = int16_t(mClient.bottom + GuiRows(child) - 2);
        } else {
            if (mpScreen)
                mpScreen->Invalidate(GuiRect(child->mOuter.left, child->mOuter.top, child->mOuter.right, mClient.top));
            mClient.top = int16_t(mClient.top - GuiRows(child));
        }
        if (IsVisible()) UpdateChildClipping();
    }
    return GuiWindow::Remove(child, draw);
}

void GuiDecoratedWindow::InitClient()
{
    GuiWindow::InitClient();
    // Only bars still linked to the window count; one the application
    // deleted directly is forgotten here.
    auto rowsOf = [this](auto*& bar) {
        if (bar && !GuiIsChildOf(this, bar)) bar = nullptr;
        return bar ? GuiRows(bar) : 0;
    };
    mClient.top = int16_t(mClient.top + rowsOf(mpTitle) + rowsOf(mpMenuBar) + rowsOf(mpToolBar));
    mClient.bottom = int16_t(mClient.bottom - rowsOf(mpStatusBar));
}

int GuiDecoratedWindow::Message(const GuiMessage& msg)
{
    if (msg.type != GM_FOCUS_GAINED && msg.type != GM_FOCUS_LOST) return GuiWindow::Message(msg);
    const int r = GuiWindow::Message(msg);
    // The title switches between its active and inactive colours.
    if (mpTitle && GuiIsChildOf(this, mpTitle)) {
        if (mpScreen) mpScreen->Invalidate(mpTitle->mClip);
        mpTitle->Draw();
    }
    return r;
}
