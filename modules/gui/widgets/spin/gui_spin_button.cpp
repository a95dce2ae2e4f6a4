// GuiSpinButton: layout of the two arrows, stepping of the slave's number
// and the more and less signals.
#include "gui/widgets/spin/gui_spin_button.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gui/core/gui_bitmaps.h"
#include "gui/core/gui_button.h"
#include "gui/widgets/number/gui_ltoa.h"

namespace {

// The arrows signal on the press and repeat while held.
constexpr uint16_t kArrowStyle = GBS_BEVEL_IN | GBS_SIGNAL_ON_PRESS | GBS_AUTO_REPEAT;
constexpr int kMaxDigits = 15;

GuiRect formAt(int x, int y, unsigned style)
{
    return (style & GSB_VERTICAL) ? GuiRect(x, y, x + 15, y + 31) : GuiRect(x, y, x + 31, y + 15);
}

int32_t toInt32(long v) { return int32_t(std::clamp<long>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

GuiSpinButton::GuiSpinButton(int x, int y, unsigned id, unsigned style)
    : GuiThing(formAt(x, y, style), uint16_t(id), uint16_t(style))
{
    Init(nullptr, 0, 0, 0);
}

GuiSpinButton::GuiSpinButton(int x, int y, GuiTextThing* slave, long min, long max, int step, unsigned id,
                             unsigned style)
    : GuiThing(formAt(x, y, style), uint16_t(id), uint16_t(style))
{
    Init(slave, min, max, step);
}

GuiSpinButton::GuiSpinButton(const GuiRect& rect, unsigned id, unsigned style)
    : GuiThing(rect, uint16_t(id), uint16_t(style))
{
    Init(nullptr, 0, 0, 0);
}

GuiSpinButton::GuiSpinButton(const GuiRect& rect, GuiTextThing* slave, long min, long max, int step,
                             unsigned id, unsigned style)
    : GuiThing(rect, uint16_t(id), uint16_t(style))
{
    Init(slave, min, max, step);
}

GuiSpinButton::~GuiSpinButton() = default;   // the arrows are children

void GuiSpinButton::Init(GuiTextThing* slave, long min, long max, int step)
{
    mpSlave = slave;
    mMinDigits = 0;
    SetLimits(min, max, step);
    // The slave's number is rewritten: it must own its text.
    if (mpSlave) mpSlave->SetCopyMode();
    AddSpinButtons();
}

void GuiSpinButton::SetLimits(long min, long max, int step)
{
    mMin = toInt32(min);
    mMax = toInt32(max);
    mStep = step;
}

void GuiSpinButton::AddSpinButtons()
{
    mType = GT_SPIN_BUTTON;
    mClient = mOuter;
    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    const unsigned style = kArrowStyle | (mStyle & GST_ENABLED);
    GuiBitmapButton* first;
    GuiBitmapButton* second;
    if (mStyle & GSB_VERTICAL) {
        const int h = b - t + 1;
        first = new GuiBitmapButton(GuiRect(l, t, r, t + h / 2), &gbUpArrowBitmap, GUI_ID_SPIN_UP, style);
        second = new GuiBitmapButton(GuiRect(l, t + h / 2 + 1, r, b), &gbDownArrowBitmap, GUI_ID_SPIN_DOWN, style);
    } else {
        const int w = r - l + 1;
        first = new GuiBitmapButton(GuiRect(l, t, l + w / 2, b), &gbLeftArrowBitmap, GUI_ID_SPIN_LEFT, style);
        second = new GuiBitmapButton(GuiRect(l + w / 2 + 1, t, r, b), &gbMoreBitmap, GUI_ID_SPIN_RIGHT, style);
    }
    Add(first, 1);
    Add(second, 1);
    mSignalMask = (1u << GUI_SIG_SPIN_MORE) | (1u << GUI_SIG_SPIN_LESS);
}

void GuiSpinButton::UpdateSlave(unsigned direction)
{
    if (!mpSlave || !mpSlave->mpText || !*mpSlave->mpText) return;
    // Read in 64 bits and clamped there: no step overflows.
    int64_t v = std::strtoll(mpSlave->mpText, nullptr, 10);
    v = direction == GUI_SIG_SPIN_LESS ? v - mStep : v + mStep;
    if (v < mMin) v = mMin;
    if (v > mMax) v = mMax;
    char number[16];
    _ltoa(int32_t(v), number, 10);
    char text[kMaxDigits + 1];
    const int len = int(std::strlen(number));
    const int width = std::min(int(mMinDigits), kMaxDigits);
    if (width >= 1 && width > len) {
        // Zeros go between the sign and the digits, so that the text still
        // reads back as the same number at the next step.
        const int sign = number[0] == '-' ? 1 : 0;
        std::memcpy(text, number, size_t(sign));
        std::memset(text + sign, '0', size_t(width - len));
        std::memcpy(text + sign + (width - len), number + sign, size_t(len - sign) + 1);
    } else {
        std::memcpy(text, number, size_t(len) + 1);
    }
    mpSlave->DataSet(text);
    mpSlave->Draw();
}

int GuiSpinButton::Message(const GuiMessage& msg)
{
    uint8_t signal;
    if (msg.type == GuiSignalType(GUI_ID_SPIN_UP, GUI_SIG_CLICKED) ||
        msg.type == GuiSignalType(GUI_ID_SPIN_RIGHT, GUI_SIG_CLICKED))
        signal = GUI_SIG_SPIN_MORE;
    else if (msg.type == GuiSignalType(GUI_ID_SPIN_DOWN, GUI_SIG_CLICKED) ||
             msg.type == GuiSignalType(GUI_ID_SPIN_LEFT, GUI_SIG_CLICKED))
        signal = GUI_SIG_SPIN_LESS;
    else
        return GuiThing::Message(msg);
    if (mpSlave) UpdateSlave(signal);
    if (SignalAllowed(signal)) SendSignal(signal);
    return 0;
}
