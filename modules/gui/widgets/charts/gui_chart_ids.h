// The id map of the charts with several lines: 256 bits, one per id, in
// eight 32-bit words (bit b of word w is id w x 32 + b). Bit 0 is set from
// the start, so id 0 ("no line") is never given.
#pragma once

#include <cstdint>
#include <new>

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

// Lists of lines linked through mpNext, each with its id in mId: shared by
// the multi-line chart and the strip chart.
template <class Line>
Line* FindChartLine(Line* first, unsigned id)
{
    for (Line* l = first; l; l = l->mpNext)
        if (l->mId == id) return l;
    return nullptr;
}

// Appends the line that make (id) builds under the lowest free id; the id,
// or 0 when all are taken or memory runs out.
template <class Line, class Make>
unsigned char AddChartLine(Line** first, GuiChartIdMap& ids, Make&& make)
{
    const unsigned id = ids.Take();
    if (id == 0) return 0;
    Line* line = nullptr;
    try {
        line = make(id);
    } catch (const std::bad_alloc&) {
        line = nullptr;
    }
    if (!line) {
        ids.Release(id);
        return 0;
    }
    while (*first) first = &(*first)->mpNext;
    *first = line;
    return static_cast<unsigned char>(id);
}

// Unlinks and deletes the line of that id and frees its id: 1, or 0 for
// id 0 and an id without a line.
template <class Line>
int DeleteChartLine(Line** first, GuiChartIdMap& ids, unsigned id)
{
    if (id == 0) return 0;
    for (Line** at = first; *at; at = &(*at)->mpNext) {
        if ((*at)->mId != id) continue;
        Line* line = *at;
        *at = line->mpNext;
        delete line;
        ids.Release(id);
        return 1;
    }
    return 0;
}

template <class Line>
void DeleteChartLines(Line** first)
{
    while (Line* l = *first) {
        *first = l->mpNext;
        delete l;
    }
}
