// Bitmap needle dials: the needle of a circular or finite dial over a
// background bitmap instead of the drawn face. Background, needle and
// anchor are drawn into an off-screen composite that reaches the screen in
// one piece. The COR is the client centre (GDS_SMALL_KITE, "true COR") or
// the client top-left plus an offset (GDS_COR_OFFSET); with an offset no
// anchor bitmap is drawn.
#pragma once

#include "gui/widgets/gauges/gui_dial.h"

// The bitmap half shared by both dials; Dial is GuiCircularDial or
// GuiFiniteDial.
template <class Dial>
class GuiBitmapDialOf : public Dial {
public:
    ~GuiBitmapDialOf() override;

    void Draw() override;
    void CalcNeedlePos() override;

    // Renders background, needle and anchor into the composite.
    void DrawToComposite();
    // COR at the client centre (on) or at the client top-left plus the
    // offset (off); no redraw.
    void UseTrueCOR(int on);
    void SetCOR(int x, int y, int redraw);

    GuiBitmap* mpBackground = nullptr;   // not owned; may be null
    GuiBitmap* mpAnchor = nullptr;       // not owned; may be null
    GuiBitmap* mpComposite = nullptr;    // owned
    GuiPoint mCorOffset{0, 0};           // from the client top-left

protected:
    template <class... Args>
    GuiBitmapDialOf(GuiBitmap* background, GuiBitmap* anchor, Args... dialArgs);
    // Position form: the outer rectangle takes the background's size.
    void FitToBackground(int x, int y);
    // The composite shows what the background leaves transparent.
    void CopyTransparency();
};

class GuiCircularBitmapDial : public GuiBitmapDialOf<GuiCircularDial> {
public:
    GuiCircularBitmapDial(const GuiRect& rect, int originAngle, long valuesPerTurn, long min, long max,
                          GuiBitmap* background, GuiBitmap* anchor, unsigned int style);
    GuiCircularBitmapDial(int x, int y, int originAngle, long valuesPerTurn, long min, long max,
                          GuiBitmap* background, GuiBitmap* anchor, unsigned int style);
    ~GuiCircularBitmapDial() override;
};

class GuiFiniteBitmapDial : public GuiBitmapDialOf<GuiFiniteDial> {
public:
    GuiFiniteBitmapDial(const GuiRect& rect, int startAngle, int endAngle, long min, long max,
                        GuiBitmap* background, GuiBitmap* anchor, unsigned int style);
    GuiFiniteBitmapDial(int x, int y, int startAngle, int endAngle, long min, long max, GuiBitmap* background,
                        GuiBitmap* anchor, unsigned int style);
    ~GuiFiniteBitmapDial() override;

    // A new background: a new composite of its size, the dial resized to it.
    void SetBkgBitmap(GuiBitmap* background);
};
