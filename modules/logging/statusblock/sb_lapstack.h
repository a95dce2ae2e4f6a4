// The lap stack: the last 256 laps (lap, lap time, fuel value) in NVRAM
// element 2 as a ring, with the counts of entries begun and completed in
// element 1, and a RAM mirror of both.
#pragma once

#include <cstdint>

constexpr unsigned SB_LAPSTACK_ENTRIES = 256;
constexpr unsigned SB_LAPSTACK_ENTRY = 6;

// One entry as it goes into a status block (fuel big-endian).
struct SbLapEntry {
    uint8_t lap;
    uint8_t minutes;
    uint8_t seconds;
    uint8_t hundredths;
    uint16_t fuel;                      // fuel value x 100
};
// lap time in hundredths of a second; fuel x 100 rounded half away from
// zero, negative values give 0.
SbLapEntry sb_lapstack_makeEntry(uint16_t lap, uint32_t lapTime, float fuel);

// Counts of the current stack (tests, status line).
void sb_lapstack_counts(uint16_t* begun, uint16_t* completed);
// Marks the stack for power-down: the next reset keeps a copy of it.
void sb_lapstack_setPowerDown();
// Tests: forgets the RAM mirror and the power-down copy.
void sb_lapstack_resetForTest();
