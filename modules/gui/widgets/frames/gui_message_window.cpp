// GuiMessageWindow: one line of text, an optional icon and the buttons.
#include "gui/widgets/frames/gui_message_window.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/frames/gui_title.h"

namespace {
constexpr uint32_t kFace = 0xC0C0C0;
constexpr int kEmptyWidth = 80;
constexpr int kEmptyHeight = 26;
}  // namespace

void GuiMessageWindow::InitMessageWindow(const char* message)
{
    mColor[0] = kFace;
    mColor[2] = 0x000000;
    mType = GT_MESSAGE_WINDOW;
    DataSet(message);
    mpFont = mFontTable[GUI_FONT_SLOT_MESSAGE];
    mpTitle = nullptr;
    mpOwner = nullptr;
    mpIcon = nullptr;
    mButtonRowWidth = 0;
    mButtonWidth = 0;
    mMessageWidth = 0;
}

GuiMessageWindow::GuiMessageWindow(const GuiRect& rect, const char* title, const char* message, unsigned short style,
                                   GuiBitmap* icon, GuiThing* owner)
    : GuiWindow(rect, style)
{
    InitMessageWindow(message);
    mpTitle = GuiAttachMessageTitle(this, title, false);
    mpOwner = owner;
    mpIcon = icon;
    CalcButtonWidth();
    AddButtons();
    mMessageWidth = GuiTextWidth(mpText, mpFont);
}

GuiMessageWindow::GuiMessageWindow(const char* title, const char* message, unsigned short style, GuiBitmap* icon,
                                   GuiThing* owner)
    : GuiWindow(style)
{
    InitMessageWindow(message);
    const int rowHeight = GuiHasMessageButtons(style) ? GuiMessageButtonHeight() : 0;
    mOuter.right = int16_t(mOuter.left + kEmptyWidth);
    mOuter.bottom = int16_t(mOuter.top + rowHeight + kEmptyHeight);
    GuiWindow::InitClient();
    mpTitle = GuiAttachMessageTitle(this, title, true);
    const int titleWidth = GuiMessageTitleWidth(mpTitle);
    mpOwner = owner;
    mpIcon = icon;
    if (mpText) {
        mMessageWidth = GuiTextWidth(mpText, mpFont) + 16;
        mOuter.bottom = int16_t(mOuter.bottom + GuiFontHeight(mpFont) + 8);
    }
    CalcButtonWidth();
    int width = std::max({titleWidth, int(mMessageWidth), int(mButtonRowWidth)});
    if (width == 0) width = kEmptyWidth;
    if (icon) {
        if (width - mMessageWidth < icon->width + 24) width = mMessageWidth + icon->width + 24;
        mOuter.bottom = int16_t(mOuter.bottom + icon->height + (mpText ? 0 : 24));
    }
    mOuter.right = int16_t(mOuter.left + width);
    GuiSetMessageClientEdges(this);
    mClip = mOuter;
    GuiCenterMessageWindow(this, owner);
    AddButtons();
}

GuiMessageWindow::~GuiMessageWindow() = default;

void GuiMessageWindow::CalcButtonWidth()
{
    const GuiMessageButtonRow row = GuiMessageButtonRowFor(mStyle);
    mButtonWidth = row.buttonWidth;
    mButtonRowWidth = row.rowWidth;
}

void GuiMessageWindow::AddButtons()
{
    const int free = (mClient.right - mClient.left + 1) - mButtonRowWidth;
    const int left = mClient.left + free / 2;
    const GuiRect first(left, mClient.bottom - GuiMessageButtonHeight() - 10, left + mButtonWidth, mClient.bottom - 4);
    GuiAddMessageButtons(this, mStyle, first, mButtonWidth);
}

void GuiMessageWindow::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiWindow::Draw();
    const GuiRect saved = mClip;
    mClip &= mClient;
    if (mpIcon)
        s->Bitmap(this, GuiPoint{int16_t(mClient.left + 12), int16_t(mClient.top + 12)}, mpIcon, 0);
    if (mpText && mpFont) {
        GuiColor ink{mColor[2], kFace, 0};
        int x, y;
        if (mpIcon) {
            x = mClient.left + mpIcon->width + 23;
            y = mClient.top + mpIcon->height / 2 + 8;
        } else {
            x = mClient.left + (mClient.right - mClient.left + 1 - mMessageWidth) / 2 + 8;
            y = mClient.top + 8;
        }
        s->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, mpText, ink, mpFont, -1, 0);
    }
    mClip = saved;
    s->EndDraw();
}

int GuiMessageWindow::Message(const GuiMessage& msg)
{
    return GuiMessageWindowMessage(this, mpTitle, mpOwner, msg);
}
