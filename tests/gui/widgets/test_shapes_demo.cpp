// Every shape on one screen, saved as gui_shapes_demo.png in the test's
// output folder ($TAV9_BINARY_DIR, else gtest's temporary folder) for a look.
#include "gui/widgets/shapes/gui_sincos.h"
#include "gui/widgets/test_shapes_fixture.h"

TEST_F(ShapeTest, DemoPictureOfEveryShape)
{
    GuiBitmap* pattern = screen->CreateBitmap(8, 8, 0);
    ASSERT_NE(pattern, nullptr);
    auto* pp = reinterpret_cast<uint32_t*>(pattern->data);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) pp[y * 8 + x] = (x + y) % 8 < 3 ? 0x3060C0 : 0xE0E0F0;
    screen->SetFillPattern(pattern);

    Paint(win, [&] {
        screen->Rectangle(win, GuiRect(0, 0, 639, 479), GuiColor{0, 0xFFFFFF, GUI_COLOR_FILL}, 0);
        // Polygons: outline, solid with outline, pattern, self-crossing star.
        GuiPoint tri[] = {{20, 100}, {100, 20}, {140, 110}};
        screen->Polygon(win, tri, 3, GuiColor{0x000000, 0, 0}, 1);
        GuiPoint quad[] = {{160, 20}, {280, 40}, {260, 110}, {170, 90}};
        screen->Polygon(win, quad, 4, GuiColor{0x800000, 0xFFB040, GUI_COLOR_FILL}, 1);
        GuiPoint hex[] = {{300, 60}, {330, 20}, {390, 20}, {420, 60}, {390, 110}, {330, 110}};
        screen->Polygon(win, hex, 6, GuiColor{0x000080, 0, GUI_COLOR_PATTERN}, 1);
        GuiPoint star[5];
        for (int k = 0; k < 5; ++k) {
            int s, c;
            GuiLookupSinCos(90 + k * 144, &s, &c);
            star[k] = GuiPoint{int16_t(520 + c * 50 / 1024), int16_t(65 - s * 50 / 1024)};
        }
        screen->Polygon(win, star, 5, GuiColor{0x006000, 0x80E080, GUI_COLOR_FILL}, 1);

        // Dashed lines: a fan of directions and widths, one dash continued
        // along a zig-zag.
        GuiColor dash{0x202020, 0, 0};
        for (int angle = 0; angle < 180; angle += 15) {
            int s, c;
            GuiLookupSinCos(angle, &s, &c);
            screen->PatternLine(win, 110, 230, 110 + c * 90 / 1024, 230 - s * 90 / 1024, dash, 1 + angle / 60,
                                0xFFF0FF00, 1);
        }
        GuiColor zig{0xC00000, 0, 0};
        for (int k = 0; k < 8; ++k)
            screen->PatternLine(win, 230 + 25 * k, 150 + (k % 2) * 60, 255 + 25 * k, 150 + ((k + 1) % 2) * 60, zig,
                                2, 0xFF00FF00, k == 0);

        // Circles: rings of several widths, a disc, a disc with a ring.
        GuiColor ring{0x0000C0, 0, 0};
        for (int w = 1; w <= 4; ++w) screen->Circle(win, 470 + 40 * (w - 1), 180, 16, ring, w * 2 - 1);
        GuiColor disc{0x004000, 0x40C040, GUI_COLOR_FILL};
        screen->Circle(win, 80, 370, 60, disc, 0);
        GuiColor both{0x400040, 0xE080E0, GUI_COLOR_FILL};
        screen->Circle(win, 220, 370, 60, both, 8);

        // Ellipses: ring, wide ring, filled, flat filled, one cut by the edge.
        GuiColor eRing{0x000000, 0, 0}, eFill{0x800000, 0xF0C080, GUI_COLOR_FILL};
        screen->Ellipse(win, GuiRect(310, 300, 420, 360), eRing, 1);
        screen->Ellipse(win, GuiRect(310, 380, 420, 460), eFill, 4);
        screen->Ellipse(win, GuiRect(440, 300, 620, 330), eFill, 2);
        screen->Ellipse(win, GuiRect(440, 350, 500, 354), GuiColor{0, 0x00A0A0, GUI_COLOR_FILL}, 0);
        screen->Ellipse(win, GuiRect(560, 360, 700, 470), eFill, 3);
    });
    screen->SetFillPattern(nullptr);
    screen->DestroyBitmap(pattern);

    SaveDemo("gui_shapes_demo.png");
}
