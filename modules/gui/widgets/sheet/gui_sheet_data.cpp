// GuiSpreadSheet content: construction, cell texts and bitmaps, headers,
// footers, fonts, column widths and styles, and inserting and deleting
// rows and columns. Every row and column index is checked on both sides.
#include <cstring>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/sheet/gui_sheet.h"

namespace {
constexpr int kCellFontSlot = 11;     // MenuFont
constexpr int kHeaderFontSlot = 12;   // SysFont
constexpr int kSpacerWidth = 4;
constexpr uint32_t kDefaultColours[6] = {0xC0C0C0, 0xFFFFFF, 0xFFFFFF, 0x000000, 0x808080, 0xC0C0C0};
}  // namespace

GuiSpreadSheet::GuiSpreadSheet(const GuiRect& rect, int rows, int cols, unsigned id, unsigned style, GuiThing* owner)
    : GuiWindow(rect, style), mppRows(nullptr), mppHeaderRows(nullptr), mppFooterRows(nullptr),
      mpColStyles(nullptr), mppColFonts(nullptr), mpHeaderFont(mFontTable[kHeaderFontSlot]), mpColWidths(nullptr),
      mpOwner(owner), mRows(0), mCols(0), mClipNesting(0), mFrozenCols(0), mFrozenWidth(0), mFirstRow(0),
      mLastRow(0), mFirstCol(0), mLastCol(0), mVisibleRows(0), mVisibleCols(0), mVisibleWidth(0), mHeaderRows(0),
      mFooterRows(0), mRowHeaderWidth(0), mLastColPartial(0), mNeedsHScroll(0), mRowHeight(0), mHeaderHeight(0),
      mSavedClip(), mpVBar(nullptr), mpHBar(nullptr)
{
    mId = uint16_t(id);
    mHeaderHeight = FontHeight(mpHeaderFont);
    const int h = FontHeight(mFontTable[kCellFontSlot]);
    mRowHeight = h + h / 2;
    mColor[0] = 0xC0C0C0;
    mColor[1] = 0x0000BF;
    mColor[2] = 0x000000;
    mColor[3] = 0xFFFFFF;
    std::memcpy(mSheetColor, kDefaultColours, sizeof mSheetColor);
    mType = GT_SPREADSHEET;
    SetSize(rows, cols);
}

GuiSpreadSheet::~GuiSpreadSheet()
{
    delete[] mpColWidths;
    delete[] mpColStyles;
    delete[] mppColFonts;
    FreeRows(mppRows, mRows);
    FreeRows(mppHeaderRows, mHeaderRows);
    FreeRows(mppFooterRows, mFooterRows);
}

int GuiSpreadSheet::TextWidth(const char* text, const GuiFont* font) const
{
    if (!mpScreen || !text || !font) return 0;
    return mpScreen->TextWidth(text, font, -1);
}

int GuiSpreadSheet::FontHeight(const GuiFont* font) const
{
    if (!font) return 0;
    return mpScreen ? mpScreen->TextHeight(" ", font) : font->height;
}

void GuiSpreadSheet::FreeRows(GuiSpreadSheetRow**& rows, int count)
{
    if (rows)
        for (int i = 0; i < count; ++i) delete rows[i];
    delete[] rows;
    rows = nullptr;
}

void GuiSpreadSheet::ReplaceColumnArrays(int cols)
{
    delete[] mpColWidths;
    delete[] mpColStyles;
    delete[] mppColFonts;
    mpColWidths = new int32_t[size_t(cols) + 1]();
    mpColStyles = new uint32_t[size_t(cols) + 1]();
    mppColFonts = new const GuiFont*[size_t(cols) + 1]();
    const GuiFont* font = mFontTable[kCellFontSlot];
    const int width = TextWidth(" ", font) + 8;
    for (int c = 0; c < cols; ++c) {
        mppColFonts[c] = font;
        mpColStyles[c] = GSC_DEFAULT;
        mpColWidths[c] = width;
    }
}

void GuiSpreadSheet::SetSize(int rows, int cols)
{
    if (rows < 0) rows = 0;
    if (cols < 0) cols = 0;
    FreeRows(mppRows, mRows);
    // The header rows go with the old grid: they are freed, not only forgotten.
    FreeRows(mppHeaderRows, mHeaderRows);
    mHeaderRows = 0;
    mRows = rows;
    mCols = cols;
    if (rows > 0) {
        mppRows = new GuiSpreadSheetRow*[size_t(rows)];
        for (int r = 0; r < rows; ++r) mppRows[r] = new GuiSpreadSheetRow(cols);
    }
    ReplaceColumnArrays(cols);
    if (mFrozenCols > cols) mFrozenCols = cols;
    if (mFirstCol > cols) mFirstCol = mFrozenCols;
    mFirstRow = 0;
}

void GuiSpreadSheet::SetCellData(int row, int col, const char* text, int redraw)
{
    if (!ValidCell(row, col)) return;
    mppRows[row]->DataSet(col, text);
    if (IsVisible()) {
        if (redraw) RedrawOneCell(row, col);
    } else if (text && *text) {
        CheckColWidths(col, TextWidth(text, mppColFonts[col]) + 8);
    }
}

void GuiSpreadSheet::SetCellBmp(int row, int col, const GuiBitmap* bitmap, int redraw)
{
    if (!ValidCell(row, col)) return;
    mppRows[row]->BmpSet(col, bitmap);
    if (IsVisible()) {
        if (redraw) RedrawOneCell(row, col);
    } else if (bitmap) {
        CheckColWidths(col, bitmap->width);
    }
}

const char* GuiSpreadSheet::GetCellData(int row, int col)
{
    return ValidCell(row, col) ? mppRows[row]->DataGet(col) : nullptr;
}

const GuiBitmap* GuiSpreadSheet::GetCellBmp(int row, int col)
{
    return ValidCell(row, col) ? mppRows[row]->BmpGet(col) : nullptr;
}

const char* GuiSpreadSheet::GetRowHeader(int row) { return ValidRow(row) ? mppRows[row]->mpHeader : nullptr; }

const char* GuiSpreadSheet::GetColHeader(int col)
{
    if (!ValidCol(col) || mHeaderRows < 1 || !mppHeaderRows) return nullptr;
    return mppHeaderRows[0]->DataGet(col);
}

// Grows an array of header or footer rows to at least `level` rows.
static void GrowLevels(GuiSpreadSheetRow**& rows, int32_t& count, int level, int cols)
{
    if (count >= level) return;
    auto** grown = new GuiSpreadSheetRow*[GUI_SHEET_MAX_HEADER_ROWS];
    for (int i = 0; i < count; ++i) grown[i] = rows[i];
    for (int i = count; i < level; ++i) grown[i] = new GuiSpreadSheetRow(cols);
    delete[] rows;
    rows = grown;
    count = level;
}

void GuiSpreadSheet::SetHeader(int level, int col, const char* text)
{
    if (level < 1 || level > GUI_SHEET_MAX_HEADER_ROWS || !ValidCol(col)) return;
    GrowLevels(mppHeaderRows, mHeaderRows, level, mCols);
    const int old = mpColWidths[col];
    CheckColWidths(col, TextWidth(text, mpHeaderFont) + 8);
    mppHeaderRows[level - 1]->DataSet(col, text);
    if (IsVisible() && mpColWidths[col] != old) UpdateScrollBars();
}

void GuiSpreadSheet::SetFooter(int level, int col, const char* text)
{
    if (level < 1 || level > GUI_SHEET_MAX_HEADER_ROWS || !ValidCol(col)) return;
    GrowLevels(mppFooterRows, mFooterRows, level, mCols);
    CheckColWidths(col, TextWidth(text, mpHeaderFont) + 8);
    mppFooterRows[level - 1]->DataSet(col, text);
}

void GuiSpreadSheet::SetRowHeader(int row, const char* text)
{
    if (!ValidRow(row)) return;
    mppRows[row]->SetRowHeader(text);
    if (!text) return;
    const int w = TextWidth(text, mpHeaderFont) + 8;
    if (w > mRowHeaderWidth) {
        mRowHeaderWidth = w;
        if (IsVisible()) UpdateScrollBars();
    }
}

void GuiSpreadSheet::SetCellFont(const GuiFont* font)
{
    if (!font) return;
    for (int c = 0; c < mCols; ++c) mppColFonts[c] = font;
    const int h = FontHeight(font);
    mRowHeight = h + h / 2;
    if (IsVisible()) UpdateScrollBars();
}

void GuiSpreadSheet::SetColumnFont(int col, const GuiFont* font)
{
    if (!ValidCol(col) || !font) return;
    mppColFonts[col] = font;
    int m = 0;
    for (int c = 0; c < mCols; ++c) {
        const int h = FontHeight(mppColFonts[c]);
        if (h > m) m = h;
    }
    mRowHeight = m + m / 2;
    if (IsVisible()) UpdateScrollBars();
}

void GuiSpreadSheet::SetHeaderFont(const GuiFont* font)
{
    if (!font) return;
    mpHeaderFont = font;
    mHeaderHeight = FontHeight(font);
    if (IsVisible()) UpdateScrollBars();
}

void GuiSpreadSheet::SetColumnStyle(int col, uint32_t style)
{
    if (!ValidCol(col)) return;
    mpColStyles[col] = style;
    if (style & GSC_SPACER) mpColWidths[col] = kSpacerWidth;
}

void GuiSpreadSheet::SetRowStyle(int row, uint32_t style)
{
    if (ValidRow(row)) mppRows[row]->mStyle = style;
}

uint32_t GuiSpreadSheet::GetRowStyle(int row) { return ValidRow(row) ? mppRows[row]->mStyle : 0; }

void GuiSpreadSheet::ForceColWidth(int col, int width)
{
    if (ValidCol(col)) mpColWidths[col] = width;
}

int GuiSpreadSheet::SetColWidth(int col, const char* text, const GuiFont* font)
{
    const int w = TextWidth(text, font) + 8;
    CheckColWidths(col, w);
    return w;
}

void GuiSpreadSheet::CheckColWidths(int col, int width)
{
    if (ValidCol(col) && mpColWidths[col] < width) mpColWidths[col] = width;
}

int GuiSpreadSheet::GetOptimumWidth()
{
    int sum = 16 + mRowHeaderWidth;
    for (int c = 0; c < mCols; ++c) sum += mpColWidths[c];
    return sum;
}

int GuiSpreadSheet::GetOptimumHeight()
{
    return TopBorder() + mRows * mRowHeight + mFooterRows * mHeaderHeight + 10;
}

void GuiSpreadSheet::SetColor(unsigned char index, unsigned long colour)
{
    if (index < 4) GuiWindow::SetColor(index, colour);
    else if (index < 10) mSheetColor[index - 4] = uint32_t(colour);
}

unsigned long GuiSpreadSheet::GetColor(unsigned char index)
{
    if (index < 4) return GuiWindow::GetColor(index);
    return index < 10 ? mSheetColor[index - 4] : 0;
}

int GuiSpreadSheet::InsertColumn(int col, int width, const char* text)
{
    if (col < 0 || col > mCols) return -1;
    const int cols = mCols + 1;
    auto* widths = new int32_t[size_t(cols) + 1]();
    auto* styles = new uint32_t[size_t(cols) + 1]();
    auto* fonts = new const GuiFont*[size_t(cols) + 1]();
    for (int c = 0, o = 0; c < cols; ++c) {
        if (c == col) {
            widths[c] = width;
            styles[c] = (mStyle & GSS_CELL_SELECT) ? GSC_CELLS_SELECTABLE : 0;
            fonts[c] = mFontTable[kCellFontSlot];
            continue;
        }
        widths[c] = mpColWidths[o];
        styles[c] = mpColStyles[o];
        fonts[c] = mppColFonts[o];
        ++o;
    }
    delete[] mpColWidths;
    delete[] mpColStyles;
    delete[] mppColFonts;
    mpColWidths = widths;
    mpColStyles = styles;
    mppColFonts = fonts;
    for (int r = 0; r < mRows; ++r) mppRows[r]->InsertColumn(col, nullptr);
    for (int f = 0; f < mFooterRows; ++f) mppFooterRows[f]->InsertColumn(col, nullptr);
    for (int h = 0; h < mHeaderRows; ++h) mppHeaderRows[h]->InsertColumn(col, text);
    mCols = cols;
    UpdateScrollBars();
    return mCols;
}

int GuiSpreadSheet::AddColumn(int width, const char* text) { return InsertColumn(mCols, width, text); }

int GuiSpreadSheet::DeleteColumn(int col)
{
    if (mCols < 2 || !ValidCol(col)) return -1;
    for (int c = col; c + 1 < mCols; ++c) {
        mpColWidths[c] = mpColWidths[c + 1];
        mpColStyles[c] = mpColStyles[c + 1];
        mppColFonts[c] = mppColFonts[c + 1];
    }
    for (int r = 0; r < mRows; ++r) mppRows[r]->DeleteColumn(col);
    for (int h = 0; h < mHeaderRows; ++h) mppHeaderRows[h]->DeleteColumn(col);
    for (int f = 0; f < mFooterRows; ++f) mppFooterRows[f]->DeleteColumn(col);
    --mCols;
    if (mFrozenCols > mCols) mFrozenCols = mCols;
    if (mFirstCol >= mCols) mFirstCol = mFrozenCols;
    UpdateScrollBars();
    return mCols;
}

int GuiSpreadSheet::InsertRow(int row, const char* headerText)
{
    if (mRows == 0 ? row != 0 : (row < 0 || row > mRows)) return mRows;
    auto** rows = new GuiSpreadSheetRow*[size_t(mRows) + 1];
    for (int r = 0, o = 0; r <= mRows; ++r) rows[r] = r == row ? new GuiSpreadSheetRow(mCols) : mppRows[o++];
    delete[] mppRows;
    mppRows = rows;
    ++mRows;
    if (headerText) SetRowHeader(row, headerText);
    UpdateScrollBars();
    return mRows;
}

int GuiSpreadSheet::AddRow(const char* headerText) { return InsertRow(mRows, headerText); }

int GuiSpreadSheet::DeleteRow(int row)
{
    if (!ValidRow(row)) return mRows;
    delete mppRows[row];
    for (int r = row; r + 1 < mRows; ++r) mppRows[r] = mppRows[r + 1];
    --mRows;
    if (mRows == 0) {
        delete[] mppRows;
        mppRows = nullptr;
    }
    if (mFirstRow >= mRows) mFirstRow = mRows > 0 ? mRows - 1 : 0;
    UpdateScrollBars();
    return mRows;
}
