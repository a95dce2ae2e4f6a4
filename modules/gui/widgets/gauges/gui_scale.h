// Linear scales: one integer value shown as the position of a needle
// sliding along a straight track, vertical or horizontal. GuiScale keeps
// the value, the track and the drawn needles; GuiLinearScale draws a groove
// with ticks; GuiLinearBitmapScale draws a background bitmap and a needle
// bitmap through an off-screen composite.
//
// A value change redraws only the strip between the old and the new needle.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

enum : uint8_t {
    GT_LINEAR_SCALE = 54,
    GT_LINEAR_BITMAP_SCALE = 55,
};

// Style bits of the scales (besides the frame bits and GST_TRANSPARENT).
constexpr uint16_t GSS_FROM_LEFT_TOP = 0x0020;     // needle and ticks start at the left (top) side
constexpr uint16_t GSS_MIN_LOW = 0x0040;           // minimum at the bottom (left) end of the track
constexpr uint16_t GSS_VERTICAL = 0x0080;
constexpr uint16_t GSS_TICKS = 0x0100;
constexpr uint16_t GSS_TRACK_OFFSETS = 0x0400;     // bitmap scale: track from the two offsets
constexpr uint16_t GSS_THIN_NEEDLE = 0x0800;       // 1-pixel line
constexpr uint16_t GSS_THICK_NEEDLE = 0x1000;      // 5-pixel line
constexpr uint16_t GSS_ARROW_NEEDLE = 0x2000;      // filled arrow; wins over the line needles

class GuiScale : public GuiThing {
public:
    GuiScale(const GuiRect& rect, long min, long max, unsigned int style);
    // Outer rectangle (x, y, x + 100, y + 150).
    GuiScale(int x, int y, long min, long max, unsigned int style);
    ~GuiScale() override;

    virtual void SetValue(long value, int redraw);
    // Returns the value after the step.
    virtual long IncrementValue(long delta, int redraw);
    virtual void DrawNeedle();
    // The track point of a value; only the coordinate along the track is set.
    virtual void ValToPoint(long value, GuiPoint& point);
    virtual void SetTravelPoints();
    // 1 when the needle point did not move (nothing drawn), else 0.
    virtual int CalcClipAndDraw();
    // The rectangle a needle at point covers; empty without a needle.
    virtual void CalcNeedleRect(const GuiPoint& point, GuiRect& rect);

    // The limits; the current value is not clamped to new ones.
    void SetMinValue(long value, int redraw);
    void SetMaxValue(long value, int redraw);

    long Value() const { return miValue; }
    GuiPoint NeedlePoint() const { return mNeedlePoint; }

    // Fields, in this order.
    int32_t miValue = 0;
    int32_t miMin = 0;
    int32_t miMax = 0;
    int32_t miTrackStart = 0;    // pixel coordinate of the minimum end
    int32_t miTrackEnd = 0;
    uint32_t mNeedleColor = 0xBF0000;
    GuiPoint mNeedlePoint{0, 0};
    int32_t mbNeedlePlaced = 0;  // 1 while CalcClipAndDraw redraws

protected:
    bool Vertical() const { return (mStyle & GSS_VERTICAL) != 0; }
    // +1 when needle and ticks grow from the left (top) side, else -1.
    int Toward() const { return (mStyle & GSS_FROM_LEFT_TOP) ? 1 : -1; }
    // Client size across the track and along it.
    int Across() const { return Vertical() ? mClient.Width() : mClient.Height(); }
    int Along() const { return Vertical() ? mClient.Height() : mClient.Width(); }
    // Where the drawn needle starts across the track, and its length.
    int NeedleBase() const;
    int NeedleLength() const;
    // A line across the track at `at` (the coordinate along it) from
    // `from` to `to` across it.
    void CrossLine(int at, int from, int to, uint32_t colour);
    // The stored needle point follows the value unless CalcClipAndDraw
    // placed it already.
    void PlaceNeedle();

private:
    void InitScale(long min, long max);
};

class GuiLinearScale : public GuiScale {
public:
    GuiLinearScale(const GuiRect& rect, long min, long max, long tickInterval, unsigned int style);
    GuiLinearScale(int x, int y, long min, long max, long tickInterval, unsigned int style);
    ~GuiLinearScale() override;

    void Draw() override;
    // Border and the three-line groove along the track.
    virtual void DrawScale();
    virtual void DrawTicMarks();

    int32_t miTickInterval = 0;   // 0: no ticks
};

class GuiLinearBitmapScale : public GuiScale {
public:
    GuiLinearBitmapScale(const GuiRect& rect, long min, long max, int trackStart, int trackEnd,
                         GuiBitmap* background, GuiBitmap* needle, unsigned int style);
    GuiLinearBitmapScale(int x, int y, long min, long max, int trackStart, int trackEnd, GuiBitmap* background,
                         GuiBitmap* needle, unsigned int style);
    ~GuiLinearBitmapScale() override;

    void Draw() override;
    void SetTravelPoints() override;
    void CalcNeedleRect(const GuiPoint& point, GuiRect& rect) override;

    void DrawBitmapNeedle();
    void DrawToComposite();
    // A new background: a new composite of its size, the scale resized to it.
    void SetBkgBitmap(GuiBitmap* background);

    GuiBitmap* mpBackground = nullptr;   // not owned
    GuiBitmap* mpNeedle = nullptr;       // not owned; may be null
    GuiBitmap* mpComposite = nullptr;    // owned
    int32_t miNeedleOffset = 0;          // moves the needle bitmap against the travel
    int32_t miTrackStartOffset = 0;      // from the client left (top)
    int32_t miTrackEndOffset = 0;

private:
    // Top-left of the needle bitmap for a needle at point, in screen coordinates.
    GuiPoint NeedleBitmapAt(const GuiPoint& point) const;
};
