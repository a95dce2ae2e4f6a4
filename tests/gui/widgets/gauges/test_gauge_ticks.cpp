// Ticks of dials and scales over ranges far wider than their faces: the
// number of tick lines drawn (and of positions looked up) stays near the
// number of places they can land on, and the picture is the one that drawing
// every tick value gives.
#include <gtest/gtest.h>

#include <climits>

#include "gui/widgets/gauges/gauge_fixture.h"
#include "gui/widgets/gauges/gui_dial.h"
#include "gui/widgets/gauges/gui_scale.h"

namespace {

using namespace gauges;
using GaugeTicksTest = GaugeTest;

constexpr unsigned kDialStyle = GDS_THIN_NEEDLE | GDS_TICKS | GST_FRAME_THIN;
constexpr unsigned kScaleStyle = GSS_VERTICAL | GSS_MIN_LOW | GSS_TICKS | GSS_THIN_NEEDLE;
// Far more than any face has places for ticks, far fewer than the values.
constexpr long long kManyLookups = 100000;

// A dial that counts its tick lines and its angle look-ups.
template <class Base>
struct CountingDial : Base {
    using Base::Base;
    void CalcTicPos(long value, GuiPoint& outer, GuiPoint& inner) override
    {
        ++ticks;
        Base::CalcTicPos(value, outer, inner);
    }
    int ValToAngle(long value) override
    {
        ++lookups;
        return Base::ValToAngle(value);
    }
    long long ticks = 0, lookups = 0;
};

// The picture of every tick value drawn one by one.
struct EveryTickFiniteDial : GuiFiniteDial {
    using GuiFiniteDial::GuiFiniteDial;
    void DrawTicMarks() override
    {
        GuiPoint outer = mCor, inner = mCor;
        for (long long v = miMin; v <= miMax; v += miTickInterval) DrawTick(long(v), outer, inner, 1);
    }
};
struct EveryTickCircularDial : GuiCircularDial {
    using GuiCircularDial::GuiCircularDial;
    void DrawTicMarks() override
    {
        GuiPoint outer = mCor, inner = mCor;
        DrawTick(miMin, outer, inner, 3);
        const long long last = std::min<long long>(miMax, miMin + Period());
        for (long long v = (long long)miMin + miTickInterval; v <= last; v += miTickInterval)
            DrawTick(long(v), outer, inner, 1);
    }
};

struct CountingScale : GuiLinearScale {
    using GuiLinearScale::GuiLinearScale;
    void ValToPoint(long value, GuiPoint& point) override
    {
        ++lookups;
        GuiLinearScale::ValToPoint(value, point);
    }
    long long lookups = 0;
};
struct EveryTickScale : GuiLinearScale {
    using GuiLinearScale::GuiLinearScale;
    void DrawTicMarks() override
    {
        const long long count = ((long long)miMax - miMin) / miTickInterval + 1;
        const int edge = Vertical() ? ((mStyle & GSS_FROM_LEFT_TOP) ? mClient.left : mClient.right)
                                    : ((mStyle & GSS_FROM_LEFT_TOP) ? mClient.top : mClient.bottom);
        for (long long k = 0; k < count; ++k) {
            GuiPoint p;
            ValToPoint(long(miMin + k * miTickInterval), p);
            CrossLine(Vertical() ? p.y : p.x, edge, edge + Toward() * (Across() >> 2), 0x000000);
        }
    }
};

// The pixels of r.
Frame Area(const GuiRect& r)
{
    Frame pixels;
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x) pixels.push_back(Pixel(x, y));
    return pixels;
}

// What `Gauge` draws at r after `Reference` drew there first: both pictures.
template <class Reference, class Gauge, class Make>
std::pair<Frame, Frame> BothPictures(RecWindow* host, const GuiRect& r, Make make)
{
    auto* reference = make(static_cast<Reference*>(nullptr));
    host->Add(reference, 1);
    const Frame expected = Area(r);
    host->Destroy(reference);
    auto* gauge = make(static_cast<Gauge*>(nullptr));
    host->Add(gauge, 1);
    const Frame drawn = Area(r);
    host->Destroy(gauge);
    return {expected, drawn};
}

TEST_F(GaugeTicksTest, FiniteDialDrawsOneLinePerAngleItsTicksReach)
{
    // 270 degrees over 60000 values: 256 x 270 / 59999 gives a step of one
    // 256th degree per value, so the values below the maximum fall on the
    // 235 angles 225 down to -9 and the maximum on the end angle.
    auto* dial = new CountingDial<GuiFiniteDial>(GuiRect(10, 10, 210, 210), 225, -45, 0, 60000, kDialStyle);
    dial->miTickInterval = 1;
    host->Add(dial, 1);
    EXPECT_EQ(dial->ticks, 236);
    EXPECT_LT(dial->lookups, kManyLookups);
}

TEST_F(GaugeTicksTest, DialsAndScaleOverTheWhole32BitRangeStayBounded)
{
    auto* finite =
        new CountingDial<GuiFiniteDial>(GuiRect(10, 10, 210, 210), 225, -45, INT32_MIN, INT32_MAX, kDialStyle);
    finite->miTickInterval = 1;
    host->Add(finite, 1);
    EXPECT_LE(finite->ticks, 272);
    EXPECT_LT(finite->lookups, kManyLookups);

    auto* circular = new CountingDial<GuiCircularDial>(GuiRect(220, 10, 420, 210), 90, INT32_MAX, INT32_MIN,
                                                       INT32_MAX, kDialStyle);
    circular->miTickInterval = 1;
    host->Add(circular, 1);
    EXPECT_LE(circular->ticks, 362);
    EXPECT_LT(circular->lookups, kManyLookups);

    auto* scale = new CountingScale(GuiRect(440, 10, 479, 409), INT32_MIN, INT32_MAX, 1, kScaleStyle);
    host->Add(scale, 1);
    EXPECT_LT(scale->lookups, kManyLookups);
    // The step per value is below a 256th pixel: every tick falls on the
    // minimum's end of the track.
    const GuiRect& c = scale->mClient;
    EXPECT_EQ(Pixel(c.right - 1, scale->miTrackStart), 0x000000u);
}

TEST_F(GaugeTicksTest, DenseTicksLookLikeEveryTickDrawn)
{
    const GuiRect r(10, 10, 210, 210);
    for (long interval : {1L, 7L, 40L, 333L}) {
        auto [expected, drawn] = BothPictures<EveryTickFiniteDial, GuiFiniteDial>(host, r, [&](auto* type) {
            using T = std::remove_pointer_t<decltype(type)>;
            auto* d = new T(r, 200, -20, -3000, 25000, kDialStyle);
            d->miTickInterval = int32_t(interval);
            return d;
        });
        EXPECT_EQ(expected, drawn) << "finite dial, interval " << interval;
    }
    for (long interval : {1L, 13L, 500L}) {
        auto [expected, drawn] = BothPictures<EveryTickCircularDial, GuiCircularDial>(host, r, [&](auto* type) {
            using T = std::remove_pointer_t<decltype(type)>;
            auto* d = new T(r, 90, 9000, 100, 30000, kDialStyle);
            d->miTickInterval = int32_t(interval);
            return d;
        });
        EXPECT_EQ(expected, drawn) << "circular dial, interval " << interval;
    }
    const GuiRect s(300, 10, 339, 409);
    for (long interval : {1L, 9L, 250L, -4L}) {
        for (unsigned style : {kScaleStyle, unsigned(GSS_TICKS | GSS_FROM_LEFT_TOP)}) {
            auto [expected, drawn] = BothPictures<EveryTickScale, GuiLinearScale>(host, s, [&](auto* type) {
                using T = std::remove_pointer_t<decltype(type)>;
                // A negative interval walks from the minimum down to a maximum below it.
                return interval < 0 ? new T(s, 20000, -1000, interval, style) : new T(s, -1000, 20000, interval, style);
            });
            EXPECT_EQ(expected, drawn) << "scale, interval " << interval << ", style " << style;
        }
    }
}

}  // namespace
