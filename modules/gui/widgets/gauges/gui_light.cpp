// Lights: the state logic of GuiLight and the per-state tables and drawing
// of the colour and the bitmap light.
#include "gui/widgets/gauges/gui_light.h"

#include <algorithm>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/gauges/gui_gauge_support.h"

using namespace gui_gauges;

namespace {

// SetNumStates of a light with a per-state table: the table follows the
// count (kept entries, zero after them), then the state logic.
template <class Entry>
unsigned int ResizeStates(GuiLight& light, Entry*& table, unsigned int count)
{
    if (count == 0 || count == light.muNumStates) return light.muNumStates;
    if (!ResizeTable(table, table ? light.muNumStates : 0, count)) return light.muNumStates;
    return light.GuiLight::SetNumStates(count);
}

}  // namespace

// ---- state logic ---------------------------------------------------------------------------

GuiLight::GuiLight(const GuiRect& rect, unsigned int numStates, unsigned int style)
    : GuiThing(rect, 0, uint16_t(style)), muNumStates(numStates)
{
    InitClient();
}

GuiLight::GuiLight(int x, int y, unsigned int numStates, unsigned int style)
    : GuiThing(GuiRect(x, y, x + 100, y + 100), 0, uint16_t(style)), muNumStates(numStates)
{
    InitClient();
}

GuiLight::~GuiLight() = default;

unsigned int GuiLight::Redrawn(int redraw)
{
    if (IsVisible() && redraw && mpScreen) {
        mpScreen->Invalidate(mClient);
        Draw();
    }
    return muState;
}

unsigned int GuiLight::IncrementState(int redraw)
{
    muState = muState + 1 >= muNumStates ? 0 : muState + 1;
    return Redrawn(redraw);
}

unsigned int GuiLight::DecrementState(int redraw)
{
    // Without states there is no last one: the state stays 0.
    muState = muState == 0 ? (muNumStates ? muNumStates - 1 : 0) : muState - 1;
    return Redrawn(redraw);
}

unsigned int GuiLight::SetState(unsigned int state, int redraw)
{
    if (state < muNumStates) muState = state;
    return Redrawn(redraw);
}

unsigned int GuiLight::SetNumStates(unsigned int count)
{
    if (count == 0 || count == muNumStates) return muNumStates;
    muNumStates = count;
    if (muState >= count) muState = count - 1;
    return muNumStates;
}

// ---- colour light --------------------------------------------------------------------------

GuiColorLight::GuiColorLight(const GuiRect& rect, unsigned int numStates, unsigned int style)
    : GuiLight(rect, numStates, style)
{
    mType = GT_COLOR_LIGHT;
}

GuiColorLight::GuiColorLight(int x, int y, unsigned int numStates, unsigned int style)
    : GuiLight(x, y, numStates, style)
{
    mType = GT_COLOR_LIGHT;
}

GuiColorLight::~GuiColorLight() { delete[] mpColors; }

unsigned int GuiColorLight::SetNumStates(unsigned int count) { return ResizeStates(*this, mpColors, count); }

int GuiColorLight::SetStateColor(unsigned int state, unsigned long colour)
{
    if (!mpColors && muNumStates != 0) ResizeTable(mpColors, 0, muNumStates);
    if (state >= muNumStates || !mpColors) return 0;
    mpColors[state] = uint32_t(colour);
    return 1;
}

void GuiColorLight::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || muNumStates == 0 || !mpColors) return;
    s->BeginDraw(this);
    const uint32_t c = mpColors[std::min(muState, muNumStates - 1)];
    if (mStyle & GLS_RECTANGLE) {
        StandardBorder(c);
    } else if (mStyle & GLS_ROUND) {
        if ((mStyle & GST_TRANSPARENT) && mpParent) StandardBorder(mpParent->mColor[0]);
        const int w = mClient.Width(), h = mClient.Height();
        const int r = std::min(h / 2, w / 2);
        const int x = mClient.left + w / 2, y = mClient.top + h / 2;
        GuiColor lit{c, c, GUI_COLOR_FILL}, ring{0x000000, 0x000000, 0};
        s->Circle(this, x, y, r, lit, 1);
        s->Circle(this, x, y, r, ring, 1);
    }
    DrawChildren();
    s->EndDraw();
}

// ---- bitmap light ---------------------------------------------------------------------------

GuiBitmapLight::GuiBitmapLight(const GuiRect& rect, unsigned int numStates) : GuiLight(rect, numStates, GST_FRAME_NONE)
{
    mType = GT_BITMAP_LIGHT;
}

GuiBitmapLight::GuiBitmapLight(int x, int y, unsigned int numStates) : GuiLight(x, y, numStates, GST_FRAME_NONE)
{
    mType = GT_BITMAP_LIGHT;
}

GuiBitmapLight::~GuiBitmapLight() { delete[] mppBitmaps; }

unsigned int GuiBitmapLight::SetNumStates(unsigned int count) { return ResizeStates(*this, mppBitmaps, count); }

int GuiBitmapLight::SetStateBitmap(unsigned int state, GuiBitmap* bitmap)
{
    if (!mppBitmaps && muNumStates != 0 && ResizeTable(mppBitmaps, 0, muNumStates) && bitmap &&
        bitmap->width && bitmap->height)
        Resize(GuiRect(mOuter.left, mOuter.top, mOuter.left + bitmap->width - 1, mOuter.top + bitmap->height - 1));
    if (state >= muNumStates || !mppBitmaps) return 0;
    mppBitmaps[state] = bitmap;
    return 1;
}

void GuiBitmapLight::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || muNumStates == 0 || !mppBitmaps) return;
    s->BeginDraw(this);
    // A state without a bitmap shows only the children.
    if (GuiBitmap* b = mppBitmaps[std::min(muState, muNumStates - 1)])
        s->Bitmap(this, GuiPoint{mOuter.left, mOuter.top}, b, 0);
    DrawChildren();
    s->EndDraw();
}
