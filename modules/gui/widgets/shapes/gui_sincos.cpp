// Integer sine and cosine from one quarter table folded into the four
// quadrants.
#include "gui/widgets/shapes/gui_sincos.h"

// Seven entries are one below the rounded sin(k) * 1024 (for example 46
// degrees gives 736): drawings depend on these exact values.
const int32_t GuiSinCosTable[91] = {
    0,    18,   36,   54,   71,   89,   107,  125,  143,  160,    //  0
    178,  195,  213,  230,  248,  265,  282,  299,  316,  333,    // 10
    350,  367,  384,  400,  416,  433,  449,  465,  481,  496,    // 20
    512,  527,  543,  558,  573,  587,  602,  616,  630,  644,    // 30
    658,  672,  685,  698,  711,  724,  736,  748,  761,  772,    // 40
    784,  796,  807,  818,  828,  838,  849,  859,  868,  878,    // 50
    887,  896,  904,  912,  920,  928,  935,  942,  949,  956,    // 60
    962,  968,  974,  979,  984,  989,  994,  998,  1002, 1005,   // 70
    1008, 1011, 1014, 1016, 1018, 1020, 1021, 1022, 1023, 1024,   // 80
    1024,                                                         // 90
};

void GuiLookupSinCos(int angle, int* sine, int* cosine)
{
    // The angle in 0 .. 359 and its offset within the quadrant; the modulo
    // keeps any int in range without a loop.
    const int n = (angle % 360 + 360) % 360;
    const int a = n % 90;
    const int32_t* t = GuiSinCosTable;
    int s, c;
    switch (n / 90) {
    case 0: s = t[a], c = t[90 - a]; break;        // also 0: (0, 1024)
    case 1: s = t[90 - a], c = -t[a]; break;       // also 90: (1024, 0)
    case 2: s = -t[a], c = -t[90 - a]; break;      // also 180: (0, -1024)
    default: s = -t[90 - a], c = t[a]; break;      // also 270: (-1024, 0)
    }
    if (sine) *sine = s;
    if (cosine) *cosine = c;
}
