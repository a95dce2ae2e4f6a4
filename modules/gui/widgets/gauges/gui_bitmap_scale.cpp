// GuiLinearBitmapScale: a background bitmap with a needle bitmap (or a
// drawn needle) composed off screen, the track given by two offsets.
#include "gui/widgets/gauges/gui_scale.h"

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"

using namespace gui_gauges;

namespace {
constexpr unsigned int kBitmapScaleStyle = GSS_TRACK_OFFSETS | GST_FRAME_NONE;
}

GuiLinearBitmapScale::GuiLinearBitmapScale(const GuiRect& rect, long min, long max, int trackStart, int trackEnd,
                                           GuiBitmap* background, GuiBitmap* needle, unsigned int style)
    : GuiScale(rect, min, max, style | kBitmapScaleStyle),
      mpBackground(background),
      mpNeedle(needle),
      miTrackStartOffset(trackStart),
      miTrackEndOffset(trackEnd)
{
    mType = GT_LINEAR_BITMAP_SCALE;
    // The base placed the needle on its own track; now on the offsets'.
    ValToPoint(miValue, mNeedlePoint);
}

GuiLinearBitmapScale::GuiLinearBitmapScale(int x, int y, long min, long max, int trackStart, int trackEnd,
                                           GuiBitmap* background, GuiBitmap* needle, unsigned int style)
    : GuiScale(x, y, min, max, style | kBitmapScaleStyle),
      mpBackground(background),
      mpNeedle(needle),
      miTrackStartOffset(trackStart),
      miTrackEndOffset(trackEnd)
{
    mType = GT_LINEAR_BITMAP_SCALE;
    if (background) {
        mOuter = GuiRect(x, y, x + background->width - 1, y + background->height - 1);
        mClip = mOuter;
        InitClient();
    }
    ValToPoint(miValue, mNeedlePoint);
}

GuiLinearBitmapScale::~GuiLinearBitmapScale()
{
    if (mpComposite && mpScreen) mpScreen->DestroyBitmap(mpComposite);
}

void GuiLinearBitmapScale::SetTravelPoints()
{
    if (!(mStyle & GSS_TRACK_OFFSETS)) {
        GuiScale::SetTravelPoints();
        return;
    }
    const int base = Vertical() ? mClient.top : mClient.left;
    miTrackStart = base + miTrackStartOffset;
    miTrackEnd = base + miTrackEndOffset;
}

GuiPoint GuiLinearBitmapScale::NeedleBitmapAt(const GuiPoint& point) const
{
    const int nw = mpNeedle ? mpNeedle->width : 0, nh = mpNeedle ? mpNeedle->height : 0;
    const bool fromLeftTop = mStyle & GSS_FROM_LEFT_TOP;
    if (Vertical())
        return SaturatedPoint(fromLeftTop ? mClient.right - nw + 1 : mClient.left,
                              (long long)point.y - (miNeedleOffset + (nh >> 1)));
    return SaturatedPoint((long long)point.x - (miNeedleOffset + (nw >> 1)),
                          fromLeftTop ? mClient.bottom - nh + 1 : mClient.top);
}

void GuiLinearBitmapScale::CalcNeedleRect(const GuiPoint& point, GuiRect& rect)
{
    if (!mpNeedle) {
        GuiScale::CalcNeedleRect(point, rect);
        return;
    }
    const GuiPoint at = NeedleBitmapAt(point);
    rect = GuiRect(at.x, at.y, at.x + mpNeedle->width - 1, at.y + mpNeedle->height - 1);
}

void GuiLinearBitmapScale::DrawBitmapNeedle()
{
    if (!mpNeedle || !mpScreen) return;
    GuiPoint at = NeedleBitmapAt(mNeedlePoint);
    // With a background the needle goes into the composite.
    if (mpBackground) at = SaturatedPoint((long long)at.x - mOuter.left, (long long)at.y - mOuter.top);
    mpScreen->Bitmap(this, at, mpNeedle, 0);
}

void GuiLinearBitmapScale::DrawToComposite()
{
    if (!mpScreen || !EnsureComposite(mpComposite, mpBackground)) return;
    if (!BeginComposite(*this, mpComposite)) return;
    mpScreen->Bitmap(this, GuiPoint{0, 0}, mpBackground, 0);
    if (mpNeedle) DrawBitmapNeedle();
    mpScreen->EndDraw(mpComposite);
}

void GuiLinearBitmapScale::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    PlaceNeedle();
    if (mpBackground) {
        DrawToComposite();
        s->BeginDraw(this);
        s->Bitmap(this, GuiPoint{mOuter.left, mOuter.top}, mpComposite, 0);
    } else {
        s->BeginDraw(this);
        const uint32_t fill = BackgroundOf(*this);
        s->Rectangle(this, mOuter, GuiColor{fill, fill, GUI_COLOR_FILL}, 1);
        if (mpNeedle) DrawBitmapNeedle();
    }
    if (!mpNeedle) DrawNeedle();
    DrawChildren();
    s->EndDraw();
}

void GuiLinearBitmapScale::SetBkgBitmap(GuiBitmap* background)
{
    mpBackground = background;
    ReplaceBackground(*this, mpComposite, background);
}
