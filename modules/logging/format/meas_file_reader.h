// Reading measurement files back: checks the header and its CRC, the block
// descriptors, the metadata blocks and every data frame, and restores the
// records with their absolute time stamps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "logging/format/meas_file.h"

// Channel layout of a sub-sampled block (a four-byte, b two-byte, c one-byte
// channels, d sub-samples per record); without it the reader restores the
// record bytes sub-sample by sub-sample.
struct MeasFileBlockLayout {
    uint32_t divider = 1;
    uint32_t fourByte = 0, twoByte = 0, oneByte = 0;
};

struct MeasFileBlockDesc {
    uint8_t id;
    uint32_t recordLength;
};

struct MeasFileMeta {
    size_t offset;              // of the 0xFF head byte
    uint8_t type;
    std::vector<uint8_t> payload;   // at most the first MeasFileReadOptions::metaKeep bytes
    uint32_t length;            // of the payload in the file
};

struct MeasFileFrameInfo {
    size_t offset;
    uint8_t blockId;
    uint8_t samples;            // frame head byte 1
    uint16_t packedLength;      // 0 = plain records
    uint32_t records;
    uint32_t divider;
};

struct MeasFileRecord {
    uint8_t blockId;
    uint32_t timeStamp;         // absolute, 0.1 ms
    std::vector<uint8_t> values;    // the record after its 4 time bytes
    bool subSampleOrder;        // values listed sub-sample by sub-sample (layout unknown)
};

// One item of the file after the descriptors, in file order.
struct MeasFileItem {
    enum Kind { META, FRAME } kind;
    size_t index;               // into metas or frames
};

struct MeasFileContent {
    bool headerRead = false;     // header parsed and its CRC right
    MeasFileHeaderInfo header;
    uint16_t storedCrc = 0;
    uint16_t computedCrc = 0;
    std::vector<MeasFileBlockDesc> blocks;
    std::vector<MeasFileMeta> metas;
    std::vector<MeasFileFrameInfo> frames;
    std::vector<MeasFileRecord> records;
    std::vector<MeasFileItem> items;
    // Offset of an item the file's end cut off (a writer stopped while
    // writing it, or before the file's opening items were all written; it
    // is the file's length then); SIZE_MAX when the file is not cut.
    size_t cutAt = SIZE_MAX;
};

// Where the reader takes a file's bytes from, in file order.
class MeasFileSource {
public:
    virtual ~MeasFileSource() = default;
    // Up to n bytes into `to`: how many, 0 at the file's end, -1 when they
    // cannot be read (the reason in `why`).
    virtual long read(uint8_t* to, size_t n, std::string& why) = 0;
};

// Takes the items of a file in file order, each once the reader has checked it.
class MeasFileSink {
public:
    virtual ~MeasFileSink() = default;
    virtual void header(const MeasFileHeaderInfo& info, uint16_t crc) = 0;
    virtual void block(const MeasFileBlockDesc& desc) = 0;
    virtual void meta(const MeasFileMeta& meta) = 0;
    // The frame with its records, which the sink may move away.
    virtual void frame(const MeasFileFrameInfo& frame, std::vector<MeasFileRecord>& records) = 0;
};

struct MeasFileReadOptions {
    size_t chunk = 65536;           // bytes asked of the source at a time
    // Payload bytes of a metadata block handed to the sink; the rest is
    // read past (MeasFileMeta::length still says the whole length).
    size_t metaKeep = SIZE_MAX;
    const std::map<uint8_t, MeasFileBlockLayout>* layouts = nullptr;
};

struct MeasFileReadEnd {
    std::string error;          // the first fault and its offset, or why the source failed
    bool unreadable = false;    // the source failed: `error` is its reason
    size_t cutAt = SIZE_MAX;    // as MeasFileContent::cutAt
    size_t length = 0;          // bytes taken from the source
};

// Reads a file from `source` item by item: the header is judged from its
// first 42 bytes before anything else is read, and no more than one item
// and one chunk are held at a time, however long the file: a metadata
// block's kept payload is at most 1 MiB, a frame at most what its head
// declares (records times record length, for a plain frame up to 65535 x
// 4096 bytes). true for a file sound
// to its end; the sink has had every item before the first fault.
bool meas_file_stream(MeasFileSource& source, MeasFileSink& sink, const MeasFileReadOptions& options,
                      MeasFileReadEnd& end);

// Parses a whole file. false on the first fault, with a text naming it and
// its offset in `error`; `out` then holds what was read before the fault.
bool meas_file_read(const uint8_t* data, size_t length, MeasFileContent& out, std::string& error,
                    const std::map<uint8_t, MeasFileBlockLayout>* layouts = nullptr);

// Reverses MeasFrame_packBits. false when the stream ends inside an item or
// the output would pass dstCapacity.
bool meas_file_unpackBits(const uint8_t* src, size_t srcLength, uint8_t* dst, size_t dstCapacity,
                          size_t* outLength);
