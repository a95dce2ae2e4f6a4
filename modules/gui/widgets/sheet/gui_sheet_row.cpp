// GuiSpreadSheetCell and GuiSpreadSheetRow.
#include <cstring>

#include "gui/widgets/sheet/gui_sheet_row.h"

GuiSpreadSheetCell::~GuiSpreadSheetCell() { delete[] mpText; }

void GuiSpreadSheetCell::DataSet(const char* text)
{
    mIsText = 1;
    if (!text) {
        delete[] mpText;
        mpText = nullptr;
        mBufferSize = 0;
        return;
    }
    const size_t len = std::strlen(text);
    if (size_t(mBufferSize) <= len) {
        char* buffer = new char[len + 8];
        delete[] mpText;
        mpText = buffer;
        mBufferSize = int32_t(len + 8);
    }
    std::memmove(mpText, text, len + 1);
}

void GuiSpreadSheetCell::BmpSet(const GuiBitmap* bitmap)
{
    mpBitmap = bitmap;
    mIsText = 0;
}

GuiSpreadSheetRow::GuiSpreadSheetRow(int columns)
    : mpCells(nullptr), mCount(columns > 0 ? columns : 0), mStyle(0), mReserved(0), mpHeader(nullptr)
{
    mpCells = new GuiSpreadSheetCell*[size_t(mCount) + 1];
    for (int i = 0; i < mCount; ++i) mpCells[i] = new GuiSpreadSheetCell;
}

GuiSpreadSheetRow::~GuiSpreadSheetRow()
{
    for (int i = 0; i < mCount; ++i) delete mpCells[i];
    delete[] mpCells;
    delete[] mpHeader;
}

const char* GuiSpreadSheetRow::DataGet(int col) const { return Has(col) ? mpCells[col]->mpText : nullptr; }
const GuiBitmap* GuiSpreadSheetRow::BmpGet(int col) const { return Has(col) ? mpCells[col]->mpBitmap : nullptr; }

void GuiSpreadSheetRow::DataSet(int col, const char* text)
{
    if (Has(col)) mpCells[col]->DataSet(text);
}

void GuiSpreadSheetRow::BmpSet(int col, const GuiBitmap* bitmap)
{
    if (Has(col)) mpCells[col]->BmpSet(bitmap);
}

int GuiSpreadSheetRow::IsText(int col) const { return Has(col) ? mpCells[col]->mIsText : 0; }
int GuiSpreadSheetRow::GetCellSelected(int col) const { return Has(col) ? mpCells[col]->mSelected : 0; }

void GuiSpreadSheetRow::SetCellSelected(int col, int flag)
{
    if (Has(col)) mpCells[col]->mSelected = flag;
}

void GuiSpreadSheetRow::SetRowSelected(int flag)
{
    if (flag) mStyle |= GSR_SELECTED;
    else mStyle &= ~GSR_SELECTED;
    for (int i = 0; i < mCount; ++i) mpCells[i]->mSelected = flag;
}

void GuiSpreadSheetRow::SetRowHeader(const char* text)
{
    delete[] mpHeader;
    mpHeader = nullptr;
    if (!text) return;
    const size_t len = std::strlen(text);
    mpHeader = new char[len + 1];
    std::memcpy(mpHeader, text, len + 1);
}

void GuiSpreadSheetRow::DeleteColumn(int col)
{
    if (!Has(col)) return;
    delete mpCells[col];
    for (int i = col; i + 1 < mCount; ++i) mpCells[i] = mpCells[i + 1];
    --mCount;
}

void GuiSpreadSheetRow::InsertColumn(int col, const char* text)
{
    // A row without cells is left as it is.
    if (mCount <= 0 || col < 0 || col > mCount) return;
    auto** cells = new GuiSpreadSheetCell*[size_t(mCount) + 2];
    for (int i = 0; i < col; ++i) cells[i] = mpCells[i];
    cells[col] = new GuiSpreadSheetCell;
    if (text) cells[col]->DataSet(text);
    for (int i = col; i < mCount; ++i) cells[i + 1] = mpCells[i];
    delete[] mpCells;
    mpCells = cells;
    ++mCount;
}
