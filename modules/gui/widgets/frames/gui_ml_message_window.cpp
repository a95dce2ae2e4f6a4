// GuiMLMessageWindow: a word-wrapped text box that grows the window until
// the whole message fits, an optional icon and the buttons.
#include <algorithm>
#include <cstring>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/frames/gui_frame_ids.h"
#include "gui/widgets/frames/gui_frame_support.h"
#include "gui/widgets/frames/gui_message_window.h"
#include "gui/widgets/frames/gui_title.h"
#include "gui/widgets/text/gui_text_box.h"

namespace {
constexpr uint32_t kFace = 0xC0C0C0;
constexpr int kEmptyWidth = 80;
constexpr int kEmptyHeight = 26;
// No frame, left-justified, word wrap, transparent.
constexpr unsigned short kTextBoxStyle = 0x4441;
// The window never grows past the range of a screen coordinate.
constexpr int kLowestBottom = 0x7FFF;
}  // namespace

void GuiMLMessageWindow::InitMLMessageWindow(GuiBitmap* icon, GuiThing* owner)
{
    mColor[0] = kFace;
    mColor[2] = 0x000000;
    mType = GT_ML_MESSAGE_WINDOW;
    mpTitle = nullptr;
    mpOwner = owner;
    mpIcon = icon;
    mpTextBox = nullptr;
    mButtonRowWidth = 0;
    mButtonTop = 0;
    mButtonWidth = 0;
}

GuiMLMessageWindow::GuiMLMessageWindow(const GuiRect& rect, const char* title, const char* message,
                                       unsigned short style, GuiBitmap* icon, GuiThing* owner)
    : GuiWindow(rect, style)
{
    InitMLMessageWindow(icon, owner);
    mpTitle = GuiAttachMessageTitle(this, title, false);
    CalcButtonWidth();
    AddTextBox(message);
    AddButtons();
}

GuiMLMessageWindow::GuiMLMessageWindow(const char* title, const char* message, unsigned short style,
                                       GuiBitmap* icon, GuiThing* owner)
    : GuiWindow(style)
{
    InitMLMessageWindow(icon, owner);
    const int rowHeight = GuiHasMessageButtons(style) ? GuiMessageButtonHeight() : 0;
    mOuter.right = int16_t(mOuter.left + kEmptyWidth);
    mOuter.bottom = int16_t(mOuter.top + rowHeight + kEmptyHeight);
    GuiWindow::InitClient();
    mpTitle = GuiAttachMessageTitle(this, title, true);
    const int titleWidth = GuiMessageTitleWidth(mpTitle);
    CalcButtonWidth();
    int width = std::max(int(mButtonRowWidth), titleWidth);
    if (width == 0) width = kEmptyWidth;
    if (icon) {
        width += icon->width + 24;
        mOuter.bottom = int16_t(mOuter.bottom + icon->height + 24);
    }
    mOuter.right = int16_t(mOuter.left + width);
    GuiSetMessageClientEdges(this);
    mClip = mOuter;
    AddTextBox(message);
    GuiCenterMessageWindow(this, owner);
    AddButtons();
}

GuiMLMessageWindow::~GuiMLMessageWindow() = default;

void GuiMLMessageWindow::CalcButtonWidth()
{
    const GuiMessageButtonRow row = GuiMessageButtonRowFor(mStyle);
    mButtonWidth = row.buttonWidth;
    mButtonRowWidth = row.rowWidth;
}

void GuiMLMessageWindow::CalcButtonTop()
{
    mButtonTop = mClient.bottom;
    if (GuiHasMessageButtons(mStyle)) mButtonTop = mClient.bottom - 16 - GuiMessageButtonHeight();
}

void GuiMLMessageWindow::AddTextBox(const char* text)
{
    if (!text) return;
    CalcButtonTop();
    const int iconWidth = mpIcon ? mpIcon->width : 0;
    GuiRect r(mClient.left + (mpIcon ? iconWidth + 24 : 8), mClient.top + (mpIcon ? 12 : 8), mClient.right - 8,
              mButtonTop - 8);
    auto* box = new (std::nothrow)
        GuiTextBox(r, 0, uint16_t((mStyle & GST_COPY_TEXT) | kTextBoxStyle), text, int(std::strlen(text)) + 1);
    if (!box) return;
    mpTextBox = box;
    box->SetFont(mFontTable[GUI_FONT_SLOT_MESSAGE]);
    box->mColor[0] = mColor[0];

    const int lineHeight = box->LineHeight();
    const long long lines = box->TotalLines();
    // The box keeps its border whitespace free above and below the lines,
    // so that room counts too, or the last line would not show.
    const int border = 2 * box->mBorderWhitespace;
    int bottom = r.bottom, growth = 0;
    // Stops short of the coordinate range, however long the text.
    while (lines * lineHeight > bottom - r.top + 1 - border && mOuter.bottom + growth + lineHeight + 3 <= kLowestBottom) {
        bottom += lineHeight + 3;
        growth += lineHeight + 3;
    }
    if (growth) {
        box->Resize(GuiRect(r.left, r.top, r.right, bottom));
        Resize(GuiRect(mOuter.left, mOuter.top, mOuter.right, mOuter.bottom + growth));
    }
    Add(box, 1);
}

void GuiMLMessageWindow::AddButtons()
{
    CalcButtonTop();
    const int free = (mClient.right - mClient.left + 1) - mButtonRowWidth;
    const int left = mClient.left + free / 2;
    const GuiRect first(left, mButtonTop, left + mButtonWidth, mClient.bottom - 4);
    GuiAddMessageButtons(this, mStyle, first, mButtonWidth);
}

void GuiMLMessageWindow::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    GuiWindow::Draw();
    if (mpIcon) s->Bitmap(this, GuiPoint{int16_t(mClient.left + 12), int16_t(mClient.top + 12)}, mpIcon, 0);
    s->EndDraw();
}

int GuiMLMessageWindow::Message(const GuiMessage& msg)
{
    return GuiMessageWindowMessage(this, mpTitle, mpOwner, msg);
}
