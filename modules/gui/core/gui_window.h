// GuiWindow: the screen object that holds other screen objects in its client
// area, draws a frame around them and can run its own modal message loop,
// in the GUI task or in any other task.
//
// A window may carry scroll bars (fixed or automatic ones that appear when
// its client children overflow the client area), a wallpaper, a minimise
// icon, and can be moved, sized, maximised, minimised and restored with the
// pointer.
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

// Border parts of a sizable window, and the move mode of a whole window.
enum : uint8_t {
    GUI_BORDER_TOP = 1,
    GUI_BORDER_BOTTOM = 2,
    GUI_BORDER_LEFT = 4,
    GUI_BORDER_RIGHT = 8,
    GUI_MOVE_WINDOW = 128,
};

// Width of a window's scroll bar.
constexpr int GUI_SCROLL_BAR = 16;

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
    GuiThing* Remove(GuiThing* child, int draw) override;
    void Resize(GuiRect rect) override;
    void InitClient() override;

    // Appended operations, in this order.
    virtual int Execute(int add);
    virtual void AddIcon(GuiIcon* icon);
    virtual void SetScrollMode(unsigned int mode);
    virtual unsigned int GetScrollMode();
    virtual void GetVScrollInfo(GuiScrollInfo* info);
    virtual void GetHScrollInfo(GuiScrollInfo* info);
    virtual void DrawFrame(int fill);
    virtual GuiBitmap* GetIcon();
    virtual void SetIcon(GuiBitmap* icon);
    virtual void SetWallpaper(GuiBitmap* wallpaper, int mode);
    // Adds or removes the automatic bars by the children's extent; 1 when a
    // bar was added or removed.
    virtual int CheckAutoScroll();
    virtual GuiVScroll* CreateVScroll();
    virtual GuiHScroll* CreateHScroll();
    // The border part under the point (GUI_BORDER_*), 0 outside or when the
    // window is not sizable.
    virtual int BorderContains(GuiPoint point);
    virtual void MoveClientObjects(int dx, int dy, int redraw);

    // Execute (1) with the pointer captured by the window the whole time.
    int GlobalModalExecute();
    // The square between the two bars, light grey.
    void FillScrollCorner();
    // Draws (erase 0) or erases (1) the XOR outline of a move or size.
    void DrawMoveFrame(int erase);
    // Limits a sized rectangle so the window does not shrink below its
    // smallest size; the dragged edge gives way.
    void CheckResizeRect(GuiRect& rect);

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
    // The outer rectangle with the dragged edges moved by (last - start).
    GuiRect MovedRect() const;
    int PointerMoved(const GuiMessage& msg);
    int PointerPressed(const GuiMessage& msg);
    int PointerReleased(const GuiMessage& msg);
    void StartMove(const GuiMessage& msg);
    void Maximize();
    void Minimize();
    void RestoreSize();
    // The ancestor just below the presentation manager (or this window).
    GuiThing* TopLevel();
    int RunModal(int add, bool global);
    int GlobalPointerMessage(GuiMessage& msg);
    // A client child came or went: automatic bars are re-checked.
    void ChildrenChanged();
    // Adds a new fixed bar or removes one, moving the client edge by 16.
    void AddVBar();
    void AddHBar();
    void DropVBar();
    void DropHBar();
    // One round of CheckAutoScroll; true when a bar came or went.
    bool AutoScrollOnce();
    bool AutoScrollAxis(bool vertical);
    bool PointerInputBlocked(const GuiMessage& msg);
    // Back to the plain pointer after a border hover set another shape.
    void ResetPointerShape();
};
