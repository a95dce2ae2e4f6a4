// Spreadsheet content: a new grid, widths that follow texts while hidden,
// headers and footers, inserting and deleting rows and columns, and bad
// indexes everywhere.
#include <gtest/gtest.h>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/sheet/gui_sheet.h"

namespace {

class SheetDataTest : public GuiRuntimeTest {
protected:
    int SpaceWidth() { return GuiThing::mpScreen->TextWidth(" ", &MenuFont, -1) + 8; }
};

TEST_F(SheetDataTest, NewSheetHasEmptyTextCellsOfOneSpaceWidth)
{
    GuiSpreadSheet s(GuiRect(0, 0, 199, 99), 3, 2, 1, GST_FRAME_NONE, nullptr);
    EXPECT_EQ(s.mType, GT_SPREADSHEET);
    EXPECT_EQ(s.mRowHeight, 19);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(s.GetCellData(r, c), nullptr);
            EXPECT_EQ(s.mppRows[r]->IsText(c), 1);
        }
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(s.mpColWidths[c], SpaceWidth());
        EXPECT_EQ(s.mpColStyles[c], 0x0888u);
    }
    EXPECT_EQ(s.GetCellData(3, 0), nullptr);
    EXPECT_EQ(s.GetCellData(0, -1), nullptr);
    EXPECT_EQ(s.GetColHeader(0), nullptr);   // no header rows
}

TEST_F(SheetDataTest, HiddenTextWidensItsColumnShownTextDoesNot)
{
    GuiWindow* host = new GuiWindow(GuiRect(0, 0, 399, 299), GST_FRAME_NONE);
    auto* s = new GuiSpreadSheet(GuiRect(10, 10, 300, 200), 3, 2, 1, GST_FRAME_NONE, nullptr);
    host->Add(s, 0);   // host not shown: the sheet stays hidden
    const char* wide = "A rather long text";
    s->SetCellData(1, 0, wide, 1);
    EXPECT_STREQ(s->GetCellData(1, 0), wide);
    EXPECT_EQ(s->mpColWidths[0], GuiThing::mpScreen->TextWidth(wide, &MenuFont, -1) + 8);
    pm->Add(host, 1);
    Pump();
    ASSERT_TRUE(s->IsVisible());
    s->SetCellData(2, 1, wide, 1);
    EXPECT_EQ(s->mpColWidths[1], SpaceWidth());
    EXPECT_STREQ(s->GetCellData(2, 1), wide);
    s->SetCellData(2, 1, nullptr, 1);
    EXPECT_EQ(s->GetCellData(2, 1), nullptr);
}

TEST_F(SheetDataTest, HeaderLevelsOutsideOneToFourAreIgnored)
{
    GuiSpreadSheet s(GuiRect(0, 0, 199, 99), 3, 2, 1, GST_FRAME_NONE, nullptr);
    s.SetHeader(0, 0, "zero");
    s.SetHeader(5, 0, "five");
    s.SetHeader(1, -1, "neg");
    s.SetHeader(1, 2, "past");
    EXPECT_EQ(s.mHeaderRows, 0);
    s.SetHeader(2, 1, "Two");
    EXPECT_EQ(s.mHeaderRows, 2);
    EXPECT_EQ(s.mppHeaderRows[0]->DataGet(1), nullptr);
    EXPECT_STREQ(s.mppHeaderRows[1]->DataGet(1), "Two");
    s.SetHeader(1, 0, "Name");
    EXPECT_EQ(s.mHeaderRows, 2);
    EXPECT_STREQ(s.GetColHeader(0), "Name");
    EXPECT_EQ(s.mpColWidths[0], GuiThing::mpScreen->TextWidth("Name", &SysFont, -1) + 8);
    EXPECT_EQ(s.TopBorder(), 2 * s.mHeaderHeight + 10);
    s.SetFooter(1, 1, "Sum");
    EXPECT_EQ(s.mFooterRows, 1);
    // A new size drops the header rows (freed, checked by the leak checker) but keeps the footers.
    s.SetSize(4, 3);
    EXPECT_EQ(s.mHeaderRows, 0);
    EXPECT_EQ(s.GetColHeader(0), nullptr);
    EXPECT_EQ(s.mFooterRows, 1);
    s.SetHeader(3, 2, "Again");
    s.SetSize(1, 1);
    EXPECT_EQ(s.mHeaderRows, 0);
}

TEST_F(SheetDataTest, ColumnsAndRowsAreInsertedAndDeleted)
{
    GuiSpreadSheet one(GuiRect(0, 0, 199, 99), 2, 1, 1, GST_FRAME_NONE, nullptr);
    EXPECT_EQ(one.DeleteColumn(0), -1);
    EXPECT_EQ(one.mCols, 1);

    GuiSpreadSheet s(GuiRect(0, 0, 199, 99), 2, 2, 1, GSS_CELL_SELECT | GST_FRAME_NONE, nullptr);
    s.SetHeader(1, 0, "A");
    s.SetHeader(1, 1, "B");
    s.SetFooter(1, 1, "f");
    s.SetCellData(0, 0, "a0", 0);
    s.SetCellData(0, 1, "b0", 0);
    EXPECT_EQ(s.InsertColumn(3, 10, "x"), -1);
    EXPECT_EQ(s.InsertColumn(-1, 10, "x"), -1);
    EXPECT_EQ(s.InsertColumn(1, 30, "New"), 3);
    EXPECT_EQ(s.mpColWidths[1], 30);
    EXPECT_EQ(s.mpColStyles[1], GSC_CELLS_SELECTABLE);
    EXPECT_STREQ(s.GetColHeader(1), "New");
    EXPECT_STREQ(s.GetColHeader(2), "B");
    EXPECT_STREQ(s.GetCellData(0, 2), "b0");
    EXPECT_EQ(s.GetCellData(0, 1), nullptr);
    EXPECT_STREQ(s.mppFooterRows[0]->DataGet(2), "f");
    EXPECT_EQ(s.AddColumn(12, nullptr), 4);
    EXPECT_EQ(s.DeleteColumn(4), -1);
    EXPECT_EQ(s.DeleteColumn(-1), -1);
    EXPECT_EQ(s.DeleteColumn(0), 3);
    EXPECT_STREQ(s.GetColHeader(0), "New");
    EXPECT_STREQ(s.GetCellData(0, 1), "b0");

    EXPECT_EQ(s.InsertRow(5, nullptr), 2);
    EXPECT_EQ(s.InsertRow(-1, nullptr), 2);
    EXPECT_EQ(s.InsertRow(0, "top"), 3);
    EXPECT_STREQ(s.GetRowHeader(0), "top");
    EXPECT_STREQ(s.GetCellData(1, 1), "b0");
    EXPECT_GT(s.mRowHeaderWidth, 8);
    EXPECT_EQ(s.AddRow(nullptr), 4);
    EXPECT_EQ(s.DeleteRow(4), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.DeleteRow(0), 3 - i);
    EXPECT_EQ(s.mppRows, nullptr);

    GuiSpreadSheet empty(GuiRect(0, 0, 199, 99), 0, 2, 1, GST_FRAME_NONE, nullptr);
    EXPECT_EQ(empty.InsertRow(5, nullptr), 0);
    EXPECT_EQ(empty.InsertRow(0, nullptr), 1);
    EXPECT_EQ(empty.mppRows[0]->mCount, 2);
}

TEST_F(SheetDataTest, StylesFontsAndBadIndexesEverywhere)
{
    GuiSpreadSheet s(GuiRect(0, 0, 199, 99), 2, 3, 1, GST_FRAME_NONE, nullptr);
    s.SetColumnStyle(1, GSC_SPACER);
    EXPECT_EQ(s.mpColWidths[1], 4);
    s.SetColumnFont(2, &SysFont);
    EXPECT_EQ(s.mRowHeight, 16 + 8);
    s.SetCellFont(&MenuFont);
    EXPECT_EQ(s.mRowHeight, 19);
    s.SetRowStyle(1, GSR_SELECTABLE);
    EXPECT_EQ(s.GetRowStyle(1), GSR_SELECTABLE);
    s.SetColor(4, 0x123456);
    EXPECT_EQ(s.GetColor(4), 0x123456u);
    EXPECT_EQ(s.GetOptimumHeight(), 6 + 2 * 19 + 10);

    static const GuiBitmap bmp{0, 32, 40, 10, 0, nullptr};
    for (int bad : {-1, -100000, 3, 100000}) {
        s.SetCellData(bad, 0, "x", 1);
        s.SetCellData(0, bad, "x", 1);
        s.SetCellBmp(bad, bad, &bmp, 1);
        EXPECT_EQ(s.GetCellBmp(bad, 0), nullptr);
        EXPECT_EQ(s.GetRowHeader(bad), nullptr);
        EXPECT_EQ(s.GetColHeader(bad), nullptr);
        s.SetRowHeader(bad, "x");
        s.SetColumnStyle(bad, 0);
        s.SetColumnFont(bad, &SysFont);
        s.SetRowStyle(bad, 1);
        EXPECT_EQ(s.GetRowStyle(bad), 0u);
        s.ForceColWidth(bad, 5);
        s.CheckColWidths(bad, 500);
        s.SetColWidth(bad, "wide text", &SysFont);
        s.SetFooter(1, bad, "x");
        s.SelectCell(bad, 0, 1);
        s.SelectRow(bad, 1);
        s.SelectColumn(bad, 1);
        EXPECT_EQ(s.RowSelected(bad), 0);
        EXPECT_EQ(s.ColSelected(bad), 0);
        EXPECT_EQ(s.RedrawOneCell(bad, bad), 0);
        s.mppRows[0]->SetCellSelected(bad, 1);
        EXPECT_EQ(s.mppRows[0]->GetCellSelected(bad), 0);
        EXPECT_EQ(s.mppRows[0]->IsText(bad), 0);
    }
    s.SetCellBmp(1, 2, &bmp, 0);
    EXPECT_EQ(s.GetCellBmp(1, 2), &bmp);
    EXPECT_EQ(s.mppRows[1]->IsText(2), 0);
    EXPECT_EQ(s.mpColWidths[2], 40);
}

}  // namespace
