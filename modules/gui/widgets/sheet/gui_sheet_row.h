// Cells and rows of the spreadsheet window: a cell holds a copied text or
// a borrowed bitmap; a row holds one cell per column, a style word and an
// optional header text. Every index is checked: a bad column reads as null
// or 0 and changes nothing.
#pragma once

#include <cstdint>

#include "gui/core/gui_types.h"

// Row style bits.
constexpr uint32_t GSR_SELECTABLE = 0x0100;   // selected by a click on its header
constexpr uint32_t GSR_SELECTED = 0x0200;

class GuiSpreadSheetCell {
public:
    GuiSpreadSheetCell() = default;
    GuiSpreadSheetCell(const GuiSpreadSheetCell&) = delete;
    GuiSpreadSheetCell& operator=(const GuiSpreadSheetCell&) = delete;
    virtual ~GuiSpreadSheetCell();

    void DataSet(const char* text);
    void BmpSet(const GuiBitmap* bitmap);

    char* mpText = nullptr;
    const GuiBitmap* mpBitmap = nullptr;
    int32_t mSelected = 0;
    int32_t mIsText = 1;
    int32_t mBufferSize = 0;
};

class GuiSpreadSheetRow {
public:
    explicit GuiSpreadSheetRow(int columns);
    GuiSpreadSheetRow(const GuiSpreadSheetRow&) = delete;
    GuiSpreadSheetRow& operator=(const GuiSpreadSheetRow&) = delete;
    ~GuiSpreadSheetRow();

    const char* DataGet(int col) const;
    const GuiBitmap* BmpGet(int col) const;
    void DataSet(int col, const char* text);
    void BmpSet(int col, const GuiBitmap* bitmap);
    int IsText(int col) const;
    int GetCellSelected(int col) const;
    void SetCellSelected(int col, int flag);
    void SetRowSelected(int flag);
    void SetRowHeader(const char* text);
    void DeleteColumn(int col);
    void InsertColumn(int col, const char* text);
    bool Has(int col) const { return col >= 0 && col < mCount; }

    GuiSpreadSheetCell** mpCells;
    int32_t mCount;
    uint32_t mStyle;
    uint32_t mReserved;
    char* mpHeader;
};
