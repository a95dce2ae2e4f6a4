// Time service: keeps the clocks of the devices on the vehicle network in
// step and keeps the measurement time.
//
// The time master answers every gap interrupt of its time-synchronisation
// core with the time message 0x0600 to all devices and a 20-byte time export
// datagram to 239.239.239.15:9830. Every device hands the gap time stamp to
// its own core and, once the core is in full sync, takes the master's date
// when the master's clock is better (greater RTC qualifier) or differs by
// more than half a second. A device with a better clock offers its time
// (0x0603) and a tool sets the time of all devices (0x0602).
#pragma once

#include <cstdint>

#include "measurement/comint.h"
#include "platform/timebase.h"

constexpr uint16_t TIMESERV_CMD_TIME = 0x0600;
constexpr uint16_t TIMESERV_CMD_NEW_SYSTEM_TIME = 0x0602;
constexpr uint16_t TIMESERV_CMD_SUGGEST_TIME = 0x0603;
constexpr uint16_t TIMESERV_TIME_PAYLOAD = 32;
constexpr uint16_t TIMESERV_DATE_PAYLOAD = 20;

// RTC qualifier: greater is better.
constexpr uint32_t RTC_Q_UNSET = 0;
constexpr uint32_t RTC_Q_YEAR_AFTER_2000 = 1;
constexpr uint32_t RTC_Q_SET_BY_TOOL = 5;

constexpr const char* TIMESERV_EXPORT_GROUP = "239.239.239.15";
constexpr uint16_t TIMESERV_EXPORT_PORT = 9830;
constexpr unsigned TIMESERV_EXPORT_LEN = 20;

// Start-up: registers the command handlers, takes the start qualifier from
// the clock and, as master, starts the task "r_TsMr" on the core's gap
// interrupt; otherwise (with write access) puts the core into slave mode.
// 1, or 0 when the master queue or task cannot be made.
int timeserv_init(int writeAccess, bool asMaster);
int timeserv_init_as_array(const int args[2]);
// Ends the master task and leaves master mode (nothing is sent afterwards).
void timeserv_stop();
// Tests: stops, closes the export socket and forgets all state; call when no
// command task serves time messages any more.
void timeserv_shutdown();

// Command handlers (on the command task).
int timeserv_distributeTime_cmd(ci_msg_t* msg);
int timeserv_newSystemTime_cmd(ci_msg_t* msg);
int timeserv_suggestOwnTime_cmd(ci_msg_t* msg);

// The device network heard a device's new run (its presence, unit id and
// boot count): when it is the time master this slave follows, in a run after
// the one followed, the master's records of it stay out of the files of the
// time before until its time is followed (its first time message may come
// after its values).
void timeserv_masterRestartHeard(uint16_t pid, uint32_t unit, uint32_t boot);

// Sends the date to every device as 0x0602 through the command task; the
// result of the queueing.
int timeserv_newSystemTime(const date_t* date);
// The master identity; idsValid as result, outputs filled when valid.
bool timeserv_getMasterIds(uint32_t* id, uint32_t* bootCount);
// The device's clock as a date; 1 on success.
int timeserv_readSystemTime(date_t* out);
// Sets the clocks and takes the qualifier; 1 on success, 0 (logged) else.
int timeserv_setTime(const date_t* date, uint32_t qualifier);
uint32_t timeserv_getQualifier();
bool timeserv_isMaster();

// Measurement time in 0.1 ms, kept by the 1 ms raster once enabled.
void timeserv_MeasTime_ini();
void timeserv_MeasTime_1ms();
uint32_t timeserv_getMeasTime();

// Sends the time message and the export datagram for the clock value (the
// master task does this at each gap).
void timeserv_sendTime(const struct timespec* clock, uint32_t gap);
void timeserv_exportTime(const struct timespec* clock, uint32_t gap);
