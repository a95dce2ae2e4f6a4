// Pieces shared by GuiMessageWindow and GuiMLMessageWindow.
#include "gui/widgets/frames/gui_message_parts.h"

#include <new>

#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/frames/gui_title.h"

namespace {

struct ButtonKind {
    uint16_t bit;
    const char* text;
    uint16_t id;
};

constexpr ButtonKind kButtons[] = {
    {GMW_OK, GUISC_OK, GUI_ID_OK},          {GMW_YES, GUISC_YES, GUI_ID_YES},
    {GMW_NO, GUISC_NO, GUI_ID_NO},          {GMW_ABORT, GUISC_ABORT, GUI_ID_ABORT},
    {GMW_RETRY, GUISC_RETRY, GUI_ID_RETRY}, {GMW_CANCEL, GUISC_CANCEL, GUI_ID_CANCEL},
};

const GuiFont* buttonFont() { return GuiTextThing::mFontTable[GUI_FONT_SLOT_TEXT_BUTTON]; }

// The clicks that close a message window: ids 1000 and 1002 to 1008.
bool closingClick(uint16_t type)
{
    if (type == GuiSignalType(GUI_ID_CLOSE, GUI_SIG_CLICKED)) return true;
    for (uint16_t id = GUI_ID_OK; id <= GUI_ID_RETRY; ++id)
        if (type == GuiSignalType(id, GUI_SIG_CLICKED)) return true;
    return false;
}

}  // namespace

GuiMessageButtonRow GuiMessageButtonRowFor(unsigned short style)
{
    GuiMessageButtonRow row{GuiTextWidth(GUISC_CANCEL, buttonFont()) + 8, 0};
    int n = 0;
    for (const ButtonKind& b : kButtons) n += (style & b.bit) ? 1 : 0;
    if (n) row.rowWidth = n * row.buttonWidth + (n - 1) * 8;
    return row;
}

int GuiMessageButtonHeight() { return GuiFontHeight(buttonFont()); }

void GuiAddMessageButtons(GuiWindow* window, unsigned short style, GuiRect first, int buttonWidth)
{
    GuiRect r = first;
    for (const ButtonKind& b : kButtons) {
        if (!(style & b.bit)) continue;
        if (GuiTextButton* button = new (std::nothrow) GuiTextButton(r, b.text, b.id, GST_ENABLED))
            window->AddToEnd(button, 1);
        r.Shift(buttonWidth + 8, 0);
    }
}

GuiTitle* GuiAttachMessageTitle(GuiWindow* window, const char* caption, bool growOuter)
{
    if (!caption) return nullptr;
    GuiTitle* title = new (std::nothrow) GuiTitle(caption, GST_COPY_TEXT);
    if (!title) return nullptr;
    window->GuiWindow::Add(title, 1);
    const int rows = GuiRows(title);
    window->mClient.top = int16_t(window->mClient.top + rows);
    if (growOuter) window->mOuter.bottom = int16_t(window->mOuter.bottom + rows);
    window->mStatus |= GS_MOVABLE;
    return title;
}

int GuiMessageTitleWidth(const GuiTitle* title)
{
    return title ? GuiTextWidth(title->mpText, title->mpFont) + 16 : 0;
}

void GuiSetMessageClientEdges(GuiWindow* window)
{
    const unsigned short style = window->Style();
    int inset = 0;
    if (style & GST_FRAME_THIN) inset = 1;
    else if (style & (GST_FRAME_RAISED | GST_FRAME_RECESSED)) inset = 2;
    else if (style & GST_FRAME_THICK) inset = 5;
    window->mClient.right = int16_t(window->mOuter.right - inset);
    window->mClient.bottom = int16_t(window->mOuter.bottom - inset);
}

void GuiCenterMessageWindow(GuiWindow* window, GuiThing* owner)
{
    if (owner) owner->Center(window);
    else if (GuiThing::mpPresentation) GuiThing::mpPresentation->Center(window);
}

int GuiMessageWindowMessage(GuiWindow* window, GuiTitle* title, GuiThing*& owner, const GuiMessage& msg)
{
    const bool hasTitle = title && GuiIsChildOf(window, title);
    switch (msg.type) {
    case GM_SHOW: {
        if (hasTitle) {
            GuiMessage place(GM_RESIZE, 0, title, window);
            place.SetRect(GuiRect(window->mClient.left, window->mOuter.top + 2, window->mClient.right,
                                  window->mOuter.top + 1 + GuiRows(title)));
            title->Message(place);
        }
        const int r = window->GuiWindow::Message(msg);
        if (!owner) owner = window->mpParent;
        return r;
    }
    case GM_FOCUS_GAINED:
    case GM_FOCUS_LOST: {
        const int r = window->GuiWindow::Message(msg);
        if (hasTitle) {
            if (GuiThing::mpScreen) GuiThing::mpScreen->Invalidate(title->mClip);
            title->Draw();
        }
        return r;
    }
    default:
        break;
    }
    if (closingClick(msg.type) && !window->mExecuting) {
        // The owner learns which button it was by the click's message type.
        if (owner) owner->Message(GuiMessage(GM_MSGWIN_NOTIFY, int16_t(msg.type), owner, window));
        window->Destroy(window);
        return 0;
    }
    return window->GuiWindow::Message(msg);
}
