// Read-back of measurement files (checks, frame unpacking, record restore).
#include "logging/format/meas_file_reader.h"

#include <cstdio>
#include <cstring>

#include "logging/format/meas_file_window.h"
#include "logging/format/meas_frame.h"

namespace {

// Largest record area a frame can carry (its packed length is 16 bits).
constexpr size_t kMaxFrameBytes = 65536;

std::string at(size_t offset, const char* what) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "offset %zu: %s", offset, what);
    return buf;
}

// A file held in memory, handed out a chunk at a time.
class MemorySource : public MeasFileSource {
public:
    MemorySource(const uint8_t* data, size_t length) : data_(data), left_(length) {}
    long read(uint8_t* to, size_t n, std::string&) override {
        n = n < left_ ? n : left_;
        if (n) std::memcpy(to, data_, n);
        data_ += n;
        left_ -= n;
        return long(n);
    }

private:
    const uint8_t* data_;
    size_t left_;
};

// Keeps every item in a MeasFileContent.
class ContentSink : public MeasFileSink {
public:
    explicit ContentSink(MeasFileContent& c) : c_(c) {}
    void header(const MeasFileHeaderInfo& info, uint16_t crc) override {
        c_.headerRead = true;
        c_.header = info;
        c_.storedCrc = c_.computedCrc = crc;
    }
    void block(const MeasFileBlockDesc& d) override { c_.blocks.push_back(d); }
    void meta(const MeasFileMeta& m) override {
        c_.items.push_back({MeasFileItem::META, c_.metas.size()});
        c_.metas.push_back(m);
    }
    void frame(const MeasFileFrameInfo& f, std::vector<MeasFileRecord>& records) override {
        c_.items.push_back({MeasFileItem::FRAME, c_.frames.size()});
        c_.frames.push_back(f);
        for (MeasFileRecord& r : records) c_.records.push_back(std::move(r));
    }

private:
    MeasFileContent& c_;
};

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

namespace {

// A fault of the file at `offset`; a cut one (its end came first) also
// says where the item it cut begins.
bool fault(MeasFileReadEnd& end, size_t offset, const char* what, bool cut = false) {
    end.error = at(offset, what);
    if (cut) end.cutAt = offset;
    return false;
}

bool parse(MeasFileWindow& w, MeasFileSink& sink, const MeasFileReadOptions& opt, MeasFileReadEnd& end) {
    // The header decides whether this is a measurement file at all.
    if (!w.need(MEAS_FILE_HEADER_LEN)) {
        if (meas_file_headerStart(w.data(), w.available()))
            return fault(end, 0, "file ends inside its 42-byte header", true);
        return fault(end, 0, "not a measurement file header (\"MeasData v6.0\", version 6)");
    }
    MeasFileHeaderInfo header;
    uint16_t storedCrc = 0;
    if (!meas_file_parseHeader(w.data(), &header, &storedCrc))
        return fault(end, 0, "not a measurement file header (\"MeasData v6.0\", version 6)");
    const uint16_t computedCrc = meas_file_headerCrc(w.data());
    if (computedCrc != storedCrc) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "header CRC 0x%04X does not match the stored 0x%04X", computedCrc,
                      storedCrc);
        return fault(end, 20, buf);
    }
    sink.header(header, storedCrc);
    w.take(MEAS_FILE_HEADER_LEN);

    // Block descriptors run up to the client-configuration metadata block;
    // a descriptor cannot start with 0xFF 0x01 (record lengths stay far below 16 MiB).
    uint32_t recordLen[256] = {};
    while (!(w.need(2) && w.data()[0] == 0xFF && w.data()[1] == MEAS_META_CLIENTCFG)) {
        const size_t pos = w.offset();
        if (!w.need(MEAS_FILE_BLOCKDESC_LEN)) return fault(end, pos, "file ends inside the block descriptors", true);
        const uint8_t* d = w.data();
        const MeasFileBlockDesc desc{d[0], be_get32(d + 1)};
        if (desc.id == 0 || recordLen[desc.id] != 0 || be_get32(d + 5) != 0 || desc.recordLength < 4 ||
            desc.recordLength > MEAS_FRAME_MAX_BYTES)
            return fault(end, pos, "broken block descriptor");
        recordLen[desc.id] = desc.recordLength;
        sink.block(desc);
        w.take(MEAS_FILE_BLOCKDESC_LEN);
    }

    // Every file opens with client configuration, initial time stamp and car id.
    static const uint8_t kOpening[] = {MEAS_META_CLIENTCFG, MEAS_META_INIT_TS, MEAS_META_CARID};
    size_t metas = 0;
    std::vector<uint8_t> work(kMaxFrameBytes);
    std::vector<MeasFileRecord> records;
    while (w.need(1)) {
        const size_t start = w.offset();
        if (w.data()[0] == 0xFF) {
            if (!w.need(MEAS_FILE_METAHEAD_LEN)) return fault(end, start, "file ends inside a metadata head", true);
            const uint8_t type = w.data()[1];
            const uint32_t len = be_get32(w.data() + 2);
            w.take(MEAS_FILE_METAHEAD_LEN);
            const size_t expected = type == MEAS_META_CARID       ? MEAS_META_CARID_LEN
                                    : type == MEAS_META_TIMEMASTER ? MEAS_META_TIMEMASTER_LEN
                                    : (type == MEAS_META_INIT_TS || type == MEAS_META_CLOSE_TS) ? 4
                                                                                                : len;
            if (type == MEAS_META_DYNAMIC || type >= MEAS_META_TYPES) return fault(end, start, "invalid metadata type");
            if (len != expected) return fault(end, start, "metadata length does not fit its type");
            const size_t keep = len < opt.metaKeep ? len : opt.metaKeep;
            if (!w.need(keep)) return fault(end, start, "metadata block runs past the end of the file", true);
            MeasFileMeta meta{start, type, std::vector<uint8_t>(w.data(), w.data() + keep), len};
            w.take(keep);
            if (!w.skip(len - keep)) return fault(end, start, "metadata block runs past the end of the file", true);
            if (metas < sizeof kOpening && type != kOpening[metas])
                return fault(end, start, "file does not open with client configuration, time stamp and car id");
            ++metas;
            sink.meta(meta);
            continue;
        }
        if (metas < sizeof kOpening)
            return fault(end, start, "file does not open with client configuration, time stamp and car id");
        if (!w.need(MEAS_FRAME_HEAD)) return fault(end, start, "file ends inside a frame head", true);
        const uint8_t* head = w.data();
        MeasFileFrameInfo f{start, head[0], head[1], be_get16(head + 2), 0, 1};
        w.take(MEAS_FRAME_HEAD);
        const uint32_t L = recordLen[f.blockId];
        if (L == 0) return fault(end, start, "frame of a block without descriptor");
        const MeasFileBlockLayout* layout = nullptr;
        if (opt.layouts) {
            auto it = opt.layouts->find(f.blockId);
            if (it != opt.layouts->end() && it->second.divider > 1) layout = &it->second;
        }
        const uint8_t* bytes;
        size_t size, passed;
        if (f.packedLength == 0) {
            // plain records, in record order
            f.divider = layout ? layout->divider : 1;
            f.records = f.samples / f.divider;
            size = size_t(f.records) * L;
            if (f.records == 0 || f.samples % f.divider != 0)
                return fault(end, start, "plain frame does not fit its sample count");
            if (!w.need(size)) return fault(end, start, "file ends inside a plain frame", true);
            bytes = w.data();
            passed = size;
        } else {
            if (!w.need(f.packedLength)) return fault(end, start, "file ends inside a packed frame", true);
            if (!meas_file_unpackBits(w.data(), f.packedLength, work.data(), work.size(), &size))
                return fault(end, start, "packed frame is broken");
            passed = f.packedLength;
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
            if (!ok) return fault(end, start, "frame size does not match its record length and sample count");
        }
        if (f.divider > 1 && (L - 4) % f.divider != 0)
            return fault(end, start, "record length does not split into the sub-samples");
        records.clear();
        if (!restoreRecords(bytes, size, f.packedLength != 0, f.records, L, f.divider, layout, f.blockId, records))
            return fault(end, start, "record layout does not match the block's channels");
        w.take(passed);
        sink.frame(f, records);
    }
    if (metas < sizeof kOpening)
        // every item so far was one of the opening blocks: the writer stopped among them
        return fault(end, w.offset(), "file ends before its client configuration, time stamp and car id", true);
    return true;
}

}  // namespace

bool meas_file_stream(MeasFileSource& source, MeasFileSink& sink, const MeasFileReadOptions& options,
                      MeasFileReadEnd& end) {
    end = MeasFileReadEnd{};
    MeasFileWindow w(source, options.chunk);
    const bool ok = parse(w, sink, options, end);
    end.length = w.length();
    if (w.failed()) {   // what looked like the file's end was a read that failed
        end.unreadable = true;
        end.error = w.why();
        end.cutAt = SIZE_MAX;
        return false;
    }
    return ok;
}

bool meas_file_read(const uint8_t* data, size_t length, MeasFileContent& out, std::string& error,
                    const std::map<uint8_t, MeasFileBlockLayout>* layouts) {
    out = MeasFileContent{};
    MemorySource source(data, length);
    ContentSink sink(out);
    MeasFileReadOptions options;
    options.layouts = layouts;
    MeasFileReadEnd end;
    const bool ok = meas_file_stream(source, sink, options, end);
    error = end.error;
    out.cutAt = end.cutAt;
    return ok;
}
