// GuiSpreadSheet layout: which rows and columns fit the client area, the
// scroll bars that follow them, scrolling and clipping to the face.
#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/sheet/gui_sheet.h"

int GuiSpreadSheet::TopBorder() const { return mHeaderRows > 0 ? mHeaderRows * mHeaderHeight + 10 : 6; }

GuiRect GuiSpreadSheet::GetCellRect(int row, int col)
{
    GuiRect r;
    const int top = mClient.top + TopBorder() + (row - mFirstRow) * mRowHeight;
    r.top = int16_t(top);
    r.bottom = int16_t(top + mRowHeight - 1);
    int x;
    if (mFrozenCols > 0 && col >= 0 && col < mFrozenCols) {
        x = X0();
        for (int c = 0; c < col; ++c) x += mpColWidths[c];
    } else {
        x = X0() + mFrozenWidth;
        for (int c = mFirstCol; c < col && c < mCols; ++c) x += mpColWidths[c];
    }
    r.left = int16_t(x);
    r.right = int16_t(x + (ValidCol(col) ? mpColWidths[col] : 0) - 1);
    return r;
}

int GuiSpreadSheet::UpdateRowLayout(int force)
{
    const int R = mClient.right, B = mClient.bottom, T = mClient.top;
    for (int pass = 0; pass < 2; ++pass) {
        mNeedsHScroll = 0;
        int x = X0() + ((mpVBar || force) ? 16 : 0);
        for (int c = 0; c < mCols && x <= R; ++c) {
            x += mpColWidths[c];
            if (R - 6 < x) mNeedsHScroll = 1;
        }
        const int room = (B - T + 1) - TopBorder() - 6 - mHeaderHeight * mFooterRows - (mNeedsHScroll ? 16 : 0);
        // A row height of 0 would never fit a finite count: show every row.
        mVisibleRows = mRowHeight > 0 ? room / mRowHeight : mRows;
        if (mVisibleRows < 0) mVisibleRows = 0;
        if (mVisibleRows >= mRows) {
            mVisibleRows = mRows;
            mFirstRow = 0;
            mLastRow = mRows - 1;
        } else {
            if (mFirstRow < 0) mFirstRow = 0;
            mLastRow = mFirstRow + mVisibleRows - 1;
            if (mLastRow > mRows - 1) {
                const int excess = mLastRow - (mRows - 1);
                mFirstRow -= excess;
                mLastRow -= excess;
            }
        }
        if (mVisibleRows == mRows || mpVBar || force) break;
        force = 1;
    }
    return TopBorder();
}

int GuiSpreadSheet::UpdateColLayout()
{
    mFrozenWidth = 0;
    for (int c = 0; c < mFrozenCols && c < mCols; ++c) mFrozenWidth += mpColWidths[c];
    mVisibleWidth = mFrozenWidth;
    const int limit = (mClient.right - mClient.left) - 5 - (mVisibleRows < mRows ? 16 : 0);
    int x = mRowHeaderWidth + mFrozenWidth + 6;
    int c = mFirstCol;
    mLastColPartial = 1;
    while (x <= limit) {
        if (c >= mCols) {
            mLastColPartial = 0;
            break;
        }
        x += mpColWidths[c];
        mVisibleWidth += mpColWidths[c];
        ++c;
    }
    mVisibleCols = (c - mFirstCol) + mFrozenCols;
    if (c < mCols || x > limit) mVisibleWidth -= x - limit;
    mLastCol = mFirstCol + mVisibleCols - mFrozenCols - 1;
    if (mLastColPartial && !(mStyle & GSS_PARTIAL_VISIBLE)) --mLastCol;
    return mRowHeaderWidth + mFrozenWidth + 6;
}

GuiVScroll* GuiSpreadSheet::CreateVertScroll(GuiRect rect, GuiScrollInfo* info, uint16_t id)
{
    return new GuiVScroll(rect, info, id);
}

GuiHScroll* GuiSpreadSheet::CreateHorzScroll(GuiRect rect, GuiScrollInfo* info, uint16_t id)
{
    return new GuiHScroll(rect, info, id);
}

void GuiSpreadSheet::UpdateScrollBars()
{
    UpdateRowLayout(0);
    UpdateColLayout();
    const int L = mClient.left, T = mClient.top, R = mClient.right, B = mClient.bottom;
    if (mVisibleRows >= mRows) {
        if (mpVBar) {
            GuiVScroll* bar = mpVBar;
            mpVBar = nullptr;
            Remove(bar, 0);
            delete bar;
        }
    } else {
        const GuiRect r(int16_t(R - 23), int16_t(T + TopBorder()), int16_t(R - 7),
                        int16_t(T + TopBorder() + mVisibleRows * mRowHeight));
        GuiScrollInfo info{0, mRows - 1, mFirstRow, 1, mVisibleRows};
        if (!mpVBar) {
            mpVBar = CreateVertScroll(r, &info, GUI_SHEET_VBAR_ID);
            if (mpVBar) Add(mpVBar, 0);
        } else {
            mpVBar->Resize(r);
            mpVBar->Reset(&info);
        }
    }
    if (!mNeedsHScroll) {
        if (mpHBar) {
            GuiHScroll* bar = mpHBar;
            mpHBar = nullptr;
            Remove(bar, 0);
            delete bar;
        }
    } else {
        const GuiRect r(int16_t(L + mRowHeaderWidth + mFrozenWidth + 6), int16_t(B - 22),
                        int16_t(mpVBar ? R - 22 : R - 6), int16_t(B - 6));
        const int v = mVisibleCols - mFrozenCols - (mLastColPartial ? 1 : 0);
        GuiScrollInfo info{mFrozenCols, (mCols - v) + 3, mFirstCol, 1, v};
        if (!mpHBar) {
            mpHBar = CreateHorzScroll(r, &info, GUI_SHEET_HBAR_ID);
            if (mpHBar) Add(mpHBar, 0);
        } else {
            mpHBar->Resize(r);
            mpHBar->Reset(&info);
        }
    }
}

void GuiSpreadSheet::DoVerticalScrolling(int row)
{
    if (mRows == 0) return;
    // The visible-row count is that of the last layout and can exceed a row
    // count that shrank since (SetSize does not lay out again): the upper
    // limit may be negative, so the lower one is applied last.
    if (row > mRows - mVisibleRows) row = mRows - mVisibleRows;
    if (row > mRows - 1) row = mRows - 1;
    if (row < 0) row = 0;
    const int shift = row - mFirstRow;
    mFirstRow = row;
    mLastRow += shift;
    if (mLastRow > mRows - 1) mLastRow = mRows - 1;
    if (!mpScreen || !IsVisible()) return;
    GuiRect area(mClient.left, int16_t(mClient.top + TopBorder()),
                 int16_t(mpVBar ? mpVBar->mOuter.left - 1 : mClient.right - 6),
                 int16_t(mpHBar ? mpHBar->mOuter.top - 1 : mClient.bottom - 6));
    mpScreen->Invalidate(area);
    Draw();
}

void GuiSpreadSheet::VScrollIntoView(int row)
{
    if (!mpVBar) return;
    int first = row - mVisibleRows / 2;
    if (first < 0) first = 0;
    if (first + mVisibleRows > mRows) first = mRows - mVisibleRows;
    if (first < 0) first = 0;
    GuiScrollInfo info{0, mRows - 1, first, 1, mVisibleRows};
    mpVBar->Reset(&info);
    DoVerticalScrolling(first);
}

void GuiSpreadSheet::DoHorizontalScrolling(int col)
{
    if (col < mFrozenCols) col = mFrozenCols;
    if (col > mCols - 1) col = mCols - 1;
    if (col < 0 || col == mFirstCol) return;
    mFirstCol = col;
    UpdateColLayout();
    const int v = mVisibleCols - mFrozenCols - (mLastColPartial ? 1 : 0);
    if (mpHBar) {
        GuiScrollInfo info{mFrozenCols, mCols - 1, col, 1, v};
        mpHBar->Reset(&info);
    }
    if (!mpScreen || !IsVisible()) return;
    GuiRect area(int16_t(X0() + mFrozenWidth), int16_t(mClient.top + 6),
                 int16_t(mpVBar ? mpVBar->mOuter.left - 1 : mClient.right - 6),
                 int16_t(mpHBar ? mpHBar->mOuter.top - 1 : mClient.bottom - 6));
    mpScreen->Invalidate(area);
    Draw();
}

void GuiSpreadSheet::ClipToFace()
{
    if (mClipNesting == 0) {
        mSavedClip = mClip;
        mClip &= mClient;
        mClip -= 6;
        if (mpVBar && mClip.right >= mpVBar->mOuter.left) mClip.right = int16_t(mpVBar->mOuter.left - 3);
    }
    ++mClipNesting;
}

void GuiSpreadSheet::EndClipToFace()
{
    if (mClipNesting > 0 && --mClipNesting == 0) mClip = mSavedClip;
}

void GuiSpreadSheet::Resize(GuiRect rect)
{
    GuiThing::Resize(rect);
    mFirstCol = mFrozenCols;
    UpdateScrollBars();
    MessageChildren(GuiMessage(GM_PARENT_SIZED, 0, nullptr, this));
}

void GuiSpreadSheet::SetScrollStartCol(int n)
{
    if (n < 0 || n > mCols) return;
    mFrozenCols = n;
    mFirstCol = n;
    if (IsVisible()) UpdateScrollBars();
}

int GuiSpreadSheet::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        GuiWindow::Message(msg);
        UpdateScrollBars();
        if (!mpOwner) mpOwner = mpParent;
        return 0;
    case GM_POINTER_PRESS:
        SelectCell(msg.Point());
        return 0;
    default:
        break;
    }
    if (msg.type == GuiSignalType(GUI_SHEET_VBAR_ID, GUI_SIG_CHANGED)) {
        DoVerticalScrolling(int(int32_t(msg.Word(0))));
        return 0;
    }
    if (msg.type == GuiSignalType(GUI_SHEET_HBAR_ID, GUI_SIG_CHANGED)) {
        DoHorizontalScrolling(int(int32_t(msg.Word(0))));
        return 0;
    }
    return GuiWindow::Message(msg);
}
