// Scroll bars: two arrow buttons, a track and a draggable thumb whose length
// shows the visible part of the range.
//
// A bar made by the default constructor is a window's own bar (non-client):
// it reads the window's extent of children and reports a change of
// position as message 23 (vertical) or 24 (horizontal) with data = old
// position and payload word 0 = new position. A bar made over a rectangle
// is free-standing and reports signal 8 with the new position in payload
// word 0.
#pragma once

#include "gui/core/gui_thing.h"

class GuiBitmapButton;
class GuiScrollButton;

// Ids of the arrow buttons: up or left, down or right.
constexpr unsigned short GUI_ID_ARROW_BACK = 1000;
constexpr unsigned short GUI_ID_ARROW_FORWARD = 1001;

class GuiScroll : public GuiThing {
public:
    GuiScroll();
    GuiScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id);
    ~GuiScroll() override;

    // Re-reads the range from the parent window.
    virtual void Reset();
    // Takes the given range.
    virtual void Reset(GuiScrollInfo* info);
    // Keeps current within minimum..maximum.
    virtual void CheckScrollLimits();
    // Places the thumb by the range, and reads the range of the parent
    // window; each direction supplies them.
    virtual void SetScrollButtonPos();
    virtual void ReadParentScrollInfo();

    GuiScrollInfo mInfo;
    GuiBitmapButton* mpArrow1;   // up or left
    GuiBitmapButton* mpArrow2;   // down or right
    GuiScrollButton* mpThumb;

protected:
    // Reports a change from `old` to the current position to the parent.
    void Notify(int32_t old, bool vertical);
    // Common handling of both directions; `vertical` picks the axis.
    int ScrollMessage(const GuiMessage& msg, bool vertical);
    void PlaceThumb(bool vertical);
    void ReadWindowInfo(bool vertical);
    void DrawBar();
};

class GuiVScroll : public GuiScroll {
public:
    GuiVScroll();
    GuiVScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id);
    ~GuiVScroll() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void SetScrollButtonPos() override;
    void ReadParentScrollInfo() override;

private:
    void Build();
};

class GuiHScroll : public GuiScroll {
public:
    GuiHScroll();
    GuiHScroll(const GuiRect& rect, GuiScrollInfo* info, unsigned int id);
    ~GuiHScroll() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void SetScrollButtonPos() override;
    void ReadParentScrollInfo() override;

private:
    void Build();
};

// The thumb.
class GuiScrollButton : public GuiThing {
public:
    explicit GuiScrollButton(int vertical);
    ~GuiScrollButton() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Moves the thumb to follow the pointer at `coordinate` along the bar;
    // 1 when it moved.
    int MoveDraw(int coordinate);

    int32_t mVertical;
    int32_t mDragging;
    int32_t mLast;        // last pointer coordinate along the bar
    int32_t mStart;       // pointer coordinate at the press
    GuiRect mStartRect;   // the thumb at the press

private:
    // Tells the bar where the thumb now is (message 23 or 24).
    void ReportPlace();
};
