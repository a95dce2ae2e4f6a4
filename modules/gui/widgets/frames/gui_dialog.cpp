// GuiDialog: a titled window whose standard command buttons either notify
// the owner and close the dialog, or end its modal loop with their id.
#include <new>

#include "gui/widgets/frames/gui_decorated_window.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_title.h"

namespace {
constexpr uint16_t kDialogTitleStyle = uint16_t(GST_COPY_TEXT) | uint16_t(GTS_CLOSE) | uint16_t(GTS_SYSTEM_MENU);

// The id of a click on one of the buttons that close a dialog, else 0.
int closingId(uint16_t type)
{
    static constexpr uint16_t kIds[] = {GUI_ID_CLOSE, GUI_ID_OK,  GUI_ID_CANCEL,  GUI_ID_ABORT,
                                        GUI_ID_YES,   GUI_ID_NO,  GUI_ID_MAXIMIZE};
    for (uint16_t id : kIds)
        if (type == GuiSignalType(id, GUI_SIG_CLICKED)) return id;
    return 0;
}
}  // namespace

GuiDialog::GuiDialog(const GuiRect& rect, const char* title, GuiThing* owner, unsigned short style)
    : GuiDecoratedWindow(rect, style)
{
    InitDialog(title, owner);
}

GuiDialog::GuiDialog(const char* title, GuiThing* owner, unsigned short style) : GuiDecoratedWindow(style)
{
    InitDialog(title, owner);
}

GuiDialog::~GuiDialog() = default;

void GuiDialog::InitDialog(const char* title, GuiThing* owner)
{
    mColor[0] = 0xC0C0C0;
    mType = GT_DIALOG;
    if (title) {
        if (GuiTitle* bar = new (std::nothrow) GuiTitle(title, kDialogTitleStyle)) {
            GuiDecoratedWindow::Add(bar, 1);
            mStatus |= GS_MOVABLE;
        }
    }
    mpOwner = owner;
    mExecuting = 0;
}

void GuiDialog::NotifyOwner(int id)
{
    if (!mpOwner) return;
    GuiMessage note(GM_DIALOG_NOTIFY, id, mpOwner, this);
    mpOwner->Message(note);
}

int GuiDialog::Message(const GuiMessage& msg)
{
    if (msg.type == GM_SHOW) {
        const int r = GuiDecoratedWindow::Message(msg);
        if (!mpOwner) mpOwner = mpParent;
        return r;
    }
    if (closingId(msg.type)) {
        if (mExecuting) return GuiDecoratedWindow::Message(msg);   // ends Execute with the id
        NotifyOwner(msg.data);
        Destroy(this);
        return 0;
    }
    if (msg.type == GuiSignalType(GUI_ID_NOTIFY, GUI_SIG_CLICKED)) {
        if (!mExecuting) NotifyOwner(msg.data);
        return 0;
    }
    return GuiDecoratedWindow::Message(msg);
}
