// Gui2DPolygon: rotation from the base points by the integer sine table, so
// that turning again and again never accumulates rounding.
#include "gui/widgets/shapes/gui_2d_polygon.h"

#include <algorithm>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/shapes/gui_shape_coords.h"
#include "gui/widgets/shapes/gui_sincos.h"

using gui_shapes::Saturate16;

Gui2DPolygon::Gui2DPolygon(const GuiRect& rect, GuiPoint* points, unsigned int count, unsigned int id,
                           unsigned short style)
    : GuiThing(rect, uint16_t(id), style)
{
    mOwnsBase = style & GST_COPY_TEXT;
    if (!points || count == 0) return;   // no polygon: only the background is drawn
    if (mOwnsBase) {
        mpBasePoints = new (std::nothrow) GuiPoint[count];
        if (!mpBasePoints) return;
        std::copy(points, points + count, mpBasePoints);
    } else {
        mpBasePoints = points;
    }
    mCount = count;
    MapPolygonToReal();
    mpCurPoints = new (std::nothrow) GuiPoint[count];
    if (!mpCurPoints) {
        // Without a drawn copy the thing behaves as one without points.
        if (mOwnsBase) delete[] mpBasePoints;
        mpBasePoints = nullptr;
        mCount = 0;
        return;
    }
    std::copy(mpBasePoints, mpBasePoints + count, mpCurPoints);
}

Gui2DPolygon::~Gui2DPolygon()
{
    if (mOwnsBase) delete[] mpBasePoints;
    delete[] mpCurPoints;
}

void Gui2DPolygon::MapPolygonToReal()
{
    if (!mpBasePoints) return;
    for (uint32_t i = 0; i < mCount; ++i) {
        mpBasePoints[i].x = Saturate16((long long)mpBasePoints[i].x + mOuter.left);
        mpBasePoints[i].y = Saturate16((long long)mpBasePoints[i].y + mOuter.top);
    }
}

void Gui2DPolygon::SetCurAngle(int angle)
{
    if (angle == mAngle) return;
    mAngle = angle;
    if (!mpBasePoints || !mpCurPoints) return;
    const long long cx = mOuter.left + ((mOuter.right - mOuter.left + 1) >> 1);
    const long long cy = mOuter.top + ((mOuter.bottom - mOuter.top + 1) >> 1);
    int s = 0, c = 0;
    GuiLookupSinCos(angle, &s, &c);
    for (uint32_t i = 0; i < mCount; ++i) {
        const long long dx = mpBasePoints[i].x - cx, dy = mpBasePoints[i].y - cy;
        mpCurPoints[i].x = Saturate16(cx + ((c * dx) >> 10) + ((s * dy) >> 10));
        mpCurPoints[i].y = Saturate16(cy + ((c * dy) >> 10) - ((s * dx) >> 10));
    }
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mOuter);
}

void Gui2DPolygon::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    const bool transparent = (mStyle & GST_TRANSPARENT) != 0;
    GuiColor colour{mColor[2], transparent && mpParent ? mpParent->mColor[0] : mColor[0], 0};
    if (!(transparent && (mStyle & GST_FRAME_MASK) == GST_FRAME_NONE)) StandardBorder(colour.background);
    if (mFill) {
        colour.flags = GUI_COLOR_FILL;
        colour.background = mColor[3];
    }
    if (mpCurPoints && mCount) s->Polygon(this, mpCurPoints, int(std::min<uint32_t>(mCount, INT32_MAX)), colour,
                                          mOutlineWidth);
    s->EndDraw();
}

void Gui2DPolygon::ShiftPoints(int dx, int dy)
{
    for (GuiPoint* pts : {mpBasePoints, mpCurPoints}) {
        if (!pts) continue;
        for (uint32_t i = 0; i < mCount; ++i) {
            pts[i].x = Saturate16((long long)pts[i].x + dx);
            pts[i].y = Saturate16((long long)pts[i].y + dy);
        }
    }
}

void Gui2DPolygon::Resize(GuiRect rect)
{
    // Moved with the rectangle, never scaled.
    ShiftPoints(rect.left - mOuter.left, rect.top - mOuter.top);
    GuiThing::Resize(rect);
}

void Gui2DPolygon::ParentShift(int dx, int dy)
{
    ShiftPoints(dx, dy);
    GuiThing::ParentShift(dx, dy);
}
