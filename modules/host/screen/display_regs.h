// The display controller's registers beside the frame buffer, as far as the
// application writes them, and the panel's look in screen.png.
//
// screen.png shows the panel as the driver would see it: the colour
// saturation register (0 grey .. 255 full colour, 255 after power-up) mixes
// each pixel towards its grey, and the backlight (PWM output 0, while on)
// scales the light, perceived as the cube root of the duty; a duty of 95 %
// or more is full light.
#pragma once

#include <cstdint>
#include <cstddef>

namespace host {

constexpr uint32_t DISPLAY_REG_COLSAT = 0x400101B0;

// Writes a 32-bit register by physical address; unknown addresses are ignored.
void displayRegWrite(uint32_t physical, uint32_t value);
// Reads it back; 0 for an unknown address.
uint32_t displayRegRead(uint32_t physical);
// Applies saturation and backlight to a frame of 0x00RRGGBB words.
void displayApplyPanel(uint32_t* words, size_t count);

}  // namespace host
