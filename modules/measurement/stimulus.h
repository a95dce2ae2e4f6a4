// Host inputs: a small stimulus that writes signal-page channels every 1 ms
// from a description file of the device folder ("stimulus.cfg").
//
// Each line: <signal> <shape> <a> <b> <period ms>; '#' starts a comment.
// CR, LF and CR LF each end a line; a UTF-8 byte-order mark at the start is
// skipped.
// Shapes: const (a), sine (offset a, amplitude b), ramp (a to b, then again),
// square (a for the first half period, b for the second), steps (integers a
// to b, one step per period / (b - a + 1)).
#pragma once

#include <cstdint>
#include <string>

// Loads the description; a missing file gives the built-in one (logged).
// Returns the number of channels driven.
int stimulus_init();
// Parses a description text; lines that cannot be used are logged and skipped.
int stimulus_load(const std::string& text);
// One step: time in ms since the stimulus started.
void stimulus_step(uint64_t ms);
// Entry of the 1 ms raster.
void stimulus_1ms(intptr_t arg);
void stimulus_clear();
