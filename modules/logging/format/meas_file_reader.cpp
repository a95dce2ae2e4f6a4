// Read-back of measurement files (checks, frame unpacking, record restore).
#include "logging/format/meas_file_reader.h"

#include <cstdio>
#include <cstring>

#include "logging/format/meas_frame.h"

namespace {

// Largest record area a frame can carry (its packed length is 16 bits).
constexpr size_t kMaxFrameBytes = 65536;

std::string at(size_t offset, const char* what) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "offset %zu: %s", offset, what);
    return buf;
}

// Restores the records of one frame from its plain or recoded payload.
bool restoreRecords(const uint8_t* bytes, size_t size, bool transposed, uint32_t n, uint32_t L,
                    uint32_t d, const MeasFileBlockLayout* layout, uint8_t blockId,
                    std::vector<MeasFileRecord>& records) {
    std::vector<uint16_t> T;
    uint32_t S = d > 1 ? (L - 4) / d : 0;
    if (d > 1 && layout) {
        if (4 * layout->fourByte + 2 * layout->twoByte + layout->oneByte != S) return false;
        T.resize(size_t(d) * S);
        MeasFrame_buildIndexTranslation(T.data(), d, layout->fourByte, layout->twoByte, layout->oneByte);
    }
    if (size != size_t(n) * L) return false;
    uint32_t last = 0;
    for (uint32_t r = 0; r < n; ++r) {
        uint8_t rec[4];
        MeasFileRecord out{blockId, 0, std::vector<uint8_t>(L - 4), d > 1 && !layout};
        if (!transposed) {
            std::memcpy(rec, bytes + size_t(r) * L, 4);
            if (L > 4) std::memcpy(out.values.data(), bytes + size_t(r) * L + 4, L - 4);
        } else {
            for (uint32_t b = 0; b < 4; ++b) rec[b] = bytes[r + size_t(b) * n];
            if (d <= 1) {
                for (uint32_t b = 4; b < L; ++b) out.values[b - 4] = bytes[r + size_t(b) * n];
            } else {
                for (uint32_t j = 0; j < S; ++j)
                    for (uint32_t k = 0; k < d; ++k) {
                        uint8_t v = bytes[4 * size_t(n) + size_t(r) * d + size_t(j) * d * n + k];
                        size_t pos = layout ? T[size_t(k) * S + j] - 4 : size_t(k) * S + j;
                        out.values[pos] = v;
                    }
            }
        }
        uint32_t t = be_get32(rec);
        last = r == 0 ? t : last + t;
        out.timeStamp = last;
        records.push_back(std::move(out));
    }
    return true;
}

}  // namespace

bool meas_file_unpackBits(const uint8_t* src, size_t srcLength, uint8_t* dst, size_t dstCapacity,
                          size_t* outLength) {
    size_t in = 0, out = 0;
    while (in < srcLength) {
        int8_t c = int8_t(src[in++]);
        if (c >= 0) {
            size_t n = size_t(c) + 1;
            if (in + n > srcLength || out + n > dstCapacity) return false;
            std::memcpy(dst + out, src + in, n);
            in += n;
            out += n;
        } else {
            size_t n = size_t(2 - c);
            if (in >= srcLength || out + n > dstCapacity) return false;
            std::memset(dst + out, src[in++], n);
            out += n;
        }
    }
    *outLength = out;
    return true;
}

bool meas_file_read(const uint8_t* data, size_t length, MeasFileContent& out, std::string& error,
                    const std::map<uint8_t, MeasFileBlockLayout>* layouts) {
    out = MeasFileContent{};
    if (length < MEAS_FILE_HEADER_LEN) {
        error = at(0, "file shorter than the 42-byte header");
        return false;
    }
    if (!meas_file_parseHeader(data, &out.header, &out.storedCrc)) {
        error = at(0, "not a measurement file header (\"MeasData v6.0\", version 6)");
        return false;
    }
    out.computedCrc = meas_file_headerCrc(data);
    if (out.computedCrc != out.storedCrc) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "header CRC 0x%04X does not match the stored 0x%04X",
                      out.computedCrc, out.storedCrc);
        error = at(20, buf);
        return false;
    }
    out.headerRead = true;
    size_t pos = MEAS_FILE_HEADER_LEN;

    // Block descriptors run up to the client-configuration metadata block;
    // a descriptor cannot start with 0xFF 0x01 (record lengths stay far below 16 MiB).
    uint32_t recordLen[256] = {};
    while (!(pos + 1 < length && data[pos] == 0xFF && data[pos + 1] == MEAS_META_CLIENTCFG)) {
        if (pos + MEAS_FILE_BLOCKDESC_LEN > length) {
            error = at(pos, "file ends inside the block descriptors");
            out.cutAt = pos;
            return false;
        }
        MeasFileBlockDesc d{data[pos], be_get32(data + pos + 1)};
        if (d.id == 0 || recordLen[d.id] != 0 || be_get32(data + pos + 5) != 0 ||
            d.recordLength < 4 || d.recordLength > MEAS_FRAME_MAX_BYTES) {
            error = at(pos, "broken block descriptor");
            return false;
        }
        recordLen[d.id] = d.recordLength;
        out.blocks.push_back(d);
        pos += MEAS_FILE_BLOCKDESC_LEN;
    }

    // Every file opens with client configuration, initial time stamp and car id.
    static const uint8_t kOpening[] = {MEAS_META_CLIENTCFG, MEAS_META_INIT_TS, MEAS_META_CARID};
    std::vector<uint8_t> work(kMaxFrameBytes);
    while (pos < length) {
        const size_t start = pos;
        if (data[pos] == 0xFF) {
            if (pos + MEAS_FILE_METAHEAD_LEN > length) {
                error = at(pos, "file ends inside a metadata head");
                out.cutAt = start;
                return false;
            }
            uint8_t type = data[pos + 1];
            uint32_t len = be_get32(data + pos + 2);
            pos += MEAS_FILE_METAHEAD_LEN;
            size_t expected = type == MEAS_META_CARID       ? MEAS_META_CARID_LEN
                              : type == MEAS_META_TIMEMASTER ? MEAS_META_TIMEMASTER_LEN
                              : (type == MEAS_META_INIT_TS || type == MEAS_META_CLOSE_TS) ? 4
                                                                                          : len;
            if (type == MEAS_META_DYNAMIC || type >= MEAS_META_TYPES) {
                error = at(start, "invalid metadata type");
                return false;
            }
            if (len != expected) {
                error = at(start, "metadata length does not fit its type");
                return false;
            }
            if (len > length - pos) {
                error = at(start, "metadata block runs past the end of the file");
                out.cutAt = start;
                return false;
            }
            size_t k = out.metas.size();
            if (k < sizeof kOpening && type != kOpening[k]) {
                error = at(start, "file does not open with client configuration, time stamp and car id");
                return false;
            }
            out.metas.push_back({start, type, std::vector<uint8_t>(data + pos, data + pos + len)});
            out.items.push_back({MeasFileItem::META, k});
            pos += len;
            continue;
        }
        if (out.metas.size() < sizeof kOpening) {
            error = at(start, "file does not open with client configuration, time stamp and car id");
            return false;
        }
        if (pos + MEAS_FRAME_HEAD > length) {
            error = at(pos, "file ends inside a frame head");
            out.cutAt = start;
            return false;
        }
        MeasFileFrameInfo f{start, data[pos], data[pos + 1], be_get16(data + pos + 2), 0, 1};
        pos += MEAS_FRAME_HEAD;
        const uint32_t L = recordLen[f.blockId];
        if (L == 0) {
            error = at(start, "frame of a block without descriptor");
            return false;
        }
        const MeasFileBlockLayout* layout = nullptr;
        if (layouts) {
            auto it = layouts->find(f.blockId);
            if (it != layouts->end() && it->second.divider > 1) layout = &it->second;
        }
        const uint8_t* bytes;
        size_t size;
        if (f.packedLength == 0) {
            // plain records, in record order
            f.divider = layout ? layout->divider : 1;
            f.records = f.samples / f.divider;
            size = size_t(f.records) * L;
            if (f.records == 0 || f.samples % f.divider != 0) {
                error = at(start, "plain frame does not fit its sample count");
                return false;
            }
            if (size > length - pos) {
                error = at(start, "file ends inside a plain frame");
                out.cutAt = start;
                return false;
            }
            bytes = data + pos;
            pos += size;
        } else {
            if (f.packedLength > length - pos) {
                error = at(start, "file ends inside a packed frame");
                out.cutAt = start;
                return false;
            }
            if (!meas_file_unpackBits(data + pos, f.packedLength, work.data(), work.size(), &size)) {
                error = at(start, "packed frame is broken");
                return false;
            }
            pos += f.packedLength;
            bytes = work.data();
            f.records = uint32_t(size / L);
            bool ok = size % L == 0 && f.records > 0;
            if (ok && layout) {
                f.divider = layout->divider;
                ok = f.samples == uint8_t(f.records * f.divider);
            } else if (ok && f.samples != uint8_t(f.records)) {
                // sub-sampled: the head counts samples, records x divider
                f.divider = f.samples / f.records;
                ok = f.samples % f.records == 0 && f.divider >= 2 && (L - 4) % f.divider == 0;
            }
            if (!ok) {
                error = at(start, "frame size does not match its record length and sample count");
                return false;
            }
        }
        if (f.divider > 1 && (L - 4) % f.divider != 0) {
            error = at(start, "record length does not split into the sub-samples");
            return false;
        }
        if (!restoreRecords(bytes, size, f.packedLength != 0, f.records, L, f.divider, layout, f.blockId,
                            out.records)) {
            error = at(start, "record layout does not match the block's channels");
            return false;
        }
        out.items.push_back({MeasFileItem::FRAME, out.frames.size()});
        out.frames.push_back(f);
    }
    if (out.metas.size() < sizeof kOpening) {
        // every item so far was one of the opening blocks: the writer stopped among them
        error = at(pos, "file ends before its client configuration, time stamp and car id");
        out.cutAt = pos;
        return false;
    }
    return true;
}
