// GuiSpreadSheet: a window showing a grid of text and bitmap cells with up
// to 4 column header rows above it, up to 4 footer rows below it, a row
// header strip at the left and frozen columns that do not scroll. Rows,
// columns or single cells are selected by the pointer and reported to an
// owner straight through its Message. Scroll bars (ids 1000 and 1001)
// appear when the grid does not fit.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"
#include "gui/widgets/sheet/gui_sheet_row.h"

constexpr uint8_t GT_SPREADSHEET = 153;

// Column style bits.
constexpr uint32_t GSC_FLAT = 0x0002;
constexpr uint32_t GSC_RAISED = 0x0004;
constexpr uint32_t GSC_RECESSED = 0x0008;
constexpr uint32_t GSC_RIGHT = 0x0020;
constexpr uint32_t GSC_CENTER = 0x0080;
constexpr uint32_t GSC_SELECTABLE = 0x0100;
constexpr uint32_t GSC_SELECTED = 0x0200;
constexpr uint32_t GSC_SPACER = 0x0400;
constexpr uint32_t GSC_CELLS_SELECTABLE = 0x0800;
constexpr uint32_t GSC_DEFAULT = GSC_RECESSED | GSC_CENTER | GSC_CELLS_SELECTABLE;

// Spreadsheet style bits.
constexpr uint16_t GSS_CELL_SELECT = 0x0400;
constexpr uint16_t GSS_PARTIAL_VISIBLE = 0x0800;
constexpr uint16_t GSS_MULTI_ROW = 0x1000;
constexpr uint16_t GSS_MULTI_COL = 0x2000;

// Signals to the owner.
constexpr uint8_t GUI_SIG_SHEET_COL_ON = 8;
constexpr uint8_t GUI_SIG_SHEET_COL_OFF = 9;
constexpr uint8_t GUI_SIG_SHEET_ROW_ON = 10;
constexpr uint8_t GUI_SIG_SHEET_ROW_OFF = 11;
constexpr uint8_t GUI_SIG_SHEET_CELL = 12;

constexpr unsigned short GUI_SHEET_VBAR_ID = 1000;
constexpr unsigned short GUI_SHEET_HBAR_ID = 1001;
constexpr int GUI_SHEET_MAX_HEADER_ROWS = 4;

class GuiSpreadSheet : public GuiWindow {
public:
    GuiSpreadSheet(const GuiRect& rect, int rows, int cols, unsigned id, unsigned style, GuiThing* owner);
    ~GuiSpreadSheet() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void SetColor(unsigned char index, unsigned long colour) override;
    unsigned long GetColor(unsigned char index) override;
    void Resize(GuiRect rect) override;

    virtual void SetCellData(int row, int col, const char* text, int redraw);
    virtual void SetCellBmp(int row, int col, const GuiBitmap* bitmap, int redraw);
    virtual void SetScrollStartCol(int n);
    virtual void SelectCell(const GuiPoint& point);
    virtual GuiRect GetCellRect(int row, int col);
    virtual void UpdateScrollBars();
    virtual GuiVScroll* CreateVertScroll(GuiRect rect, GuiScrollInfo* info, uint16_t id);
    virtual GuiHScroll* CreateHorzScroll(GuiRect rect, GuiScrollInfo* info, uint16_t id);
    virtual void DrawHeaders();
    virtual int CheckCellSelect(const GuiPoint& point);
    virtual void DrawCellBorder(GuiRect& rect, uint32_t colour, int row, int col);
    virtual void DrawFlat(GuiRect& rect, uint32_t colour, int width);
    virtual void DrawRecessed(GuiRect& rect, uint32_t colour, int row, int col);
    virtual void DrawRaised(GuiRect& rect, uint32_t colour, int row, int col);
    virtual void UpdateCell(GuiRect& rect, const char* text, unsigned flags, const GuiFont* font, uint32_t textColour,
                            uint32_t fillColour);
    virtual void UpdateCell(GuiRect& rect, uint32_t textColour, uint32_t fillColour, int row, int col);
    virtual void DoVerticalScrolling(int row);
    virtual void DoHorizontalScrolling(int col);
    virtual void ClipToFace();

    // ---- content (gui_sheet_data.cpp) ----
    void SetSize(int rows, int cols);
    const char* GetCellData(int row, int col);
    const GuiBitmap* GetCellBmp(int row, int col);
    const char* GetRowHeader(int row);
    const char* GetColHeader(int col);
    void SetHeader(int level, int col, const char* text);
    void SetFooter(int level, int col, const char* text);
    void SetRowHeader(int row, const char* text);
    void SetCellFont(const GuiFont* font);
    void SetColumnFont(int col, const GuiFont* font);
    void SetHeaderFont(const GuiFont* font);
    void SetColumnStyle(int col, uint32_t style);
    void SetRowStyle(int row, uint32_t style);
    uint32_t GetRowStyle(int row);
    void ForceColWidth(int col, int width);
    int SetColWidth(int col, const char* text, const GuiFont* font);
    void CheckColWidths(int col, int width);
    int GetOptimumWidth();
    int GetOptimumHeight();
    int InsertColumn(int col, int width, const char* text);
    int AddColumn(int width, const char* text);
    int DeleteColumn(int col);
    int InsertRow(int row, const char* headerText);
    int AddRow(const char* headerText);
    int DeleteRow(int row);

    // ---- layout and drawing (gui_sheet_layout.cpp, gui_sheet_draw.cpp) ----
    void DrawAllCells();
    void DrawRowHeaders();
    void DrawFooters();
    int RedrawOneCell(int row, int col);
    int UpdateRowLayout(int force);
    int UpdateColLayout();
    void VScrollIntoView(int row);
    void EndClipToFace();
    int TopBorder() const;
    uint32_t GetCellBackColor(int row, int col);
    uint32_t GetCellTextColor(int row, int col);

    // ---- selection (gui_sheet_select.cpp) ----
    int CheckRowSelect(const GuiPoint& point);
    int CheckColumnSelect(const GuiPoint& point);
    void SelectCell(int row, int col, int select);
    void SelectRow(int row, int on);
    void SelectColumn(int col, int on);
    int UnselectCells();
    void UnselectAll();
    void UnselectRows();
    void UnselectColumns();
    int RowSelected(int row);
    int ColSelected(int col);
    int GetSelectedRow(int n);
    int GetSelectedColumn(int n);

    // Content fields.
    GuiSpreadSheetRow** mppRows;
    GuiSpreadSheetRow** mppHeaderRows;
    GuiSpreadSheetRow** mppFooterRows;
    uint32_t* mpColStyles;
    const GuiFont** mppColFonts;
    const GuiFont* mpHeaderFont;
    int32_t* mpColWidths;
    GuiThing* mpOwner;
    int32_t mRows;
    int32_t mCols;

    // Layout fields.
    int32_t mClipNesting;
    int32_t mFrozenCols;
    int32_t mFrozenWidth;
    int32_t mFirstRow;
    int32_t mLastRow;
    int32_t mFirstCol;   // first scrolled column
    int32_t mLastCol;    // last scrolled column
    int32_t mVisibleRows;
    int32_t mVisibleCols;
    int32_t mVisibleWidth;
    int32_t mHeaderRows;
    int32_t mFooterRows;
    int32_t mRowHeaderWidth;
    int32_t mLastColPartial;
    int32_t mNeedsHScroll;
    int32_t mRowHeight;
    int32_t mHeaderHeight;
    GuiRect mSavedClip;
    // The bars are client children placed by the sheet itself, not the
    // window's own bars that would take room off the client area.
    GuiVScroll* mpVBar;
    GuiHScroll* mpHBar;
    uint32_t mSheetColor[6];   // colours 4 to 9

private:
    bool ValidCell(int row, int col) const { return ValidRow(row) && ValidCol(col); }
    bool ValidRow(int row) const { return row >= 0 && row < mRows; }
    bool ValidCol(int col) const { return col >= 0 && col < mCols; }
    int TextWidth(const char* text, const GuiFont* font) const;
    int FontHeight(const GuiFont* font) const;
    void FreeRows(GuiSpreadSheetRow**& rows, int count);
    void ReplaceColumnArrays(int cols);
    int X0() const { return mClient.left + mRowHeaderWidth + 6; }
    // The first visible row as an index that the row array has (never below 0).
    int FirstShownRow() const { return mFirstRow > 0 ? mFirstRow : 0; }
    bool ColumnShown(int col) const;
    int ColumnAt(int x, int* left) const;
    void ReportToOwner(uint8_t signal, int a, int b);
    int RowAt(int y) const;
    void RedrawRow(int row);
    void RedrawColumn(int col);
    void SetColumnSelected(int col, int on);
};
