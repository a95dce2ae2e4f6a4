// Gui2DPolygon: a screen object that shows a polygon given relative to its
// own rectangle, outlined or filled, and turns it about the rectangle's
// centre by whole degrees. It moves with its rectangle and its parent and
// is never scaled.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

class Gui2DPolygon : public GuiThing {
public:
    // points relative to the top-left corner of rect. With style 0x2000
    // (GST_COPY_TEXT) the thing keeps a copy of its own; otherwise it uses
    // the caller's array, which it shifts to screen coordinates in place
    // and which must outlive it.
    Gui2DPolygon(const GuiRect& rect, GuiPoint* points, unsigned int count, unsigned int id, unsigned short style);
    ~Gui2DPolygon() override;

    void Draw() override;
    void Resize(GuiRect rect) override;
    void ParentShift(int dx, int dy) override;

    // Turns the polygon to angle degrees (counter-clockwise on the screen)
    // from its shape at angle 0 and invalidates the thing when visible.
    void SetCurAngle(int angle);
    // Shifts the base points by the top-left corner of the rectangle.
    void MapPolygonToReal();

    uint32_t mCount = 0;
    GuiPoint* mpBasePoints = nullptr;   // the polygon at angle 0, screen coordinates
    GuiPoint* mpCurPoints = nullptr;    // the polygon as drawn (owned)
    uint32_t mFill = 0;                 // non-zero: filled in colour slot 3
    int32_t mAngle = 0;
    uint32_t mOwnsBase = 0;             // 0x2000 when mpBasePoints is a copy of its own
    int32_t mOutlineWidth = 1;

private:
    void ShiftPoints(int dx, int dy);
};
