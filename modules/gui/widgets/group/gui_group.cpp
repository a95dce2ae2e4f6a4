// GuiGroup: the etched frame with the caption gap, focus hand-on and
// enabling of the buttons inside.
#include "gui/widgets/group/gui_group.h"

#include "gui/core/gui_button.h"
#include "gui/core/gui_presentation.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/buttons/gui_decorated_button.h"
#include "gui/widgets/buttons/gui_ml_text_button.h"

namespace {

constexpr uint32_t kShade = 0x808080;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr uint16_t kActiveSelectable = GS_ACTIVE | GS_SELECTABLE;   // 0x0404

}  // namespace

GuiGroup::GuiGroup(GuiRect& rect, const char* text, unsigned short style)
    : GuiTextThing(rect, 0, style, text, GUI_FONT_SLOT_GROUP)
{
    mType = GT_GROUP;
    mStatus |= GS_ACTIVE;
    mClient = mOuter;
    mClient -= 2;
    if (mpFont && mpScreen) mClient.top = int16_t(mClient.top + mpScreen->TextHeight(nullptr, mpFont) / 2);
    mColor[2] = kBlack;
}

GuiGroup::~GuiGroup() = default;

bool GuiGroup::IsButton(const GuiThing* thing)
{
    switch (thing->mType) {
    case GT_BUTTON:
    case GT_TEXT_BUTTON:
    case GT_BITMAP_BUTTON:
    case GT_RADIO:
    case GT_CHECK:
    case GT_ML_TEXT_BUTTON:
    case GT_DECORATED_BUTTON:
        return true;
    default:
        return false;
    }
}

void GuiGroup::Add(GuiThing* child, int draw)
{
    if (!child) return;
    child->RemoveStatus(GS_VIEWPORT_OWNER);
    GuiThing::Add(child, draw);
}

GuiThing* GuiGroup::Remove(GuiThing* child, int draw)
{
    GuiThing* removed = GuiThing::Remove(child, 0);
    if (removed && IsVisible() && draw && mpParent) mpParent->Draw();
    return removed;
}

void GuiGroup::Enable(int enable)
{
    const bool enabled = (mStyle & GST_ENABLED) != 0;
    if (enable ? enabled : !enabled) return;
    if (enable) {
        mStyle |= GST_ENABLED;
        mStatus |= kActiveSelectable;
    } else {
        mStyle &= uint16_t(~GST_ENABLED);
        mStatus &= uint16_t(~kActiveSelectable);
    }
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext) {
        if (!IsButton(c)) continue;
        // The type says button; the cast makes sure before calling in.
        auto* button = dynamic_cast<GuiButton*>(c);
        if (!button) continue;
        if (enable) {
            button->Enable();
            button->AddStatus(kActiveSelectable);
        } else {
            button->Disable();
            button->RemoveStatus(kActiveSelectable);
        }
    }
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}

void GuiGroup::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    if (mpParent) mColor[0] = mpParent->mColor[0];
    s->BeginDraw(this);
    s->Rectangle(this, mClient, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 0);

    const int l = mOuter.left, t = mOuter.top, r = mOuter.right, b = mOuter.bottom;
    const int ct = mClient.top;
    const bool caption = mpText && mpFont;
    const int w = caption ? s->TextWidth(mpText, mpFont, -1) : 0;
    auto line = [&](int x1, int y1, int x2, int y2, uint32_t c) {
        s->Line(this, x1, y1, x2, y2, GuiColor{c, c, 0}, 1);
    };
    // Etched edge: grey, with white one pixel right and below it. The top
    // lines leave a gap from L + 8 to L + 10 + w for the caption.
    if (caption) {
        line(l, ct - 2, l + 7, ct - 2, kShade);
        line(l + 11 + w, ct - 2, r, ct - 2, kShade);
    } else {
        line(l, ct - 2, r, ct - 2, kShade);
    }
    line(l, ct - 1, l, b, kShade);
    line(l + 1, b - 1, r - 1, b - 1, kShade);
    line(r - 1, ct - 2, r - 1, b - 1, kShade);
    if (caption) {
        line(l + 1, ct - 1, l + 7, ct - 1, kWhite);
        line(l + 11 + w, ct - 1, r - 2, ct - 1, kWhite);
    } else {
        line(l + 1, ct - 1, r - 2, ct - 1, kWhite);
    }
    line(l + 1, ct, l + 1, b - 1, kWhite);
    line(l, b, r, b, kWhite);
    line(r, ct - 2, r, b, kWhite);

    if (caption) {
        GuiColor ink{(mStyle & GST_ENABLED) ? mColor[2] : kShade, mColor[0], 0};
        s->DrawText(this, GuiPoint{int16_t(l + 9), int16_t(t)}, mpText, ink, mpFont, -1, 0);
    }
    GuiThing::Draw();
    s->EndDraw();
}

int GuiGroup::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        GuiThing::Message(msg);
        if (mpParent) mColor[0] = mpParent->mColor[0];
        return 0;
    case GM_FOCUS_GAINED:
        if (mpPresentation && mpPresentation->mpFocus == this) MoveFocusToFirstClientChild();
        GuiThing::Message(msg);
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}
