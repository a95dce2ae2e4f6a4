// GuiEditBox: construction, cursor geometry, drawing of the cursor and the
// marked text, and the pointer and focus messages.
#include "gui/widgets/text/gui_edit_box.h"

#include <algorithm>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"

namespace {
constexpr uint8_t kPointerNormal = 0;
constexpr uint8_t kPointerText = 5;
constexpr CURSOR_POS kNoPos{-1, -1};

bool before(CURSOR_POS a, CURSOR_POS b) { return a.row < b.row || (a.row == b.row && a.column < b.column); }
}  // namespace

GuiEditBox::GuiEditBox(const GuiRect& rect, unsigned short id, unsigned short style, const char* text, int maxChars)
    : GuiTextBox(rect, id, style, text, maxChars),
      mCursorColumn(0),
      mCursorRow(0),
      mAnchor(kNoPos),
      mMarkEnd(kNoPos),
      mCursorPoint{0, 0},
      mEditFlags(0)
{
    mType = GT_EDIT_BOX;
    mStyle = uint16_t((mStyle & ~GST_TEXT_JUSTIFY) | GST_TEXT_LEFT);
    GetCursorPointFromRowCol();
}

GuiEditBox::~GuiEditBox() = default;

void GuiEditBox::Signal(uint8_t signal)
{
    if (SignalAllowed(signal)) SendSignal(signal);
}

void GuiEditBox::ExitEditMode()
{
    mEditFlags &= ~EDITING;
    Signal(GUI_SIG_EDIT_DONE);
}

// ---- text -------------------------------------------------------------------------------------

void GuiEditBox::DataSet(const char* text)
{
    GuiTextThing::DataSet(text);
    UpdateLineStarts();
    if (mTopLine != 0 && mTopLine + mVisibleLines >= mTotalLines) SetTopLineToEnd(1);
    RecheckAutoScroll();
    if (IsVisible() && mpScreen) mpScreen->Invalidate(mClient);
    mEditFlags &= ~(MARKED | MARKING);
    if (!mpText || mCursorRow >= mTotalLines) {
        mCursorColumn = 0;
        mCursorRow = 0;
    }
    // A cursor behind the end of its (now shorter) line stops at the end.
    mCursorColumn = std::min(mCursorColumn, LineLength(mCursorRow));
    GetCursorPointFromRowCol();
}

void GuiEditBox::Append(const char* text, int redraw)
{
    RemoveCursor();
    mCursorColumn = mCursorRow = 0;
    GuiTextBox::Append(text, 0);
    SetCursorRowColFromIndex(TextLength());
    if (redraw) Draw();
}

void GuiEditBox::SetCursorRowCol(int index)
{
    SetCursorRowColFromIndex(index);
    SetTopLine(mCursorRow, 1);
}

int GuiEditBox::LineLength(int row)
{
    int length = 0;
    GetLineStart(row, &length);
    return length;
}

int GuiEditBox::OffsetOf(CURSOR_POS pos)
{
    const int start = GetLineIndex(pos.row);
    if (start < 0) return pos.row <= 0 ? 0 : TextLength();
    const int column = std::clamp(pos.column, 0, LineLength(pos.row));
    return std::min(start + column, TextLength());
}

const char* GuiEditBox::GetCharAtCursor()
{
    int length = 0;
    const char* line = GetLineStart(mCursorRow, &length);
    if (!line) return nullptr;
    return line + std::clamp(mCursorColumn, 0, length);
}

void GuiEditBox::GetMarkStartAndEnd(CURSOR_POS* start, CURSOR_POS* end)
{
    const bool anchorFirst = before(mAnchor, mMarkEnd);
    if (start) *start = anchorFirst ? mAnchor : mMarkEnd;
    if (end) *end = anchorFirst ? mMarkEnd : mAnchor;
}

// ---- cursor geometry --------------------------------------------------------------------------

void GuiEditBox::GetCursorPointFromRowCol()
{
    int length = 0;
    const char* line = GetLineStart(mCursorRow, &length);
    int width = 0;
    if (line && mpScreen) width = mpScreen->TextWidth(line, mpFont, std::clamp(mCursorColumn, 0, length));
    mCursorPoint.x = int16_t(mClient.left + mBorderWhitespace - mHorizontalOffset + width);
    mCursorPoint.y = int16_t(mClient.top + mBorderWhitespace + (mCursorRow - mTopLine) * mLineHeight);
}

void GuiEditBox::GetCursorRowColFromClick(GuiPoint point)
{
    int row = mTopLine;
    const int limit = mClient.top + mBorderWhitespace + mLineHeight;
    if (point.y > limit && mLineHeight > 0) row += (point.y - limit + mLineHeight - 1) / mLineHeight;
    if (row >= mTotalLines) {
        mCursorRow = std::max(mTotalLines - 1, 0);
        mCursorColumn = mTotalLines > 0 ? LineLength(mCursorRow) : 0;
        return;
    }
    int length = 0;
    const char* line = GetLineStart(row, &length);
    if (!line || !mpScreen) {
        mCursorColumn = mCursorRow = 0;
        return;
    }
    const int d = point.x - mClient.left - mBorderWhitespace + mHorizontalOffset;
    int column = 0, at = 0;
    for (; column < length; ++column) {
        const char one[2] = {line[column], 0};
        const int w = mpScreen->TextWidth(one, mpFont, -1);
        if (at + w > d) {
            if (at + w - d < d - at) ++column;   // nearer the right edge; a tie stays left
            break;
        }
        at += w;
    }
    mCursorRow = row;
    mCursorColumn = column;
}

void GuiEditBox::SetCursorRowColFromIndex(int index)
{
    index = std::clamp(index, 0, TextLength());
    int row = 0;
    const char* start = mpText;
    if (mpText) {
        const int width = WrapWidth();
        for (const char* next = FindNextLine(start, width, 1); next && next - mpText <= index;
             next = FindNextLine(start, width, 1)) {
            start = next;
            ++row;
        }
    }
    mCursorRow = row;
    mCursorColumn = mpText ? index - int(start - mpText) : 0;
}

// ---- drawing ------------------------------------------------------------------------------------

void GuiEditBox::BeginTextDraw()
{
    mpScreen->BeginDraw(this);
    ClipToClient();
}

void GuiEditBox::EndTextDraw()
{
    EndClipToClient();
    mpScreen->EndDraw();
}

void GuiEditBox::RedrawAll() { Redraw(); }

void GuiEditBox::Draw()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    GuiTextBox::Draw();
    DrawCursor();
    mpScreen->EndDraw();
}

void GuiEditBox::DrawCursor()
{
    if (!(mEditFlags & EDITING) || !mpScreen || !IsVisible()) return;
    GetCursorPointFromRowCol();
    const int x = mCursorPoint.x, y = mCursorPoint.y;
    BeginTextDraw();
    mpScreen->Invalidate(GuiRect(x, y, x, y + mLineHeight - 1));
    mpScreen->Line(this, x, y, x, y + mLineHeight - 1, GuiColor{GUI_CURSOR_COLOUR, GUI_CURSOR_COLOUR, 0}, 1);
    EndTextDraw();
}

void GuiEditBox::RemoveCursor()
{
    if (!(mEditFlags & EDITING) || !mpScreen || !IsVisible()) return;
    const int x = mCursorPoint.x, y = mCursorPoint.y;
    BeginTextDraw();
    mpScreen->Invalidate(GuiRect(x, y, x + 2, y + mLineHeight));
    int length = 0;
    const char* line = GetLineStart(mCursorRow, &length);
    const char* at = line ? line + std::clamp(mCursorColumn, 0, length) : nullptr;
    if (!line || length == 0 || mCursorColumn >= length || *at == 0 || *at == 13 || *at == 10) {
        mpScreen->Line(this, x, y, x, y + mLineHeight - 1, GuiColor{mColor[0], mColor[0], 0}, 1);
    } else {
        const char one[2] = {*at, 0};
        GuiColor colour{mColor[2], mColor[0], GUI_COLOR_FILL};
        mpScreen->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, one, colour, mpFont, -1, 0);
    }
    EndTextDraw();
}

void GuiEditBox::DrawCharAtCursor(int ch)
{
    if (ch == 13 || ch == 10 || !mpScreen || !IsVisible()) return;
    const char one[2] = {char(ch), 0};
    const int w = mpScreen->TextWidth(one, mpFont, -1);
    BeginTextDraw();
    mpScreen->Invalidate(GuiRect(mCursorPoint.x, mCursorPoint.y, mCursorPoint.x + w - 1,
                                 mCursorPoint.y + mLineHeight - 1));
    GuiColor colour{mColor[2], mColor[0], 0};
    mpScreen->DrawText(this, mCursorPoint, one, colour, mpFont, -1, 0);
    EndTextDraw();
}

void GuiEditBox::DrawOneLine(int row)
{
    if (!mpScreen || !IsVisible()) return;
    const int y = mClient.top + mBorderWhitespace + (row - mTopLine) * mLineHeight;
    const int x = mClient.left + mBorderWhitespace - mHorizontalOffset;
    BeginTextDraw();
    mpScreen->Invalidate(GuiRect(x, y, mClient.right - mBorderWhitespace, y + mLineHeight - 1));
    DrawTextLine(row, GuiPoint{int16_t(x), int16_t(y)}, 1);
    EndTextDraw();
}

void GuiEditBox::DrawTextLine(int line, GuiPoint point, int fill)
{
    const int lo = std::min(mAnchor.row, mMarkEnd.row), hi = std::max(mAnchor.row, mMarkEnd.row);
    if ((mEditFlags & MARKED) && line >= lo && line <= hi) DrawMarkedText(line, point);
    else GuiTextBox::DrawTextLine(line, point, fill);
}

void GuiEditBox::DrawMarkedText(int line, GuiPoint point)
{
    GuiScreen* s = mpScreen;
    if (!s) return;
    CURSOR_POS start{}, end{};
    GetMarkStartAndEnd(&start, &end);
    int length = 0;
    const char* text = GetLineStart(line, &length);
    if (!text) return;
    const int right = mClient.right - mBorderWhitespace;
    const int bottom = point.y + mLineHeight - 1;
    int x = point.x;
    auto fillTo = [&](int from, int to, uint32_t colour) {
        if (to >= from) s->Rectangle(this, GuiRect(from, point.y, to, bottom), GuiColor{colour, colour, GUI_COLOR_FILL}, 0);
    };
    if (length == 0) {
        fillTo(x, right, mColor[0]);
        fillTo(x, x + s->TextWidth(" ", mpFont, -1) - 1, mColor[1]);
        return;
    }
    const int markFrom = line == start.row ? std::clamp(start.column, 0, length) : 0;
    const int markTo = line == end.row ? std::clamp(end.column, markFrom, length) : length;
    auto piece = [&](int from, int to, bool selected) {
        if (to <= from) return;
        const char* part = CopyLine(text + from, to - from, 8);
        GuiColor colour{selected ? mColor[3] : mColor[2], selected ? mColor[1] : mColor[0], GUI_COLOR_FILL};
        const int w = s->TextWidth(part, mpFont, -1);
        fillTo(x, x + w - 1, colour.background);
        s->DrawText(this, GuiPoint{int16_t(x), point.y}, part, colour, mpFont, -1, 0);
        x += w;
    };
    piece(0, markFrom, false);
    piece(markFrom, markTo, true);
    piece(markTo, length, false);
    fillTo(x, right, mColor[0]);
}

void GuiEditBox::DrawSelectText(int row, int c1, int c2, int selected)
{
    if (!mpScreen || !IsVisible()) return;
    int length = 0;
    const char* text = GetLineStart(row, &length);
    if (!text) return;
    const int from = std::clamp(std::min(c1, c2), 0, length), to = std::clamp(std::max(c1, c2), 0, length);
    if (to <= from) return;
    const int x = mClient.left + mBorderWhitespace - mHorizontalOffset + mpScreen->TextWidth(text, mpFont, from);
    const int y = mClient.top + mBorderWhitespace + (row - mTopLine) * mLineHeight;
    const char* part = CopyLine(text + from, to - from, 8);
    GuiColor colour{selected ? mColor[3] : mColor[2], selected ? mColor[1] : mColor[0], GUI_COLOR_FILL};
    BeginTextDraw();
    mpScreen->Invalidate(GuiRect(x, y, x + mpScreen->TextWidth(part, mpFont, -1) - 1, y + mLineHeight - 1));
    mpScreen->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, part, colour, mpFont, -1, 0);
    EndTextDraw();
}

void GuiEditBox::CheckMarkMove()
{
    const CURSOR_POS cursor{mCursorColumn, mCursorRow};
    if (cursor == mMarkEnd) return;
    const CURSOR_POS old = mMarkEnd;
    mMarkEnd = cursor;
    mEditFlags = (mEditFlags | MARKED) & ~EDITING;
    if (old.row == cursor.row) {
        // The end stayed on one side of the anchor: only the characters it
        // passed change; crossing the anchor redraws the row.
        if (before(old, mAnchor) != before(cursor, mAnchor) && !(old == mAnchor) && !(cursor == mAnchor)) {
            DrawOneLine(cursor.row);
            return;
        }
        const bool endIsLater = before(mAnchor, mMarkEnd);
        const bool movedRight = cursor.column > old.column;
        const bool selected = (endIsLater && movedRight && !(mAnchor == mMarkEnd)) || (!endIsLater && !movedRight);
        DrawSelectText(cursor.row, old.column, cursor.column, selected);
        return;
    }
    if (cursor.row < old.row) {
        for (int row = cursor.row; row <= old.row; ++row) DrawOneLine(row);
        return;
    }
    for (int row = old.row; row <= cursor.row; ++row) {
        if (row >= mTopLine + mVisibleLines) LineDown();
        else DrawOneLine(row);
    }
}

// ---- pointer and focus ------------------------------------------------------------------------

int GuiEditBox::PointerMessage(const GuiMessage& msg)
{
    const GuiPoint p = msg.Point();
    switch (msg.type) {
    case GM_POINTER_MOVE:
        if (!(mStatus & GS_CAPTURE)) return GuiWindow::Message(msg);
        if (!(mAnchor == mMarkEnd) && p.y < mClient.top) LineUp();
        GetCursorRowColFromClick(p);
        CheckMarkMove();
        return 0;
    case GM_POINTER_PRESS:
        if (!Editable()) return GuiWindow::Message(msg);
        if (mEditFlags & EDITING) {
            RemoveCursor();
        } else if (mEditFlags & MARKED) {
            mEditFlags &= ~MARKED;
            RedrawAll();
        }
        CapturePointer();
        GetCursorRowColFromClick(p);
        mAnchor = mMarkEnd = CURSOR_POS{mCursorColumn, mCursorRow};
        mEditFlags = (mEditFlags & ~(EDITING | MARKED | MARKING)) | MARKING;
        return 0;
    case GM_POINTER_RELEASE:
        if (!(mStatus & GS_CAPTURE)) return GuiWindow::Message(msg);
        mEditFlags &= ~MARKING;
        if (mAnchor == mMarkEnd) {
            mEditFlags = (mEditFlags | EDITING) & ~MARKED;
            DrawCursor();
        } else {
            mEditFlags = (mEditFlags | MARKED) & ~EDITING;
            Signal(GUI_SIG_MARKED);
        }
        ReleasePointer();
        if ((mEditFlags & POINTER_SET) && !mOuter.Contains(p)) {
            if (mpScreen) mpScreen->SetPointerType(kPointerNormal);
            mEditFlags &= ~POINTER_SET;
        }
        return 0;
    default:
        return GuiTextBox::Message(msg);
    }
}

int GuiEditBox::FocusMessage(const GuiMessage& msg)
{
    const int result = GuiTextBox::Message(msg);
    if (msg.type == GM_FOCUS_GAINED) {
        if (Editable() && !(mEditFlags & MARKING)) {
            SetCursorRowColFromIndex(TextLength());
            mEditFlags = (mEditFlags | EDITING) & ~MARKED;
            DrawCursor();
        } else if (!Editable() && (mStyle & GST_ENABLED) && mpText) {
            mAnchor = CURSOR_POS{0, 0};
            SetCursorRowColFromIndex(TextLength());
            mMarkEnd = CURSOR_POS{mCursorColumn, mCursorRow};
            mEditFlags |= MARKED;
            RedrawAll();
        }
        return result;
    }
    if (mEditFlags & POINTER_SET) {
        if (mpScreen) mpScreen->SetPointerType(kPointerNormal);
        mEditFlags &= ~POINTER_SET;
    }
    if (mEditFlags & EDITING) {
        RemoveCursor();
        ExitEditMode();
    } else if (mEditFlags & MARKED) {
        mEditFlags &= ~MARKED;
        RedrawAll();
    }
    return result;
}

int GuiEditBox::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_HIDE:
        if (mEditFlags & EDITING) ExitEditMode();
        if (mEditFlags & POINTER_SET) {
            if (mpScreen) mpScreen->SetPointerType(kPointerNormal);
            mEditFlags &= ~POINTER_SET;
        }
        return GuiTextBox::Message(msg);
    case GM_POINTER_MOVE:
    case GM_POINTER_PRESS:
    case GM_POINTER_RELEASE:
        return PointerMessage(msg);
    case GM_FOCUS_GAINED:
    case GM_FOCUS_LOST:
        return FocusMessage(msg);
    case GM_POINTER_ENTER:
        if (Editable()) {
            if (mpScreen) mpScreen->SetPointerType(kPointerText);
            mEditFlags |= POINTER_SET;
        }
        return GuiTextBox::Message(msg);
    case GM_POINTER_LEAVE:
        if (mEditFlags & POINTER_SET) {
            if (mpScreen) mpScreen->SetPointerType(kPointerNormal);
            mEditFlags &= ~POINTER_SET;
        }
        return GuiTextBox::Message(msg);
    case GM_CUT:
        CopyToScratchPad();
        DeleteMarkedText();
        Signal(GUI_SIG_CUT_PASTE);
        return 0;
    case GM_COPY:
        CopyToScratchPad();
        return 0;
    case GM_PASTE:
        PasteFromScratchPad();
        Signal(GUI_SIG_CUT_PASTE);
        return 0;
    default:
        return GuiTextBox::Message(msg);
    }
}
