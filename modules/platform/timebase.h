// Time bases: application run time, date conversion, the real-time clock and
// the time-synchronisation core's registers.
#pragma once

#include <cstdint>
#include <ctime>

// Calendar date and time as the time service and the diagnostic services carry
// it (14 bytes).
struct date_t {
    uint16_t year;
    uint16_t month;        // 1..12
    uint16_t day;          // 1..31
    uint16_t hour;         // 0..23
    uint16_t minute;       // 0..59
    uint16_t second;       // 0..59
    uint16_t millisecond;  // 0..999
};
static_assert(sizeof(date_t) == 14);

// Time since the application started (monotonic). 0.
int clock_appltime(struct timespec* out);
// out = a - b; when a lies before b, prints
// "clock_difftime() calculated negative time \n", leaves out at 0 and gives -1.
int clock_difftime(const struct timespec* a, const struct timespec* b, struct timespec* out);
// The device's calendar clock (the real-time clock as this process sees it;
// the host's own clock is never set). 0.
int clock_devicetime(struct timespec* out);

// Seconds and nanoseconds since 1970 to a date; 0 (logged) for invalid input.
int conv_time_to_date(const struct timespec* t, date_t* out);
// Date to seconds and nanoseconds since 1970; 1 for a valid date, else 0.
int conv_date_to_time(const date_t* d, struct timespec* out);
// True for a date whose fields are all in range (1970 to 9999).
bool date_valid(const date_t* d);

// Writes the date into the real-time clock, which is also the process's
// calendar clock; 1 on success, 0 on failure.
int rtc_writeAndSetSystemTime(const date_t* d);
// Reads the real-time clock as a date; 1 on success.
int rtc_readDate(date_t* out);

// Time-synchronisation core: time stamp in 0.1 ms (wraps at 2^32).
uint32_t time_getTimestamp();
uint32_t time_getTimestamp_reg();
uint32_t time_getNextGapTimestamp();
void time_putNextGapTimestamp(uint32_t value);
// Sync state 0..3 (3 full sync); logs each change of the combined state.
uint32_t time_getSyncState();
uint32_t time_getSyncState_reg();
// Sync state plus 4 with external sync (7 full external sync).
uint32_t time_getSyncXState();
// Master control bits 1 and 3 set (on) or cleared.
void time_MrSetControl(int on);
// Pulses control bit 2 low and sets bits 2 and 1, unless bit 1 is set.
void time_initTimeModule();
// Connects the core's gap interrupt (63) to the queue "/MQ_TsMr" (4-byte
// messages). 1 on success, 0 on failure (logged).
int time_initMrIsr();
// Control register of the time module (tests).
uint32_t time_controlReg();
