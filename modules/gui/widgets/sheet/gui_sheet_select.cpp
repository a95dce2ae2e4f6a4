// GuiSpreadSheet selection: at any time a set of rows, a set of columns or
// one single cell is selected; pointer clicks change it and each change is
// handed straight to the owner's Message.
#include "gui/widgets/sheet/gui_sheet.h"

void GuiSpreadSheet::ReportToOwner(uint8_t signal, int a, int b)
{
    if (mId == 0 || !mpOwner) return;
    GuiMessage m(GuiSignalType(mId, signal));
    m.payload.half[0] = int16_t(a);
    m.payload.half[1] = int16_t(b);
    mpOwner->Message(m);
}

// Row under y, or -1 above the first visible row or without rows.
int GuiSpreadSheet::RowAt(int y) const
{
    const int dy = y - (mClient.top + TopBorder());
    // Clicks less than a row above the first row are above it, not in it.
    if (dy < 0 || mRowHeight <= 0 || mRows == 0) return -1;
    int row = mFirstRow + dy / mRowHeight;
    if (row > mLastRow) row = mLastRow;
    return ValidRow(row) ? row : -1;
}

// Column under x among the frozen and the visible scrolled ones, its left edge in *left.
int GuiSpreadSheet::ColumnAt(int x, int* left) const
{
    int cx = X0();
    for (int c = 0; c < mFrozenCols && c < mCols; cx += mpColWidths[c], ++c)
        if (x >= cx && x < cx + mpColWidths[c]) {
            if (left) *left = cx;
            return c;
        }
    cx = X0() + mFrozenWidth;
    for (int c = mFirstCol; c <= mLastCol && c < mCols; cx += mpColWidths[c], ++c)
        if (x >= cx && x < cx + mpColWidths[c]) {
            if (left) *left = cx;
            return c;
        }
    return -1;
}

void GuiSpreadSheet::SelectCell(const GuiPoint& point)
{
    if (CheckRowSelect(point)) return;
    if (CheckColumnSelect(point)) return;
    if (mStyle & GSS_CELL_SELECT) CheckCellSelect(point);
}

int GuiSpreadSheet::CheckRowSelect(const GuiPoint& point)
{
    const int L = mClient.left + 6;
    if (point.x < L || point.x >= L + mRowHeaderWidth) return 0;
    if (point.y < mClient.top + TopBorder()) return 0;
    const int row = RowAt(point.y);
    if (row >= 0 && (mppRows[row]->mStyle & GSR_SELECTABLE)) SelectRow(row, !RowSelected(row));
    return 1;
}

int GuiSpreadSheet::CheckColumnSelect(const GuiPoint& point)
{
    if (point.x < X0() || point.x > X0() + mVisibleWidth) return 0;
    const int top = mClient.top + 6;
    if (point.y < top || point.y > top + mHeaderRows * mHeaderHeight) return 0;
    const int col = ColumnAt(point.x, nullptr);
    if (col >= 0 && !(mpColStyles[col] & GSC_SPACER) && (mpColStyles[col] & GSC_SELECTABLE))
        SelectColumn(col, !ColSelected(col));
    return 1;
}

int GuiSpreadSheet::CheckCellSelect(const GuiPoint& point)
{
    const int top = mClient.top + TopBorder();
    if (point.y < top || point.y >= top + mVisibleRows * mRowHeight) return 0;
    const int col = ColumnAt(point.x, nullptr);
    if (col < 0 || !(mpColStyles[col] & GSC_CELLS_SELECTABLE)) return 0;
    const int row = RowAt(point.y);
    if (row < 0) return 0;
    const int was = mppRows[row]->GetCellSelected(col);
    UnselectAll();
    if (!was) {
        mppRows[row]->SetCellSelected(col, 1);
        RedrawOneCell(row, col);
    }
    ReportToOwner(GUI_SIG_SHEET_CELL, col, row);
    return 1;
}

void GuiSpreadSheet::SelectCell(int row, int col, int select)
{
    if (!ValidCell(row, col)) return;
    UnselectAll();
    if (select) {
        mppRows[row]->SetCellSelected(col, 1);
        RedrawOneCell(row, col);
    }
}

void GuiSpreadSheet::RedrawRow(int row)
{
    ClipToFace();
    for (int c = 0; c < mFrozenCols && c < mCols; ++c)
        if (!RedrawOneCell(row, c)) goto done;
    for (int c = mFirstCol; c <= mLastCol && c < mCols; ++c)
        if (!RedrawOneCell(row, c)) break;
done:
    EndClipToFace();
}

void GuiSpreadSheet::RedrawColumn(int col)
{
    for (int r = FirstShownRow(); r <= mLastRow && r < mRows; ++r) RedrawOneCell(r, col);
}

void GuiSpreadSheet::SelectRow(int row, int on)
{
    if (!ValidRow(row)) return;
    if (on) {
        if (mStyle & GSS_MULTI_ROW) {
            const bool anyCol = GetSelectedColumn(0) >= 0;
            UnselectColumns();
            if (!anyCol && GetSelectedRow(0) < 0) UnselectCells();
        } else {
            UnselectAll();
        }
    }
    mppRows[row]->SetRowSelected(on);
    RedrawRow(row);
    ReportToOwner(on ? GUI_SIG_SHEET_ROW_ON : GUI_SIG_SHEET_ROW_OFF, 0, row);
}

void GuiSpreadSheet::SetColumnSelected(int col, int on)
{
    if (on) mpColStyles[col] |= GSC_SELECTED;
    else mpColStyles[col] &= ~GSC_SELECTED;
    for (int r = 0; r < mRows; ++r) mppRows[r]->SetCellSelected(col, on);
}

void GuiSpreadSheet::SelectColumn(int col, int on)
{
    if (!ValidCol(col)) return;
    if (!on) {
        if (!ColSelected(col)) return;
    } else if (mStyle & GSS_MULTI_COL) {
        const bool anyRow = GetSelectedRow(0) >= 0;
        UnselectRows();
        if (!anyRow && GetSelectedColumn(0) < 0) UnselectCells();
    } else {
        UnselectAll();
    }
    SetColumnSelected(col, on);
    RedrawColumn(col);
    ReportToOwner(on ? GUI_SIG_SHEET_COL_ON : GUI_SIG_SHEET_COL_OFF, col, 0);
}

int GuiSpreadSheet::UnselectCells()
{
    for (int r = 0; r < mRows; ++r)
        for (int c = 0; c < mCols; ++c)
            if (mppRows[r]->GetCellSelected(c)) {
                mppRows[r]->SetCellSelected(c, 0);
                RedrawOneCell(r, c);
                return 1;
            }
    return 0;
}

void GuiSpreadSheet::UnselectRows()
{
    for (int r = 0; r < mRows; ++r)
        if (RowSelected(r)) {
            mppRows[r]->SetRowSelected(0);
            RedrawRow(r);
        }
}

void GuiSpreadSheet::UnselectColumns()
{
    for (int c = 0; c < mCols; ++c)
        if (ColSelected(c)) {
            SetColumnSelected(c, 0);
            RedrawColumn(c);
        }
}

void GuiSpreadSheet::UnselectAll()
{
    if (GetSelectedRow(0) >= 0) {
        UnselectRows();
        return;
    }
    const bool anyCol = GetSelectedColumn(0) >= 0;
    UnselectColumns();
    if (!anyCol) UnselectCells();
}

int GuiSpreadSheet::RowSelected(int row) { return ValidRow(row) && (mppRows[row]->mStyle & GSR_SELECTED) ? 1 : 0; }
int GuiSpreadSheet::ColSelected(int col) { return ValidCol(col) && (mpColStyles[col] & GSC_SELECTED) ? 1 : 0; }

int GuiSpreadSheet::GetSelectedRow(int n)
{
    for (int r = 0; r < mRows; ++r)
        if (RowSelected(r) && n-- == 0) return r;
    return -1;
}

int GuiSpreadSheet::GetSelectedColumn(int n)
{
    for (int c = 0; c < mCols; ++c)
        if (ColSelected(c) && n-- == 0) return c;
    return -1;
}
