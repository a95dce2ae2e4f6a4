// GuiDial: construction, value changes, needle geometry and drawing, the
// plain face, tick positions and the partial redraw after a value change.
#include "gui/widgets/gauges/gui_dial.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"
#include "gui/widgets/shapes/gui_sincos.h"

using namespace gui_gauges;

namespace {

constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF, kShade = 0x808080;
// Half the opening of the kite needle at the COR, in degrees.
constexpr int kKiteHalfAngle = 15;

}  // namespace

GuiDial::GuiDial(const GuiRect& rect, unsigned int style) : GuiThing(rect, 0, uint16_t(style)) { InitDial(); }

GuiDial::GuiDial(int x, int y, unsigned int style) : GuiThing(GuiRect(x, y, x + 100, y + 100), 0, uint16_t(style))
{
    miTickLength = 0;
    InitDial();
}

GuiDial::~GuiDial() = default;

void GuiDial::InitDial()
{
    mColor[0] = 0xC0C0C0;
    if ((mStyle & GST_FRAME_MASK) == 0) mStyle |= GST_FRAME_NONE;
    // An opaque dial paints all of its area itself.
    if (!(mStyle & GST_TRANSPARENT)) mStatus |= GS_VIEWPORT_OWNER;
    GuiThing::InitClient();
}

// ---- value changes -------------------------------------------------------------------

void GuiDial::SetValue(long value, int redraw) { SetGaugeValue(*this, value, redraw); }

long GuiDial::IncrementValue(long delta, int redraw) { return IncrementGaugeValue(*this, delta, redraw); }

// ---- geometry -----------------------------------------------------------------------------

GuiPoint GuiDial::ClientCentre() const
{
    return GuiPoint{int16_t(mClient.left + HalfWidth()), int16_t(mClient.top + HalfHeight())};
}

GuiPoint GuiDial::PointAt(GuiPoint from, int angle, long long distance)
{
    int sine = 0, cosine = 0;
    GuiLookupSinCos(angle, &sine, &cosine);
    return SaturatedPoint(from.x + ((distance * cosine) >> 10), from.y - ((distance * sine) >> 10));
}

void GuiDial::PlaceNeedle(int angle, GuiPoint cor, int radius)
{
    miNeedleAngle = angle;
    mCor = cor;
    const long long length = std::max(0LL, (long long)miNeedleLength * radius / 100);
    mTip = PointAt(cor, angle, length);
}

void GuiDial::KiteSides(GuiPoint& p1, GuiPoint& p3) const
{
    const int size = (mStyle & GDS_SMALL_KITE) ? std::min(HalfWidth(), HalfHeight())
                                               : std::max(mClient.Width(), mClient.Height());
    const long long base = std::max(0LL, (long long)miNeedleLength * size / 100) / 3;
    p1 = PointAt(mCor, miNeedleAngle - kKiteHalfAngle, base);
    p3 = PointAt(mCor, miNeedleAngle + kKiteHalfAngle, base);
}

GuiRect GuiDial::NeedleRect() const
{
    GuiRect r = SpanOf(mTip, mCor);
    // The kite reaches past the line from COR to tip on both sides.
    if ((mStyle & (GDS_THIN_NEEDLE | GDS_THICK_NEEDLE | GDS_POLYGON_NEEDLE)) == GDS_POLYGON_NEEDLE) {
        GuiPoint p1, p3;
        KiteSides(p1, p3);
        r |= SpanOf(p1, p3);
    }
    return r;
}

void GuiDial::CalcTicPos(long value, GuiPoint& outer, GuiPoint& inner)
{
    if (value < miMin || value > miMax) return;
    const int angle = ValToAngle(value);
    const long long r = std::min(HalfWidth(), HalfHeight()) - 4;
    const GuiPoint centre = ClientCentre();
    outer = PointAt(centre, angle, r);
    inner = PointAt(centre, angle, r - (long long)miTickLength * r / 100);
}

// ---- drawing ----------------------------------------------------------------------------------

void GuiDial::DrawNeedle()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const GuiColor c{mNeedleColor, mNeedleColor, GUI_COLOR_FILL};
    if (mStyle & GDS_THIN_NEEDLE) {
        s->Line(this, mTip.x, mTip.y, mCor.x, mCor.y, c, 1);
    } else if (mStyle & GDS_THICK_NEEDLE) {
        s->Line(this, mTip.x, mTip.y, mCor.x, mCor.y, c, 3);
    } else if (mStyle & GDS_POLYGON_NEEDLE) {
        GuiPoint p1, p3;
        KiteSides(p1, p3);
        GuiPoint kite[5] = {mCor, p1, mTip, p3, mCor};
        s->Polygon(this, kite, 5, GuiColor{kBlack, mNeedleColor, GUI_COLOR_FILL}, 1);
    }
}

void GuiDial::DrawAnchor()
{
    if (!mpScreen) return;
    GuiColor c{mAnchorColor, mAnchorColor, GUI_COLOR_FILL};
    mpScreen->Circle(this, mCor.x, mCor.y, miAnchorRadius, c, 1);
}

void GuiDial::EraseNeedle()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    const GuiColor c{mDialColor, mDialColor, 0};
    if (mStyle & GDS_THIN_NEEDLE) s->Line(this, mTip.x, mTip.y, mCor.x, mCor.y, c, 1);
    else if (mStyle & GDS_THICK_NEEDLE) s->Line(this, mTip.x, mTip.y, mCor.x, mCor.y, c, 3);
    DrawAnchor();
    s->EndDraw();
}

void GuiDial::DrawDial()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    const int r = std::min(HalfWidth(), HalfHeight());
    const GuiPoint c = ClientCentre();
    GuiColor black{kBlack, kBlack, 0}, white{kWhite, kWhite, 0}, face{kShade, mDialColor, GUI_COLOR_FILL};
    s->Circle(this, c.x, c.y, r, black, 1);
    s->Circle(this, c.x, c.y, r - 1, white, 1);
    s->Circle(this, c.x, c.y, r - 2, white, 1);
    s->Circle(this, c.x, c.y, r - 3, face, 1);
}

void GuiDial::DrawTick(long value, GuiPoint& outer, GuiPoint& inner, int width)
{
    // A value beyond the limits has no place on the face.
    if (value < miMin || value > miMax || !mpScreen) return;
    CalcTicPos(value, outer, inner);
    mpScreen->Line(this, outer.x, outer.y, inner.x, inner.y, GuiColor{kBlack, kBlack, 0}, width);
}

void GuiDial::DrawFace(bool border)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (border) StandardBorder(BackgroundOf(*this));
    if (!mbNeedlePlaced) CalcNeedlePos();
    DrawDial();
    if (mStyle & GDS_TICKS) DrawTicMarks();
    DrawChildren();
    DrawNeedle();
    DrawAnchor();
    s->EndDraw();
}

int GuiDial::CalcClipAndDraw()
{
    const GuiRect before = NeedleRect();
    CalcNeedlePos();
    const GuiRect after = NeedleRect();
    if (after == before) return 1;

    const int grow = (mStyle & GDS_THICK_NEEDLE) ? 3 : (mStyle & GDS_POLYGON_NEEDLE) ? 10 : 2;
    GuiRect area = UnionOf(before, after);
    area += grow;
    RedrawStrip(*this, mbNeedlePlaced, area);
    return 0;
}
