// GuiAnimation: one one-shot timer per frame, set to that frame's delay;
// its expiry moves to the next frame.
#include "gui/widgets/animation/gui_animation.h"

#include <algorithm>
#include <new>

#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"

GuiAnimation::GuiAnimation(const GuiRect& rect, GuiAnimationFrame* frames, unsigned short id, unsigned short style)
    : GuiAnimation(rect, id, style)
{
    InitializeFrameList(frames);
}

GuiAnimation::GuiAnimation(const GuiRect& rect, unsigned short id, unsigned short style) : GuiThing(rect, id, style)
{
    mType = GT_ANIMATION;
}

GuiAnimation::~GuiAnimation()
{
    // Stop leaves the frame timer pending; deleted with its parent, the
    // animation must not be the target of a later expiry.
    if (mpMessageQueue) {
        mpMessageQueue->KillTimer(this, GUI_ANIMATION_TIMER);
        mpMessageQueue->Purge(this, GM_TIMER, 0);
    }
    delete[] mpFrames;
}

int GuiAnimation::FrameCount() const
{
    int n = 0;
    if (mpFrames)
        while (mpFrames[n].bitmap) ++n;
    return n;
}

void GuiAnimation::Halt()
{
    mRunning = 0;
    if (mpMessageQueue) mpMessageQueue->KillTimer(this, GUI_ANIMATION_TIMER);
}

void GuiAnimation::InitializeFrameList(GuiAnimationFrame* frames)
{
    delete[] mpFrames;
    mpFrames = mpCurrent = nullptr;
    int count = 0;
    if (frames)
        while (frames[count].bitmap) ++count;
    if (count > 0) mpFrames = new (std::nothrow) GuiAnimationFrame[size_t(count) + 1];
    if (!mpFrames) {
        // Nothing left to show: a running animation stops here instead of
        // stepping through a list that is gone.
        miFrame = 0;
        Halt();
        return;
    }
    std::copy(frames, frames + count, mpFrames);
    mpFrames[count] = GuiAnimationFrame{nullptr, 0, 0, 0, 0};
    if (miFrame < 0 || miFrame >= count) miFrame = 0;
    mpCurrent = mpFrames + miFrame;
}

void GuiAnimation::AssignFrameList(GuiAnimationFrame* frames)
{
    InitializeFrameList(frames);
    miFrame = 0;
    if (mpFrames) mpCurrent = mpFrames;
    if (mRunning) SetCurrentFrame(0);
}

void GuiAnimation::ShowCurrent()
{
    if (mpScreen) mpScreen->Invalidate(mClient);
    Draw();
    if (mpMessageQueue) mpMessageQueue->SetTimer(this, GUI_ANIMATION_TIMER, long(std::min<uint32_t>(mpCurrent->delay, INT32_MAX)), 0);
}

void GuiAnimation::SetCurrentFrame(int frame)
{
    if (frame < 0 || frame >= FrameCount()) return;
    miFrame = frame;
    mpCurrent = mpFrames + frame;
    if (mRunning) ShowCurrent();
}

void GuiAnimation::Start(int frame)
{
    if (!mpFrames) return;
    if (frame < 0) frame = miFrame;
    if (frame >= FrameCount()) return;
    mRunning = 1;
    SetCurrentFrame(frame);
}

void GuiAnimation::ClearFromParent()
{
    if (!mpParent) return;
    if (mpScreen) mpScreen->Invalidate(mClient);
    mpParent->Draw();
}

void GuiAnimation::Stop()
{
    // The pending timer stays; its expiry finds the animation stopped.
    mRunning = 0;
    if (mpFrames && !(mMode & GUI_ANIM_HOLD)) ClearFromParent();
}

int GuiAnimation::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE:
        if (mpMessageQueue) mpMessageQueue->KillTimer(this, 0);
        mRunning = 0;
        return GuiThing::Message(msg);
    case GM_SHOW:
        if ((mMode & GUI_ANIM_AUTOSTART) && mpFrames) {
            mRunning = 1;
            SetCurrentFrame(miFrame);
        }
        return GuiThing::Message(msg);
    case GM_TIMER:
        if (!mRunning || !mpFrames) return 0;
        ++miFrame;
        ++mpCurrent;
        if (!mpCurrent->bitmap) {
            miFrame = 0;
            mpCurrent = mpFrames;
            if (!(mMode & GUI_ANIM_LOOP)) mRunning = 0;
        }
        if (mRunning)
            ShowCurrent();
        else if (!(mMode & GUI_ANIM_HOLD))
            ClearFromParent();
        return 0;
    default:
        return GuiThing::Message(msg);
    }
}

void GuiAnimation::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s || !mpFrames || !mpCurrent || !(mRunning || (mMode & GUI_ANIM_HOLD))) return;
    s->BeginDraw(this);
    switch (mpCurrent->disposal) {
    case GUI_DISPOSE_CLEAR:
    case GUI_DISPOSE_BACKGROUND:
        s->Rectangle(this, mClient, GuiColor{mColor[0], mColor[0], GUI_COLOR_FILL}, 0);
        break;
    case GUI_DISPOSE_PREVIOUS:
        // Where the previous frame was drawn: outer corner plus its offsets.
        if (miFrame > 0) {
            const GuiAnimationFrame& prev = mpFrames[miFrame - 1];
            s->Bitmap(this, GuiPoint{int16_t(mOuter.left + prev.xOffset), int16_t(mOuter.top + prev.yOffset)},
                      prev.bitmap, 0);
        }
        break;
    default:
        break;
    }
    if (mpCurrent->bitmap)
        s->Bitmap(this,
                  GuiPoint{int16_t(mOuter.left + mpCurrent->xOffset), int16_t(mOuter.top + mpCurrent->yOffset)},
                  mpCurrent->bitmap, 0);
    s->EndDraw();
}
