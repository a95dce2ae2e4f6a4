// CAN output: composition from gateway values and constants, scaling and
// limits, counters, checksums against independent implementations, the rate
// limit, the start delay, event messages and configuration errors.
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "can_fixture.h"
#include "measurement/catalogue.h"
#include "platform/raster.h"
#include "platform/timebase.h"

namespace {

void outMb(unsigned idx, uint32_t id, unsigned dlc, int32_t raster, unsigned intf = 0) {
    CanOutMailBox& m = CanOutMailBoxConf[idx];
    m = {};
    m.intf = intf;
    m.canId = id;
    m.canDlc = uint8_t(dlc);
    m.length = uint8_t(canDLC2length(dlc));
    m.fdf = dlc > 8;
    m.event = raster;
}

CanOutSignal& entry(unsigned ch, uint32_t kind, unsigned msg, unsigned sBit, unsigned len, bool be = false) {
    CanOutSignal& s = CanOutSignalConf[ch];
    s = {};
    s.kind = kind;
    s.msgIdx = msg;
    s.sBit = uint16_t(sBit);
    s.len = uint8_t(len);
    s.bigEndian = be;
    return s;
}

CanOutSignal& measured(unsigned ch, unsigned msg, const char* name, uint8_t type, unsigned sBit, unsigned len,
                       bool be = false, float fact = 1.0f, float offs = 0.0f, bool isSigned = false) {
    CanOutSignal& s = entry(ch, CANOUT_SIGNAL, msg, sBit, len, be);
    s.addr = catalogue_addr(name);
    EXPECT_NE(s.addr, 0u) << name;
    s.dataType = type;
    s.fact = fact;
    s.offs = offs;
    s.isSigned = isSigned;
    return s;
}

void constant(unsigned ch, unsigned msg, unsigned sBit, unsigned len, uint32_t value, bool be = false,
              unsigned rightShift = 0) {
    CanOutSignal& s = entry(ch, CANOUT_CONSTANT, msg, sBit, len, be);
    s.constant = value;
    s.rightShift = uint8_t(rightShift);
}

// One raster tick of the measurement core, as the raster task runs it.
void gatewayTick(unsigned raster) {
    static uint32_t ts = 0;
    meas_man_copy_raster(raster, ts += 100);
    gw_distribute(raster);
}

// Independent placement: the field's bits, one by one, as the numbering defines them.
std::vector<uint8_t> referencePlace(unsigned len, unsigned sBit, bool be, uint64_t value, unsigned size) {
    std::vector<uint8_t> d(size);
    for (unsigned k = 0; k < len; ++k) {
        const unsigned bit = unsigned(value >> k) & 1u;
        if (!be) {
            const unsigned n = sBit + k;
            d[n >> 3] |= uint8_t(bit << (n & 7));
        } else {
            const unsigned n = sBit + len - 1 - k;   // value bit 0 sits at the field's last position
            d[n >> 3] |= uint8_t(bit << (7 - (n & 7)));
        }
    }
    return d;
}

uint8_t bitwiseCrc8(const std::vector<uint8_t>& data, uint8_t poly) {
    uint8_t crc = 0xFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = uint8_t(crc & 0x80 ? (crc << 1) ^ poly : crc << 1);
    }
    return uint8_t(crc ^ 0xFF);
}

uint8_t referenceChecksum(int type, const std::vector<uint8_t>& covered) {
    unsigned x = 0, sum = 0;
    for (uint8_t b : covered) {
        x ^= b;
        sum += b;
    }
    switch (type) {
    case 1: return uint8_t(x);
    case 2: return uint8_t(~x);
    case 10: return uint8_t(sum);
    case 11: return uint8_t(~sum);
    case 12: {
        while (sum > 255) sum = (sum & 0xFF) + (sum >> 8);
        return uint8_t(sum);
    }
    case 20: return bitwiseCrc8(covered, 0x1D);
    case 21: return bitwiseCrc8(covered, 0x2F);
    default: return 0;
    }
}

uint32_t applMs() {
    timespec t{};
    clock_appltime(&t);
    return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

}  // namespace

TEST_F(CanTest, MeasuredValuesAreScaledLimitedAndPlaced) {
    outMb(0, 0x300, 8, RASTER_10MS);
    measured(0, 0, "n_engine", GW_FLOAT32, 8, 16);                    // low byte to 1, high byte to 2
    measured(1, 0, "t_water", GW_FLOAT32, 24, 8, false, 0.1f);        // raw = value / 0.1
    measured(2, 0, "throttle", GW_FLOAT32, 32, 8, false, 1.0f, 0.0f, true);
    measured(3, 0, "gear", GW_INT8, 44, 12, true, 1.0f, 0.0f, true);  // big-endian, signed
    constant(4, 0, 60, 4, 0xA);
    ASSERT_EQ(CanOut_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CanOut_Init: CanOut configured 5 signals in 1 messages"));

    // before any value arrived the fields are zero
    CanOut_send_message(RASTER_10MS);
    auto f = sent();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(bytesOf(f[0]), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0xA0}));

    signalPage()->n_engine = 4660.0f;
    signalPage()->t_water = 25.5f;
    signalPage()->throttle = -200.0f;
    signalPage()->gear = -3;
    gatewayTick(RASTER_10MS);
    CanOut_send_message(RASTER_10MS);
    f = sent();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].id, 0x300u);
    EXPECT_EQ(bytesOf(f[0]), (std::vector<uint8_t>{0, 0x34, 0x12, 255, 0x80, 0x0F, 0xFD, 0xA0}));

    signalPage()->t_water = 30.0f;      // 300 does not fit 8 bits
    signalPage()->n_engine = 1.5f;      // rounded half away from zero
    signalPage()->throttle = -2.5f;
    gatewayTick(RASTER_10MS);
    CanOut_send_message(RASTER_10MS);
    f = sent();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].data[1], 2);
    EXPECT_EQ(f[0].data[3], 255);
    EXPECT_EQ(f[0].data[4], 0xFD);
}

TEST_F(CanTest, OffsetFloatTargetsMasksAndRightShift) {
    outMb(0, 0x301, 8, RASTER_10MS);
    measured(0, 0, "t_oil", GW_FLOAT32, 0, 16, false, 0.1f, -40.0f);   // (80.4 + 40) / 0.1 = 1204
    CanOutSignal& fl = measured(1, 0, "t_air", GW_FLOAT32, 16, 32);
    fl.isFloat = 1;
    CanOutSignal& m = measured(2, 0, "stim_tick", GW_UINT32, 48, 8, false, 0.0f, 0.0f);
    m.mask = 0x0000FF00;   // no conversion: the masked byte, moved down
    CanOutSignal& z = measured(3, 0, "stim_tick", GW_UINT32, 56, 8, false, 0.0f, 0.0f);
    z.mask = 0;            // the whole value
    z.rightShift = 4;
    ASSERT_EQ(CanOut_init(), 0);
    signalPage()->t_oil = 80.4f;
    signalPage()->t_air = 21.25f;
    signalPage()->stim_tick = 0x12345678;
    gatewayTick(RASTER_10MS);
    CanOut_send_message(RASTER_10MS);
    auto f = sent();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].data[0] | f[0].data[1] << 8, 1204);
    float back;
    std::memcpy(&back, f[0].data + 2, 4);
    EXPECT_EQ(back, 21.25f);
    EXPECT_EQ(f[0].data[6], 0x56);
    EXPECT_EQ(f[0].data[7], 0x67);
}

TEST_F(CanTest, RandomFieldsArePlacedBitByBit) {
    std::mt19937 rng(4141);
    struct Field {
        unsigned sBit, len, shift;
        bool be;
        uint32_t value;
    };
    std::map<uint32_t, Field> fields;
    for (unsigned i = 0; i < 100; ++i) {
        Field f;
        f.len = 1 + rng() % 64;
        f.be = rng() & 1;
        f.sBit = rng() % (512 - f.len + 1);
        f.shift = rng() % 4 == 0 ? rng() % 12 : 0;
        f.value = uint32_t(rng());
        fields[0x400 + i] = f;
        outMb(i, 0x400 + i, 15, RASTER_20MS);
        constant(i, i, f.sBit, f.len, f.value, f.be, f.shift);
    }
    ASSERT_EQ(CanOut_init(), 0);
    CanOut_send_message(RASTER_20MS);
    auto out = sent();
    ASSERT_EQ(out.size(), 100u);
    for (const auto& fr : out) {
        const Field& f = fields.at(fr.id);
        EXPECT_EQ(bytesOf(fr), referencePlace(f.len, f.sBit, f.be, uint64_t(f.value) >> f.shift, 64))
            << "id " << fr.id << " sBit " << f.sBit << " len " << f.len << " be " << f.be;
    }
    // sent in priority order: lower identifiers first
    for (size_t i = 1; i < out.size(); ++i) EXPECT_LT(out[i - 1].id, out[i].id);
}

TEST_F(CanTest, CountersStepAndChecksumsMatchIndependentImplementations) {
    const int types[] = {1, 2, 10, 11, 12, 20, 21};
    for (unsigned i = 0; i < 7; ++i) {
        outMb(i, 0x500 + i, 8, RASTER_10MS);
        for (unsigned b = 0; b < 6; ++b) constant(i * 10 + b, i, b * 8, 8, 0x11 * (b + 1) + i * 7);
        CanOutSignal& c = entry(i * 10 + 6, CANOUT_COUNTER, i, 48, 4);
        c.start = 1;
        c.end = 15;
        CanOutSignal& k = entry(i * 10 + 7, CANOUT_CHECKSUM, i, 56, 8);
        k.chkType = uint8_t(types[i]);
        k.chkSumByteMask = 0xFF;   // its own byte is left out
    }
    // CAN FD: bytes from 32 on never take part; byte 31 does when bit 31 or
    // any bit of the upper mask word is set
    outMb(7, 0x5FF, 15, RASTER_10MS);
    constant(100, 7, 8 * 5, 8, 0x11);
    constant(101, 7, 8 * 31, 8, 0x5A);
    constant(103, 7, 8 * 40, 8, 0xC3);
    constant(104, 7, 8 * 63, 8, 0x3C);
    CanOutSignal& k = entry(102, CANOUT_CHECKSUM, 7, 0, 8);
    k.chkType = 1;
    k.chkSumByteMask = (1ull << 5) | (1ull << 40) | (1ull << 63);
    ASSERT_EQ(CanOut_init(), 0);

    std::map<uint32_t, std::vector<unsigned>> counters;
    for (int n = 0; n < 17; ++n) {
        CanOut_send_message(RASTER_10MS);
        for (const auto& f : sent()) {
            if (f.id == 0x5FF) {
                EXPECT_EQ(f.data[0], 0x11 ^ 0x5A);
                continue;
            }
            const int type = types[f.id - 0x500];
            std::vector<uint8_t> covered(f.data, f.data + 7);
            EXPECT_EQ(f.data[7], referenceChecksum(type, covered)) << "type " << type;
            counters[f.id].push_back(f.data[6] & 0x0F);
        }
    }
    // the counter starts at 0, climbs to its end and wraps to its start
    const std::vector<unsigned> want = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 1};
    for (unsigned i = 0; i < 7; ++i) EXPECT_EQ(counters[0x500 + i], want);

    // known check values and random data against the bitwise forms
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(canOut_calcChksum(20, 0x1FF, 9, digits), 0x4B);
    EXPECT_EQ(canOut_calcChksum(21, 0x1FF, 9, digits), 0xDF);
    const uint8_t abc[] = {1, 2, 3};
    EXPECT_EQ(canOut_calcChksum(20, 7, 3, abc), bitwiseCrc8({1, 2, 3}, 0x1D));
    uint8_t fd[64];
    for (unsigned i = 0; i < 64; ++i) fd[i] = uint8_t(i + 1);
    EXPECT_EQ(canOut_calcChksum(10, 1ull << 32, 64, fd), 32);          // only byte 31
    EXPECT_EQ(canOut_calcChksum(10, (1ull << 31) | (1ull << 63), 64, fd), 32);
    EXPECT_EQ(canOut_calcChksum(10, 0xFFFFFFFF00000000ull, 31, fd), 0);  // byte 31 beyond the length
    EXPECT_EQ(canOut_calcChksum(10, 0x3, 64, fd), 1 + 2);
    std::mt19937_64 rng(21);
    for (int round = 0; round < 200; ++round) {
        uint8_t buf[64];
        for (auto& b : buf) b = uint8_t(rng());
        const uint64_t mask = rng();
        const unsigned len = 1 + unsigned(rng() % 64);
        std::vector<uint8_t> covered;
        for (unsigned i = 0; i < len && i < 32; ++i)
            if (((mask >> i) & 1) || (i == 31 && (mask >> 32))) covered.push_back(buf[i]);
        for (int type : types) ASSERT_EQ(canOut_calcChksum(uint8_t(type), mask, len, buf), referenceChecksum(type, covered));
        EXPECT_EQ(canOut_calcChksum(99, mask, len, buf), 0);
    }
}

TEST_F(CanTest, RateLimitSpreadsSendingInPriorityOrder) {
    for (unsigned i = 0; i < 4; ++i) {
        outMb(i, 0x600 + i, 8, RASTER_1MS);
        constant(i, i, 0, 8, i);
    }
    for (unsigned i = 4; i < 20; ++i) {
        outMb(i, 0x700 + i, 8, RASTER_1MS, 1);
        constant(i, i, 0, 8, i);
    }
    CanOutIntfConf[0].rateLimt = 0.5f;
    CanOutIntfConf[1].rateLimt = 20.0f;   // acts as 8
    ASSERT_EQ(CanOut_init(), 0);
    unsigned most1 = 0;
    std::vector<host::CanFrame> all0;
    bool before = false;
    for (int tick = 0; tick < 100; ++tick) {
        CanOut_send_message(RASTER_1MS);
        auto f0 = sent(0);
        EXPECT_LE(f0.size(), 1u);
        EXPECT_FALSE(before && !f0.empty()) << "two frames within 2 ms at tick " << tick;
        before = !f0.empty();
        all0.insert(all0.end(), f0.begin(), f0.end());
        most1 = std::max<unsigned>(most1, unsigned(sent(1).size()));
    }
    EXPECT_GE(all0.size(), 45u);
    EXPECT_LE(all0.size(), 50u);
    for (const auto& f : all0) EXPECT_EQ(f.id, 0x600u);   // the most urgent message always has news
    EXPECT_GE(most1, 6u);
    EXPECT_LE(most1, 8u);
    EXPECT_EQ(CanOut_sentCount(0), all0.size());
}

TEST_F(CanTest, StartDelayHoldsSendingBack) {
    outMb(0, 0x320, 8, RASTER_10MS);
    constant(0, 0, 0, 8, 1);
    CanOutIntfConf[0].startDelay = uint16_t(applMs() + 150);
    ASSERT_EQ(CanOut_init(), 0);
    CanOut_send_message(RASTER_10MS);
    EXPECT_TRUE(sent().empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    CanOut_send_message(RASTER_10MS);
    EXPECT_EQ(sent().size(), 1u);
    CanOut_stop();
    EXPECT_TRUE(logContains(takeLogTexts(), "CanOut_stop called"));
    CanOut_send_message(RASTER_10MS);
    EXPECT_TRUE(sent().empty());
}

TEST_F(CanTest, EventMessagesFollowTheEdgesOfTheirBit) {
    outMb(0, 0x330, 8, CANOUT_EVENT_BASED);
    CanOutMailBox& m = CanOutMailBoxConf[0];
    m.evAddr = catalogue_addr("gear");
    m.evType = GW_INT8;
    m.evMask = 0x02;
    m.edge = 2;   // both
    measured(0, 0, "gear", GW_INT8, 0, 8);
    outMb(1, 0x331, 8, CANOUT_EVENT_BASED);
    CanOutMailBox& r = CanOutMailBoxConf[1];
    r = m;
    r.canId = 0x331;
    r.edge = 0;   // rising only
    constant(1, 1, 0, 8, 0x77);
    ASSERT_EQ(CanOut_init(), 0);

    auto step = [&](int8_t gear) {
        signalPage()->gear = gear;
        gatewayTick(RASTER_10MS);
        CanOut_event_message();
        CanOut_send_message(RASTER_10MS);
        std::vector<uint32_t> ids;
        for (const auto& f : sent()) ids.push_back(f.id);
        return ids;
    };
    EXPECT_TRUE(step(2).empty());   // the first value after the list became valid
    EXPECT_TRUE(step(3).empty());   // bit 1 unchanged
    EXPECT_EQ(step(4), (std::vector<uint32_t>{0x330}));   // falling
    EXPECT_EQ(step(6), (std::vector<uint32_t>{0x330, 0x331}));   // rising: sent at once, before the raster
    EXPECT_TRUE(step(6).empty());
}

TEST_F(CanTest, OutputConfigurationErrorsAreRefused) {
    struct Case {
        const char* text;
        std::function<void()> setup;
    };
    const std::vector<Case> cases = {
        {"CanOut_man: invalid time grid (0)", [] { CanOutMailBoxConf[0].event = 20; }},
        {"CanOut_man: found double multiplexer (2)",
         [] {
             entry(1, CANOUT_MUX, 0, 0, 8);
             entry(2, CANOUT_MUX, 0, 8, 8);
         }},
        {"CanOut_man: found multiplexed signal without multiplexer (1)",
         [] { entry(1, CANOUT_MCONSTANT, 0, 8, 8).RCValue = 1; }},
        {"CanOut_man: found unsorted multiplexer (3)",
         [] {
             entry(1, CANOUT_MUX, 0, 0, 8);
             entry(2, CANOUT_MCONSTANT, 0, 8, 8).RCValue = 2;
             entry(3, CANOUT_MCONSTANT, 0, 8, 8).RCValue = 1;
         }},
        {"CanOut_man: found illegal multiplexer type(1)", [] { entry(1, 7, 0, 8, 8); }},
        {"CanOut_man: invalid message index (1)", [] { entry(1, CANOUT_CONSTANT, 200, 0, 8); }},
    };
    for (const Case& c : cases) {
        CanOut_resetForTest();
        outMb(0, 0x340, 8, RASTER_10MS);
        constant(0, 0, 56, 8, 1);
        c.setup();
        EXPECT_EQ(CanOut_init(), 1) << c.text;
        EXPECT_TRUE(logContains(takeLogTexts(), c.text)) << c.text;
        CanOut_send_message(RASTER_10MS);
        EXPECT_TRUE(sent().empty()) << c.text;
    }
}

TEST_F(CanTest, MultiplexedOutputCyclesThroughItsRows) {
    outMb(0, 0x350, 8, RASTER_10MS);
    constant(0, 0, 56, 8, 0xEE);
    entry(1, CANOUT_MUX, 0, 0, 8);
    entry(2, CANOUT_MCONSTANT, 0, 8, 8).RCValue = 4;
    CanOutSignalConf[2].constant = 0x44;
    entry(3, CANOUT_MCONSTANT, 0, 8, 8).RCValue = 9;
    CanOutSignalConf[3].constant = 0x99;
    entry(4, CANOUT_MCONSTANT, 0, 16, 8).RCValue = 9;
    CanOutSignalConf[4].constant = 0x98;
    ASSERT_EQ(CanOut_init(), 0);
    std::vector<std::vector<uint8_t>> got;
    for (int i = 0; i < 3; ++i) {
        CanOut_send_message(RASTER_10MS);
        for (const auto& f : sent()) got.push_back(bytesOf(f));
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (std::vector<uint8_t>{4, 0x44, 0, 0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(got[1], (std::vector<uint8_t>{9, 0x99, 0x98, 0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(got[2], got[0]);
}

TEST_F(CanTest, RasterTasksSendAtTheirPeriod) {
    outMb(0, 0x360, 8, RASTER_10MS);
    constant(0, 0, 0, 8, 1);
    outMb(1, 0x361, 8, RASTER_100MS);
    constant(1, 1, 0, 8, 2);
    ASSERT_EQ(CanOut_init(), 0);
    ASSERT_EQ(raster_init(), 1);
    for (int r = RASTER_1MS; r <= RASTER_1000MS; ++r)
        raster_addEntry(r, "CanOut_send_message", [](intptr_t a) { CanOut_send_message(int(a)); }, r);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(raster_start(), 1);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    raster_stopAll();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    unsigned n10 = 0, n100 = 0;
    for (const auto& f : sent()) (f.id == 0x360 ? n10 : n100)++;
    ASSERT_GT(n10, 0u);
    const double period = ms / n10;
    EXPECT_GT(period, 9.0);
    EXPECT_LT(period, 11.0);
    EXPECT_NEAR(double(n100), ms / 100.0, 3.0);
}
