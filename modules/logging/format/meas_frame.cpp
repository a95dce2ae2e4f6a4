// Frame assembly, byte-plane recoding and run-length packing of data frames.
#include "logging/format/meas_frame.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/byteorder.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"

namespace {

// The packed length travels in a 16-bit field: keep every frame's packed
// bytes below that, whatever a caller asks for.
constexpr uint32_t kLargestRecordArea = 64512;

uint8_t* allocData(uint32_t capacity) {
    // head + record area + slack the packer may need beyond the plain size
    return static_cast<uint8_t*>(std::malloc(MEAS_FRAME_HEAD + MeasFrame_packBound(capacity) + 128));
}

void resetFrame(MeasFrame* f) {
    f->writePos = f->data + MEAS_FRAME_HEAD;
    f->recordEnd = f->writePos + f->capacity;
    f->bytesHeld = 0;
    f->packedLength = 0;
    f->recordsHeld = 0;
}

// Each frame is recoded on the task that hands it out; one work area per task.
std::vector<uint8_t>& workArea(uint32_t bytes) {
    thread_local std::vector<uint8_t> work;
    if (work.size() < bytes) work.resize(bytes);
    return work;
}

}  // namespace

void MeasFrame_buildIndexTranslation(uint16_t* out, uint32_t d, uint32_t a, uint32_t b, uint32_t c) {
    const uint32_t S = 4 * a + 2 * b + c;
    const uint32_t base2 = 4 + 4 * a * d;
    const uint32_t base1 = base2 + 2 * b * d;
    for (uint32_t k = 0; k < d; ++k) {
        uint16_t* run = out + k * S;
        for (uint32_t j = 0; j < S; ++j) {
            uint32_t off;
            if (j < 4 * a) {
                off = 4 + (j / 4) * 4 * d + k * 4 + j % 4;
            } else if (j < 4 * a + 2 * b) {
                uint32_t jj = j - 4 * a;
                off = base2 + (jj / 2) * 2 * d + k * 2 + jj % 2;
            } else {
                off = base1 + (j - 4 * a - 2 * b) * d + k;
            }
            run[j] = uint16_t(off);
        }
    }
}

MeasFrame* MeasFrame_alloc(uint32_t recordsPerFrame, uint32_t maxBytes, uint32_t recordLength,
                           uint32_t divider) {
    if (maxBytes > kLargestRecordArea) maxBytes = kLargestRecordArea;
    if (divider > 1 && uint64_t(divider) * recordsPerFrame > 200) recordsPerFrame = 200 / divider;
    if (uint64_t(recordsPerFrame) * recordLength > maxBytes)
        recordsPerFrame = recordLength ? maxBytes / recordLength : 0;
    auto* f = static_cast<MeasFrame*>(std::calloc(1, sizeof(MeasFrame)));
    uint32_t capacity = recordsPerFrame * recordLength;
    uint8_t* data = f ? allocData(capacity) : nullptr;
    if (!f || !data) {
        syslogx(147, "MeasFrame_alloc():Error: MeasFrame memory allocation!");
        std::free(f);
        return nullptr;
    }
    f->recordsPerFrame = recordsPerFrame;
    f->divider = divider;
    f->capacity = capacity;
    f->data = data;
    resetFrame(f);
    return f;
}

int MeasFrame_HSL_calc_IndexTranslation(MeasFrame* f, uint32_t fourByte, uint32_t twoByte,
                                        uint32_t oneByte) {
    if (!f) return 1;
    uint32_t d = f->divider > 1 ? f->divider : 1;
    uint64_t entries = uint64_t(d) * (4ull * fourByte + 2ull * twoByte + oneByte);
    // offsets must fit the table's 16-bit entries
    if (entries > 0xFFFF) return 1;
    auto* table = static_cast<uint16_t*>(std::malloc(entries ? entries * sizeof(uint16_t) : 1));
    if (!table) return 1;
    MeasFrame_buildIndexTranslation(table, d, fourByte, twoByte, oneByte);
    std::free(f->indexTranslation);
    f->indexTranslation = table;
    f->indexEntries = uint32_t(entries);
    return 0;
}

int MeasFrame_put(MeasFrame* f, const uint8_t* record, uint32_t recordLength) {
    if (!f || !record || recordLength < 4) return 1;
    if (recordLength > uint32_t(f->recordEnd - f->writePos)) return 1;
    uint32_t ts = be_get32(record);
    if (f->recordsHeld == 0 && f->bytesHeld == 0) {
        f->ageBase = time_getTimestamp();
        f->firstTimeStamp = ts;
        f->lastTimeStamp = 0;
    }
    std::memcpy(f->writePos, record, recordLength);
    be_put32(f->writePos, ts - f->lastTimeStamp);
    f->lastTimeStamp = ts;
    f->recordsHeld++;
    f->writePos += recordLength;
    f->bytesHeld = uint16_t(f->bytesHeld + recordLength);
    return f->recordsHeld == uint8_t(f->recordsPerFrame) ? 2 : 0;
}

int MeasFrame_recode_for_V5_V6(MeasFrame* f, uint32_t L, uint32_t* firstTs, uint32_t* lastTs) {
    if (!f) return 1;
    if (firstTs) *firstTs = f->firstTimeStamp;
    if (lastTs) *lastTs = f->lastTimeStamp;
    if (f->bytesHeld == 0 || L == 0 || f->packedLength != 0) return 0;
    const uint32_t total = f->bytesHeld;
    const uint32_t n = total / L;
    const uint8_t* in = f->data + MEAS_FRAME_HEAD;
    std::vector<uint8_t>& work = workArea(total);
    uint8_t* out = work.data();

    const uint32_t d = f->divider;
    const bool subSampled = d > 1 && L > 4 && (L - 4) % d == 0;
    if (!subSampled) {
        for (uint32_t r = 0; r < n; ++r)
            for (uint32_t b = 0; b < L; ++b) out[r + b * n] = in[r * L + b];
    } else {
        const uint32_t S = (L - 4) / d;
        // A table built from channel counts that do not describe this record
        // is not used (it would be read past its end): the sub-samples are
        // then taken in record order, as a reader without the layout expects.
        const uint16_t* T = f->indexTranslation && f->indexEntries == d * S ? f->indexTranslation : nullptr;
        for (uint32_t r = 0; r < n; ++r) {
            const uint8_t* rec = in + r * L;
            for (uint32_t b = 0; b < 4; ++b) out[r + b * n] = rec[b];
            for (uint32_t j = 0; j < S; ++j)
                for (uint32_t k = 0; k < d; ++k) {
                    uint32_t off = T ? T[k * S + j] : 4 + k * S + j;
                    out[4 * n + r * d + j * d * n + k] = off < L ? rec[off] : 0;
                }
        }
    }
    uint16_t packed = MeasFrame_packBits(out, f->data + MEAS_FRAME_HEAD, n * L);
    f->packedLength = packed;
    f->writePos = f->data + MEAS_FRAME_HEAD + packed;
    return 0;
}

int MeasFrame_get(MeasFrame* f, uint8_t blockId, uint8_t** buffer, uint32_t* length,
                  uint32_t* plainBytes, uint32_t* packedBytes) {
    if (!f) return 1;
    if (f->recordsHeld == 0 && f->bytesHeld == 0) {
        if (buffer) *buffer = nullptr;
        if (length) *length = 0;
        if (plainBytes) *plainBytes = 0;
        if (packedBytes) *packedBytes = 0;
        return 0;
    }
    // A frame leaves only recoded: the plain records of a sub-sampled block
    // carry records x divider in the head and no reader could split them.
    if (f->packedLength == 0 && f->recordsHeld != 0)
        MeasFrame_recode_for_V5_V6(f, f->bytesHeld / f->recordsHeld, nullptr, nullptr);
    const uint32_t payload = f->packedLength ? f->packedLength : f->bytesHeld;
    // The frame goes out in a buffer of its own length: a queue of frames
    // that a slow drive holds back takes the memory it counts, not the
    // frame's whole capacity each; the frame keeps its buffer for the next.
    uint8_t* out = static_cast<uint8_t*>(std::malloc(MEAS_FRAME_HEAD + payload));
    if (!out) {
        // keep the frame as it is; the caller tries again with the next record
        syslogx(147, "MeasFrame_alloc():Error: MeasFrame memory allocation!");
        if (buffer) *buffer = nullptr;
        if (length) *length = 0;
        return 1;
    }
    uint8_t* head = f->data;
    head[0] = blockId;
    head[1] = uint8_t(f->divider > 1 ? f->recordsHeld * f->divider : f->recordsHeld);
    be_put16(head + 2, f->packedLength);
    std::memcpy(out, head, MEAS_FRAME_HEAD + payload);
    if (buffer) *buffer = out; else std::free(out);
    if (length) *length = MEAS_FRAME_HEAD + payload;
    if (plainBytes) *plainBytes = f->bytesHeld;
    if (packedBytes) *packedBytes = f->packedLength;
    resetFrame(f);
    return 0;
}

uint32_t MeasFrame_getAgeTS(const MeasFrame* f) {
    if (!f || (f->recordsHeld == 0 && f->bytesHeld == 0)) return 0;
    return time_getTimestamp() - f->ageBase;
}

int MeasFrame_free(MeasFrame* f) {
    if (!f) return 0;
    if (f->recordsHeld != 0 || f->bytesHeld != 0) return 3;
    std::free(f->indexTranslation);
    std::free(f->data);
    std::free(f);
    return 0;
}

uint16_t MeasFrame_packBits(const uint8_t* src, uint8_t* dst, uint32_t length) {
    // Length of the run of equal bytes starting at each position.
    thread_local std::vector<uint32_t> run;
    if (run.size() < length) run.resize(length);
    for (uint32_t i = length; i-- > 0;)
        run[i] = (i + 1 < length && src[i] == src[i + 1]) ? run[i + 1] + 1 : 1;

    uint32_t in = 0, out = 0;
    while (in < length) {
        if (run[in] >= 3) {
            uint32_t n = run[in] > 130 ? 130 : run[in];
            dst[out++] = uint8_t(int8_t(2 - int(n)));
            dst[out++] = src[in];
            in += n;
            continue;
        }
        uint32_t start = in, n = 0;
        while (in < length && run[in] < 3 && n < 128) {
            ++in;
            ++n;
        }
        dst[out++] = uint8_t(n - 1);
        std::memcpy(dst + out, src + start, n);
        out += n;
    }
    return uint16_t(out);
}
