// GuiTextBox: construction, the text, line breaking and the cached table of
// line starts.
#include "gui/widgets/text/gui_text_box.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "gui/core/gui_button.h"
#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr int kFontSlotTextBox = 8;
constexpr uint8_t kAutoBars = GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO;
constexpr uint8_t kHorizontalModes = GUI_SCROLL_H | GUI_SCROLL_H_AUTO;
}  // namespace

GuiTextBox::GuiTextBox(const GuiRect& rect, unsigned short id, unsigned short style, const char* text,
                       int maxChars)
    : GuiWindow(rect, style | GST_COPY_TEXT | GST_TEXT_EDITABLE),
      mpLineBuffer(nullptr),
      mSavedClip(rect),
      mClipNesting(0),
      mWidestLine(0),
      mHorizontalOffset(0),
      mTotalLines(0),
      mVisibleLines(1),
      mFirstCachedLine(0),
      mLastCachedLine(-1),
      mLineHeight(0),
      mInterlineSpace(0),
      mBorderWhitespace(2),
      mLineBufferSize(0),
      mMaxChars(maxChars),
      mpLineStarts(nullptr),
      mTopLine(0),
      mHighlightedLine(-1)
{
    mColor[0] = 0xFFFFFF;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    mType = GT_TEXT_BOX;
    mId = id;
    if (mpScreen && mpFont) mLineHeight = mpScreen->TextHeight(nullptr, mpFont);
    // The box's own style always carries the editable bit; whether the
    // caller asked for it is kept in the status.
    if (style & GST_TEXT_EDITABLE) mStatus |= GS_ACTIVE;
    else mStatus &= uint16_t(~(GS_ACTIVE | GS_ACCEPTS_FOCUS));
    if (style & GST_TRANSPARENT) mStatus &= uint16_t(~GS_VIEWPORT_OWNER);
    mpLineStarts = new int32_t[kLineTable];
    std::fill_n(mpLineStarts, kLineTable, -1);
    GuiTextThing::DataSet(text);
    NewDataSet();
    GuiTextBox::SetFont(mFontTable[kFontSlotTextBox]);
}

GuiTextBox::~GuiTextBox()
{
    delete[] mpLineStarts;
    delete[] mpLineBuffer;
}

// ---- text -------------------------------------------------------------------------------

void GuiTextBox::DataSet(const char* text)
{
    GuiTextThing::DataSet(text);
    NewDataSet();
}

void GuiTextBox::RewindDataSet(const char* text)
{
    mTopLine = 0;
    DataSet(text);
}

void GuiTextBox::NewDataSet()
{
    UpdateLineStarts();
    if (mTopLine != 0 && mTopLine + mVisibleLines >= mTotalLines) SetTopLine(mTotalLines, 0);
    if (mScrollMode && CheckAutoScroll()) {
        UpdateLineStarts();
        CheckAutoScroll();
    }
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextBox::Append(const char* text, int redraw)
{
    if (!text || !*text) return;
    if (!mCopy) SetCopyMode();
    const size_t limit = size_t(std::max(mMaxChars, 0));
    const size_t added = std::strlen(text);
    // The newest characters are kept: the added text's tail when it alone
    // is too long, else the current text loses its oldest characters.
    const char* tail = added > limit ? text + (added - limit) : text;
    if (mpText) {
        std::string joined;
        if (added < limit) {
            const size_t current = size_t(TextLength());
            const size_t keep = std::min(current, limit - added);
            joined.assign(mpText + (current - keep), keep);
        }
        joined.append(tail);
        GuiTextThing::DataSet(joined.c_str());
        UpdateLineStarts();
        RecheckAutoScroll();
        SetTopLine(mTotalLines, 0);
    } else {
        DataSet(tail);
    }
    if (redraw) Draw();
}

void GuiTextBox::SetFont(const GuiFont* font)
{
    GuiTextThing::SetFont(font);
    mLineHeight = (mpScreen && mpFont ? mpScreen->TextHeight(nullptr, mpFont) : 0) + mInterlineSpace;
    UpdateLineStarts();
    RecheckAutoScroll();
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextBox::SetTopLine(int line, int redraw)
{
    // The window is pulled back only when it would reach past the last
    // line; any top line that leaves lines below the window stays.
    int top = line;
    if (top + mVisibleLines > mTotalLines) top = mTotalLines - mVisibleLines;
    mTopLine = std::max(top, 0);
    UpdateLineStarts();
    RecheckAutoScroll();
    if (redraw && IsVisible() && mpScreen) {
        mpScreen->Invalidate(mClient);
        Draw();
    }
}

void GuiTextBox::SetBorderWhitespace(int pixels)
{
    mBorderWhitespace = pixels;
    UpdateLineStarts();
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextBox::SetInterlineSpace(int pixels)
{
    mLineHeight += pixels - mInterlineSpace;
    mInterlineSpace = pixels;
    UpdateLineStarts();
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
}

void GuiTextBox::Resize(GuiRect rect)
{
    GuiWindow::Resize(rect);
    UpdateLineStarts();
    RecheckAutoScroll();
}

void GuiTextBox::SetScrollMode(unsigned int mode)
{
    GuiWindow::SetScrollMode(mode);
    UpdateLineStarts();
}

void GuiTextBox::RecheckAutoScroll()
{
    if ((mScrollMode & kAutoBars) && CheckAutoScroll()) UpdateLineStarts();
}

void GuiTextBox::Redraw()
{
    if (!IsVisible() || !mpScreen) return;
    mpScreen->Invalidate(mClient);
    Draw();
}

// ---- scroll information ---------------------------------------------------------------------

void GuiTextBox::GetVScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    *info = GuiScrollInfo{0, 1, mTopLine, 1, mVisibleLines};
    if (mpText && mTotalLines > 2) info->maximum = mTotalLines - 1;
}

void GuiTextBox::GetHScrollInfo(GuiScrollInfo* info)
{
    if (!info) return;
    const int width = mClient.right - mClient.left + 1;
    *info = GuiScrollInfo{0, mWidestLine + 2, mHorizontalOffset, (width >> 4) + 1, width - 2 * mBorderWhitespace};
    int shift = 0;
    if (mStyle & GST_TEXT_RIGHT) shift = mWidestLine - width + 7;
    else if (mStyle & GST_TEXT_CENTRE) shift = (mWidestLine - width + 4) / 2;
    if (shift) {
        info->maximum -= shift;
        info->minimum = -shift;
    }
}

void GuiTextBox::ResetBars()
{
    GuiScrollInfo info{};
    if (mpVScroll) {
        GetVScrollInfo(&info);
        mpVScroll->Reset(&info);
    }
    if (mpHScroll) {
        GetHScrollInfo(&info);
        mpHScroll->Reset(&info);
    }
}

int GuiTextBox::LineUp()
{
    if (!mpVScroll || mTopLine == 0) return 0;
    mpVScroll->Message(GuiMessage(GuiSignalType(GUI_ID_ARROW_BACK, GUI_SIG_CLICKED), GUI_ID_ARROW_BACK, mpVScroll,
                                  mpVScroll->mpArrow1));
    return 1;
}

int GuiTextBox::LineDown()
{
    if (!mpVScroll || mpVScroll->mInfo.current + mVisibleLines > mpVScroll->mInfo.maximum) return 0;
    mpVScroll->Message(GuiMessage(GuiSignalType(GUI_ID_ARROW_FORWARD, GUI_SIG_CLICKED), GUI_ID_ARROW_FORWARD,
                                  mpVScroll, mpVScroll->mpArrow2));
    return 1;
}

// ---- line breaking --------------------------------------------------------------------------

const char* GuiTextBox::FindNextLine(const char* p, int width, int step)
{
    if (!p || !*p || !mpText) return nullptr;
    step = step < 0 ? -1 : 1;
    const bool wrap = mStyle & GST_TEXT_WRAP;
    const bool measure = wrap || (mScrollMode & kHorizontalModes);
    const char* textEnd = mpText + TextLength();
    const char* lastBreak = nullptr;
    int running = 0;
    for (const char* q = p; q >= mpText && q < textEnd; q += step) {
        const unsigned char c = static_cast<unsigned char>(*q);
        if (c == 13) return q[1] == 10 ? q + 2 : q + 1;
        if (c == 10) return q[1] ? q + 1 : nullptr;
        if (step < 0 && q == mpText) return mpText;
        if (!measure || !mpScreen) continue;
        const char one[2] = {char(c), 0};
        running += mpScreen->TextWidth(one, mpFont, -1);
        mWidestLine = std::max(mWidestLine, running);
        if (wrap && running >= width) {
            if (lastBreak) return lastBreak + step;
            if (q != p) return q;
            return p + step;
        }
        if (c == ' ' || c == ',' || c == '-') lastBreak = q;
    }
    return nullptr;
}

const char* GuiTextBox::FindLinePointer(int line, int width)
{
    if (!mpText) return nullptr;
    const char* p = mpText;
    for (int n = 0; n < line && p; ++n) p = FindNextLine(p, width, 1);
    return p;
}

void GuiTextBox::FillLineStarts(int first, int countAll)
{
    // Lines are found at the same width everywhere, so that a line has the
    // same number whichever line the table was filled from.
    const int width = WrapWidth();
    first = std::max(first, 0);
    mFirstCachedLine = mLastCachedLine = first;
    mWidestLine = 0;
    std::fill_n(mpLineStarts, kLineTable, -1);
    const char* p = FindLinePointer(first, width);
    if (!p) {
        // The text ends before that line: the count starts again from the
        // text's beginning, so a shorter text never keeps an old total.
        mLastCachedLine = first - 1;
        if (countAll) {
            int total = 0;
            for (const char* q = mpText; q; q = FindNextLine(q, width, 1)) ++total;
            mTotalLines = total;
        }
        return;
    }
    if (countAll) mTotalLines = first;
    for (int i = 0; i < kLineTable && p; ++i) {
        mpLineStarts[i] = int32_t(p - mpText);
        ++mLastCachedLine;
        if (countAll) ++mTotalLines;
        p = FindNextLine(p, width, 1);
    }
    --mLastCachedLine;
    if (countAll)
        for (; p; p = FindNextLine(p, width, 1)) ++mTotalLines;
}

void GuiTextBox::UpdateLineStarts()
{
    const int height = mClient.bottom - mClient.top + 1 - 2 * mBorderWhitespace;
    mVisibleLines = mLineHeight > 0 ? std::max(height / mLineHeight, 0) : 1;
    FillLineStarts(mTopLine - 1, 1);
    if (mTopLine + mVisibleLines > mTotalLines) {
        const int top = std::max(mTotalLines - mVisibleLines, 0);
        if (top != mTopLine) {
            mTopLine = top;
            FillLineStarts(mTopLine - 1, 0);
        }
    }
    ResetBars();
}

const char* GuiTextBox::GetLineStart(int line, int* length)
{
    if (length) *length = 0;
    if (!mpText || line < 0) return nullptr;
    if (line < mFirstCachedLine) FillLineStarts(line - 25, 0);
    else if (line >= mLastCachedLine) FillLineStarts(line - 50, 0);
    if (line < mFirstCachedLine || line > mLastCachedLine) return nullptr;
    const int i = line - mFirstCachedLine;
    const int start = mpLineStarts[i];
    const int textLength = TextLength();
    if (start < 0 || start > textLength) return nullptr;
    int end = (i + 1 < kLineTable && mpLineStarts[i + 1] >= 0) ? mpLineStarts[i + 1] : textLength;
    end = std::min(std::max(end, start), textLength);
    if (end > start && mpText[end - 1] == 10) --end;
    if (end > start && mpText[end - 1] == 13) --end;
    if (length) *length = end - start;
    return mpText + start;
}

int GuiTextBox::GetLineIndex(int line)
{
    const char* p = GetLineStart(line, nullptr);
    return p ? int(p - mpText) : -1;
}
