// Page and brightness control: the task "r_DispCtrl" reads the page and
// brightness switch channels every clock tick, keeps both positions in the
// signal page and in NVRAM, raises an error-memory entry when a channel
// stops delivering and asks the display for the page and brightness. The
// brightness curves turn a percentage into the backlight PWM value, the
// colour saturation and the scale of the colour LEDs.
#pragma once

#include <atomic>
#include <cstdint>

constexpr unsigned DISP_ERR_PATH = 0x1EA;            // "DISPLAY"
constexpr unsigned DISP_ERR_PAGE_TIMEOUT = 21;       // "Page channel timeout"
constexpr unsigned DISP_ERR_BRIGHTNESS_TIMEOUT = 22; // "Brightness channel timeout"
constexpr int DISP_BRIGHTNESS_POSITIONS = 6;

// 0 idle (no pages), 1 started (first pass pending), 2 running.
extern std::atomic<uint8_t> displayCtrl_state;

// Spawns "r_DispCtrl"; called once before displayInit.
void displayCtrl_ini(void);
// Ends the task (process shutdown and tests).
void displayCtrl_exit(void);
// Called by the display's start with page count - 1; returns the page
// position (1-based, 0 without pages).
unsigned char displayCtrl_start(unsigned char maxIndex);
void displayCtrl_stop(void);
// The brightness position (1..6, 0 when stopped), read in step with the task.
unsigned char displayCtrl_brightness(void);
void displayCtrl_task(void);
// One pass of the task (the task runs one per clock tick).
void displayCtrl_pass(void);
// Forgets the per-channel timeout state (tests).
void displayCtrl_resetForTest(void);

int limit1toMax(int value, int max);

float display_brightness_bg(float percent);
unsigned char display_brightness_colSat(float percent);
float display_brightness_led_red(float colour, float brightness);
float display_brightness_led_green(float colour, float brightness);
float display_brightness_led_blue(float colour, float brightness);
