// The compiled form of the CAN output configuration, shared by the compiler
// (can_out.cpp) and the composer and sender (can_out_send.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "can/can_out.h"

namespace canout {

constexpr int16_t SRC_CONSTANT = -1;   // constant or row value
constexpr int16_t SRC_COUNTER = -2;

// A gateway list of values of one PID and raster.
struct MList {
    uint32_t handle = 0;
    std::mutex mx;                 // the read callback writes buf on the list's raster task
    std::vector<uint8_t> buf;      // the values of the last slot, big-endian
    uint16_t raster = 0;
    uint16_t pid = 0;
    unsigned nValues = 0;
    std::atomic<bool> valid{false};
    bool event = false;            // made for event signals only
};

// A distinct measured value (shared by entries of equal address, size and raster).
struct RecData {
    measaddr_t addr;
    int raster;
    uint8_t size;                  // 1, 2 or 4
    uint8_t type;                  // gateway element type
    bool event;
    MList* list = nullptr;
    uint16_t offset = 0;           // in the list's buffer
};

// How one value is placed into the data bytes.
struct Chan {
    int16_t src;                   // index into the values, or SRC_*
    bool conv;
    uint8_t bitOfs;                // bit of the value's LSB within its byte
    uint8_t rightShift;
    uint8_t count;                 // data bytes of the field
    uint8_t lsbByte;               // data byte of the value's least significant byte
    int8_t step;                   // towards the more significant bytes
    uint8_t lsbMask, msbMask;      // bits of the field in its outer bytes
    uint8_t maskShift;
    uint32_t shiftedMask;
    uint32_t constant;
    double fact, offs, lo, hi;
    uint8_t srcType;
    uint8_t target;                // 4 int32, 5 uint32, 6 float
};

struct Row {
    unsigned first, end;           // packing records
};

struct Msg {
    uint32_t canId;
    uint8_t intf, length, dlc, fdf, brs;
    int raster;
    int txHandle = -1;
    unsigned chanFirst = 0, chanEnd = 0;
    unsigned rowFirst = 0, rowEnd = 0, curRow = 0;
    uint8_t buf[2][64] = {};
    std::atomic<uint32_t> seq{0};  // composition published last
    uint32_t sentSeq = 0;
    Msg* nextRaster = nullptr;
    Msg* nextPrio = nullptr;
    bool chk = false;
    uint8_t chkType = 0, chkByte = 0;
    uint64_t chkMask = 0;
    bool hasCounter = false;
    uint32_t counter = 0, cStart = 0, cEnd = 0;
};

struct Event {
    int rec;                       // the event signal's value
    uint32_t mask;                 // shifted to its lowest set bit
    uint8_t shift;
    uint8_t edges;                 // 1 rising, 2 falling, 3 both
    bool prevState = false, prevValid = false;
    Msg* msg;
    float q1, q2;                  // quant_b / quant_f, quant_c / quant_f (kept)
};

struct State {
    std::vector<std::unique_ptr<Msg>> msgs;
    std::vector<Chan> chans;
    std::vector<Row> rows;
    std::vector<RecData> recs;
    std::vector<Event> events;
    std::vector<std::unique_ptr<MList>> lists;
    Msg* rasterHead[20] = {};
    Msg* prioHead[CANOUT_INTERFACES] = {};
    float rate[CANOUT_INTERFACES] = {};
    float credit[CANOUT_INTERFACES] = {};
    std::atomic<uint32_t> sent[CANOUT_INTERFACES] = {};
    std::atomic<bool> stopped{true};
    void* conn = nullptr;          // gateway connection
};

State& state();

// Composes the next buffer half of a message and publishes it.
void processMessage(Msg& m);
// Sends the last published half unless it was sent already; 1 when sent.
int sendBuff(Msg& m);
// Builds the CRC tables (once).
void buildChksumTables();
// The bytes a checksum byte mask takes part with: bytes 0 to 31, byte 31 also
// for any bit of the upper mask word (receiving units compute it so).
uint64_t chksumBytes(uint64_t byteMask);

}  // namespace canout
