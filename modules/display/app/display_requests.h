// The display's interface for every other task: request functions that post
// application messages to the GUI task (the main container carries them
// out), the readers of the page and brightness inputs, the screen dump, the
// external alarm record and the shell command "display".
//
// A request returns 0 once posted and -1 while the GUI task is not ready; it
// never waits for its effect.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"

class CData;

// Application messages of the main container.
enum : uint16_t {
    DISP_MSG_NEXT = 0x000A,   // the toolkit's pointer press: next page
    DISP_MSG_START = 0x4001,
    DISP_MSG_STOP = 0x4002,
    DISP_MSG_COLOR = 0x4003,
    DISP_MSG_PAGE = 0x4004,
    DISP_MSG_BRIGHTNESS = 0x4007,
    DISP_MSG_RATE = 0x4008,
    DISP_MSG_FLASH_ON = 0x4009,
    DISP_MSG_FLASH_OFF = 0x400A,
    DISP_MSG_TEXT = 0x400B,
    DISP_MSG_TEXT2 = 0x400C,
    DISP_MSG_TEXT_FREE = 0x400D,
    DISP_MSG_TEXT_HIDE = 0x400E,
    DISP_MSG_EXT_WND = 0x400F,
};

constexpr int DISP_TEXT_COPY_LEN = 255;   // heap copy of displayTxtShowFree
constexpr int DISP_ALARM_TEXT_LEN = 256;
constexpr char DISP_ALARM_BLANK = char(0x81);   // a blank of an alarm text

// The external alarm window's record (written by display_alarm on its
// caller's task, shown by the main container).
struct ext_alarm_s {
    uint8_t shown;        // the window is a child of the container
    uint8_t hidden;       // acknowledged by the reset input
    uint8_t active;       // bit 0 counts
    uint8_t changed;      // new text not yet shown
    uint8_t resettable;
    uint16_t left, top, width, height;
    uint32_t textColour, backColour;
    char text[DISP_ALARM_TEXT_LEN];
};
extern ext_alarm_s ext_alarm;

extern std::atomic<uint8_t> disp_started;        // 1 after every start
extern std::atomic<int32_t> disp_max_page_index;  // highest page index

int displayStart(void);
int displayStop(void);
int displayNext(void);
int displayPrev(void);
int displayColor(unsigned int rgb);
int displaySwitchPage(unsigned int index);
int displayBrightness(unsigned int index);
int displaySetUpdateRate(int ticks);
int displayFlashStart(void);
int displayFlashStop(void);
int displayTxtShow(const char* text);
int displayTxtShow2(const char* a, const char* b);
int displayTxtShowFree(const char* text);
int displayTxtHide(void);
int displayUpdateExtWnd(void);

void displayJoin(void);
int displayMaxPages(int n);
int displayStatus(int s);

// Page, brightness and reset inputs of the running configuration (null when
// not configured). The main container sets and clears them under
// displayChannelsLock, so that the reader task never meets a freed source.
void displaySetChannels(CData* reset, CData* page, CData* brightness);
// 0 without the channel; else the value rounded half away from zero in
// *value and the update state in *updated (either may be null), 1.
int displayGetPageChan(int* value, unsigned char* updated);
int displayGetBrightnessChan(int* value, unsigned char* updated);

// A Windows BMP image of the visible screen, from array new (length in
// *size); null before the GUI is ready or when no image can be made.
unsigned char* DumpReal(unsigned int* size);

int display_alarm(unsigned char active, unsigned short left, unsigned short top, unsigned short width,
                  unsigned short height, unsigned long textColour, unsigned long backColour,
                  unsigned char resettable, const char* text);
void display_get_alarm_state(ext_alarm_s** out);
unsigned char display_get_reset_alarm_active(void);
unsigned char display_get_alarm_hidden(void);
void display_trigger_inhibit_alarms(void);
void display_reset_inhibit_alarms(void);

int displayCommandFunc(int argc, char** argv);
void display_usage(void);

// ---- start-up ----------------------------------------------------------------
// Starts the GUI tasks and the start-up task and unpacks the fonts; called
// once by the process start-up after displayCtrl_ini.
void displayInit(void);
// Body of "r_dispInitDone": once the GUI is up, backlight, digital output 5
// and display-controller layer 1 on.
void displayInitDone(SEM_ID sem);
// The GUI task and the GUI timer task that displayInit started (null when
// not started); the process shutdown ends them.
extern TASK_ID gGuiTask;
extern TASK_ID gTimerTask;
