// Bitmap needle dials: the COR, the composite of background, needle and
// anchor, and drawing it or, without a background, the needle alone.
#include "gui/widgets/gauges/gui_bitmap_dial.h"

#include <algorithm>
#include <type_traits>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"

using namespace gui_gauges;

namespace {

constexpr uint16_t kCorBits = GDS_SMALL_KITE | GDS_COR_OFFSET;

unsigned int WithCor(unsigned int style, uint16_t cor) { return (style & ~unsigned(kCorBits)) | cor; }

}  // namespace

template <class Dial>
template <class... Args>
GuiBitmapDialOf<Dial>::GuiBitmapDialOf(GuiBitmap* background, GuiBitmap* anchor, Args... dialArgs)
    : Dial(dialArgs...), mpBackground(background), mpAnchor(anchor)
{
}

template <class Dial>
GuiBitmapDialOf<Dial>::~GuiBitmapDialOf()
{
    if (mpComposite && GuiThing::mpScreen) GuiThing::mpScreen->DestroyBitmap(mpComposite);
}

template <class Dial>
void GuiBitmapDialOf<Dial>::FitToBackground(int x, int y)
{
    if (!mpBackground) return;
    this->mOuter = GuiRect(x, y, x + mpBackground->width - 1, y + mpBackground->height - 1);
    this->mClip = this->mOuter;
    this->InitClient();
}

template <class Dial>
void GuiBitmapDialOf<Dial>::CopyTransparency()
{
    if (!mpComposite || !mpBackground) return;
    mpComposite->flags = uint8_t((mpComposite->flags & ~GUI_BMP_TRANSPARENT) | (mpBackground->flags & GUI_BMP_TRANSPARENT));
    mpComposite->transparentColor = mpBackground->transparentColor;
}

template <class Dial>
void GuiBitmapDialOf<Dial>::UseTrueCOR(int on)
{
    this->mStyle = uint16_t(WithCor(this->mStyle, on ? GDS_SMALL_KITE : GDS_COR_OFFSET));
}

template <class Dial>
void GuiBitmapDialOf<Dial>::SetCOR(int x, int y, int redraw)
{
    mCorOffset = GuiPoint{int16_t(x), int16_t(y)};
    if (this->IsVisible() && redraw && GuiThing::mpScreen) {
        GuiThing::mpScreen->Invalidate(this->mClient);
        Draw();
    }
}

template <class Dial>
void GuiBitmapDialOf<Dial>::CalcNeedlePos()
{
    const GuiRect& c = this->mClient;
    if (this->mStyle & GDS_SMALL_KITE) {
        this->PlaceNeedle(this->CurrentAngle(), this->ClientCentre(),
                          std::min(this->HalfWidth(), this->HalfHeight()));
    } else {
        const GuiPoint cor = SaturatedPoint((long long)c.left + mCorOffset.x, (long long)c.top + mCorOffset.y);
        this->PlaceNeedle(this->CurrentAngle(), cor, std::max(c.Width(), c.Height()));
    }
}

template <class Dial>
void GuiBitmapDialOf<Dial>::DrawToComposite()
{
    constexpr bool kFinite = std::is_same_v<Dial, GuiFiniteDial>;
    GuiScreen* s = GuiThing::mpScreen;
    if (!s || !EnsureComposite(mpComposite, mpBackground)) return;
    if constexpr (kFinite) CopyTransparency();
    if (!this->mbNeedlePlaced) CalcNeedlePos();

    // The composite has its own coordinates: the outer top-left is (0, 0).
    const int dx = -this->mOuter.left, dy = -this->mOuter.top;
    const GuiRect savedClip = this->mClip;
    this->mClip.Shift(dx, dy);
    if (BeginComposite(*this, mpComposite)) {
        if constexpr (kFinite) {
            if ((this->mStyle & GST_TRANSPARENT) || (mpBackground->flags & GUI_BMP_TRANSPARENT)) {
                const GuiRect all(0, 0, mpComposite->width - 1, mpComposite->height - 1);
                const bool onParent = this->mpParent && (this->mStyle & GST_FRAME_MASK) == GST_FRAME_NONE;
                const uint32_t fill = onParent ? this->mpParent->mColor[0] : this->mColor[0];
                s->Rectangle(this, all, GuiColor{fill, fill, GUI_COLOR_FILL}, onParent ? 0 : 1);
            }
        }
        s->Bitmap(this, GuiPoint{0, 0}, mpBackground, 0);
        const GuiPoint tip = this->mTip, cor = this->mCor;
        this->mTip = SaturatedPoint((long long)tip.x + dx, (long long)tip.y + dy);
        this->mCor = SaturatedPoint((long long)cor.x + dx, (long long)cor.y + dy);
        this->DrawNeedle();
        if (!mpAnchor)
            this->DrawAnchor();
        else if (this->mStyle & GDS_SMALL_KITE)
            s->Bitmap(this, GuiPoint{int16_t(this->mCor.x - mpAnchor->width / 2), int16_t(this->mCor.y - mpAnchor->height / 2)},
                      mpAnchor, 0);
        s->EndDraw(mpComposite);
        this->mTip = tip;
        this->mCor = cor;
    }
    this->mClip = savedClip;
}

template <class Dial>
void GuiBitmapDialOf<Dial>::Draw()
{
    constexpr bool kFinite = std::is_same_v<Dial, GuiFiniteDial>;
    GuiScreen* s = GuiThing::mpScreen;
    if (!s) return;
    if (mpBackground) {
        DrawToComposite();
        s->BeginDraw(this);
        s->Bitmap(this, GuiPoint{this->mOuter.left, this->mOuter.top}, mpComposite, 0);
        this->DrawChildren();
        s->EndDraw();
        return;
    }
    s->BeginDraw(this);
    if constexpr (kFinite) {
        if (this->mStyle & GST_TRANSPARENT) {
            if (this->mpParent && (this->mStyle & GST_FRAME_MASK) == GST_FRAME_NONE) {
                const uint32_t fill = this->mpParent->mColor[0];
                s->Rectangle(this, this->mOuter, GuiColor{fill, fill, GUI_COLOR_FILL}, 0);
            } else {
                this->StandardBorder(this->mColor[0]);
            }
        }
    }
    this->DrawChildren();
    if (!this->mbNeedlePlaced) CalcNeedlePos();
    this->DrawNeedle();
    if constexpr (kFinite) this->DrawAnchor();
    s->EndDraw();
}

template class GuiBitmapDialOf<GuiCircularDial>;
template class GuiBitmapDialOf<GuiFiniteDial>;

// ---- circular: always starts with the true COR ----------------------------------------------

GuiCircularBitmapDial::GuiCircularBitmapDial(const GuiRect& rect, int originAngle, long valuesPerTurn, long min,
                                             long max, GuiBitmap* background, GuiBitmap* anchor, unsigned int style)
    : GuiBitmapDialOf(background, anchor, rect, originAngle, valuesPerTurn, min, max, WithCor(style, GDS_SMALL_KITE))
{
    mType = GT_CIRCULAR_BITMAP_DIAL;
    CalcNeedlePos();
}

GuiCircularBitmapDial::GuiCircularBitmapDial(int x, int y, int originAngle, long valuesPerTurn, long min, long max,
                                             GuiBitmap* background, GuiBitmap* anchor, unsigned int style)
    : GuiBitmapDialOf(background, anchor, x, y, originAngle, valuesPerTurn, min, max, WithCor(style, GDS_SMALL_KITE))
{
    mType = GT_CIRCULAR_BITMAP_DIAL;
    FitToBackground(x, y);
    CalcNeedlePos();
}

GuiCircularBitmapDial::~GuiCircularBitmapDial() = default;

// ---- finite: the COR the style asks for -----------------------------------------------------

namespace {

unsigned int FiniteCor(unsigned int style)
{
    return WithCor(style, (style & GDS_COR_OFFSET) ? GDS_COR_OFFSET : GDS_SMALL_KITE);
}

}  // namespace

GuiFiniteBitmapDial::GuiFiniteBitmapDial(const GuiRect& rect, int startAngle, int endAngle, long min, long max,
                                         GuiBitmap* background, GuiBitmap* anchor, unsigned int style)
    : GuiBitmapDialOf(background, anchor, rect, startAngle, endAngle, min, max, FiniteCor(style))
{
    mType = GT_FINITE_BITMAP_DIAL;
    CalcNeedlePos();
}

GuiFiniteBitmapDial::GuiFiniteBitmapDial(int x, int y, int startAngle, int endAngle, long min, long max,
                                         GuiBitmap* background, GuiBitmap* anchor, unsigned int style)
    : GuiBitmapDialOf(background, anchor, x, y, startAngle, endAngle, min, max, FiniteCor(style))
{
    mType = GT_FINITE_BITMAP_DIAL;
    FitToBackground(x, y);
    CalcNeedlePos();
}

GuiFiniteBitmapDial::~GuiFiniteBitmapDial() = default;

void GuiFiniteBitmapDial::SetBkgBitmap(GuiBitmap* background)
{
    mpBackground = background;
    ReplaceBackground(*this, mpComposite, background);
    CopyTransparency();
}
