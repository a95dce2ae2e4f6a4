// Arcs, slices, chords and pies on one screen, saved as gui_arcs_demo.png
// in the test's output folder for a look.
#include "gui/widgets/shapes/gui_sincos.h"
#include "gui/widgets/test_shapes_fixture.h"

TEST_F(ShapeTest, DemoPictureOfArcsChordsAndPies)
{
    auto pt = [](int x, int y) { return GuiPoint{int16_t(x), int16_t(y)}; };
    Paint(win, [&] {
        screen->Rectangle(win, GuiRect(0, 0, 639, 479), GuiColor{0, 0xFFFFFF, GUI_COLOR_FILL}, 0);
        // Arcs of growing width, a clock of quarter arcs, a wrapped arc.
        GuiColor ink{0x0000A0, 0, 0};
        for (int w = 1; w <= 4; ++w) screen->Arc(win, 70 + 130 * (w - 1), 80, 40, 20 * w, 200 + 30 * w, ink, w * 2 - 1);
        const uint32_t quarter[] = {0xC00000, 0x00A000, 0x0000C0, 0xC0A000};
        for (int q = 0; q < 4; ++q)
            screen->Arc(win, 590, 80, 35, 90 * q, 90 * q + 90, GuiColor{quarter[q], 0, 0}, 3);

        // Pie slices: one of every span, one over 180 degrees with an outline.
        for (int k = 0; k < 6; ++k) {
            GuiColor slice{0x000000, 0x40A0E0 + 0x200000 * uint32_t(k), GUI_COLOR_FILL};
            screen->Arc(win, 120, 240, 70, 60 * k, 60 * k + 55, slice, 0);
        }
        screen->Arc(win, 300, 240, 60, 45, 315, GuiColor{0x602000, 0xF0C040, GUI_COLOR_FILL}, 2);

        // Chords: both sides of one line, a thick border.
        GuiRect e1(400, 170, 520, 310), e2(530, 170, 630, 310);
        screen->Chord(win, e1, pt(380, 320), pt(540, 160), GuiColor{0x006000, 0x80E080, GUI_COLOR_FILL}, 2);
        screen->Chord(win, e2, pt(520, 180), pt(640, 300), GuiColor{0x600060, 0xE0A0E0, GUI_COLOR_FILL}, 3);

        // Pies of an ellipse: a quarter, the rest, a thin slice, one cut by the edge.
        GuiRect p1(20, 340, 180, 460), p2(200, 340, 360, 460), p3(380, 340, 520, 460), p4(540, 340, 700, 470);
        screen->Pie(win, p1, pt(300, 400), pt(100, 200), GuiColor{0x800000, 0xFF8080, GUI_COLOR_FILL}, 2);
        screen->Pie(win, p2, pt(280, 200), pt(500, 400), GuiColor{0x000080, 0x8080FF, GUI_COLOR_FILL}, 2);
        screen->Pie(win, p3, pt(520, 380), pt(520, 360), GuiColor{0x404040, 0xC0C0C0, GUI_COLOR_FILL}, 1);
        screen->Pie(win, p4, pt(540, 300), pt(800, 480), GuiColor{0x006060, 0x80E0E0, GUI_COLOR_FILL}, 3);
    });
    SaveDemo("gui_arcs_demo.png");
}
