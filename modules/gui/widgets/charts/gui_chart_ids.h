// The id map of the charts with several lines: 256 bits, one per id, in
// eight 32-bit words (bit b of word w is id w x 32 + b). Bit 0 is set from
// the start, so id 0 ("no line") is never given.
#pragma once

#include <cstdint>

class GuiChartIdMap {
public:
    // The lowest free id, now taken; 0 when all 255 are taken.
    unsigned Take() {
        for (unsigned w = 0; w < 8; ++w) {
            if (mWords[w] == 0xFFFFFFFFu) continue;
            for (unsigned b = 0; b < 32; ++b) {
                if (!(mWords[w] & (1u << b))) {
                    mWords[w] |= 1u << b;
                    return w * 32 + b;
                }
            }
        }
        return 0;
    }
    // Frees any id from 1 to 255.
    void Release(unsigned id) {
        if (id != 0 && id < 256) mWords[id / 32] &= ~(1u << (id % 32));
    }

private:
    uint32_t mWords[8] = {1, 0, 0, 0, 0, 0, 0, 0};
};
