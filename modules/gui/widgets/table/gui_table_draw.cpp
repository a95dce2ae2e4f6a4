// GuiTable drawing: border, etched grid and the clients clipped to their cells.
#include "gui/draw/gui_screen.h"
#include "gui/widgets/table/gui_table.h"

namespace {
constexpr uint32_t kGridFace = 0xC0C0C0;
constexpr uint32_t kGridLight = 0xFFFFFF;
constexpr uint32_t kGridShade = 0x808080;
}  // namespace

void GuiTable::Draw()
{
    if (mRows == 0 || mCols == 0 || !mpScreen) return;
    mpScreen->BeginDraw(this);
    if (!(mStyle & GTS_NO_BORDER)) StandardBorder(mColor[0]);
    if (mStyle & (GTS_HORZ_GRID | GTS_VERT_GRID)) DrawGrid();
    DrawChildren();
    mpScreen->EndDraw();
}

void GuiTable::DrawChildren()
{
    for (GuiTableCell* c = mpCells; c; c = c->next) {
        GuiThing* client = c->client;
        if (!client || !InGrid(*c) || client->mpParent != this) continue;
        GuiRect cell;
        cell.left = int16_t(mClient.left + ColumnsWidth(0, c->col));
        cell.right = int16_t(cell.left + ColumnsWidth(c->col, c->col + c->colSpan));
        cell.top = int16_t(mClient.top + RowsHeight(0, c->row));
        cell.bottom = int16_t(cell.top + RowsHeight(c->row, c->row + c->rowSpan));
        cell -= mPadding;
        cell.left = int16_t(cell.left + mGridWidth);
        cell.top = int16_t(cell.top + mGridWidth);
        const GuiRect saved = client->mClip;
        client->mClip &= cell;
        client->Draw();
        client->mClip = saved;
    }
}

void GuiTable::DrawGrid()
{
    if (mRows == 0 || mCols == 0 || !mpScreen) return;
    const int g = mGridWidth;
    const GuiColor face{kGridFace, kGridFace, 0}, light{kGridLight, kGridLight, 0}, shade{kGridShade, kGridShade, 0};
    const bool etched = g > 3;
    const int CL = mClient.left, CT = mClient.top;

    if (mStyle & GTS_VERT_GRID) {
        for (int c = 0, x = CL; c < mCols; x += mpColWidths[c], ++c) {
            if (mpColWidths[c] == 0) continue;
            for (int r = 0, y = CT; r < mRows; y += mpRowHeights[r], ++r) {
                const int h = mpRowHeights[r];
                if (h == 0 || CellSpansCol(r, c)) continue;
                mpScreen->Line(this, x, y, x, y + h, face, g);
                if (!etched) continue;
                mpScreen->Line(this, x + 1, y, x + 1, y + h, light, 1);
                mpScreen->Line(this, x + g - 1, y, x + g - 1, y + h, shade, 1);
            }
        }
    }
    if (mStyle & GTS_HORZ_GRID) {
        for (int r = 0, y = CT; r < mRows; y += mpRowHeights[r], ++r) {
            if (mpRowHeights[r] == 0) continue;
            for (int c = 0, x = CL; c < mCols; x += mpColWidths[c], ++c) {
                const int w = mpColWidths[c];
                if (w == 0 || CellSpansRow(r, c)) continue;
                mpScreen->Line(this, x, y, x + w, y, face, g);
                if (!etched) continue;
                mpScreen->Line(this, x, y + 1, x + w - 1, y + 1, light, 1);
                mpScreen->Line(this, x, y + g - 1, x + w, y + g - 1, shade, 1);
            }
        }
    }

    const int L = mOuter.left, T = mOuter.top, R = mOuter.right, B = mOuter.bottom;
    const int X = L + ColumnsWidth(0, mCols), Y = T + RowsHeight(0, mRows);
    if (mStyle & GTS_VERT_GRID) {
        mpScreen->Line(this, X, T, X, B, face, g);
        if (etched) {
            mpScreen->Line(this, X + 1, T + 1, X + 1, B - g + 1, light, 1);
            mpScreen->Line(this, R, T, R, B - 1, shade, 1);
        }
    }
    if (mStyle & GTS_HORZ_GRID) {
        mpScreen->Line(this, L, Y, R, Y, face, g);
        if (etched) {
            mpScreen->Line(this, L + 1, Y + 1, R - g + 2, Y + 1, light, 1);
            mpScreen->Line(this, L, B, R, B, shade, 1);
        }
    }
}
