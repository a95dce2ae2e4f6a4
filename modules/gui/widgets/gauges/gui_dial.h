// Needle dials: one integer value shown as the angle of a needle turning
// about a centre of rotation (COR). GuiCircularDial wraps every "values per
// turn" like a clock hand; GuiFiniteDial sweeps between a start and an end
// angle. Angles are whole degrees, 0 pointing right and growing
// counter-clockwise; the needle turns clockwise as the value grows.
//
// A value change redraws only the strip the needle sweeps (CalcClipAndDraw).
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

enum : uint8_t {
    GT_FINITE_DIAL = 50,
    GT_FINITE_BITMAP_DIAL = 51,
    GT_CIRCULAR_DIAL = 56,
    GT_CIRCULAR_BITMAP_DIAL = 57,
};

// Style bits of the dials (besides the frame bits and GST_TRANSPARENT).
constexpr uint16_t GDS_TICKS = 0x0040;
constexpr uint16_t GDS_THIN_NEEDLE = 0x0080;      // 1-pixel line
constexpr uint16_t GDS_THICK_NEEDLE = 0x0100;     // 3-pixel line
constexpr uint16_t GDS_POLYGON_NEEDLE = 0x0200;   // filled kite
constexpr uint16_t GDS_SMALL_KITE = 0x0400;       // kite base from the half size; bitmap dials: COR at the centre
constexpr uint16_t GDS_COR_OFFSET = 0x0800;       // bitmap dials: COR at the client top-left plus an offset

class GuiDial : public GuiThing {
public:
    GuiDial(const GuiRect& rect, unsigned int style);
    // Outer rectangle (x, y, x + 100, y + 100).
    GuiDial(int x, int y, unsigned int style);
    ~GuiDial() override;

    virtual void SetValue(long value, int redraw);
    // Returns the value after the step.
    virtual long IncrementValue(long delta, int redraw);
    virtual int ValToAngle(long value) = 0;
    virtual void CalcNeedlePos() = 0;
    virtual void DrawTicMarks() = 0;
    virtual void DrawNeedle();
    virtual void DrawAnchor();
    // Paints a line needle over in the dial colour (a kite is left alone).
    virtual void EraseNeedle();
    // 1 when the needle rectangle did not change (nothing drawn), else 0.
    virtual int CalcClipAndDraw();
    // The plain face: a black ring, two white rings, a filled disc.
    virtual void DrawDial();
    // Tick ends on the face for a value within the limits; other values
    // leave both points as they were.
    virtual void CalcTicPos(long value, GuiPoint& outer, GuiPoint& inner);

    long Value() const { return miValue; }
    long Minimum() const { return miMin; }
    long Maximum() const { return miMax; }
    int NeedleAngle() const { return miNeedleAngle; }
    GuiPoint NeedleTip() const { return mTip; }
    GuiPoint Cor() const { return mCor; }
    // The rectangle the needle covers now.
    GuiRect NeedleRect() const;

    // Fields, in this order.
    int32_t miValue = 0;
    int32_t miNeedleAngle = 0;
    GuiPoint mTip{0, 0};
    GuiPoint mCor{0, 0};
    int32_t miNeedleLength = 80;     // percent of the dial radius
    int32_t miTickInterval = 0;      // value step between ticks; 0: none
    int32_t miTickLength = 10;       // percent of the tick radius
    int32_t miAnchorRadius = 4;      // pixels
    uint32_t mNeedleColor = 0xBF0000;
    uint32_t mDialColor = 0xC0C0C0;
    uint32_t mAnchorColor = 0x000000;
    int32_t miStartAngle = 0;        // finite dials: angle of the minimum
    int32_t miEndAngle = 0;          // finite dials: angle of the maximum, <= start
    int32_t miMin = 0;
    int32_t miMax = 0;
    int32_t mbNeedlePlaced = 0;      // 1 while CalcClipAndDraw redraws

protected:
    // Half the client width and height, rounded down.
    int HalfWidth() const { return (mClient.right - mClient.left + 1) >> 1; }
    int HalfHeight() const { return (mClient.bottom - mClient.top + 1) >> 1; }
    GuiPoint ClientCentre() const;
    // Stores the angle, COR and the tip at needle length percent of radius.
    void PlaceNeedle(int angle, GuiPoint cor, int radius);
    // The point `distance` pixels from `from` at `angle`.
    static GuiPoint PointAt(GuiPoint from, int angle, long long distance);
    // Corners of the kite needle beside the COR.
    void KiteSides(GuiPoint& p1, GuiPoint& p3) const;
    // The face with border, ticks, children, needle and anchor; `border`
    // says whether the standard border goes first.
    void DrawFace(bool border);
    // A black tick line from outer to inner of the given width.
    void DrawTick(long value, GuiPoint& outer, GuiPoint& inner, int width);

private:
    void InitDial();
};

class GuiCircularDial : public GuiDial {
public:
    GuiCircularDial(const GuiRect& rect, int originAngle, long valuesPerTurn, long min, long max,
                    unsigned int style);
    GuiCircularDial(int x, int y, int originAngle, long valuesPerTurn, long min, long max, unsigned int style);
    ~GuiCircularDial() override;

    void Draw() override;
    int ValToAngle(long value) override;
    void CalcNeedlePos() override;
    void DrawTicMarks() override;
    // Current value = min; no redraw.
    virtual void SetLimits(int originAngle, long valuesPerTurn, long min, long max);

    int32_t miOriginAngle = 0;      // angle of the minimum
    int32_t miValuesPerTurn = 2;    // the value wraps after this many

protected:
    // Values per turn, at least 2 (one turn needs two distinct values).
    long long Period() const;
    // The angle of the current value, wrapped into one turn.
    int CurrentAngle();
};

class GuiFiniteDial : public GuiDial {
public:
    GuiFiniteDial(const GuiRect& rect, int startAngle, int endAngle, long min, long max, unsigned int style);
    GuiFiniteDial(int x, int y, int startAngle, int endAngle, long min, long max, unsigned int style);
    ~GuiFiniteDial() override;

    void Draw() override;
    // The limits map to the start and end angles, values between them
    // linearly; below and above the limits count as the limits.
    int ValToAngle(long value) override;
    void CalcNeedlePos() override;
    void DrawTicMarks() override;
    // Current value = min; an end angle above the start is taken one turn
    // lower. No redraw.
    virtual void SetLimits(int startAngle, int endAngle, long min, long max);

protected:
    int CurrentAngle() { return ValToAngle(miValue); }
};
