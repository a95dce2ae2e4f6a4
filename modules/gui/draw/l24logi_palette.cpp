// The driver's default palette: the 16 classic display colours, a 6 x 6 x 6
// colour cube and a 16-step grey ramp (248 entries); the last 8 are unset.
#include <array>

#include "gui/draw/l24logi.h"

namespace {

constexpr std::array<unsigned char, 768> makePalette()
{
    std::array<unsigned char, 768> p{};
    constexpr unsigned char classic[16][3] = {
        {0, 0, 0},     {0, 0, 128},   {0, 128, 0},   {0, 128, 128}, {128, 0, 0},   {128, 0, 128},
        {128, 128, 0}, {192, 192, 192}, {128, 128, 128}, {0, 0, 255}, {0, 255, 0},   {0, 255, 255},
        {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
    int i = 0;
    for (const auto& c : classic) {
        p[3 * i] = c[0];
        p[3 * i + 1] = c[1];
        p[3 * i + 2] = c[2];
        ++i;
    }
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b, ++i) {
                p[3 * i] = static_cast<unsigned char>(51 * r);
                p[3 * i + 1] = static_cast<unsigned char>(51 * g);
                p[3 * i + 2] = static_cast<unsigned char>(51 * b);
            }
    for (int k = 0; k < 16; ++k, ++i) {
        const auto v = static_cast<unsigned char>(8 + 16 * k);
        p[3 * i] = p[3 * i + 1] = p[3 * i + 2] = v;
    }
    return p;
}

}  // namespace

const std::array<unsigned char, 768> DefPalette256 = makePalette();
