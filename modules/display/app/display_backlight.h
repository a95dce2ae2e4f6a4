// The backlight (PWM output 0) has two writers: the start-up task
// "r_dispInitDone" switches it on once the GUI is up, and the GUI task sets
// the brightness of the configured position when a start asks for it. The
// two run in either order; the position's brightness must win both ways.
#pragma once

// Start-up task: switches the backlight on at 95 %, unless a brightness
// step of the configuration is already set.
void displayBacklightSwitchOn(void);
// GUI task: sets the backlight to the PWM value of a brightness step.
void displayBacklightStep(float duty);
// GUI task: the configuration is gone; a later switch-on is at 95 % again.
void displayBacklightRelease(void);
