// GuiTextBox: a scrolling window that shows one text over several lines.
//
// The text is broken into lines at line ends (13, 13 10 or 10) and, with
// word wrap, at the client width. Only a window of 100 line starts is kept
// (from one line above the top line); lines outside it are found again by
// refilling the table around them, so the line table of a long text is
// never held whole. Scrolling moves the pixels on the screen and draws
// only the lines that come into view.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

constexpr uint8_t GT_TEXT_BOX = 154;

// Style bits of the text box (besides the frame and copy bits).
constexpr uint16_t GST_TEXT_EDITABLE = 0x0100;   // the caller's bit becomes status GS_ACTIVE
constexpr uint16_t GST_TEXT_WRAP = 0x0400;       // break lines at the client width
constexpr uint16_t GST_TEXT_CENTRE = 0x0080;
constexpr uint16_t GST_TEXT_JUSTIFY = 0x00E0;

class GuiTextBox : public GuiWindow {
public:
    static constexpr int kLineTable = 100;

    GuiTextBox(const GuiRect& rect, unsigned short id, unsigned short style, const char* text, int maxChars);
    ~GuiTextBox() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void Resize(GuiRect rect) override;
    void DataSet(const char* text) override;
    void SetFont(const GuiFont* font) override;
    void SetScrollMode(unsigned int mode) override;
    void GetVScrollInfo(GuiScrollInfo* info) override;
    void GetHScrollInfo(GuiScrollInfo* info) override;

    // Appended operations, in this order.
    // Adds text at the end, dropping the oldest characters beyond the
    // maximum, and brings the end into view.
    virtual void Append(const char* text, int redraw);
    // Start of the line after the one that begins at p (step 1), or null.
    virtual const char* FindNextLine(const char* p, int width, int step);
    virtual void DrawAllText();
    virtual void DrawTextLine(int line, GuiPoint point, int fill);

    void RewindDataSet(const char* text);
    void SetTopLine(int line, int redraw);
    void SetTopLineToEnd(int redraw) { SetTopLine(mTotalLines, redraw); }
    void SetBorderWhitespace(int pixels);
    void SetInterlineSpace(int pixels);
    // First character of a line and its length without the line end; null
    // (length 0) when the line does not exist.
    const char* GetLineStart(int line, int* length);
    // Byte offset of a line in the text, -1 when it does not exist.
    int GetLineIndex(int line);
    int LineUp();
    int LineDown();
    void UpdateLineStarts();
    void FillLineStarts(int first, int countAll);
    const char* FindLinePointer(int line, int width);
    void NewDataSet();
    void ClipToClient();
    void EndClipToClient();
    void SetHighlightedLine(int line) { mHighlightedLine = line; }

    int TopLine() const { return mTopLine; }
    int TotalLines() const { return mTotalLines; }
    int VisibleLines() const { return mVisibleLines; }
    int LineHeight() const { return mLineHeight; }
    int TextLength() const { return mpText && mLength > 0 ? mLength - 1 : 0; }
    // Pixels available for a line: the client width less both borders.
    int WrapWidth() const { return mClient.right - mClient.left + 1 - 2 * mBorderWhitespace; }
    bool Editable() const { return (mStatus & GS_ACTIVE) != 0; }

    char* mpLineBuffer;          // copy of the line being drawn
    GuiRect mSavedClip;
    uint32_t mClipNesting;
    int32_t mWidestLine;
    int32_t mHorizontalOffset;
    int32_t mTotalLines;
    int32_t mVisibleLines;
    int32_t mFirstCachedLine;
    int32_t mLastCachedLine;
    int32_t mLineHeight;
    int32_t mInterlineSpace;
    int32_t mBorderWhitespace;
    int32_t mLineBufferSize;
    int32_t mMaxChars;
    int32_t* mpLineStarts;       // kLineTable offsets, -1 = no line
    int32_t mTopLine;
    int32_t mHighlightedLine;    // -1 = none

protected:
    // Copies a line into the line buffer (grown as needed); the copy ends
    // with a zero.
    const char* CopyLine(const char* start, int length, int spare);
    // The automatic scroll bars are checked again; the line table follows
    // when a bar came or went.
    void RecheckAutoScroll();
    // The bars take the box's current scroll information.
    void ResetBars();
    // Paints the box when it is shown.
    void Redraw();
    // The client area less the border whitespace.
    GuiRect TextRect() const;

private:
    void ScrollVertically(int newTop);
};
