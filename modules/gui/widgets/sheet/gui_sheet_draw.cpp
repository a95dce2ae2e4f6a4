// GuiSpreadSheet drawing: frame, column headers, cells, footers and row
// headers, each cell with its border style and selection colours.
#include "gui/core/gui_scroll.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/sheet/gui_sheet.h"

namespace {
constexpr uint32_t kShade = 0x808080;
constexpr uint32_t kLight = 0xFFFFFF;
constexpr uint32_t kFooterBand = 0xC0C0C0;

int Inset(unsigned flags)
{
    if (flags & GSC_FLAT) return 2;
    if (flags & (GSC_RAISED | GSC_RECESSED)) return 3;
    return 0;
}
}  // namespace

void GuiSpreadSheet::Draw()
{
    if (!mpScreen) return;
    const uint32_t face = mColor[0];
    mColor[0] = mSheetColor[5];
    mpScreen->BeginDraw(this);
    DrawFrame(1);
    mColor[0] = face;
    ClipToFace();
    DrawHeaders();
    DrawAllCells();
    DrawFooters();
    DrawRowHeaders();
    EndClipToFace();
    DrawChildren();
    mpScreen->EndDraw();
}

bool GuiSpreadSheet::ColumnShown(int col) const
{
    if (col < 0 || col >= mCols) return false;
    if (col < mFrozenCols) return true;
    return col >= mFirstCol && col <= mLastCol;
}

void GuiSpreadSheet::DrawHeaders()
{
    for (int h = 0; h < mHeaderRows; ++h) {
        const int top = mClient.top + 6 + h * mHeaderHeight, bottom = top + mHeaderHeight;
        GuiSpreadSheetRow* row = mppHeaderRows[h];
        auto one = [&](int c, int& x) {
            GuiRect cell(int16_t(x), int16_t(top), int16_t(x + mpColWidths[c] - 2), int16_t(bottom));
            DrawFlat(cell, mSheetColor[0], 0);
            UpdateCell(cell, row->DataGet(c), GSC_CENTER, mpHeaderFont, mSheetColor[1], mColor[0]);
            x += mpColWidths[c];
        };
        int x = X0() + 1;
        for (int c = 0; c < mFrozenCols && c < mCols; ++c) one(c, x);
        x = X0() + mFrozenWidth + 1;
        for (int c = mFirstCol; c <= mLastCol && c < mCols; ++c) one(c, x);
    }
}

uint32_t GuiSpreadSheet::GetCellBackColor(int row, int col)
{
    if (!ValidCell(row, col)) return mColor[0];
    return (mppRows[row]->GetCellSelected(col) && !(mpColStyles[col] & GSC_SPACER)) ? mColor[1] : mColor[0];
}

uint32_t GuiSpreadSheet::GetCellTextColor(int row, int col)
{
    if (!ValidCell(row, col)) return mColor[2];
    return mppRows[row]->GetCellSelected(col) ? mColor[3] : mColor[2];
}

void GuiSpreadSheet::DrawAllCells()
{
    if (mRows == 0) return;
    ClipToFace();
    auto column = [&](int c) {
        for (int r = FirstShownRow(); r <= mLastRow && r < mRows; ++r) {
            GuiRect cell = GetCellRect(r, c);
            if (!cell.Overlap(mClip)) break;
            DrawCellBorder(cell, GetCellBackColor(r, c), r, c);
            UpdateCell(cell, GetCellTextColor(r, c), GetCellBackColor(r, c), r, c);
        }
    };
    for (int c = 0; c < mFrozenCols && c < mCols; ++c) column(c);
    for (int c = mFirstCol; c <= mLastCol && c < mCols; ++c) column(c);
    EndClipToFace();
}

void GuiSpreadSheet::DrawFooters()
{
    if (mFooterRows == 0) return;
    int top = mClient.top + TopBorder() + mVisibleRows * mRowHeight;
    const int band = X0() + mFrozenWidth;
    GuiColor fill{kFooterBand, kFooterBand, GUI_COLOR_FILL};
    mpScreen->Rectangle(this, GuiRect(int16_t(band), int16_t(top), int16_t(band + mVisibleWidth),
                                      int16_t(top + mFooterRows * mHeaderHeight)), fill, 0);
    for (int f = 0; f < mFooterRows; ++f, top += mHeaderHeight) {
        GuiSpreadSheetRow* row = mppFooterRows[f];
        auto one = [&](int c, int& x) {
            GuiRect cell(int16_t(x), int16_t(top), int16_t(x + mpColWidths[c]), int16_t(top + mHeaderHeight));
            UpdateCell(cell, row->DataGet(c), GSC_CENTER, mpHeaderFont, mSheetColor[1], mColor[0]);
            x += mpColWidths[c];
        };
        int x = X0();
        for (int c = 0; c < mFrozenCols && c < mCols; ++c) one(c, x);
        x = X0() + mFrozenWidth;
        for (int c = mFirstCol; c <= mLastCol && c < mCols; ++c) one(c, x);
    }
}

void GuiSpreadSheet::DrawRowHeaders()
{
    if (mRows == 0) return;
    for (int r = FirstShownRow(); r <= mLastRow && r < mRows; ++r) {
        const char* text = mppRows[r]->mpHeader;
        if (!text) continue;
        const int top = mClient.top + TopBorder() + (r - mFirstRow) * mRowHeight;
        GuiRect cell(int16_t(mClient.left + 6), int16_t(top), int16_t(mClient.left + 6 + mRowHeaderWidth - 2),
                     int16_t(top + mRowHeight - 2));
        DrawFlat(cell, mSheetColor[2], 0);
        UpdateCell(cell, text, GSC_RIGHT, mpHeaderFont, mSheetColor[3], mSheetColor[2]);
    }
}

void GuiSpreadSheet::DrawCellBorder(GuiRect& rect, uint32_t colour, int row, int col)
{
    const uint32_t style = ValidCol(col) ? mpColStyles[col] : 0;
    if (style & GSC_RECESSED) DrawRecessed(rect, colour, row, col);
    else if (style & GSC_RAISED) DrawRaised(rect, colour, row, col);
    else DrawFlat(rect, colour, (style & GSC_FLAT) ? 1 : 0);
}

void GuiSpreadSheet::DrawFlat(GuiRect& rect, uint32_t colour, int width)
{
    GuiColor c{mSheetColor[4], colour, GUI_COLOR_FILL};
    mpScreen->Rectangle(this, rect, c, width);
}

// Bevelled cell: `topLeft` along the top and left edges, `bottomRight`
// along the others, the inside filled. A spacer column only gets a grid bar.
static void Bevel(GuiSpreadSheet* s, GuiRect& rect, uint32_t colour, int col, uint32_t topLeft, uint32_t bottomRight)
{
    GuiScreen* scr = GuiThing::mpScreen;
    if (col >= 0 && col < s->mCols && (s->mpColStyles[col] & GSC_SPACER)) {
        GuiRect bar(int16_t(rect.left - 1), rect.top, int16_t(rect.right + 1), rect.bottom);
        GuiColor grid{s->mSheetColor[4], s->mSheetColor[4], 0};
        scr->Rectangle(s, bar, grid, 0);
        return;
    }
    const GuiColor tl{topLeft, topLeft, 0}, br{bottomRight, bottomRight, 0};
    scr->Line(s, rect.left, rect.top, rect.right, rect.top, tl, 1);
    scr->Line(s, rect.left, rect.top, rect.left, rect.bottom, tl, 1);
    scr->Line(s, rect.left, rect.bottom, rect.right, rect.bottom, br, 1);
    scr->Line(s, rect.right, rect.top, rect.right, rect.bottom, br, 1);
    if (rect.Width() > 2 && rect.Height() > 2) {
        GuiRect inside = rect;
        inside -= 1;
        GuiColor fill{colour, colour, GUI_COLOR_FILL};
        scr->Rectangle(s, inside, fill, 0);
    }
}

void GuiSpreadSheet::DrawRecessed(GuiRect& rect, uint32_t colour, int, int col)
{
    Bevel(this, rect, colour, col, kShade, kLight);
}

void GuiSpreadSheet::DrawRaised(GuiRect& rect, uint32_t colour, int, int col)
{
    Bevel(this, rect, colour, col, kLight, kShade);
}

void GuiSpreadSheet::UpdateCell(GuiRect& rect, const char* text, unsigned flags, const GuiFont* font,
                                uint32_t textColour, uint32_t fillColour)
{
    if (!text || !font || !mpScreen) return;
    const int inset = Inset(flags);
    const GuiRect saved = mClip;
    GuiRect inner = rect;
    inner -= inset;
    mClip = inner & mClip;
    const int y = rect.top + (rect.Height() - font->height) / 2;
    const int w = mpScreen->TextWidth(text, font, -1);
    int x;
    if (flags & GSC_RIGHT) x = rect.right - inset - w;
    else if (flags & GSC_CENTER) x = rect.left + (rect.Width() - w) / 2;
    else x = rect.left + inset;
    GuiColor c{textColour, fillColour, 0};
    mpScreen->DrawText(this, GuiPoint{int16_t(x), int16_t(y)}, text, c, font, -1, 0);
    mClip = saved;
}

void GuiSpreadSheet::UpdateCell(GuiRect& rect, uint32_t textColour, uint32_t fillColour, int row, int col)
{
    if (!ValidCell(row, col)) return;
    GuiSpreadSheetRow* r = mppRows[row];
    if (r->IsText(col)) {
        UpdateCell(rect, r->DataGet(col), mpColStyles[col], mppColFonts[col], textColour, fillColour);
        return;
    }
    // A bitmap cell without a bitmap shows only its face.
    const GuiBitmap* bmp = r->BmpGet(col);
    if (!bmp) return;
    const GuiRect saved = mClip;
    GuiRect clip = rect & mClip;
    clip.left = int16_t(clip.left + 1);
    clip.bottom = int16_t(clip.bottom - 1);
    mClip = clip;
    const int x = rect.left + (rect.Width() - bmp->width) / 2;
    const int y = rect.top + (rect.Height() - bmp->height) / 2;
    mpScreen->Bitmap(this, GuiPoint{int16_t(x), int16_t(y)}, const_cast<GuiBitmap*>(bmp), 0);
    mClip = saved;
}

int GuiSpreadSheet::RedrawOneCell(int row, int col)
{
    if (row < mFirstRow || row > mLastRow || !ValidCell(row, col) || !mpScreen) return 0;
    if (col >= mFrozenCols && (col < mFirstCol || col > mLastCol)) return 0;
    ClipToFace();
    GuiRect cell = GetCellRect(row, col);
    int drawn = 0;
    if (cell.Overlap(mClip)) {
        mpScreen->Invalidate(cell);
        mpScreen->BeginDraw(this);
        DrawCellBorder(cell, GetCellBackColor(row, col), row, col);
        UpdateCell(cell, GetCellTextColor(row, col), GetCellBackColor(row, col), row, col);
        mpScreen->EndDraw();
        drawn = 1;
    }
    EndClipToFace();
    return drawn;
}
