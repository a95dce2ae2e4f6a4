// GuiEditBox: inserting and deleting characters, the keys, the marked text,
// the scratch pad and scrolling that keeps the cursor in view.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gui/core/gui_presentation.h"
#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/text/gui_edit_box.h"

namespace {
constexpr uint8_t kAutoBars = GUI_SCROLL_V_AUTO | GUI_SCROLL_H_AUTO;

}  // namespace

void GuiEditBox::Splice(int from, int to, const char* insert, int insertLength)
{
    const int length = TextLength();
    from = std::clamp(from, 0, length);
    to = std::clamp(to, from, length);
    std::string text(mpText ? mpText : "", size_t(length));
    text.replace(size_t(from), size_t(to - from), insert ? insert : "", size_t(std::max(insertLength, 0)));
    GuiTextThing::DataSet(text.c_str());
    UpdateLineStarts();
}

void GuiEditBox::DropMark() { mEditFlags = (mEditFlags | EDITING) & ~MARKED; }

// ---- redrawing after an edit ----------------------------------------------------------------------

GuiEditBox::BarState GuiEditBox::Bars() const
{
    BarState state{mpVScroll, mpHScroll, {}, {}};
    if (mpVScroll) state.vertical = mpVScroll->mInfo;
    if (mpHScroll) state.horizontal = mpHScroll->mInfo;
    return state;
}

void GuiEditBox::RedrawChangedBars(const BarState& before)
{
    if (!mpScreen || !IsVisible()) return;
    if (mpVScroll != before.vBar || mpHScroll != before.hBar) {
        // A bar came or went: the other bar changed its length and the
        // corner between them came or went, all outside the client.
        mpScreen->Invalidate(mOuter);
        Draw();
        return;
    }
    auto same = [](const GuiScrollInfo& a, const GuiScrollInfo& b) {
        return a.minimum == b.minimum && a.maximum == b.maximum && a.current == b.current && a.step == b.step &&
               a.visible == b.visible;
    };
    auto redraw = [&](GuiScroll* bar, const GuiScrollInfo& info) {
        if (!bar || same(bar->mInfo, info) || !bar->IsVisible()) return;
        mpScreen->Invalidate(bar->mClip);
        bar->Draw();
    };
    redraw(mpVScroll, before.vertical);
    redraw(mpHScroll, before.horizontal);
}

std::vector<int32_t> GuiEditBox::VisibleLineStarts()
{
    // One start more than rows shown: the last one ends the row before it.
    std::vector<int32_t> starts(size_t(std::max(mVisibleLines, 0)) + 1);
    for (size_t i = 0; i < starts.size(); ++i) starts[i] = GetLineIndex(mTopLine + int(i));
    return starts;
}

GuiEditBox::ShownRows GuiEditBox::Shown()
{
    return ShownRows{mCursorRow, mTopLine, mTotalLines, TextLength(), VisibleLineStarts()};
}

void GuiEditBox::DrawChangedRows(const ShownRows& before, int offset, int inserted)
{
    // Where a row boundary of the text before the edit lies now. Behind a
    // deletion at `offset` it is one back. An insertion moves the text from
    // the offset on: a row that started there starts one further on, a row
    // that ended there (exclusive) still ends there.
    auto movedStart = [&](int32_t at) {
        if (inserted > 0) return at >= offset ? at + 1 : at;
        return at > offset ? at - 1 : at;
    };
    auto movedEnd = [&](int32_t at) { return at > offset ? at + inserted : at; };
    const std::vector<int32_t> now = VisibleLineStarts();
    const int newLength = TextLength();
    for (size_t i = 0; i + 1 < before.starts.size(); ++i) {
        const int row = mTopLine + int(i);
        const int32_t oldStart = before.starts[i], newStart = now[i];
        if (oldStart < 0 && newStart < 0) break;
        const int32_t oldEnd = before.starts[i + 1] >= 0 ? before.starts[i + 1] : before.length;
        const int32_t newEnd = now[i + 1] >= 0 ? now[i + 1] : newLength;
        // A row is unchanged when the edit lay outside it and both its ends
        // moved with the text around them.
        const bool held = oldStart <= offset && offset < oldEnd;
        const bool changed = held || oldStart < 0 || newStart < 0 || movedStart(oldStart) != newStart ||
                             movedEnd(oldEnd) != newEnd;
        if (changed || row == before.row || row == mCursorRow) DrawOneLine(row);
    }
}

// ---- automatic scrolling ----------------------------------------------------------------------

void GuiEditBox::ScrollTo(bool vertical, int32_t position)
{
    GuiScroll* bar = vertical ? static_cast<GuiScroll*>(mpVScroll) : mpHScroll;
    if (!bar) return;
    GuiScrollInfo info{};
    if (vertical) GetVScrollInfo(&info);
    else GetHScrollInfo(&info);
    info.current = position;
    bar->Reset(&info);
    if (bar->IsVisible() && mpScreen) {
        mpScreen->Invalidate(bar->mClip);
        bar->Draw();
    }
    GuiMessage m(vertical ? GM_VSCROLL : GM_HSCROLL, vertical ? mTopLine : mHorizontalOffset, this, this);
    m.SetWord(0, position);
    Message(m);
}

int GuiEditBox::CheckAutoScrollDown()
{
    if (!mpVScroll || mTopLine + mVisibleLines > mCursorRow) return 0;
    ScrollTo(true, mCursorRow - mVisibleLines + 1);
    return 1;
}

int GuiEditBox::CheckAutoScrollRight()
{
    if (!mpHScroll) return 0;
    GetCursorPointFromRowCol();
    const int width = mClient.right - mClient.left + 1 - 2 * mBorderWhitespace;
    const int p = mCursorPoint.x - mClient.left + mHorizontalOffset;
    if (mHorizontalOffset + width > p) return 0;
    ScrollTo(false, p - width + 1);
    return 1;
}

int GuiEditBox::AutoScrollUp()
{
    if (!mpVScroll || mTopLine <= 0 || mCursorRow >= mTopLine) return 0;
    ScrollTo(true, mCursorRow);
    return 1;
}

int GuiEditBox::AutoScrollLeft()
{
    if (!mpHScroll) return 0;
    GetCursorPointFromRowCol();
    const int p = mCursorPoint.x - mClient.left + mHorizontalOffset - 2;
    if (mHorizontalOffset == 0 || mHorizontalOffset <= p) return 0;
    ScrollTo(false, std::max(p, 0));
    return 1;
}

// ---- inserting and deleting ------------------------------------------------------------------------

void GuiEditBox::InsertCharAtCursor(unsigned int ch)
{
    RemoveCursor();
    const char c = char(ch);
    if (!mpText) {
        if (mMaxChars <= 0) return;
        const char one[2] = {c, 0};
        GuiTextThing::DataSet(one);
        FillLineStarts(0, 1);
        mCursorColumn = mCursorRow = 0;
        GetCursorPointFromRowCol();
        DrawCharAtCursor(int(static_cast<unsigned char>(c)));
        SetCursorRowColFromIndex(1);
        DrawCursor();
        return;
    }
    if (TextLength() >= mMaxChars) {
        DrawCursor();
        return;
    }
    const int offset = CursorOffset();
    const ShownRows shown = Shown();
    const BarState bars = Bars();
    Splice(offset, offset, &c, 1);
    SetCursorRowColFromIndex(offset + 1);
    InsertRedraw(offset, shown);
    RedrawChangedBars(bars);
}

void GuiEditBox::InsertRedraw(int offset, const ShownRows& before)
{
    if ((mScrollMode & kAutoBars) && CheckAutoScroll()) {
        UpdateLineStarts();
        // The bar that came or went changed the width: the text is wrapped
        // anew, and the cursor's row and column follow its offset.
        SetCursorRowColFromIndex(offset + 1);
        if (mpVScroll) CheckAutoScrollDown();
        if (mpHScroll) CheckAutoScrollRight();
        RedrawAll();
        return;
    }
    if (mpVScroll && CheckAutoScrollDown()) {
        DrawOneLine(mCursorRow - 1);
        DrawCursor();
        return;
    }
    if (mpHScroll && CheckAutoScrollRight()) {
        RedrawAll();
        return;
    }
    // The start of the cursor's row and of the row after it, before the
    // insertion, tell whether the lines below moved.
    const bool sameRow = mCursorRow == before.row;
    const int rowStartBefore = ShownStart(before, sameRow ? before.row : before.row + 1);
    const int nextStartBefore = ShownStart(before, sameRow ? before.row + 1 : before.row + 2);
    const int nextStartNow = GetLineIndex(mCursorRow + 1);
    if (mTopLine != before.top || GetLineIndex(mCursorRow) != rowStartBefore ||
        (nextStartNow >= 0 && (nextStartBefore < 0 || nextStartNow - nextStartBefore != 1))) {
        RedrawAll();
        return;
    }
    // The cursor's row, and the row it left when the new character wrapped
    // to the next one with the cursor.
    DrawChangedRows(before, offset, 1);
    DrawCursor();
}

void GuiEditBox::RemoveCharAtCursor(int before)
{
    if (!mpText) return;
    const int offset = CursorOffset() - (before ? 1 : 0);
    // Only a character that exists goes: delete at the end of the text or
    // backspace at its start removes nothing.
    if (offset < 0 || offset >= TextLength()) return;
    if (TextLength() == 1) {
        RemoveCursor();
        DataSet(nullptr);
        RedrawAll();
        return;
    }
    RemoveCursor();
    const bool oldHasNext = GetLineIndex(mCursorRow + 1) >= 0;
    const ShownRows shown = Shown();
    const BarState bars = Bars();
    Splice(offset, offset + 1, nullptr, 0);
    SetCursorRowColFromIndex(offset);
    if ((mScrollMode & kAutoBars) && CheckAutoScroll()) {
        UpdateLineStarts();
        // Wrapped anew at the width without (or with) the bar.
        SetCursorRowColFromIndex(offset);
        RedrawAll();
        RedrawChangedBars(bars);
        return;
    }
    const bool newHasNext = GetLineIndex(mCursorRow + 1) >= 0;
    GetCursorPointFromRowCol();
    if (mCursorPoint.x < mClient.left + 2) AutoScrollLeft();
    if (!oldHasNext && !newHasNext && mTopLine == shown.top && mTotalLines == shown.total) {
        // Besides the cursor's rows, a wrapped row above can give a word
        // back or take one: every row whose text moved is drawn again.
        DrawChangedRows(shown, offset, -1);
        DrawCursor();
        RedrawChangedBars(bars);
        return;
    }
    RedrawAll();
    RedrawChangedBars(bars);
}

void GuiEditBox::DeleteMarkedText()
{
    if (!(mEditFlags & MARKED)) return;
    CURSOR_POS start{}, end{};
    GetMarkStartAndEnd(&start, &end);
    const int from = OffsetOf(start), to = OffsetOf(end);
    const BarState bars = Bars();
    if (from == 0 && to >= TextLength()) {
        GuiTextThing::DataSet(nullptr);
        UpdateLineStarts();
    } else {
        Splice(from, to, nullptr, 0);
    }
    DropMark();
    if (mScrollMode & kAutoBars) {
        CheckAutoScroll();
        UpdateLineStarts();
    }
    // After the bars were checked: a bar that went widens the rows.
    SetCursorRowColFromIndex(from);
    if (mCursorRow >= mTotalLines) {
        mCursorRow = std::max(mTotalLines - 1, 0);
        mCursorColumn = LineLength(mCursorRow);
    }
    RedrawAll();
    RedrawChangedBars(bars);
}

void GuiEditBox::ReplaceMarkedText(unsigned int ch)
{
    if (!(mEditFlags & MARKED)) return;
    CURSOR_POS start{}, end{};
    GetMarkStartAndEnd(&start, &end);
    const int from = OffsetOf(start), to = OffsetOf(end);
    const char c = char(ch);
    const BarState bars = Bars();
    Splice(from, to, &c, 1);
    DropMark();
    RecheckAutoScroll();
    // After the bars were checked: a bar that came or went wraps anew.
    SetCursorRowColFromIndex(from + 1);
    RedrawAll();
    RedrawChangedBars(bars);
}

// ---- scratch pad ----------------------------------------------------------------------------------

void GuiEditBox::CopyToScratchPad()
{
    if (!(mEditFlags & MARKED) || !mpText || !mpPresentation) return;
    CURSOR_POS start{}, end{};
    GetMarkStartAndEnd(&start, &end);
    const int from = OffsetOf(start), to = OffsetOf(end);
    if (to <= from) return;
    mpPresentation->SetScratchPad(std::string(mpText + from, size_t(to - from)).c_str());
}

void GuiEditBox::PasteFromScratchPad()
{
    const char* pad = mpPresentation ? mpPresentation->mpScratchPad : nullptr;
    if (!pad || !*pad) return;
    const int padLength = int(std::strlen(pad));
    if (!mpText) {
        const int n = std::clamp(padLength, 0, std::max(mMaxChars, 0));
        if (n > 0) {
            GuiTextThing::DataSet(std::string(pad, size_t(n)).c_str());
            UpdateLineStarts();
        }
        Draw();
        return;
    }
    RemoveCursor();
    const int room = std::max(mMaxChars - TextLength(), 0);
    const int n = std::min(padLength, room);
    if (n == 0) {
        Draw();
        return;
    }
    const int offset = CursorOffset();
    Splice(offset, offset, pad, n);
    SetCursorRowColFromIndex(offset + n);
    Draw();
    CheckAutoScrollDown();
}

// ---- keys ----------------------------------------------------------------------------------------

void GuiEditBox::KeyUp()
{
    if (mCursorRow > mTopLine) {
        RemoveCursor();
        GetCursorPointFromRowCol();
        GetCursorRowColFromClick(GuiPoint{mCursorPoint.x, int16_t(mCursorPoint.y - mLineHeight / 2)});
        GetCursorPointFromRowCol();
        if (mCursorPoint.x < mClient.left + 2) AutoScrollLeft();
        DrawCursor();
    } else if (mCursorRow == 0) {
        return;
    } else if (mCursorRow == mTopLine && mTopLine > 0 && mpVScroll) {
        RemoveCursor();
        mCursorColumn = 0;
        --mCursorRow;
        AutoScrollUp();
        if (mHorizontalOffset != 0 && mpHScroll) AutoScrollLeft();
        DrawCursor();
    } else if (mHorizontalOffset != 0 && mpHScroll) {
        AutoScrollLeft();
        DrawCursor();
    }
}

void GuiEditBox::KeyDown()
{
    if (mCursorRow >= mTotalLines - 1) return;
    RemoveCursor();
    GetCursorPointFromRowCol();
    GetCursorRowColFromClick(GuiPoint{mCursorPoint.x, int16_t(mCursorPoint.y + mLineHeight * 3 / 2)});
    CheckAutoScrollDown();
    GetCursorPointFromRowCol();
    if (mCursorPoint.x < mClient.left + 2) AutoScrollLeft();
    DrawCursor();
}

void GuiEditBox::KeyLeft()
{
    if (mCursorColumn > 0) {
        RemoveCursor();
        --mCursorColumn;
        GetCursorPointFromRowCol();
        if (mCursorPoint.x < mClient.left + 2) AutoScrollLeft();
        DrawCursor();
        return;
    }
    if (mCursorRow == 0) return;
    RemoveCursor();
    if (mCursorRow > mTopLine) {
        --mCursorRow;
        mCursorColumn = LineLength(mCursorRow);
    } else if (mCursorRow == mTopLine && mTopLine > 0 && mpVScroll) {
        --mCursorRow;
        mCursorColumn = LineLength(mCursorRow);
        AutoScrollUp();
    }
    CheckAutoScrollRight();
    DrawCursor();
}

void GuiEditBox::KeyRight()
{
    RemoveCursor();
    const int length = LineLength(mCursorRow);
    if (mCursorColumn >= length) {
        if (mCursorRow + 1 < mTotalLines) {
            mCursorColumn = 0;
            ++mCursorRow;
            AutoScrollLeft();
            CheckAutoScrollDown();
        } else {
            // The last line's end is as far as the cursor goes.
            mCursorColumn = length;
        }
    } else {
        ++mCursorColumn;
        CheckAutoScrollRight();
    }
    DrawCursor();
}

int GuiEditBox::InsertKey(unsigned int key)
{
    if (mEditFlags & MARKED) {
        if (GuiIsTextCharacter(key)) {
            ReplaceMarkedText(key);
            DropMark();
            DrawCursor();
            return 1;
        }
        switch (key) {
        case GUI_KEY_DELETE:
            DeleteMarkedText();
            return 1;
        case GUI_KEY_HOME:
        case GUI_KEY_END:
        case GUI_KEY_UP:
        case GUI_KEY_DOWN:
        case GUI_KEY_LEFT:
        case GUI_KEY_RIGHT:
            DropMark();
            RedrawAll();
            break;
        default:
            return 0;
        }
    }
    if (GuiIsTextCharacter(key)) {
        InsertCharAtCursor(key);
        return 1;
    }
    switch (key) {
    case GUI_KEY_END:
        RemoveCursor();
        mCursorColumn = LineLength(mCursorRow);
        CheckAutoScrollRight();
        DrawCursor();
        return 1;
    case GUI_KEY_UP:
        KeyUp();
        return 1;
    case GUI_KEY_DOWN:
        KeyDown();
        return 1;
    case GUI_KEY_LEFT:
        KeyLeft();
        return 1;
    case GUI_KEY_RIGHT:
        KeyRight();
        return 1;
    case GUI_KEY_BACKSPACE:
        if (mCursorColumn != 0 || mCursorRow != 0) RemoveCharAtCursor(1);
        return 1;
    case GUI_KEY_ENTER:
        RemoveCursor();
        if (mHorizontalOffset != 0) {
            const int column = mCursorColumn;
            mCursorColumn = 0;
            AutoScrollLeft();
            mCursorColumn = column;
        }
        {
            const int length = TextLength();
            InsertCharAtCursor(13);
            // A full box takes no line end, and the cursor stays put.
            if (TextLength() > length) mCursorColumn = 0;
        }
        RedrawAll();
        return 1;
    case GUI_KEY_DELETE:
        if (mpText) RemoveCharAtCursor(0);
        return 1;
    case GUI_KEY_HOME:
        if (mCursorColumn == 0) return 1;
        RemoveCursor();
        mCursorColumn = 0;
        if (mHorizontalOffset != 0) AutoScrollLeft();
        DrawCursor();
        return 1;
    default:
        return 0;
    }
}
