// Bitmap animations driven by the GUI timer (message 29):
// - GuiAnimation steps through a list of frames, each with its own delay,
//   position and disposal, once or in a loop;
// - GuiAnimationWindow shows a background bitmap and cycles an array of
//   frame bitmaps over it at a fixed period.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

constexpr uint8_t GT_ANIMATION = 30;
constexpr uint8_t GT_ANIMATION_WINDOW = 157;

// Modes of GuiAnimation.
enum : uint16_t {
    GUI_ANIM_LOOP = 0x0001,        // back to the first frame after the last
    GUI_ANIM_HOLD = 0x0002,        // draws also when stopped; the last frame stays
    GUI_ANIM_AUTOSTART = 0x0004,   // starts when shown
};

// What is drawn before a frame.
enum : uint32_t {
    GUI_DISPOSE_CLEAR = 0,         // 0 and 2: the client area in colour slot 0
    GUI_DISPOSE_BACKGROUND = 2,
    GUI_DISPOSE_PREVIOUS = 4,      // the previous frame again
};

constexpr uint16_t GUI_ANIMATION_TIMER = 0x1000;
constexpr uint16_t GUI_ANIMATION_WINDOW_TIMER = 1;

// One record of a frame list; the list ends with a record whose bitmap is null.
struct GuiAnimationFrame {
    GuiBitmap* bitmap;
    uint32_t delay;       // timer ticks until the next frame
    int32_t xOffset;      // position relative to the thing
    int32_t yOffset;
    uint32_t disposal;
};

class GuiAnimation : public GuiThing {
public:
    GuiAnimation(const GuiRect& rect, GuiAnimationFrame* frames, unsigned short id, unsigned short style);
    GuiAnimation(const GuiRect& rect, unsigned short id, unsigned short style);
    ~GuiAnimation() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Keeps a copy of the list (the caller's list may go). A list without
    // frames leaves the animation without frames, and stopped.
    void InitializeFrameList(GuiAnimationFrame* frames);
    void AssignFrameList(GuiAnimationFrame* frames);
    // Frame numbers that name no frame of the list are ignored.
    void SetCurrentFrame(int frame);
    void SetMode(unsigned short mode) { mMode = mode; }
    // Runs from frame (negative: the current one).
    void Start(int frame);
    void Stop();

    int FrameCount() const;
    bool IsRunning() const { return mRunning != 0; }

    int32_t miFrame = 0;
    uint16_t mMode = 0;
    GuiAnimationFrame* mpFrames = nullptr;    // owned copy with its ending record
    GuiAnimationFrame* mpCurrent = nullptr;
    uint32_t mRunning = 0;

private:
    void Halt();
    void ShowCurrent();
    void ClearFromParent();
};

class GuiAnimationWindow : public GuiWindow {
public:
    // frames: count bitmaps, not owned; palette: 256 entries of red, green,
    // blue bytes set on the screen when shown, or null.
    GuiAnimationWindow(const GuiRect& rect, GuiBitmap* background, GuiBitmap** frames, unsigned char count,
                       int xOffset, int yOffset, unsigned char* palette, unsigned int style);
    ~GuiAnimationWindow() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;

    // Cycles one frame per period ticks from first (an unknown frame: 0).
    virtual void Run(unsigned int period, unsigned char first);
    virtual void Stop();
    // Shows frame (frames that do not exist are ignored).
    virtual void SetFrame(unsigned char frame);
    virtual void SetBkgBitmap(GuiBitmap* background) { mpBackground = background; }
    virtual void SetFrameOffset(int x, int y);
    virtual void SetAnimationList(GuiBitmap** frames) { mppFrames = frames; }
    virtual void DrawAnimationFrame();

    uint8_t mCurFrame = 0;
    uint8_t mFrameCount = 0;
    unsigned char* mpPalette = nullptr;
    int16_t mXOffset = 0;
    int16_t mYOffset = 0;
    GuiBitmap* mpBackground = nullptr;
    GuiBitmap** mppFrames = nullptr;
};
