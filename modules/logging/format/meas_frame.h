// Frame buffer of one data block of a measurement file.
//
// Records of a block are collected here (first record of a frame with its
// absolute time stamp, every further one with the difference to the record
// before), then recoded into byte planes and run-length packed, and handed
// out whole with a 4-byte frame head in front: block id, sample count,
// packed length (big-endian).
#pragma once

#include <cstdint>

struct MeasFrame {
    uint8_t* writePos;          // next free byte of the record area
    uint8_t* recordEnd;         // end of the record area
    uint32_t recordsPerFrame;   // capacity in records
    uint16_t bytesHeld;
    uint16_t packedLength;      // 0 until the frame is recoded
    uint8_t recordsHeld;
    uint32_t ageBase;           // time_getTimestamp() when the first record was put
    uint32_t firstTimeStamp;    // absolute time stamp of the first record
    uint32_t lastTimeStamp;     // time stamp of the last record put
    uint32_t divider;           // sub-samples per record; 0 or 1 for plain blocks
    uint16_t* indexTranslation; // sub-sampled blocks only
    uint32_t indexEntries;      // entries of indexTranslation
    uint32_t capacity;          // bytes of the record area
    uint8_t* data;              // frame head (4) + record area + packing slack
};

// Largest record area the logger uses for one frame.
constexpr uint32_t MEAS_FRAME_MAX_BYTES = 4096;
// Bytes of the frame head in front of the payload.
constexpr uint32_t MEAS_FRAME_HEAD = 4;

MeasFrame* MeasFrame_alloc(uint32_t recordsPerFrame, uint32_t maxBytes, uint32_t recordLength,
                           uint32_t divider);
int MeasFrame_HSL_calc_IndexTranslation(MeasFrame* frame, uint32_t fourByte, uint32_t twoByte,
                                        uint32_t oneByte);
int MeasFrame_put(MeasFrame* frame, const uint8_t* record, uint32_t recordLength);
int MeasFrame_recode_for_V5_V6(MeasFrame* frame, uint32_t recordLength, uint32_t* firstTs,
                               uint32_t* lastTs);
// Hands the frame out with its head; a frame not recoded yet is recoded first.
int MeasFrame_get(MeasFrame* frame, uint8_t blockId, uint8_t** buffer, uint32_t* length,
                  uint32_t* plainBytes, uint32_t* packedBytes);
uint32_t MeasFrame_getAgeTS(const MeasFrame* frame);
int MeasFrame_free(MeasFrame* frame);

// Run-length packer (PackBits variant); the destination must hold
// length + length / 128 + 1 bytes. Returns the packed length.
uint16_t MeasFrame_packBits(const uint8_t* src, uint8_t* dst, uint32_t length);
// Bytes a packed stream of `length` input bytes needs at most.
constexpr uint32_t MeasFrame_packBound(uint32_t length) { return length + length / 128 + 1; }

// Index translation table of a sub-sampled block: for run k (sub-sample) and
// position j the record offset of byte j of sub-sample k. Written to `out`,
// which holds divider * (4a + 2b + c) entries.
void MeasFrame_buildIndexTranslation(uint16_t* out, uint32_t divider, uint32_t fourByte,
                                     uint32_t twoByte, uint32_t oneByte);
