// GuiWindow: the screen object that holds other screen objects in its client
// area, draws a frame around them and can run its own modal message loop,
// in the GUI task or in any other task.
//
// This is the part of the window that the presentation manager and the
// display's containers rest on: fields, construction, frame, drawing, adding
// children, the modal loop and the default message handling.
#pragma once

#include <cstdint>

#include "gui/core/gui_thing.h"

class GuiVScroll;
class GuiHScroll;
class GuiIcon;

// Scroll modes (GuiWindow::mScrollMode).
enum : uint8_t {
    GUI_SCROLL_V = 0x01,
    GUI_SCROLL_V_AUTO = 0x02,
    GUI_SCROLL_H = 0x04,
    GUI_SCROLL_H_AUTO = 0x08,
    GUI_SCROLL_LIVE = 0x80,
};

// Ids reserved by the library: clicking 1000 or 1002 to 1008 closes a window;
// 1000 and 1001 are also a scroll bar's arrow buttons.
constexpr uint16_t GUI_ID_CLOSE_FIRST = 1000;
constexpr uint16_t GUI_ID_CLOSE_LAST = 1008;
constexpr uint16_t GUI_ID_SCROLL_ARROW = 1001;

// Result of a window's handler for message 6: ends its Execute.
constexpr int GUI_RESULT_CLOSED = 1000;

class GuiWindow : public GuiTextThing {
public:
    GuiWindow(const GuiRect& rect, unsigned int style);
    explicit GuiWindow(unsigned int style);
    ~GuiWindow() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Add(GuiThing* child, int draw) override;
    void Resize(GuiRect rect) override;
    void InitClient() override;

    virtual int Execute(int add);
    virtual uint8_t GetScrollMode();
    virtual void DrawFrame(int fill);
    virtual GuiBitmap* GetIcon();
    virtual void SetIcon(GuiBitmap* icon);
    virtual void SetWallpaper(GuiBitmap* wallpaper, int mode);
    virtual int BorderContains(GuiPoint point);

    GuiBitmap* mpIconBitmap;     // null: the built-in window icon
    GuiBitmap* mpWallpaper;      // null: none
    GuiVScroll* mpVScroll;
    GuiHScroll* mpHScroll;
    int32_t mExecuting;          // set when Execute starts
    int32_t mMaximized;
    int32_t mMoveOutlineShown;
    int32_t mWallpaperMode;      // non-zero: tiled, 0: centred
    uint8_t mScrollMode;
    uint8_t mMoveMode;           // border part being dragged, 128 the whole window
    uint8_t mPointerShape;       // shape last set for a border hover
    GuiPoint mMoveStart;
    GuiPoint mMoveLast;
    GuiRect mSavedOuter;         // outer rectangle before a maximise

private:
    void InitWindow(unsigned int style);
    bool PointerInputBlocked(const GuiMessage& msg);
    // Back to the plain pointer after a border hover set another shape.
    void ResetPointerShape();
};
