// Spreadsheet on the screen: cell clicks through the real queue with the
// owner's messages and the drawn selection, row-header clicks, scroll bars
// appearing and following, frozen columns while scrolling sideways, and a
// demo picture of a sheet beside a table.
#include <gtest/gtest.h>

#include <vector>

#include "gui/core/gui_prompt.h"
#include "gui/core/gui_scroll.h"
#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/sheet/gui_sheet.h"
#include "gui/widgets/table/gui_table.h"
#include "host/screen/screen_png.h"

namespace {

class SheetViewTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 599, 439));
        pm->Add(host, 1);
        Pump();
    }
    GuiSpreadSheet* Make(const GuiRect& r, int rows, int cols, unsigned style) {
        auto* s = new GuiSpreadSheet(r, rows, cols, 2, style | GST_FRAME_NONE, owner);
        for (int row = 0; row < rows; ++row)
            for (int col = 0; col < cols; ++col) s->SetCellData(row, col, "cell", 0);
        return s;
    }
    void Show(GuiSpreadSheet* s) {
        host->Add(s, 1);
        GuiThing::mpScreen->Invalidate(host->mOuter);
        host->Draw();
        Pump();
    }
    GuiPoint Middle(GuiSpreadSheet* s, int row, int col) {
        const GuiRect r = s->GetCellRect(row, col);
        return GuiPoint{int16_t((r.left + r.right) / 2), int16_t((r.top + r.bottom) / 2)};
    }
    std::vector<GuiMessage> Signals(uint8_t signal) const {
        std::vector<GuiMessage> out;
        for (const auto& m : host->seen)
            if (m.type == GuiSignalType(2, signal)) out.push_back(m);
        return out;
    }
    RecWindow* host = nullptr;
    GuiThing* owner = nullptr;   // null: the parent at the first show
};

TEST_F(SheetViewTest, ClickingACellTwiceSelectsItThenUnselectsItAndTellsTheOwner)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 319, 219), 3, 2, GSS_CELL_SELECT);
    Show(s);
    ASSERT_EQ(s->mpOwner, host);
    const GuiPoint p = Middle(s, 1, 1);
    Click(mq, p.x, p.y);
    Pump();
    auto sig = Signals(GUI_SIG_SHEET_CELL);
    ASSERT_EQ(sig.size(), 1u);
    EXPECT_EQ(sig[0].payload.half[0], 1);   // column
    EXPECT_EQ(sig[0].payload.half[1], 1);   // row
    EXPECT_EQ(s->mppRows[1]->GetCellSelected(1), 1);
    GuiRect inside = s->GetCellRect(1, 1);
    inside -= 1;
    EXPECT_EQ(Pixel(inside.left + 1, inside.top + 1), 0x0000BFu);

    Click(mq, p.x, p.y);
    Pump();
    sig = Signals(GUI_SIG_SHEET_CELL);
    ASSERT_EQ(sig.size(), 2u);
    EXPECT_EQ(s->mppRows[1]->GetCellSelected(1), 0);
    EXPECT_EQ(Pixel(inside.left + 1, inside.top + 1), 0xC0C0C0u);

    // Another cell moves the single selection.
    s->SelectCell(0, 0, 1);
    const GuiPoint q = Middle(s, 2, 0);
    Click(mq, q.x, q.y);
    Pump();
    EXPECT_EQ(s->mppRows[0]->GetCellSelected(0), 0);
    EXPECT_EQ(s->mppRows[2]->GetCellSelected(0), 1);
}

TEST_F(SheetViewTest, RowHeaderClicksSelectRowsOnlyAtOrBelowTheFirstRow)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 319, 219), 3, 2, GSS_CELL_SELECT);
    for (int r = 0; r < 3; ++r) {
        s->SetRowHeader(r, "Row");
        s->SetRowStyle(r, GSR_SELECTABLE);
    }
    s->SetHeader(1, 0, "A");
    Show(s);
    const int x = s->mClient.left + 8;
    const int top = s->mClient.top + s->TopBorder();
    Click(mq, x, top - 3);   // less than a row above the first row
    Pump();
    EXPECT_EQ(s->GetSelectedRow(0), -1);
    EXPECT_TRUE(Signals(GUI_SIG_SHEET_ROW_ON).empty());

    Click(mq, x, top + s->mRowHeight + 2);
    Pump();
    EXPECT_EQ(s->GetSelectedRow(0), 1);
    auto on = Signals(GUI_SIG_SHEET_ROW_ON);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].payload.half[1], 1);
    EXPECT_EQ(s->mppRows[1]->GetCellSelected(0), 1);

    // A column selection first drops the selected rows.
    s->SetColumnStyle(0, GSC_DEFAULT | GSC_SELECTABLE);
    s->SelectColumn(0, 1);
    EXPECT_EQ(s->GetSelectedRow(0), -1);
    EXPECT_EQ(s->GetSelectedColumn(0), 0);
    EXPECT_EQ(s->mppRows[2]->GetCellSelected(0), 1);
    EXPECT_EQ(s->mppRows[2]->GetCellSelected(1), 0);
    // And a row selection drops the column.
    s->SelectRow(2, 1);
    EXPECT_EQ(s->GetSelectedColumn(0), -1);
    EXPECT_EQ(s->GetSelectedRow(0), 2);
    EXPECT_EQ(s->mppRows[0]->GetCellSelected(0), 0);
}

TEST_F(SheetViewTest, RowsThatDoNotFitBringAVerticalBarThatScrollsToTheEnd)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 319, 139), 2, 2, 0);
    Show(s);
    EXPECT_EQ(s->mpVBar, nullptr);
    for (int i = 0; i < 20; ++i) s->AddRow(nullptr);
    s->UpdateScrollBars();
    ASSERT_NE(s->mpVBar, nullptr);
    EXPECT_EQ(s->mpVBar->mId, 1000);
    EXPECT_EQ(s->mpVBar->mpParent, s);
    ASSERT_LT(s->mVisibleRows, s->mRows);
    EXPECT_GT(s->mVisibleRows, 0);

    GuiMessage end(GuiSignalType(GUI_SHEET_VBAR_ID, GUI_SIG_CHANGED));
    end.SetWord(0, s->mRows - 1);
    s->Message(end);
    EXPECT_EQ(s->mFirstRow, s->mRows - s->mVisibleRows);
    EXPECT_EQ(s->mLastRow, s->mRows - 1);
    s->VScrollIntoView(0);
    EXPECT_EQ(s->mFirstRow, 0);

    // Deleting rows until they fit removes the bar again.
    while (s->mRows > 2) s->DeleteRow(0);
    EXPECT_EQ(s->mpVBar, nullptr);
}

// SetSize leaves the layout as it was until the next show or resize: the
// old visible-row count can exceed the new row count, and the vertical bar
// is still there to send its position.
TEST_F(SheetViewTest, ShrinkingAShownSheetThenScrollingStaysInsideTheRows)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 319, 219), 30, 2, 0);
    for (int r = 0; r < 30; ++r) s->SetRowHeader(r, "r");
    Show(s);
    ASSERT_NE(s->mpVBar, nullptr);
    const int visible = s->mVisibleRows;
    ASSERT_GT(visible, 3);

    s->SetSize(3, 2);
    for (int r = 0; r < 3; ++r) s->SetRowHeader(r, "r");
    ASSERT_NE(s->mpVBar, nullptr);
    GuiMessage pos(GuiSignalType(GUI_SHEET_VBAR_ID, GUI_SIG_CHANGED));
    pos.SetWord(0, 1);
    s->Message(pos);
    EXPECT_EQ(s->mFirstRow, 0);
    EXPECT_GE(s->mLastRow, s->mFirstRow);
    EXPECT_LE(s->mLastRow, 2);

    s->VScrollIntoView(2);
    EXPECT_EQ(s->mFirstRow, 0);
    EXPECT_LE(s->mLastRow, 2);

    // The next layout fits the three rows and drops the bar.
    s->Resize(s->mOuter);
    EXPECT_EQ(s->mpVBar, nullptr);
    EXPECT_EQ(s->mVisibleRows, 3);
    EXPECT_EQ(s->mLastRow, 2);
}

TEST_F(SheetViewTest, FrozenColumnsStayWhileTheOthersScroll)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 219, 219), 4, 12, 0);
    for (int c = 0; c < 12; ++c) s->ForceColWidth(c, 40);
    s->SetScrollStartCol(2);
    Show(s);
    ASSERT_NE(s->mpHBar, nullptr);
    EXPECT_EQ(s->mpHBar->mId, 1001);
    const GuiRect frozen0 = s->GetCellRect(0, 0), frozen1 = s->GetCellRect(0, 1);
    const GuiRect before = s->GetCellRect(0, 3);
    GuiMessage right(GuiSignalType(GUI_SHEET_HBAR_ID, GUI_SIG_CHANGED));
    right.SetWord(0, 3);
    s->Message(right);
    EXPECT_EQ(s->mFirstCol, 3);
    EXPECT_EQ(s->GetCellRect(0, 0), frozen0);
    EXPECT_EQ(s->GetCellRect(0, 1), frozen1);
    EXPECT_EQ(s->GetCellRect(0, 3).left, before.left - 40);
    EXPECT_EQ(s->GetCellRect(0, 3).left, frozen1.right + 1);
    // Never below the frozen ones.
    right.SetWord(0, 0);
    s->Message(right);
    EXPECT_EQ(s->mFirstCol, 2);
}

TEST_F(SheetViewTest, BitmapCellWithoutBitmapAndZeroRowHeightAreHarmless)
{
    GuiSpreadSheet* s = Make(GuiRect(20, 20, 319, 219), 3, 2, GSS_CELL_SELECT);
    s->SetCellBmp(0, 0, nullptr, 0);
    s->SetRowHeader(0, "r");
    s->SetRowStyle(0, GSR_SELECTABLE);
    Show(s);
    s->mRowHeight = 0;
    s->UpdateScrollBars();
    Click(mq, s->mClient.left + 8, s->mClient.top + 40);
    Click(mq, s->mClient.left + 60, s->mClient.top + 40);
    Pump();
    GuiThing::mpScreen->Invalidate(s->mOuter);
    s->Draw();
}

TEST_F(SheetViewTest, DemoPictureOfASheetAndATable)
{
    host->SetColor(0, 0xE0E0E0);
    GuiSpreadSheet* s = Make(GuiRect(10, 10, 329, 229), 14, 6, GSS_CELL_SELECT);
    s->SetHeader(1, 0, "Lap");
    s->SetHeader(1, 1, "Time");
    s->SetHeader(1, 2, "Speed");
    s->SetFooter(1, 1, "best");
    s->SetScrollStartCol(1);
    for (int r = 0; r < 14; ++r) s->SetRowHeader(r, r % 2 ? "out" : "in");
    s->SetColumnStyle(3, GSC_FLAT | GSC_CELLS_SELECTABLE);
    s->SetColumnStyle(4, GSC_RAISED | GSC_RIGHT | GSC_CELLS_SELECTABLE);
    Show(s);
    s->SelectCell(2, 1, 1);

    auto* t = new GuiTable(360, 20, 2, 2);
    t->SetCellPadding(2);
    t->SetCellClient(0, 0, new GuiPrompt(GuiRect(0, 0, 79, 19), "Oil", 0, GST_FRAME_THIN, 0), 1, 1,
                     GTC_SIZE_TO_CLIENT);
    t->SetCellClient(0, 1, new GuiPrompt(GuiRect(0, 0, 59, 19), "Water", 0, GST_FRAME_THIN, 0), 2, 1,
                     GTC_SIZE_TO_CLIENT);
    t->SetCellClient(1, 0, new GuiPrompt(GuiRect(0, 0, 49, 29), "Fuel", 0, GST_FRAME_THIN, 0), 1, 1,
                     GTC_SIZE_TO_CLIENT | GTC_CENTER_H);
    host->Add(t, 1);
    t->Layout();
    GuiThing::mpScreen->Invalidate(host->mOuter);
    host->Draw();
    Pump();

    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    EXPECT_TRUE(host::detail::writeScreenPng("sheet_table_demo.png", frame.data(), 640, 480));
}

}  // namespace
