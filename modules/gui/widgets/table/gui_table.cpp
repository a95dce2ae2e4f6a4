// GuiTable: cell entries, row and column sizes and the layout that places
// the clients.
#include <cstring>

#include "gui/widgets/table/gui_table.h"

GuiTable::GuiTable(int left, int top, int rows, int cols)
    : GuiWindow(GuiRect(int16_t(left), int16_t(top), int16_t(left + 1), int16_t(top + 1)),
                GTS_HORZ_GRID | GTS_VERT_GRID | GST_FRAME_NONE),
      mpRowHeights(nullptr), mpColWidths(nullptr), mpCells(nullptr), mPadding(0), mGridWidth(5), mRows(0),
      mCols(0)
{
    mType = GT_TABLE;
    mStatus &= uint16_t(~GS_SIZABLE);
    ReplaceArrays(rows, cols);
}

GuiTable::~GuiTable()
{
    delete[] mpRowHeights;
    delete[] mpColWidths;
    while (mpCells) {
        GuiTableCell* next = mpCells->next;
        delete mpCells;   // the clients belong to the screen tree
        mpCells = next;
    }
}

void GuiTable::ReplaceArrays(int rows, int cols)
{
    delete[] mpRowHeights;
    delete[] mpColWidths;
    // A negative count is treated as an empty grid.
    mRows = rows > 0 ? rows : 0;
    mCols = cols > 0 ? cols : 0;
    mpRowHeights = new int32_t[size_t(mRows) + 1]();
    mpColWidths = new int32_t[size_t(mCols) + 1]();
}

bool GuiTable::InGrid(const GuiTableCell& c) const
{
    return c.row >= 0 && c.col >= 0 && c.row + c.rowSpan <= mRows && c.col + c.colSpan <= mCols;
}

GuiTableCell* GuiTable::EntryAt(int row, int col) const
{
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if (c->row == row && c->col == col) return c;
    return nullptr;
}

int GuiTable::ColumnsWidth(int from, int to) const
{
    int sum = 0;
    for (int i = from < 0 ? 0 : from; i < to && i < mCols; ++i) sum += mpColWidths[i];
    return sum;
}

int GuiTable::RowsHeight(int from, int to) const
{
    int sum = 0;
    for (int i = from < 0 ? 0 : from; i < to && i < mRows; ++i) sum += mpRowHeights[i];
    return sum;
}

void GuiTable::Reconfigure(int rows, int cols, int gridWidth, int padding)
{
    mGridWidth = gridWidth;
    mPadding = padding;
    ReplaceArrays(rows, cols);
    Layout();
}

void GuiTable::SetCellPadding(int padding) { mPadding = padding; }
void GuiTable::SetGridWidth(int width) { mGridWidth = width; }

void GuiTable::SetColWidth(int col, int width, int force)
{
    if (mRows == 0 || mCols == 0 || col < 0 || col >= mCols) return;
    const int v = width + 2 * mPadding + mGridWidth;
    if (force || mpColWidths[col] < v) mpColWidths[col] = v;
}

void GuiTable::SetRowHeight(int row, int height, int force)
{
    if (mRows == 0 || mCols == 0 || row < 0 || row >= mRows) return;
    const int v = height + 2 * mPadding + mGridWidth;
    if (force || mpRowHeights[row] < v) mpRowHeights[row] = v;
}

void GuiTable::SetCellClient(int row, int col, GuiThing* client, int rowSpan, int colSpan, unsigned style)
{
    if (mRows == 0 || mCols == 0) return;
    if (rowSpan < 1) rowSpan = 1;
    if (colSpan < 1) colSpan = 1;
    const GuiTableCell wanted{client, nullptr, row, col, rowSpan, colSpan, style};
    if (!InGrid(wanted)) return;
    GuiTableCell* c = EntryAt(row, col);
    if (c) {
        if (c->client && c->client != client) Destroy(c->client);
        c->client = client;
        c->rowSpan = rowSpan;
        c->colSpan = colSpan;
        c->style = style;
    } else {
        c = new GuiTableCell(wanted);
        GuiTableCell** tail = &mpCells;
        while (*tail) tail = &(*tail)->next;
        *tail = c;
    }
    if (client && IsVisible()) Layout();
}

GuiThing* GuiTable::GetCellClient(int row, int col)
{
    GuiTableCell* c = EntryAt(row, col);
    return c ? c->client : nullptr;
}

int GuiTable::GetRowCol(GuiThing* client, int* row, int* col)
{
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if (c->client == client && client) {
            if (row) *row = c->row;
            if (col) *col = c->col;
            return 1;
        }
    return 0;
}

unsigned GuiTable::GetCellStyle(int row, int col)
{
    GuiTableCell* c = EntryAt(row, col);
    return c ? c->style : 0;
}

GuiThing* GuiTable::RemoveCellClient(int row, int col)
{
    GuiTableCell** link = &mpCells;
    while (*link && ((*link)->row != row || (*link)->col != col)) link = &(*link)->next;
    GuiTableCell* c = *link;
    if (!c) return nullptr;
    *link = c->next;
    GuiThing* client = c->client;
    delete c;
    if (!client) return nullptr;
    if (client->mpParent == this) {
        if (mStyle & GTS_NO_BORDER) {
            Remove(client, 0);
            if (mpParent) mpParent->Draw();
        } else {
            Remove(client, 1);
        }
    }
    return client;
}

void GuiTable::GetCellSpan(int row, int col, int* rowSpan, int* colSpan)
{
    int rs = 1, cs = 1;
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if (c->row <= row && c->col <= col && row < c->row + c->rowSpan && col < c->col + c->colSpan) {
            rs = c->rowSpan;
            cs = c->colSpan;
            break;
        }
    if (rowSpan) *rowSpan = rs;
    if (colSpan) *colSpan = cs;
}

int GuiTable::GetForcedColWidth(int col)
{
    if (col < 0 || col >= mCols) return -1;
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if ((c->style & GTC_SIZE_TO_CLIENT) && c->col <= col && col < c->col + c->colSpan) return mpColWidths[col];
    return -1;
}

int GuiTable::GetForcedRowHeight(int row)
{
    if (row < 0 || row >= mRows) return -1;
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if ((c->style & GTC_SIZE_TO_CLIENT) && c->row <= row && row < c->row + c->rowSpan) return mpRowHeights[row];
    return -1;
}

int GuiTable::CellSpansRow(int row, int col)
{
    if (row <= 0) return 0;
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if (InGrid(*c) && c->row < row && row < c->row + c->rowSpan && c->col <= col && col < c->col + c->colSpan)
            return 1;
    return 0;
}

int GuiTable::CellSpansCol(int row, int col)
{
    if (col <= 0) return 0;
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if (InGrid(*c) && c->col < col && col < c->col + c->colSpan && c->row <= row && row < c->row + c->rowSpan)
            return 1;
    return 0;
}

// Grows the rows (or columns) under a spanning client until they hold it:
// a still empty one takes the whole shortfall, otherwise it is shared out.
void GuiTable::GrowSpanned(const GuiTableCell& c, bool rows)
{
    const int first = rows ? c.row : c.col;
    const int span = rows ? c.rowSpan : c.colSpan;
    int32_t* size = rows ? mpRowHeights : mpColWidths;
    const int need = rows ? c.client->mOuter.Height() : c.client->mOuter.Width();
    int s = 0;
    for (int i = first; i < first + span; ++i) s += size[i];
    if (s != 0) s -= mGridWidth + 2 * mPadding;
    if (s >= need) return;
    const int d = need - s;
    for (int i = first; i < first + span; ++i)
        if (size[i] == 0) {
            rows ? SetRowHeight(i, d, 0) : SetColWidth(i, d, 0);
            return;
        }
    for (int i = first; i < first + span; ++i) {
        const int v = size[i] + d / span + 1;
        rows ? SetRowHeight(i, v, 0) : SetColWidth(i, v, 0);
    }
}

void GuiTable::Layout()
{
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if ((c->style & GTC_SIZE_TO_CLIENT) && c->client && InGrid(*c) && c->rowSpan < 2 && c->colSpan < 2) {
            SetRowHeight(c->row, c->client->mOuter.Height(), 0);
            SetColWidth(c->col, c->client->mOuter.Width(), 0);
        }
    for (GuiTableCell* c = mpCells; c; c = c->next)
        if ((c->style & GTC_SIZE_TO_CLIENT) && c->client && InGrid(*c) && (c->rowSpan >= 2 || c->colSpan >= 2)) {
            GrowSpanned(*c, true);
            GrowSpanned(*c, false);
        }

    const int left = mOuter.left, top = mOuter.top;
    Resize(GuiRect(int16_t(left), int16_t(top), int16_t(left - 1 + mGridWidth + ColumnsWidth(0, mCols)),
                   int16_t(top - 1 + mGridWidth + RowsHeight(0, mRows))));

    for (GuiTableCell* c = mpCells; c; c = c->next) {
        if (!c->client || !InGrid(*c)) continue;
        GuiThing* client = c->client;
        const int w = client->mOuter.Width(), h = client->mOuter.Height();
        const int x = left + mGridWidth + ColumnsWidth(0, c->col);
        const int W = ColumnsWidth(c->col, c->col + c->colSpan);
        int dx = 0;
        if (c->style & GTC_CENTER_H) dx = ((W - 2 * mPadding - w) >> 1) - 1;
        else if (c->style & GTC_RIGHT) dx = W - 2 * mPadding - w;
        const int y = top + mGridWidth + RowsHeight(0, c->row);
        const int H = RowsHeight(c->row, c->row + c->rowSpan);
        int dy = 0;
        if (c->style & GTC_CENTER_V) dy = ((H - 2 * mPadding - h) >> 1) - 1;
        else if (c->style & GTC_BOTTOM) dy = H - 2 * mPadding - h;
        GuiRect r = client->mOuter;
        r.MoveTo(x + dx + mPadding, y + dy + mPadding);
        client->Resize(r);
        if (client->mpParent != this) Add(client, 1);
    }
}
