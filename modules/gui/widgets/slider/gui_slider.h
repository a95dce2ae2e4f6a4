// GuiSlider: a framed track with an optional tick scale and a draggable
// thumb (GuiSlideButton) whose position maps linearly onto an integer range
// from the minimum (top or left) to the maximum (which may lie below the
// minimum). Taller than wide is vertical, otherwise horizontal. Pressing the
// track makes the thumb jump to the pointer and start a drag; with the snap
// style the value keeps to steps of about the scale. Each change reaches the
// parent straight (not queued) as signal 9 with the value in payload word 0.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

constexpr uint8_t GT_SLIDER = 23;
// Style bit: the value snaps to the scale's steps.
constexpr uint16_t GSS_SNAP = 0x0100;
// Thumb to slider: the value changed (payload word 0: the value).
constexpr uint16_t GM_SLIDER_VALUE = 35;
constexpr uint8_t GUI_SIG_SLIDER_VALUE = 9;
// Scale that draws neither ticks nor groove.
constexpr int GUI_SLIDER_NO_SCALE = -1;
// Length of the thumb along the track.
constexpr int GUI_THUMB_LENGTH = 8;

class GuiSlideButton;

class GuiSlider : public GuiThing {
public:
    GuiSlider(const GuiRect& rect, int min, int max, unsigned id, unsigned style, int scale);
    ~GuiSlider() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;

    virtual void SetMinValue(int value);
    virtual void SetMaxValue(int value);
    // The drawn ticks; the thumb keeps the snap step it was built with.
    virtual void SetScale(int scale);
    virtual int GetMinValue();
    virtual int GetMaxValue();
    virtual int GetScale();
    virtual void SetCurrentValue(int value, int redraw);
    virtual int GetCurrentValue();
    virtual void Reset(int min, int max, int current);

    void DrawScale();
    bool IsVertical() const { return mClient.Width() < mClient.Height(); }

    GuiSlideButton* mpThumb;   // owned child, made at the first show or value access
    int32_t mMin;
    int32_t mMax;
    int32_t mScale;

private:
    GuiSlideButton* Thumb();
    void Repaint();
};

class GuiSlideButton : public GuiThing {
public:
    GuiSlideButton(int min, int max, int scale, unsigned style);
    ~GuiSlideButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    // Any move of the slider re-sizes the thumb from the slider's client area.
    void ParentShift(int dx, int dy) override;

    virtual void SetSize();
    virtual void UpdatePosition(GuiPoint point);
    virtual void RecalcCurrentPos(int redraw);
    virtual void UpdateHorzPos(int delta, int redraw);
    virtual void SetDragLimits();

    void SetMinValue(int value);
    void SetMaxValue(int value);
    void SetCurrentValue(int value, int redraw);
    void Reset(int min, int max, int current);
    void UpdateVertPos(int delta, int redraw);
    void CheckSnap(GuiPoint point, int vertical);

    int32_t mDragging;
    int32_t mMin;
    int32_t mMax;
    int32_t mScale;     // snap step, copied at construction
    int32_t mCurrent;
    int32_t mLowLimit;  // first pixel the thumb may take along the track
    int32_t mHighLimit; // last pixel
    int16_t mDragX;
    int16_t mDragY;

private:
    bool Vertical() const;
    int Leading() const { return Vertical() ? mOuter.top : mOuter.left; }
    // Pixels the leading edge can travel; 0 on a track too short for the thumb.
    int64_t Travel() const;
    // Leading edge (pixel) to value, and back; 64-bit so that wide ranges
    // do not overflow.
    int32_t ValueAt(int leading) const;
    // Moves along the track by delta, kept within the limits.
    void MoveBy(int delta, int redraw);
};
