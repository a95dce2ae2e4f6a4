// GuiTextBox: drawing of the lines and scrolling by moving the pixels.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/text/gui_text_box.h"

GuiRect GuiTextBox::TextRect() const
{
    const int b = mBorderWhitespace;
    return GuiRect(mClient.left + b, mClient.top + b, mClient.right - b, mClient.bottom - b);
}

void GuiTextBox::ClipToClient()
{
    if (mClipNesting++ == 0) {
        mSavedClip = mClip;
        mClip &= TextRect();
    }
}

void GuiTextBox::EndClipToClient()
{
    if (mClipNesting == 0) return;
    if (--mClipNesting == 0) mClip = mSavedClip;
}

const char* GuiTextBox::CopyLine(const char* start, int length, int spare)
{
    length = std::max(length, 0);
    if (!mpLineBuffer || mLineBufferSize < length + 1) {
        delete[] mpLineBuffer;
        mLineBufferSize = length + spare;
        mpLineBuffer = new char[size_t(mLineBufferSize)];
    }
    std::memcpy(mpLineBuffer, start, size_t(length));
    mpLineBuffer[length] = 0;
    return mpLineBuffer;
}

void GuiTextBox::Draw()
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    s->BeginDraw(this);
    DrawFrame((mStyle & GST_TRANSPARENT) ? 0 : 1);
    ClipToClient();
    DrawAllText();
    EndClipToClient();
    DrawChildren();
    if (mpVScroll && mpHScroll) FillScrollCorner();
    s->EndDraw();
}

void GuiTextBox::DrawAllText()
{
    GuiScreen* s = mpScreen;
    if (!mpText || !s) return;
    const GuiPoint at{int16_t(mClient.left + mBorderWhitespace - mHorizontalOffset),
                      int16_t(mClient.top + mBorderWhitespace)};
    const int lastTop = mClient.bottom - mBorderWhitespace - (mLineHeight - 1);
    int y = at.y;
    for (int line = mTopLine; y <= lastTop && line < mTotalLines; ++line, y += std::max(mLineHeight, 1)) {
        const GuiRect row(mClient.left, y, mClient.right, y + mLineHeight - 1);
        if (s->InvalidCount() > 0 && row.Overlap(s->InvalidRect())) DrawTextLine(line, GuiPoint{at.x, int16_t(y)}, 0);
    }
}

void GuiTextBox::DrawTextLine(int line, GuiPoint point, int fill)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    int length = 0;
    const char* start = GetLineStart(line, &length);
    if (!start) return;
    const bool highlighted = line == mHighlightedLine;
    GuiColor colour{highlighted ? mColor[3] : mColor[2], highlighted ? mColor[1] : mColor[0], 0};
    if (fill || highlighted) {
        const GuiRect row(mClient.left + mBorderWhitespace, point.y, mClient.right - mBorderWhitespace,
                          point.y + mLineHeight - 1);
        s->Rectangle(this, row, GuiColor{colour.background, colour.background, GUI_COLOR_FILL}, 0);
    }
    const char* text = CopyLine(start, length, 8);
    const int width = s->TextWidth(text, mpFont, -1);
    int x = point.x;
    if (mStyle & GST_TEXT_RIGHT)
        x = mClient.right - width - mBorderWhitespace - mHorizontalOffset;
    else if (mStyle & GST_TEXT_CENTRE)
        x = mClient.left + (mClient.right - mClient.left + 1 - width) / 2 - mHorizontalOffset;
    s->DrawText(this, GuiPoint{int16_t(x), point.y}, text, colour, mpFont, -1, 0);
}

// ---- scrolling --------------------------------------------------------------------------------

void GuiTextBox::ScrollVertically(int newTop)
{
    GuiScreen* s = mpScreen;
    if (newTop == mTopLine) return;
    if (s && IsVisible()) s->Invalidate(mClient);
    const int delta = mTopLine - newTop;
    const int pixels = delta * mLineHeight;
    MoveClientObjects(0, pixels, 0);
    mTopLine = newTop;
    if (!s || !IsVisible()) return;
    if ((mStyle & GST_TRANSPARENT) && mpParent) {
        // What lies behind the box shows through: the parent paints it.
        s->Invalidate(mOuter);
        mpParent->Draw();
        return;
    }
    if (std::abs(delta) >= mVisibleLines) {
        Draw();
        return;
    }
    const GuiRect area = TextRect();
    GuiRect source = area;
    if (delta > 0) source.bottom = int16_t(std::min<int>(source.bottom, source.top + mVisibleLines * mLineHeight));
    s->BeginDraw(this);
    if (!s->RectMove(this, source, area & mClip, 0, pixels)) {
        Draw();
        s->EndDraw();
        return;
    }
    // Only the lines that came into view are painted.
    ClipToClient();
    const int x = mClient.left + mBorderWhitespace - mHorizontalOffset;
    const int first = delta > 0 ? 0 : mVisibleLines + delta;
    const int count = std::abs(delta);
    for (int i = 0; i < count; ++i) {
        const int row = first + i;
        DrawTextLine(mTopLine + row, GuiPoint{int16_t(x), int16_t(area.top + row * mLineHeight)}, 1);
    }
    EndClipToClient();
    s->EndDraw();
}

int GuiTextBox::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_VSCROLL:
        ScrollVertically(int(msg.Word(0)));
        return 0;
    case GM_HSCROLL: {
        const int offset = int(msg.Word(0));
        if (offset == mHorizontalOffset) return 0;
        const int old = mHorizontalOffset;
        mHorizontalOffset = offset;
        ClipToClient();
        MoveClientObjects(old - offset, 0, 1);
        EndClipToClient();
        return 0;
    }
    default:
        return GuiWindow::Message(msg);
    }
}
