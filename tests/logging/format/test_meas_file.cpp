// Measurement file format: header CRC, packer, frames and read-back.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/kernel/kernel.h"
#include "logging/format/meas_dump.h"
#include "logging/format/meas_file_reader.h"
#include "logging/meas_file_compose.h"

namespace {

// Bit-by-bit reflected CRC-16 (0x8408), independent of the table version.
uint16_t bitwiseCrc(const uint8_t* p, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0x8408) : uint16_t(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> pack(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(MeasFrame_packBound(uint32_t(in.size())));
    out.resize(MeasFrame_packBits(in.data(), out.data(), uint32_t(in.size())));
    return out;
}

MeasFileHeaderInfo sampleHeader() {
    MeasFileHeaderInfo h;
    h.pcode = 0x1234;
    h.lap = 2;
    h.outing = 1;
    h.fragment = 3;
    h.numBlocks = 2;
    h.measIdx = 0;
    uint8_t date[6] = {0x26, 0x12, 0x07, 0x04, 0x33, 0x59};
    std::memcpy(h.bcdDate, date, 6);
    h.absLap = 0x123;
    return h;
}

// measdump run on args (or on one file read `chunk` bytes at a time); its
// exit code, the listing in out (and the messages in err when asked for).
int dump(std::vector<const char*> args, std::string& out, std::string* err = nullptr, size_t chunk = 0) {
    char *ob = nullptr, *eb = nullptr;
    size_t ol = 0, el = 0;
    FILE* o = open_memstream(&ob, &ol);
    FILE* e = open_memstream(&eb, &el);
    const int rc = chunk ? measdump_file(args.back(), args.size() == 3, o, e, chunk)
                         : measdump_main(int(args.size()), args.data(), o, e);
    std::fclose(o);
    std::fclose(e);
    out.assign(ob, ol);
    if (err) err->assign(eb, el);
    std::free(ob);
    std::free(eb);
    return rc;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::fclose(fp);
}

// The smallest status block: its text, the lap stack right after the header
// area, empty, and its end mark.
std::vector<uint8_t> statusBlock() {
    std::vector<uint8_t> sb(126, 0);
    std::memcpy(sb.data(), "StateData V", 12);
    be_put16(sb.data() + 68, 96);   // lap stack at 20 + 96
    be_put16(sb.data() + 86, 0x7000);   // page-01 data beyond the block
    std::memcpy(sb.data() + 118, "LAP_END", 8);
    return sb;
}

// A status block whose page-01 data names the file `name`, its lap stack
// after them with `laps` entries and a count of `count`.
std::vector<uint8_t> namedStatusBlock(const char* name, unsigned laps, unsigned count) {
    std::vector<uint8_t> sb(116 + 448 + 80, 0);
    std::memcpy(sb.data(), "StateData V", 12);
    be_put16(sb.data() + 86, 96);   // page-01 data at 20 + 96
    std::memcpy(sb.data() + 116 + 448, name, std::strlen(name) + 1);
    be_put16(sb.data() + 68, uint16_t(sb.size() - 20));
    sb.resize(sb.size() + 2 + 6 * laps, 0);
    be_put16(sb.data() + sb.size() - 2 - 6 * laps, uint16_t(count));
    sb.insert(sb.end(), {'L', 'A', 'P', '_', 'E', 'N', 'D', 0});
    return sb;
}

// A frame of block 4 (6-byte records) into `file`: per entry a record of the
// time stamp and the values 0x12 and the entry's value.
void frameOfBlock4(ComposedFile& file, const std::vector<std::pair<uint32_t, uint8_t>>& records) {
    MeasFrame* f = MeasFrame_alloc(64, 4096, 6, 1);
    for (const auto& [ts, value] : records) {
        std::vector<uint8_t> r = makeRecord(ts, {0x12, value});
        MeasFrame_put(f, r.data(), 6);
    }
    file.frame(f, 4, 6);
    MeasFrame_free(f);
}

// The three records of block 4 the measdump tests list.
const std::vector<std::pair<uint32_t, uint8_t>> kDumpRecords = {{500, 0x30}, {510, 0x31}, {520, 0x32}};

}  // namespace

TEST(MeasFileHeader, LayoutAndCrcAgainstBitwiseCrc) {
    uint8_t h[MEAS_FILE_HEADER_LEN];
    meas_file_buildHeader(h, sampleHeader());
    const uint8_t start[] = {0x00, 0x2A, 'M', 'e', 'a', 's', 'D', 'a', 't', 'a', ' ', 'v', '6', '.', '0', 0, 0, 0, 0, 6};
    EXPECT_EQ(std::memcmp(h, start, sizeof start), 0);
    EXPECT_EQ(be_get32(h + 22), 0xEDCB1234u);   // ~PCODE, PCODE
    EXPECT_EQ(h[34], 0x26);

    uint8_t zeroed[MEAS_FILE_HEADER_LEN];
    std::memcpy(zeroed, h, sizeof zeroed);
    for (int i : {0, 1, 20, 21, 34, 35, 36, 37, 38, 39}) zeroed[i] = 0;
    EXPECT_EQ(be_get16(h + 20), bitwiseCrc(zeroed, sizeof zeroed, 0xFFFF));
    EXPECT_EQ(meas_file_headerCrc(h), be_get16(h + 20));

    // the date is outside the CRC, every counter inside it
    h[36] = 0x31;
    EXPECT_EQ(meas_file_headerCrc(h), be_get16(h + 20));
    h[30] ^= 1;
    EXPECT_NE(meas_file_headerCrc(h), be_get16(h + 20));
}

TEST(MeasFileHeader, CreationDateFromTheClockAsBcd) {
    const int64_t saved = host::rtcGetUnixMs();
    host::rtcSetUnixMs(1796618010000);   // 2026-12-07 04:33:30
    uint8_t bcd[6];
    get_bcd_time(bcd);
    host::rtcSetUnixMs(saved);
    const uint8_t expected[5] = {0x26, 0x12, 0x07, 0x04, 0x33};   // the seconds may have moved on
    EXPECT_EQ(std::memcmp(bcd, expected, sizeof expected), 0);
}

TEST(MeasFramePack, WorkedExamples) {
    EXPECT_EQ(pack({7, 7, 7}), (std::vector<uint8_t>{0xFF, 7}));
    EXPECT_EQ(pack(std::vector<uint8_t>(130, 9)), (std::vector<uint8_t>{0x80, 9}));
    EXPECT_EQ(pack(std::vector<uint8_t>(131, 9)), (std::vector<uint8_t>{0x80, 9, 0x00, 9}));

    std::vector<uint8_t> literal(129);
    for (size_t i = 0; i < literal.size(); ++i) literal[i] = uint8_t(i);
    std::vector<uint8_t> p = pack(literal);
    ASSERT_EQ(p.size(), 1 + 128 + 1 + 1u);
    EXPECT_EQ(p[0], 0x7F);
    EXPECT_EQ(p[129], 0x00);
    EXPECT_EQ(p[130], 128);

    // two equal bytes stay literal; an empty input packs to nothing
    EXPECT_EQ(pack({1, 1, 2}), (std::vector<uint8_t>{0x02, 1, 1, 2}));
    EXPECT_TRUE(pack({}).empty());
}

TEST(MeasFramePack, RandomRunsRoundTripWithinBound) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> in;
        size_t len = rng() % 5000;
        while (in.size() < len) {
            size_t run = rng() % 4 == 0 ? rng() % 300 : 1;
            in.insert(in.end(), std::min(run, len - in.size()), uint8_t(rng() % 3));
        }
        std::vector<uint8_t> p = pack(in);
        ASSERT_LE(p.size(), MeasFrame_packBound(uint32_t(in.size())));
        std::vector<uint8_t> back(in.size() + 1);
        size_t n = 0;
        ASSERT_TRUE(meas_file_unpackBits(p.data(), p.size(), back.data(), back.size(), &n));
        back.resize(n);
        ASSERT_EQ(back, in);
    }
}

TEST(MeasFramePack, UnpackRefusesTruncatedAndOverlongStreams) {
    uint8_t out[8];
    size_t n;
    const uint8_t shortLiteral[] = {0x03, 1, 2};
    EXPECT_FALSE(meas_file_unpackBits(shortLiteral, sizeof shortLiteral, out, sizeof out, &n));
    const uint8_t runWithoutValue[] = {0xFF};
    EXPECT_FALSE(meas_file_unpackBits(runWithoutValue, 1, out, sizeof out, &n));
    const uint8_t tooLong[] = {0x80, 5};
    EXPECT_FALSE(meas_file_unpackBits(tooLong, 2, out, sizeof out, &n));
}

TEST(MeasFrame, AllocLimitsAndPutResults) {
    MeasFrame* sub = MeasFrame_alloc(64, 4096, 4 + 10 * 4, 10);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->recordsPerFrame, 20u);   // 200 samples at most
    EXPECT_EQ(MeasFrame_free(sub), 0);

    MeasFrame* f = MeasFrame_alloc(64, 100, 40, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->recordsPerFrame, 2u);
    EXPECT_EQ(f->capacity, 80u);
    std::vector<uint8_t> r = makeRecord(1000, std::vector<uint8_t>(36, 1));
    EXPECT_EQ(MeasFrame_put(f, r.data(), 40), 0);
    EXPECT_EQ(MeasFrame_put(f, r.data(), 40), 2);
    EXPECT_EQ(MeasFrame_put(f, r.data(), 40), 1);    // full: nothing stored
    EXPECT_EQ(f->recordsHeld, 2);
    EXPECT_EQ(MeasFrame_put(nullptr, r.data(), 40), 1);
    EXPECT_EQ(MeasFrame_free(f), 3);                 // still holds records

    uint8_t* buf = nullptr;
    uint32_t len = 0, plain = 0, packed = 0;
    EXPECT_EQ(MeasFrame_get(f, 5, &buf, &len, &plain, &packed), 0);
    EXPECT_NE(packed, 0u);                           // recoded on the way out
    EXPECT_EQ(len, 4 + packed);
    EXPECT_EQ(plain, 80u);
    std::free(buf);
    EXPECT_EQ(MeasFrame_getAgeTS(f), 0u);
    EXPECT_EQ(MeasFrame_get(f, 5, &buf, &len, &plain, &packed), 0);
    EXPECT_EQ(buf, nullptr);                         // empty frame: nothing handed out
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(MeasFrame_free(f), 0);
    EXPECT_EQ(MeasFrame_free(nullptr), 0);
    EXPECT_EQ(MeasFrame_get(nullptr, 1, &buf, &len, &plain, &packed), 1);
    EXPECT_EQ(MeasFrame_recode_for_V5_V6(nullptr, 4, nullptr, nullptr), 1);
}

TEST(MeasFrame, DeltaTimeStampsAndByteplanes) {
    MeasFrame* f = MeasFrame_alloc(64, 4096, 6, 1);
    std::vector<uint8_t> a = makeRecord(0xFFFFFFF0u, {0xA1, 0xA2});
    std::vector<uint8_t> b = makeRecord(0x00000010u, {0xB1, 0xB2});    // across the wrap
    MeasFrame_put(f, a.data(), 6);
    MeasFrame_put(f, b.data(), 6);
    uint32_t first = 0, last = 0;
    MeasFrame_recode_for_V5_V6(f, 6, &first, &last);
    EXPECT_EQ(first, 0xFFFFFFF0u);
    EXPECT_EQ(last, 0x10u);
    std::vector<uint8_t> plain(MEAS_FRAME_HEAD + 12);
    size_t n = 0;
    ASSERT_TRUE(meas_file_unpackBits(f->data + MEAS_FRAME_HEAD, f->packedLength, plain.data(), 12, &n));
    // byte b of record r at r + b * 2; second time value is the delta 0x20
    EXPECT_EQ(std::vector<uint8_t>(plain.begin(), plain.begin() + 12),
              (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xF0, 0x20, 0xA1, 0xB1, 0xA2, 0xB2}));
    uint8_t* buf;
    uint32_t len, pl, pk;
    MeasFrame_get(f, 3, &buf, &len, &pl, &pk);
    std::free(buf);
    // the next frame of the block starts again with an absolute time stamp
    std::vector<uint8_t> c = makeRecord(0x30u, {0, 0});
    MeasFrame_put(f, c.data(), 6);
    EXPECT_EQ(be_get32(f->data + MEAS_FRAME_HEAD), 0x30u);
    MeasFrame_recode_for_V5_V6(f, 6, nullptr, nullptr);
    MeasFrame_get(f, 3, &buf, &len, &pl, &pk);
    // a frame handed out holds its packed bytes, not the frame's capacity:
    // a queue of frames a slow drive holds back is as large as it says
    EXPECT_LT(malloc_usable_size(buf), size_t(len) + 64) << "capacity " << f->capacity;
    std::free(buf);
    MeasFrame_free(f);
}

TEST(MeasFileRead, FrameOf64RecordsAndSubSampledBlockRoundTrip) {
    ComposedFile file;
    file.header(sampleHeader());
    const uint32_t L1 = 4 + 4 + 2 + 1;               // u32, u16, u8
    const uint32_t d = 10, L2 = 4 + d * (4 + 2 + 1); // one channel of each size, sub-sampled
    file.descriptor(1, L1);
    file.descriptor(2, L2);
    file.opening(5000, "car 7");

    std::mt19937 rng(7);
    std::vector<MeasFileRecord> expected;
    MeasFrame* f1 = MeasFrame_alloc(64, 4096, L1, 1);
    MeasFrame* f2 = MeasFrame_alloc(64, 4096, L2, d);
    ASSERT_EQ(MeasFrame_HSL_calc_IndexTranslation(f2, 1, 1, 1), 0);
    ASSERT_EQ(f2->recordsPerFrame, 20u);
    uint32_t ts = 0xFFFFF000u;
    for (int i = 0; i < 64; ++i) {
        std::vector<uint8_t> v(L1 - 4);
        for (auto& x : v) x = uint8_t(rng() % 4);
        ts += 10 + rng() % 5;
        std::vector<uint8_t> r = makeRecord(ts, v);
        int res = MeasFrame_put(f1, r.data(), L1);
        ASSERT_EQ(res, i == 63 ? 2 : 0);
        expected.push_back({1, ts, v, false});
    }
    file.frame(f1, 1, L1);
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> v(L2 - 4);
        for (auto& x : v) x = uint8_t(rng());
        ts += 10;
        std::vector<uint8_t> r = makeRecord(ts, v);
        MeasFrame_put(f2, r.data(), L2);
        expected.push_back({2, ts, v, false});
    }
    file.meta(MEAS_META_CLOSE_TS, {0, 0, 0x20, 0});
    file.frame(f2, 2, L2);
    MeasFrame_free(f1);
    MeasFrame_free(f2);

    std::map<uint8_t, MeasFileBlockLayout> layouts{{2, {d, 1, 1, 1}}};
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(file.bytes.data(), file.bytes.size(), c, err, &layouts)) << err;
    EXPECT_EQ(c.header.absLap, 0x123);
    ASSERT_EQ(c.blocks.size(), 2u);
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0].samples, 64);
    EXPECT_EQ(c.frames[1].samples, 200);             // records x divider
    EXPECT_EQ(c.frames[1].divider, d);
    ASSERT_EQ(c.metas.size(), 4u);
    EXPECT_EQ(c.metas[3].type, MEAS_META_CLOSE_TS);
    ASSERT_EQ(c.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(c.records[i].blockId, expected[i].blockId) << i;
        EXPECT_EQ(c.records[i].timeStamp, expected[i].timeStamp) << i;
        EXPECT_EQ(c.records[i].values, expected[i].values) << i;
    }

    // without the layout the divider is found from the frame head and the
    // sub-samples come out one after the other: u32, u16, u8 of sub-sample 0 first
    ASSERT_TRUE(meas_file_read(file.bytes.data(), file.bytes.size(), c, err)) << err;
    const MeasFileRecord& r = c.records[64];
    ASSERT_TRUE(r.subSampleOrder);
    const std::vector<uint8_t>& v = expected[64].values;
    EXPECT_EQ(std::vector<uint8_t>(r.values.begin(), r.values.begin() + 7),
              (std::vector<uint8_t>{v[0], v[1], v[2], v[3], v[40], v[41], v[60]}));
}

TEST(MeasFileRead, SubSampledFrameWithMismatchedChannelCounts) {
    // two one-byte channels at divider 4, but the table was built for one:
    // the frame must not read past the table and the bytes come back in
    // record order
    const uint32_t d = 4, L = 4 + d * 2;
    ComposedFile file;
    file.header(sampleHeader());
    file.descriptor(3, L);
    file.opening(1, "x");
    MeasFrame* f = MeasFrame_alloc(64, 4096, L, d);
    ASSERT_EQ(MeasFrame_HSL_calc_IndexTranslation(f, 0, 0, 1), 0);
    std::vector<uint8_t> v = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> r = makeRecord(900, v);
    MeasFrame_put(f, r.data(), L);
    MeasFrame_put(f, r.data(), L);
    file.frame(f, 3, L);
    MeasFrame_free(f);
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(file.bytes.data(), file.bytes.size(), c, err)) << err;
    ASSERT_EQ(c.records.size(), 2u);
    EXPECT_EQ(c.records[1].values, v);
    EXPECT_EQ(c.records[1].timeStamp, 900u);
}

TEST(MeasFileRead, RefusesBrokenFiles) {
    ComposedFile file;
    file.header(sampleHeader());
    file.descriptor(1, 8);
    file.opening(1, "x");
    MeasFrame* f = MeasFrame_alloc(64, 4096, 8, 1);
    for (uint32_t i = 0; i < 10; ++i) {
        std::vector<uint8_t> r = makeRecord(100 + i, {1, 2, 3, uint8_t(i)});
        MeasFrame_put(f, r.data(), 8);
    }
    file.frame(f, 1, 8);
    MeasFrame_free(f);
    const std::vector<uint8_t> good = file.bytes;
    MeasFileContent c;
    std::string err;
    ASSERT_TRUE(meas_file_read(good.data(), good.size(), c, err)) << err;
    ASSERT_EQ(c.frames.size(), 1u);
    const size_t frameHead = c.frames[0].offset;

    auto broken = [&](size_t offset, uint8_t xorMask) {
        std::vector<uint8_t> b = good;
        b[offset] ^= xorMask;
        return !meas_file_read(b.data(), b.size(), c, err);
    };
    for (size_t i = 0; i < MEAS_FILE_HEADER_LEN; ++i) {
        if (i >= 34 && i <= 39) continue;   // the date is not checked
        EXPECT_TRUE(broken(i, 0x01)) << "header byte " << i;
    }
    EXPECT_TRUE(broken(42, 0x02));                            // descriptor id
    EXPECT_TRUE(broken(47, 0x01));                            // descriptor reserved word
    EXPECT_TRUE(broken(frameHead, 0x04));                     // unknown block
    EXPECT_TRUE(broken(frameHead + 1, 0x01));                 // sample count
    EXPECT_TRUE(broken(frameHead + 3, 0x01));                 // packed length
    EXPECT_TRUE(broken(52, 0x01));                            // opening order (type 1 -> 0)
    std::vector<uint8_t> cut(good.begin(), good.end() - 1);
    EXPECT_FALSE(meas_file_read(cut.data(), cut.size(), c, err));
    EXPECT_FALSE(meas_file_read(good.data(), 41, c, err));
    std::vector<uint8_t> badType = good;
    badType.insert(badType.end(), {0xFF, 8, 0, 0, 0, 0});
    EXPECT_FALSE(meas_file_read(badType.data(), badType.size(), c, err));
}

TEST(MeasDump, ListsGoodFileAndFailsOnFlippedByte) {
    ComposedFile file;
    file.header(sampleHeader());
    file.descriptor(4, 6);
    file.opening(77, "dump car");
    frameOfBlock4(file, kDumpRecords);
    // an event: 00 01 00 01, id, time, duration, kind 3, severity 4, PID 5, texts
    std::vector<uint8_t> ev = {0, 1, 0, 1, 1, 0, 0, 7, 0, 0, 2, 0x58, 0, 0, 0, 0, 3, 4, 0, 5};
    for (const char* t : {"OIL", "low pressure", "VK4"}) ev.insert(ev.end(), t, t + std::strlen(t) + 1);
    file.meta(MEAS_META_EVENT, ev);
    file.meta(MEAS_META_STATUSBLOCK, statusBlock());

    std::string path = (std::filesystem::temp_directory_path() / "measdump_test.dat").string();
    auto run = [&](const std::vector<uint8_t>& bytes, bool csv, std::string& text) {
        writeFile(path, bytes);
        return dump(csv ? std::vector<const char*>{"measdump", "--csv", path.c_str()}
                        : std::vector<const char*>{"measdump", path.c_str()},
                    text);
    };
    std::string text;
    EXPECT_EQ(run(file.bytes, true, text), 0);
    EXPECT_EQ(text, "block,time,values\n4,500,1230\n4,510,1231\n4,520,1232\n");
    EXPECT_EQ(run(file.bytes, false, text), 0);
    EXPECT_NE(text.find("counters: outing 1 lap 2 fragment 3 absolute lap 291"), std::string::npos);
    EXPECT_NE(text.find("\"dump car\""), std::string::npos);
    EXPECT_NE(text.find("block 4: record length 6"), std::string::npos);
    EXPECT_NE(text.find("name: A0102012.303\n"), std::string::npos);
    EXPECT_NE(text.find("id 0x01000007 time 600 duration 0 kind 3 severity 4 pid 0x05 \"OIL\" \"low pressure\" "
                        "app \"VK4\""),
              std::string::npos);
    EXPECT_NE(text.find("(status block) length 126: \"StateData V\" lap stack 0\nok: "), std::string::npos) << text;

    std::vector<uint8_t> flipped = file.bytes;
    flipped[27] ^= 0x10;    // lap number
    EXPECT_EQ(run(flipped, false, text), 1);
    EXPECT_EQ(text, "");    // the header is not trusted: nothing invented

    // a writer that stopped in the middle of the last item: the frames before
    // it are listed, the tail is reported as cut, never as "ok"
    for (size_t cutBytes : {size_t(1), size_t(10)}) {
        std::vector<uint8_t> cut(file.bytes.begin(), file.bytes.end() - long(cutBytes));
        EXPECT_EQ(run(cut, false, text), 3) << cutBytes;
        EXPECT_NE(text.find("counters: outing 1 lap 2"), std::string::npos);
        EXPECT_NE(text.find("record time 520"), std::string::npos);
        EXPECT_NE(text.find("cut: "), std::string::npos);
        EXPECT_EQ(text.find("ok:"), std::string::npos);
    }
    std::remove(path.c_str());
    const char* noFile[] = {"measdump", "/nonexistent/file"};
    FILE* devnull = std::fopen("/dev/null", "w");
    EXPECT_EQ(measdump_main(2, noFile, devnull, devnull), 2);
    EXPECT_EQ(measdump_main(1, noFile, devnull, devnull), 2);
    std::fclose(devnull);
}

// A status block tells of its own file: one that names another file, or whose
// lap stack count runs past its entries, does not fit it. The file is listed
// as it is, said not to fit, and not called sound.
TEST(MeasDump, StatusBlockThatDoesNotFitItsFileIsBroken) {
    const std::string path = (std::filesystem::temp_directory_path() / "measdump_sb_test.dat").string();
    struct Case {
        const char* what;
        std::vector<uint8_t> block;
        const char* why;   // nullptr: it fits
    } cases[] = {
        {"its own file, two laps", namedStatusBlock("A0102012.303", 2, 2), nullptr},
        {"another file", namedStatusBlock("A0102012.304", 2, 2),
         "it names the file \"A0102012.304\", not A0102012.303"},
        {"a lap count raised", namedStatusBlock("A0102012.303", 2, 3),
         "its lap stack count 3 is not followed by the stack's end (LAP_END)"},
    };
    for (const Case& c : cases) {
        ComposedFile file;
        file.header(sampleHeader());
        file.descriptor(4, 6);
        file.opening(77, "dump car");
        frameOfBlock4(file, kDumpRecords);
        file.meta(MEAS_META_STATUSBLOCK, c.block);
        writeFile(path, file.bytes);
        std::string out, err;
        EXPECT_EQ(dump({"measdump", path.c_str()}, out, &err), c.why ? 1 : 0) << c.what << err;
        EXPECT_NE(out.find("record time 520"), std::string::npos) << c.what << out;
        EXPECT_NE(out.find("file \"A0102012.30"), std::string::npos) << c.what << out;
        if (!c.why) {
            EXPECT_NE(out.find("ok: "), std::string::npos) << c.what << out;
            continue;
        }
        EXPECT_EQ(out.find("ok: "), std::string::npos) << c.what << out;
        EXPECT_NE(out.find(std::string("does not fit the file: ") + c.why + "\n"), std::string::npos) << c.what << out;
        EXPECT_NE(err.find(std::string("does not fit the file: ") + c.why), std::string::npos) << c.what << err;
        EXPECT_EQ(dump({"measdump", "--csv", path.c_str()}, out, &err), 1) << c.what;
    }
    std::remove(path.c_str());
}

// --help prints the usage on the standard output and succeeds; an unknown
// option is a usage error, not a file that cannot be read.
TEST(MeasDump, HelpAndUnknownOptionsGiveTheUsage) {
    auto run = [](std::vector<const char*> args, std::string& out, std::string& err) { return dump(args, out, &err); };
    std::string out, err;
    EXPECT_EQ(run({"measdump", "--help"}, out, err), 0);
    EXPECT_EQ(out.rfind("usage: measdump [--csv] FILE\n", 0), 0u) << out;
    EXPECT_EQ(err, "");
    EXPECT_EQ(run({"measdump", "--verbose", "x.dat"}, out, err), 2);
    EXPECT_EQ(err.rfind("usage: measdump", 0), 0u) << err;
    EXPECT_EQ(err.find("cannot read"), std::string::npos);
    EXPECT_EQ(run({"measdump", "a.dat", "b.dat"}, out, err), 2);
    EXPECT_EQ(err.rfind("usage: measdump", 0), 0u) << err;
}

// A file ends with its closing status block; one that ends without it was
// cut off (a writer that stopped between two items, or before the first):
// what it holds is listed, and it is never called sound.
TEST(MeasDump, FileWithoutItsClosingStatusBlockIsCutOff) {
    ComposedFile file;
    file.header(sampleHeader());
    const size_t headerOnly = file.bytes.size();
    file.descriptor(4, 6);
    file.opening(77, "dump car");
    const size_t opened = file.bytes.size();
    frameOfBlock4(file, kDumpRecords);
    // a periodic status block in the middle does not close the file
    file.meta(MEAS_META_STATUSBLOCK, statusBlock());
    frameOfBlock4(file, {{530, 0x40}});
    const std::vector<uint8_t> atFrameEnd = file.bytes;
    file.meta(MEAS_META_STATUSBLOCK, statusBlock());

    const std::string path = (std::filesystem::temp_directory_path() / "measdump_cut_test.dat").string();
    std::string out, err;
    auto run = [&](const std::vector<uint8_t>& bytes, bool csv = false) {
        writeFile(path, bytes);
        return dump(csv ? std::vector<const char*>{"measdump", "--csv", path.c_str()}
                        : std::vector<const char*>{"measdump", path.c_str()},
                    out, &err);
    };
    EXPECT_EQ(run(file.bytes), 0) << err;
    EXPECT_NE(out.find("ok: 1 blocks, 5 metadata blocks, 2 frames, 4 records\n"), std::string::npos) << out;

    EXPECT_EQ(run(atFrameEnd), 3);
    EXPECT_NE(out.find("record time 530"), std::string::npos) << out;
    EXPECT_NE(out.find("cut: the file ends without its closing status block; 4 records\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("ok:"), std::string::npos) << out;
    EXPECT_NE(err.find("file cut: it ends without its closing status block"), std::string::npos) << err;
    EXPECT_EQ(run(atFrameEnd, true), 3);
    EXPECT_NE(out.find("4,530,1240\n"), std::string::npos) << out;

    // the file's own header items only, then less of them
    EXPECT_EQ(run({file.bytes.begin(), file.bytes.begin() + long(opened)}), 3);
    EXPECT_NE(out.find("block 4: record length 6\n"), std::string::npos) << out;
    EXPECT_NE(out.find("cut: the file ends without its closing status block; 0 records\n"), std::string::npos)
        << out;
    for (size_t end : {opened - 1, opened - 60, headerOnly + 9, headerOnly + 4, headerOnly}) {
        EXPECT_EQ(run({file.bytes.begin(), file.bytes.begin() + long(end)}), 3) << end;
        EXPECT_NE(out.find("counters: outing 1 lap 2 fragment 3"), std::string::npos) << end;
        EXPECT_NE(out.find("cut: "), std::string::npos) << end << out;
        EXPECT_EQ(out.find("ok:"), std::string::npos) << end;
    }
    // cut inside the 42-byte header, down to the empty file: nothing can be
    // listed, but the file is cut off, not broken
    for (size_t end : {headerOnly - 1, size_t(20), size_t(1), size_t(0)}) {
        for (bool csv : {false, true}) {
            EXPECT_EQ(run({file.bytes.begin(), file.bytes.begin() + long(end)}, csv), 3) << end;
            EXPECT_EQ(out.find("counters:"), std::string::npos) << end << out;
            EXPECT_NE(err.find("file cut: offset 0: file ends inside its 42-byte header"), std::string::npos)
                << end << err;
            if (!csv) {
                EXPECT_EQ(out.rfind("cut: ", 0), 0u) << end << out;
            }
        }
    }
    // a start that no measurement file has is broken however short it is
    std::vector<uint8_t> notAHeader(file.bytes.begin(), file.bytes.begin() + 20);
    notAHeader[5] ^= 0x20;
    EXPECT_EQ(run(notAHeader), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("not a measurement file header"), std::string::npos) << err;
    std::remove(path.c_str());
}

// Only regular files are read, and none larger than a measurement file can
// grow (its byte counts are 32-bit): a device, a FIFO without a writer or a
// huge sparse file are refused at once as unreadable.
TEST(MeasDump, ReadsOnlyRegularFilesOfAMeasurementFilesSize) {
    std::string out, err;
    EXPECT_EQ(dump({"measdump", "/dev/zero"}, out, &err), 2);
    EXPECT_EQ(err, "measdump: cannot read /dev/zero: not a regular file\n");
    EXPECT_EQ(out, "");

    const auto dir = std::filesystem::temp_directory_path() / ("measdump_files_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(dump({"measdump", "--csv", fifo.c_str()}, out, &err), 2);
    EXPECT_EQ(err, "measdump: cannot read " + fifo + ": not a regular file\n");
    EXPECT_EQ(dump({"measdump", dir.c_str()}, out, &err), 2);
    EXPECT_EQ(err, "measdump: cannot read " + dir.string() + ": not a regular file\n");

    const std::string huge = (dir / "huge.dat").string();
    FILE* fp = std::fopen(huge.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(ftruncate(fileno(fp), off_t(MEAS_FILE_MAX_BYTES) + 1), 0);
    std::fclose(fp);
    EXPECT_EQ(dump({"measdump", huge.c_str()}, out, &err), 2);
    EXPECT_EQ(err, "measdump: cannot read " + huge + ": too large (4294967296 bytes) for a measurement file\n");
    std::filesystem::remove_all(dir);
}

namespace {

// Peak resident memory of this process (kB) since the last resetPeakMemory().
long peakMemoryKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

bool resetPeakMemory() {
    FILE* fp = std::fopen("/proc/self/clear_refs", "w");
    if (!fp) return false;
    const bool ok = std::fputs("5", fp) >= 0;
    return std::fclose(fp) == 0 && ok;
}

}  // namespace

// A large file costs time, not memory: its header is judged from its first
// 42 bytes, and the items after it are read piece by piece, so a large file
// with a foreign header is refused at once, and one whose first metadata
// block claims more than the file holds is read through in bounded memory
// and reported cut.
TEST(MeasDump, LargeFilesAreReadInBoundedMemory) {
    if (!resetPeakMemory()) GTEST_SKIP() << "the peak memory of a process cannot be reset here";
    const auto dir = std::filesystem::temp_directory_path() / ("measdump_large_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const off_t kLarge = off_t(256) << 20;
    auto sparse = [&](const char* name, const std::vector<uint8_t>& start) {
        const std::string path = (dir / name).string();
        writeFile(path, start);
        EXPECT_EQ(truncate(path.c_str(), kLarge), 0);   // holes: no disk space taken
        return path;
    };
    const std::string foreign = sparse("foreign.dat", {});
    ComposedFile file;
    file.header(sampleHeader());
    file.descriptor(4, 6);
    uint8_t head[MEAS_FILE_METAHEAD_LEN];
    meas_file_putMetaHead(head, MEAS_META_CLIENTCFG, 0xF0000000u);
    file.append(head, sizeof head);
    const std::string claimed = sparse("claimed.dat", file.bytes);

    std::string out, err;
    const long before = peakMemoryKb();
    EXPECT_EQ(dump({"measdump", foreign.c_str()}, out, &err), 1);
    EXPECT_NE(err.find("not a measurement file header"), std::string::npos) << err;
    EXPECT_EQ(dump({"measdump", claimed.c_str()}, out, &err), 3);
    EXPECT_NE(out.find("block 4: record length 6\n"), std::string::npos) << out;
    EXPECT_NE(err.find("metadata block runs past the end of the file"), std::string::npos) << err;
    const long grown = peakMemoryKb() - before;
    EXPECT_LT(grown, 32 * 1024) << "kB more at the peak while reading two 256 MiB files";
    std::filesystem::remove_all(dir);
}

// The file is read a chunk at a time: wherever the chunks end (inside the
// header, a metadata head, a frame), the listing, the cut and the fault
// found are those of the file read whole.
TEST(MeasDump, ChunksOfAnySizeListTheSame) {
    ComposedFile file;
    file.header(sampleHeader());
    file.descriptor(4, 6);
    file.opening(77, "dump car");
    frameOfBlock4(file, kDumpRecords);
    const uint8_t plainHead[] = {4, 2, 0, 0};   // two plain records of block 4
    file.append(plainHead, sizeof plainHead);
    for (uint32_t ts : {600u, 610u}) {
        std::vector<uint8_t> r = makeRecord(ts, {0x21, uint8_t(ts)});
        file.append(r.data(), r.size());
    }
    std::vector<uint8_t> ev = {0, 1, 0, 1, 1, 0, 0, 7, 0, 0, 2, 0x58, 0, 0, 0, 0, 3, 4, 0, 5};
    for (const char* t : {"OIL", "low pressure", "VK4"}) ev.insert(ev.end(), t, t + std::strlen(t) + 1);
    file.meta(MEAS_META_EVENT, ev);
    file.meta(MEAS_META_STATUSBLOCK, statusBlock());
    MeasFileContent whole;
    std::string error;
    ASSERT_TRUE(meas_file_read(file.bytes.data(), file.bytes.size(), whole, error)) << error;
    ASSERT_EQ(whole.frames.size(), 2u);

    std::vector<uint8_t> flipped = file.bytes;
    flipped[whole.frames[1].offset + 1] ^= 0x01;   // a plain frame of three records' size
    const std::vector<std::vector<uint8_t>> files = {
        file.bytes, {file.bytes.begin(), file.bytes.end() - 10}, flipped, {file.bytes.begin(), file.bytes.begin() + 30}};
    const std::string path = (std::filesystem::temp_directory_path() / "measdump_chunk_test.dat").string();
    for (size_t i = 0; i < files.size(); ++i) {
        writeFile(path, files[i]);
        for (bool csv : {false, true}) {
            std::vector<const char*> args{"measdump", path.c_str()};
            if (csv) args.insert(args.begin() + 1, "--csv");
            std::string out, err;
            const int rc = dump(args, out, &err);
            if (i == 0 && !csv) {
                // read whole, then listed: the same as read in pieces
                char* text = nullptr;
                size_t len = 0;
                FILE* fp = open_memstream(&text, &len);
                measdump_list(whole, fp);
                std::fclose(fp);
                EXPECT_EQ(out, std::string(text, len));
                std::free(text);
            }
            for (size_t chunk : {1, 2, 5, 41, 43, 100}) {
                std::string chunkOut, chunkErr;
                EXPECT_EQ(dump(args, chunkOut, &chunkErr, chunk), rc) << i << " " << chunk;
                EXPECT_EQ(chunkOut, out) << i << " " << chunk;
                EXPECT_EQ(chunkErr, err) << i << " " << chunk;
            }
        }
    }
    std::remove(path.c_str());
}
