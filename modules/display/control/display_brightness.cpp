// Brightness curves of the calibration dataset.
#include "awm/awm.h"
#include "display/control/display_ctrl.h"
#include "measurement/calparams.h"

namespace {

// The curve is copied out of the calibration memory value by value first: a
// tool may copy or download the page while the GUI task looks it up.
template <size_t N>
float lookup(const float (&y)[N], const float (&x)[N], float at)
{
    float ys[N], xs[N];
    calLoadTable(ys, y);
    calLoadTable(xs, x);
    float out = 0;
    awm_0x02_lookup(&out, ys, at, xs, int(N) - 1);
    return out;
}

template <size_t N>
float ledScale(const float (&y)[N], const float (&x)[N], float colour, float brightness)
{
    const float v = lookup(y, x, brightness);
    const float r = float(double(v) * 0.01) * colour;
    if (!(r > 0.0f)) return 0.0f;   // also NaN
    return r > 255.0f ? 255.0f : r;
}

}  // namespace

float display_brightness_bg(float p)
{
    const CalPage& c = calActive();
    return lookup(c.CL_DISP_BRIGHT_BG, c.CL_DISP_BRIGHT_BG_row_, p);
}

unsigned char display_brightness_colSat(float p)
{
    const CalPage& c = calActive();
    float v = lookup(c.CL_DISP_BRIGHT_COLSAT, c.CL_DISP_BRIGHT_COLSAT_row_, p);
    if (!(v > 0.0f)) v = 0.0f;
    if (v > 255.0f) v = 255.0f;
    return static_cast<unsigned char>(static_cast<unsigned>(v) & 0xFF);
}

float display_brightness_led_red(float colour, float b)
{
    const CalPage& c = calActive();
    return ledScale(c.CL_DISP_BRIGHT_LED_RED, c.CL_DISP_BRIGHT_LED_RED_row_, colour, b);
}

float display_brightness_led_green(float colour, float b)
{
    const CalPage& c = calActive();
    return ledScale(c.CL_DISP_BRIGHT_LED_GREEN, c.CL_DISP_BRIGHT_LED_GREEN_row_, colour, b);
}

float display_brightness_led_blue(float colour, float b)
{
    const CalPage& c = calActive();
    return ledScale(c.CL_DISP_BRIGHT_LED_BLUE, c.CL_DISP_BRIGHT_LED_BLUE_row_, colour, b);
}
