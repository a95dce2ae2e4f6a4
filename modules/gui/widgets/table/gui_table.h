// GuiTable: a layout window that places screen objects (cell clients) in a
// grid of rows and columns. A client may span several rows and columns, be
// aligned inside its cell and, with cell style 0x0001, make its rows and
// columns grow to fit it. The table sizes itself to the sum of its rows and
// columns, draws an optional etched grid and draws each client clipped to
// its cell. Cell entries whose cell lies (partly) outside the grid, for
// example after a Reconfigure to fewer rows, are kept but neither laid out
// nor drawn until the grid holds them again.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

constexpr uint8_t GT_TABLE = 152;

// Table style bits.
constexpr uint16_t GTS_HORZ_GRID = 0x1000;
constexpr uint16_t GTS_VERT_GRID = 0x2000;
constexpr uint16_t GTS_NO_BORDER = 0x4000;   // transparent: removing a client redraws the parent

// Cell style bits.
constexpr unsigned GTC_SIZE_TO_CLIENT = 0x0001;
constexpr unsigned GTC_CENTER_H = 0x0100;
constexpr unsigned GTC_RIGHT = 0x0400;
constexpr unsigned GTC_CENTER_V = 0x0800;
constexpr unsigned GTC_BOTTOM = 0x2000;
constexpr unsigned GTC_DEFAULT = GTC_CENTER_H | GTC_CENTER_V;

struct GuiTableCell {
    GuiThing* client;
    GuiTableCell* next;
    int32_t row;
    int32_t col;
    int32_t rowSpan;
    int32_t colSpan;
    uint32_t style;
};

class GuiTable : public GuiWindow {
public:
    GuiTable(int left, int top, int rows, int cols);
    ~GuiTable() override;

    void Draw() override;
    void DrawChildren() override;

    virtual void DrawGrid();
    virtual void SetCellPadding(int padding);
    virtual void SetColWidth(int col, int width, int force);
    virtual void SetRowHeight(int row, int height, int force);
    // Refused (nothing happens, the client stays the caller's) for a cell
    // or span outside the grid; a span below 1 counts as 1.
    virtual void SetCellClient(int row, int col, GuiThing* client, int rowSpan = 1, int colSpan = 1,
                               unsigned style = GTC_DEFAULT);
    virtual void Reconfigure(int rows, int cols, int gridWidth, int padding);
    virtual void Layout();

    void SetGridWidth(int width);
    GuiThing* GetCellClient(int row, int col);
    int GetRowCol(GuiThing* client, int* row, int* col);
    GuiThing* RemoveCellClient(int row, int col);
    unsigned GetCellStyle(int row, int col);
    void GetCellSpan(int row, int col, int* rowSpan, int* colSpan);
    int GetForcedColWidth(int col);
    int GetForcedRowHeight(int row);
    int CellSpansRow(int row, int col);
    int CellSpansCol(int row, int col);

    int32_t* mpRowHeights;
    int32_t* mpColWidths;
    GuiTableCell* mpCells;
    int32_t mPadding;
    int32_t mGridWidth;
    int32_t mRows;
    int32_t mCols;

private:
    bool InGrid(const GuiTableCell& c) const;
    GuiTableCell* EntryAt(int row, int col) const;
    int ColumnsWidth(int from, int to) const;   // columns from .. to - 1
    int RowsHeight(int from, int to) const;
    void GrowSpanned(const GuiTableCell& c, bool rows);
    void ReplaceArrays(int rows, int cols);
};
