#include "host/screen/display_regs.h"

#include <atomic>
#include <cmath>
#include <span>

#include "host/kernel/kernel.h"

namespace host {

namespace {
std::atomic<uint32_t> gColSat{255};
constexpr float kFullLightDuty = 95.0f;
}  // namespace

void displayRegWrite(uint32_t physical, uint32_t value)
{
    if (physical == DISPLAY_REG_COLSAT) gColSat = value;
}

uint32_t displayRegRead(uint32_t physical) { return physical == DISPLAY_REG_COLSAT ? gColSat.load() : 0; }

void displayApplyPanel(uint32_t* words, size_t count)
{
    const uint32_t sat = gColSat.load() > 255 ? 255 : gColSat.load();
    const PwmState light = pwmOutGet(0);
    float level = 1.0f;
    if (light.on && light.duty < kFullLightDuty)
        level = light.duty <= 0.0f ? 0.0f : std::cbrt(light.duty / 100.0f);
    if (sat == 255 && level >= 1.0f) return;
    // Fixed point: 256 is 1.0.
    const int s = int(sat) * 256 / 255;
    const int l = int(level * 256.0f + 0.5f);
    for (uint32_t& p : std::span(words, count)) {
        const int r = int((p >> 16) & 0xFF), g = int((p >> 8) & 0xFF), b = int(p & 0xFF);
        const int grey = (r * 77 + g * 150 + b * 29) >> 8;
        auto channel = [&](int c) {
            const int mixed = grey + (((c - grey) * s) >> 8);
            const int lit = (mixed * l) >> 8;
            return uint32_t(lit < 0 ? 0 : lit > 255 ? 255 : lit);
        };
        p = (p & 0xFF000000u) | channel(r) << 16 | channel(g) << 8 | channel(b);
    }
}

}  // namespace host
