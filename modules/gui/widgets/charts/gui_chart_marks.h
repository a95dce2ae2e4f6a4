// The walk shared by every tick, grid and label loop of the charts.
#pragma once

#include <cstdint>

// Calls mark (value) for value = first, first + interval, ... up to last.
// The walk runs in 64 bits, so no value overflows near the ends of the
// 32-bit range. Nothing is walked for interval 0, for last below first, or
// when the marks would outnumber `limit` (the pixels of the axis: such marks
// merge into a solid band, and billions of them would stall the GUI task).
template <class Mark>
void ForEachChartMark(int64_t first, int64_t last, uint32_t interval, int64_t limit, Mark&& mark)
{
    if (interval == 0 || last < first) return;
    if ((last - first) / interval + 1 > limit) return;
    for (int64_t v = first; v <= last; v += interval) mark(v);
}
