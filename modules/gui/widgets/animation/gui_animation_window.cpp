// GuiAnimationWindow: one periodic timer; each expiry shows the next frame
// of the array over the background.
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/animation/gui_animation.h"

GuiAnimationWindow::GuiAnimationWindow(const GuiRect& rect, GuiBitmap* background, GuiBitmap** frames,
                                       unsigned char count, int xOffset, int yOffset, unsigned char* palette,
                                       unsigned int style)
    : GuiWindow(rect, style),
      mFrameCount(count),
      mpPalette(palette),
      mXOffset(int16_t(xOffset)),
      mYOffset(int16_t(yOffset)),
      mpBackground(background),
      mppFrames(frames)
{
    mType = GT_ANIMATION_WINDOW;
}

GuiAnimationWindow::~GuiAnimationWindow()
{
    // Deleted with its parent while cycling: no expiry may reach it later.
    if (mpMessageQueue) {
        mpMessageQueue->KillTimer(this, GUI_ANIMATION_WINDOW_TIMER);
        mpMessageQueue->Purge(this, GM_TIMER, 0);
    }
}

void GuiAnimationWindow::Run(unsigned int period, unsigned char first)
{
    if (!mppFrames || mFrameCount == 0) {
        Stop();   // nothing to cycle
        return;
    }
    if (mpMessageQueue) mpMessageQueue->SetTimer(this, GUI_ANIMATION_WINDOW_TIMER, long(period), long(period));
    mCurFrame = first < mFrameCount ? first : 0;
}

void GuiAnimationWindow::Stop()
{
    if (mpMessageQueue) mpMessageQueue->KillTimer(this, GUI_ANIMATION_WINDOW_TIMER);
}

void GuiAnimationWindow::SetFrame(unsigned char frame)
{
    if (frame >= mFrameCount) return;
    mCurFrame = frame;
    DrawAnimationFrame();
}

void GuiAnimationWindow::SetFrameOffset(int x, int y)
{
    mXOffset = int16_t(x);
    mYOffset = int16_t(y);
}

int GuiAnimationWindow::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE: {
        const int result = GuiWindow::Message(msg);
        Stop();
        return result;
    }
    case GM_SHOW: {
        const int result = GuiWindow::Message(msg);
        if (mpPalette && mpScreen) mpScreen->SetPalette(0, 256, mpPalette);
        return result;
    }
    case GM_TIMER:
        if (!mppFrames || mFrameCount == 0) {
            Stop();   // the frames were taken away: nothing to step through
            return 0;
        }
        mCurFrame = uint8_t(mCurFrame + 1);
        if (mCurFrame >= mFrameCount) mCurFrame = 0;
        DrawAnimationFrame();
        return 0;
    default:
        return GuiWindow::Message(msg);
    }
}

void GuiAnimationWindow::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    if (mpBackground) s->Bitmap(this, GuiPoint{mClient.left, mClient.top}, mpBackground, 0);
    DrawChildren();
    s->EndDraw();
}

void GuiAnimationWindow::DrawAnimationFrame()
{
    GuiScreen* s = mpScreen;
    if (!s || !mppFrames || mCurFrame >= mFrameCount) return;
    GuiBitmap* frame = mppFrames[mCurFrame];
    if (!frame) return;
    const int x = mClient.left + mXOffset, y = mClient.top + mYOffset;
    s->Invalidate(GuiRect(x, y, x + frame->width, y + frame->height));
    s->BeginDraw(this);
    s->Bitmap(this, GuiPoint{int16_t(x), int16_t(y)}, frame, 0);
    s->EndDraw();
}
