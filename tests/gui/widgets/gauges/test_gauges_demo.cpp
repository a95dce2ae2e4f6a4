// Demo picture of the family: drawn and bitmap dials, linear and bitmap
// scales and lights, written as gauges_demo.png into the build folder
// ($TAV9_BINARY_DIR, else gtest's temporary folder; never the sources).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_bitmap_dial.h"
#include "gui/widgets/gauges/gui_light.h"
#include "gui/widgets/gauges/gui_scale.h"
#include "host/screen/screen_png.h"

namespace {

using namespace gauges;
using GaugesDemoTest = GaugeTest;

// A dial face: dark disc with a lighter rim and a red zone at the right.
SolidBitmap Face(int size)
{
    SolidBitmap face(size, size, 0x303030);
    const int c = size / 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int d2 = (x - c) * (x - c) + (y - c) * (y - c);
            uint32_t& px = face.pixels[size_t(y) * size_t(size) + size_t(x)];
            if (d2 > c * c) px = 0xC0C0C0;
            else if (d2 > (c - 6) * (c - 6)) px = x > c + c / 2 ? 0xE02020 : 0x909090;
        }
    return face;
}

TEST_F(GaugesDemoTest, WritesThePictureIntoTheBuildFolder)
{
    host->SetColor(0, 0xC0C0C0);
    GuiThing::mpScreen->Invalidate(host->mOuter);
    host->Draw();

    auto* clock = new GuiCircularDial(GuiRect(20, 20, 180, 180), 90, 60, 0, 59,
                                      GDS_POLYGON_NEEDLE | GDS_SMALL_KITE | GDS_TICKS | GST_FRAME_RAISED);
    clock->miTickInterval = 5;
    host->Add(clock, 1);
    clock->SetValue(22, 1);

    auto* rev = new GuiFiniteDial(GuiRect(200, 20, 360, 180), 225, 315, 0, 100, GDS_THICK_NEEDLE | GDS_TICKS);
    rev->miTickInterval = 10;
    rev->miTickLength = 15;
    host->Add(rev, 1);
    rev->SetValue(72, 1);

    SolidBitmap face = Face(141), hub(11, 11, 0xF0F0F0);
    auto* boost = new GuiFiniteBitmapDial(390, 30, 200, 340, 0, 50, &face.bitmap, &hub.bitmap, GDS_THIN_NEEDLE);
    boost->mNeedleColor = 0xFFC000;
    host->Add(boost, 1);
    boost->SetValue(31, 1);

    auto* fuel = new GuiLinearScale(GuiRect(20, 220, 69, 419), 0, 100, 25,
                                    GSS_VERTICAL | GSS_MIN_LOW | GSS_TICKS | GSS_ARROW_NEEDLE | GST_FRAME_RECESSED);
    host->Add(fuel, 1);
    fuel->SetValue(65, 1);

    auto* temp = new GuiLinearScale(GuiRect(100, 220, 359, 269), 40, 140, 20,
                                    GSS_MIN_LOW | GSS_TICKS | GSS_THICK_NEEDLE | GSS_FROM_LEFT_TOP | GST_FRAME_THIN);
    host->Add(temp, 1);
    temp->SetValue(95, 1);

    SolidBitmap track(260, 30, 0x204060), marker(7, 30, 0xFFFFFF);
    auto* slip = new GuiLinearBitmapScale(100, 300, -50, 50, 10, 250, &track.bitmap, &marker.bitmap, GSS_MIN_LOW);
    host->Add(slip, 1);
    slip->SetValue(12, 1);

    const uint32_t colours[3] = {0x00C000, 0xE0C000, 0xE00000};
    for (int i = 0; i < 3; ++i) {
        auto* light = new GuiColorLight(GuiRect(400 + 60 * i, 230, 449 + 60 * i, 279), 3, GLS_ROUND | GST_TRANSPARENT);
        for (unsigned s = 0; s < 3; ++s) light->SetStateColor(s, colours[s]);
        host->Add(light, 1);
        light->SetState(unsigned(i), 1);
    }
    auto* shift = new GuiColorLight(GuiRect(400, 300, 569, 329), 2, GLS_RECTANGLE | GST_FRAME_THIN);
    shift->SetStateColor(0, 0x404040);
    shift->SetStateColor(1, 0x2060FF);
    host->Add(shift, 1);
    shift->IncrementState(1);

    SolidBitmap pitOn(60, 30, 0x00E0E0), pitOff(60, 30, 0x305050);
    auto* pit = new GuiBitmapLight(400, 350, 2);
    pit->SetStateBitmap(0, &pitOff.bitmap);
    pit->SetStateBitmap(1, &pitOn.bitmap);
    host->Add(pit, 1);
    pit->IncrementState(1);

    std::vector<uint32_t> frame(640 * 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) frame[size_t(y) * 640 + size_t(x)] = Pixel(x, y);
    const char* dir = std::getenv("TAV9_BINARY_DIR");
    const std::string path = (dir && *dir ? std::string(dir) : ::testing::TempDir()) + "/gauges_demo.png";
    EXPECT_TRUE(host::detail::writeScreenPng(path, frame.data(), 640, 480)) << path;
}

}  // namespace
