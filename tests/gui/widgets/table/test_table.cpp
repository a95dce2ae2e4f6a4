// Table layout window: sizing rows and columns to clients, spanning cells,
// alignment, the etched grid around spanning cells, removing clients, and
// indexes, spans and reconfigured grids that do not hold the entries.
#include <gtest/gtest.h>

#include "gui/core/test_runtime_pixels.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/table/gui_table.h"

namespace {

// A client that fills itself with one colour and counts its draws.
class Swatch : public GuiThing {
public:
    Swatch(int w, int h, uint32_t colour) : GuiThing(GuiRect(0, 0, int16_t(w - 1), int16_t(h - 1)), 0, GST_FRAME_NONE) {
        mColor[0] = colour;
    }
    void Draw() override {
        ++draws;
        mpScreen->BeginDraw(this);
        StandardBorder(mColor[0]);
        mpScreen->EndDraw();
    }
    int draws = 0;
};

class TableTest : public GuiRuntimeTest {
protected:
    void SetUp() override {
        GuiRuntimeTest::SetUp();
        host = new RecWindow(GuiRect(0, 0, 399, 299));
        pm->Add(host, 1);
        Pump();
    }
    GuiTable* Make(int rows, int cols, int grid, int padding) {
        auto* t = new GuiTable(20, 30, rows, cols);
        t->SetGridWidth(grid);
        t->SetCellPadding(padding);
        return t;
    }
    void Show(GuiTable* t) {
        host->Add(t, 1);
        t->Layout();
        GuiThing::mpScreen->Invalidate(host->mOuter);
        host->Draw();
        Pump();
    }
    RecWindow* host = nullptr;
};

TEST_F(TableTest, ClientsGrowTheirRowsAndColumnsButNeverShrinkThem)
{
    GuiTable* t = Make(2, 2, 5, 2);
    t->SetCellClient(0, 0, new Swatch(40, 10, 0xFF0000), 1, 1, GTC_SIZE_TO_CLIENT);
    t->SetCellClient(1, 0, new Swatch(20, 30, 0x00FF00), 1, 1, GTC_SIZE_TO_CLIENT);
    t->Layout();
    EXPECT_EQ(t->mpColWidths[0], 49);   // 40 + 2 x 2 padding + 5 grid
    EXPECT_EQ(t->mpRowHeights[0], 19);
    EXPECT_EQ(t->mpRowHeights[1], 39);
    EXPECT_EQ(t->GetForcedColWidth(0), 49);
    EXPECT_EQ(t->GetForcedColWidth(1), -1);
    // The table is the grid plus the closing line.
    EXPECT_EQ(t->mOuter, GuiRect(20, 30, 20 - 1 + 5 + 49, 30 - 1 + 5 + 19 + 39));
    // Default style 0x0001 with neither alignment: top left after grid and padding.
    EXPECT_EQ(t->GetCellClient(0, 0)->mOuter.left, 20 + 5 + 2);
    EXPECT_EQ(t->GetCellClient(1, 0)->mOuter.top, 30 + 5 + 19 + 2);
    EXPECT_EQ(t->GetCellClient(0, 0)->mpParent, t);
    delete t;
}

TEST_F(TableTest, SpanningClientFillsAnEmptyColumnFirstAndAlignmentOffsets)
{
    GuiTable* t = Make(2, 2, 5, 2);
    t->SetColWidth(0, 21, 1);   // 21 + 4 + 5 = 30
    EXPECT_EQ(t->mpColWidths[0], 30);
    t->SetCellClient(0, 0, new Swatch(50, 10, 0xFF0000), 1, 2, GTC_SIZE_TO_CLIENT);
    t->Layout();
    EXPECT_EQ(t->mpColWidths[0], 30);
    // s = 30 - 9 = 21, shortfall 29 to the empty column: 29 + 9.
    EXPECT_EQ(t->mpColWidths[1], 38);
    int rs = 0, cs = 0;
    t->GetCellSpan(0, 1, &rs, &cs);
    EXPECT_EQ(rs, 1);
    EXPECT_EQ(cs, 2);

    // Centred horizontally only: the vertical offset stays 0.
    auto* small = new Swatch(10, 4, 0x0000FF);
    t->SetCellClient(1, 0, small, 1, 1, GTC_CENTER_H);
    t->SetRowHeight(1, 20, 1);
    t->Layout();
    const int x = 20 + 5, W = 30;
    EXPECT_EQ(small->mOuter.left, x + ((W - 4 - 10) >> 1) - 1 + 2);
    EXPECT_EQ(small->mOuter.top, 30 + 5 + t->mpRowHeights[0] + 2);
    // Right and bottom alignment.
    auto* corner = new Swatch(10, 4, 0x0000FF);
    t->SetCellClient(1, 1, corner, 1, 1, GTC_RIGHT | GTC_BOTTOM);
    t->Layout();
    EXPECT_EQ(corner->mOuter.right, 20 + 5 + 30 + 38 - 1 - 2);
    EXPECT_EQ(corner->mOuter.bottom, 30 + 5 + t->mpRowHeights[0] + t->mpRowHeights[1] - 1 - 2);
    delete t;
}

TEST_F(TableTest, GridLeavesOutTheLinesThroughASpanningCell)
{
    GuiTable* t = Make(2, 2, 5, 0);
    t->SetColWidth(0, 40, 1);
    t->SetColWidth(1, 40, 1);
    t->SetRowHeight(0, 30, 1);
    t->SetRowHeight(1, 30, 1);
    t->SetCellClient(0, 0, new Swatch(10, 10, 0xFF0000), 2, 1, GTC_DEFAULT);
    t->SetCellClient(0, 1, new Swatch(10, 10, 0x00FF00), 1, 1, GTC_DEFAULT);
    Show(t);
    EXPECT_EQ(t->CellSpansRow(1, 0), 1);
    EXPECT_EQ(t->CellSpansRow(1, 1), 0);
    const int yLine = t->mClient.top + 35;   // the line between rows 0 and 1
    const GuiRect inSpan(int16_t(t->mClient.left + 6), int16_t(yLine), int16_t(t->mClient.left + 40),
                         int16_t(yLine + 4));
    EXPECT_EQ(CountColour(inSpan, 0xC0C0C0), 0);
    const GuiRect beside(int16_t(t->mClient.left + 51), int16_t(yLine), int16_t(t->mClient.left + 85),
                         int16_t(yLine + 4));
    EXPECT_GT(CountColour(beside, 0xC0C0C0), 0);
    // Both clients were drawn inside their cells.
    EXPECT_GT(CountColour(t->mClient, 0xFF0000), 0);
    EXPECT_GT(CountColour(t->mClient, 0x00FF00), 0);
}

TEST_F(TableTest, ClientsAreClippedToTheirCells)
{
    GuiTable* t = Make(1, 2, 5, 0);
    t->SetColWidth(0, 20, 1);
    t->SetColWidth(1, 20, 1);
    t->SetRowHeight(0, 20, 1);
    // Wider than its cell and not sizing it.
    auto* wide = new Swatch(60, 10, 0xFF0000);
    t->SetCellClient(0, 0, wide, 1, 1, 0);
    Show(t);
    const GuiRect ink = InkBox(host->mOuter, 0xFF0000);
    EXPECT_LE(ink.right, t->mClient.left + 25);
}

TEST_F(TableTest, RemovedClientStaysAliveAndIsNoLongerDrawn)
{
    GuiTable* t = Make(1, 1, 5, 2);
    auto* s = new Swatch(30, 12, 0xFF0000);
    t->SetCellClient(0, 0, s, 1, 1, GTC_SIZE_TO_CLIENT);
    Show(t);
    ASSERT_GT(CountColour(t->mOuter, 0xFF0000), 0);
    int row = -1, col = -1;
    EXPECT_EQ(t->GetRowCol(s, &row, &col), 1);
    EXPECT_EQ(t->GetCellStyle(0, 0), GTC_SIZE_TO_CLIENT);

    EXPECT_EQ(t->RemoveCellClient(0, 0), s);
    EXPECT_EQ(s->mpParent, nullptr);
    EXPECT_EQ(t->GetCellClient(0, 0), nullptr);
    EXPECT_EQ(t->GetRowCol(s, &row, &col), 0);
    EXPECT_EQ(t->RemoveCellClient(0, 0), nullptr);
    const int before = s->draws;
    GuiThing::mpScreen->Invalidate(t->mOuter);
    t->Draw();
    EXPECT_EQ(s->draws, before);
    EXPECT_EQ(CountColour(t->mOuter, 0xFF0000), 0);
    delete s;
}

TEST_F(TableTest, ReplacingAClientDestroysTheOldOne)
{
    GuiTable* t = Make(1, 1, 5, 2);
    t->SetCellClient(0, 0, new Swatch(30, 12, 0xFF0000), 1, 1, GTC_SIZE_TO_CLIENT);
    host->Add(t, 1);
    auto* second = new Swatch(10, 10, 0x00FF00);
    t->SetCellClient(0, 0, second, 1, 1, GTC_SIZE_TO_CLIENT);   // laid out at once: visible
    EXPECT_EQ(t->GetCellClient(0, 0), second);
    EXPECT_EQ(second->mpParent, t);
    EXPECT_EQ(t->mpFirstChild, second);
    EXPECT_EQ(second->mpNext, nullptr);
}

TEST_F(TableTest, EmptyGridAndBadIndexesAreIgnored)
{
    GuiTable* empty = Make(0, 3, 5, 0);
    auto* lone = new Swatch(10, 10, 0xFF0000);
    empty->SetCellClient(0, 0, lone, 1, 1, GTC_SIZE_TO_CLIENT);
    empty->SetColWidth(0, 10, 1);
    empty->SetRowHeight(0, 10, 1);
    EXPECT_EQ(empty->GetCellClient(0, 0), nullptr);
    Show(empty);
    EXPECT_EQ(lone->draws, 0);
    EXPECT_EQ(CountColour(host->mOuter, 0xC0C0C0), 0);

    GuiTable* t = Make(2, 2, 5, 0);
    for (int bad : {-1, 2, 100000, -100000}) {
        t->SetCellClient(bad, 0, lone, 1, 1, 0);
        t->SetCellClient(0, bad, lone, 1, 1, 0);
        t->SetColWidth(bad, 10, 1);
        t->SetRowHeight(bad, 10, 1);
        EXPECT_EQ(t->GetForcedColWidth(bad), -1);
        EXPECT_EQ(t->GetForcedRowHeight(bad), -1);
        EXPECT_EQ(t->RemoveCellClient(bad, bad), nullptr);
    }
    t->SetCellClient(1, 1, lone, 2, 1, 0);   // span past the last row
    t->SetCellClient(1, 1, lone, 1, 2, 0);
    EXPECT_EQ(t->mpCells, nullptr);
    t->SetCellClient(1, 1, lone, 0, -3, GTC_SIZE_TO_CLIENT);   // spans below 1 count as 1
    int rs = 0, cs = 0;
    t->GetCellSpan(1, 1, &rs, &cs);
    EXPECT_EQ(rs, 1);
    EXPECT_EQ(cs, 1);
    Show(t);
    EXPECT_GT(lone->draws, 0);
}

TEST_F(TableTest, ReconfiguredToFewerCellsKeepsEntriesOutsideButSkipsThem)
{
    GuiTable* t = Make(3, 3, 5, 2);
    auto* far = new Swatch(20, 20, 0xFF0000);
    auto* near = new Swatch(20, 20, 0x00FF00);
    t->SetCellClient(2, 2, far, 1, 1, GTC_SIZE_TO_CLIENT);
    t->SetCellClient(0, 0, near, 1, 1, GTC_SIZE_TO_CLIENT);
    Show(t);
    ASSERT_GT(CountColour(t->mOuter, 0xFF0000), 0);

    t->Reconfigure(1, 1, 5, 2);
    GuiThing::mpScreen->Invalidate(host->mOuter);
    host->Draw();
    EXPECT_EQ(t->GetCellClient(2, 2), far);   // kept
    EXPECT_EQ(CountColour(host->mOuter, 0xFF0000), 0);
    EXPECT_GT(CountColour(t->mOuter, 0x00FF00), 0);
    EXPECT_EQ(t->mOuter.Width(), 5 + 29);
    EXPECT_EQ(t->CellSpansRow(2, 2), 0);

    // Grown again, the entry is laid out and drawn once more.
    t->Reconfigure(3, 3, 5, 2);
    GuiThing::mpScreen->Invalidate(host->mOuter);
    host->Draw();
    EXPECT_GT(CountColour(t->mOuter, 0xFF0000), 0);
}

}  // namespace
