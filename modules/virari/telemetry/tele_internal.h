// State shared by the telemetry's start/stop, frame builder and modem tasks.
#pragma once

#include <netinet/in.h>

#include <mutex>

#include "virari/telemetry/telemetry.h"

namespace tele_detail {

using FrameFunc = int (*)();

// Guards everything below: the start and stop on the logging raster, the
// frame task and the JSON sender all use it.
extern std::mutex mx;
extern TeleConfig config;
extern FrameFunc frameFunc;          // null while stopped
extern int udpSocket;                // -1 none
extern int serialFd;                 // -1 none, else opened non-blocking
// The tail of a frame the serial line took only in part: it goes out before
// any later frame, so that the receiver never sees a torn frame.
extern uint8_t serialRest[TELE_MAX_L + TELE_CRC_LEN];
extern unsigned serialRestLen;
extern sockaddr_in peer;
extern uint8_t header[TELE_HEADER_LEN];
extern unsigned nextSlowTurn;        // 1..7
extern uint16_t updateRate;          // UDP frame period, ms

// Statistics of the frame builder.
struct FrameStats {
    uint32_t byteSum;
    uint32_t lastTimeStamp;
    bool haveLast;
    uint32_t lastSlowCycleTimeStamp;
    bool haveSlowCycle;
};
extern FrameStats stats;

void resetStats();
// Closes the UDP socket and the serial port (under the lock).
void closeOutputs();
// Frame builder body; the lock is held.
int buildAndSend();

// The modem's JSON tasks.
void startJsonTasks();
void stopJsonTasks();
// Converts one key/value pair of the modem into its variable.
void applyModemValue(const char* key, const char* value);

}  // namespace tele_detail

void tele_unpublishSignals();
