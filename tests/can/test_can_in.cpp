// CAN input: frames injected on the host bus decode into memory_canin with
// byte orders, sign extension, multiplexing, time-outs and replacement values.
#include <functional>
#include <random>

#include "can/can_in_compiled.h"
#include "can_fixture.h"

namespace {

void mailbox(unsigned idx, unsigned intf, uint32_t id) { CanInMailBoxConf[idx] = {intf, id, 0}; }

void signal(unsigned ch, unsigned msg, unsigned sBit, unsigned len, bool bigEndian = false,
            uint32_t kind = CANIN_UNSIGNED, uint32_t rc = CANIN_SIG, uint32_t rcValue = 0,
            uint32_t timeout = CANIN_NO_TIMEOUT, uint32_t timeoutValue = 0) {
    CanInSignalConf[ch] = {msg, sBit, len, kind, bigEndian ? 1u : 0u, rc, rcValue, timeout, timeoutValue};
}

// Independent decoder: the field bit by bit as the bit numbering defines it.
uint32_t referenceDecode(const uint8_t* d, unsigned sBit, unsigned len, bool bigEndian, bool isSigned) {
    uint64_t v = 0;
    for (unsigned k = 0; k < len; ++k) {
        unsigned bit;
        if (!bigEndian) {   // value bit k is frame bit sBit + k, LSB-first within bytes
            bit = (d[(sBit + k) >> 3] >> ((sBit + k) & 7)) & 1;
            v |= uint64_t(bit) << k;
        } else {            // sBit is the MSB; numbering runs from the MSB of byte 0
            unsigned n = sBit + k;
            bit = (d[n >> 3] >> (7 - (n & 7))) & 1;
            v |= uint64_t(bit) << (len - 1 - k);
        }
    }
    uint32_t out = uint32_t(v);
    if (isSigned && len < 32 && ((out >> (len - 1)) & 1)) out |= ~0u << len;
    return out;
}

}  // namespace

TEST_F(CanTest, ByteOrdersSignExtensionAndFloatBits) {
    mailbox(0, 0, 0x100);
    signal(0, 0, 8, 8);                               // byte 1 unchanged
    signal(1, 0, 0, 12, true);                        // byte 0 as bits 11..4, upper nibble of byte 1
    signal(2, 0, 16, 4, false, CANIN_SIGNED);         // 0xF signed
    signal(3, 0, 16, 4, false, CANIN_UNSIGNED);       // 0xF unsigned
    signal(4, 0, 32, 32, false, CANIN_SIGNED);        // signed 32 bits stored unchanged
    signal(5, 0, 32, 32, false, CANIN_FLOAT);         // float bits as they are
    signal(6, 0, 24, 16, true, CANIN_SIGNED);         // big-endian over bytes 3..4
    ASSERT_EQ(CanIn_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CanIn_Init: CanIn successfully started (1 messages)"));

    receive(0, frame(0x100, {0xAB, 0xCD, 0x0F, 0x80, 0x01, 0x56, 0x34, 0x92}));
    EXPECT_EQ(slot(0), 0xCDu);
    EXPECT_EQ(slot(1), 0xABCu);
    EXPECT_EQ(slot(2), 0xFFFFFFFFu);
    EXPECT_EQ(slot(3), 0x0000000Fu);
    EXPECT_EQ(slot(4), 0x92345601u);
    EXPECT_EQ(slot(5), 0x92345601u);
    EXPECT_EQ(slot(6), 0xFFFF8001u);

    // an extended frame of the same identifier value is another message
    receive(0, frame(0x100 | host::CAN_EFF_FLAG, {0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slot(0), 0xCDu);
    // a frame without data is ignored
    receive(0, frame(0x100, {}));
    EXPECT_EQ(slot(0), 0xCDu);
}

TEST_F(CanTest, RandomFieldsOfFdFramesMatchABitByBitDecoder) {
    std::mt19937 rng(17);
    struct Field {
        unsigned sBit, len;
        bool be, sign;
    };
    std::vector<Field> fields(CANIN_SIGNALS);
    for (unsigned m = 0; m < 8; ++m) mailbox(m, m & 1, 0x200 + m);
    for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
        Field f;
        f.len = 1 + rng() % 64;
        f.be = rng() & 1;
        f.sign = rng() & 1;
        if (!f.be) {
            f.sBit = rng() % (512 - f.len + 1);
        } else {   // the MSB's position; the field runs on to later bytes
            unsigned last;
            do {
                f.sBit = rng() % 512;
                unsigned b = f.sBit & 7, fb = 8 - b;
                last = (f.sBit >> 3) + (f.len <= fb ? 0 : (f.len - fb + 7) >> 3);
            } while (last >= 64);
        }
        if (ch % 10 == 0) {   // plenty of 64-bit fields at unaligned start bits
            f.len = 64;
            f.be = false;
            f.sBit = 1 + rng() % 7 + 8 * (rng() % 56);
        }
        fields[ch] = f;
        signal(ch, ch / 125, f.sBit, f.len, f.be, f.sign ? CANIN_SIGNED : CANIN_UNSIGNED);
    }
    ASSERT_EQ(CanIn_init(), 0);
    for (int round = 0; round < 4; ++round) {
        std::vector<std::vector<uint8_t>> data(8, std::vector<uint8_t>(64));
        for (unsigned m = 0; m < 8; ++m) {
            host::CanFrame f;
            f.id = 0x200 + m;
            f.len = 64;
            f.flags = host::CANFD_FDF;
            for (auto& b : data[m]) b = uint8_t(rng());
            std::copy(data[m].begin(), data[m].end(), f.data);
            host::canLoopbackInject(m & 1, f);
        }
        canPoll_1ms();
        for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
            const Field& f = fields[ch];
            ASSERT_EQ(slot(ch), referenceDecode(data[ch / 125].data(), f.sBit, f.len, f.be, f.sign))
                << "channel " << ch << " sBit " << f.sBit << " len " << f.len << " be " << f.be;
        }
    }
}

TEST_F(CanTest, ShortFrameDoesNotDecodeBytesItDidNotCarry) {
    mailbox(0, 0, 0x120);
    signal(0, 0, 0, 16);
    signal(1, 0, 16, 16);
    signal(2, 0, 12, 8);   // straddles bytes 1 and 2
    ASSERT_EQ(CanIn_init(), 0);
    receive(0, frame(0x120, {0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(slot(0), 0x2211u);
    EXPECT_EQ(slot(1), 0x4433u);
    EXPECT_EQ(slot(2), 0x32u);
    receive(0, frame(0x120, {0x55, 0x66}));
    EXPECT_EQ(slot(0), 0x6655u);
    EXPECT_EQ(slot(1), 0x4433u);   // kept: its bytes were not in the frame
    EXPECT_EQ(slot(2), 0x32u);
}

TEST_F(CanTest, MultiplexedRowsDecodeOnlyTheirRow) {
    mailbox(3, 1, 0x98FF0010);   // extended 0x18FF0010 on CAN2
    signal(10, 3, 56, 8);                                          // plain
    signal(11, 3, 0, 8, false, CANIN_UNSIGNED, CANIN_MUX);         // row counter
    signal(12, 3, 8, 16, false, CANIN_UNSIGNED, CANIN_MSIG, 0);
    signal(13, 3, 8, 16, false, CANIN_UNSIGNED, CANIN_MSIG, 1);
    signal(14, 3, 24, 8, false, CANIN_SIGNED, CANIN_MSIG, 1);
    signal(15, 3, 8, 8, false, CANIN_UNSIGNED, CANIN_MSIG, 7);
    ASSERT_EQ(CanIn_init(), 0);
    const uint32_t id = 0x18FF0010 | host::CAN_EFF_FLAG;
    receive(1, frame(id, {0, 0x34, 0x12, 0xFF, 0, 0, 0, 0x01}));
    EXPECT_EQ(slot(12), 0x1234u);
    EXPECT_EQ(slot(13), 0u);
    receive(1, frame(id, {1, 0x78, 0x56, 0xFE, 0, 0, 0, 0x02}));
    EXPECT_EQ(slot(12), 0x1234u);
    EXPECT_EQ(slot(13), 0x5678u);
    EXPECT_EQ(slot(14), 0xFFFFFFFEu);
    // a row value without a row: only the plain signal and the row counter
    receive(1, frame(id, {5, 0xAA, 0xAA, 0xAA, 0, 0, 0, 0x03}));
    EXPECT_EQ(slot(10), 0x03u);
    EXPECT_EQ(slot(11), 5u);
    EXPECT_EQ(slot(12), 0x1234u);
    EXPECT_EQ(slot(13), 0x5678u);
    EXPECT_EQ(slot(15), 0u);
    receive(1, frame(id, {7, 0x99}));
    EXPECT_EQ(slot(15), 0x99u);
    // the frame arrives on the other interface: not this message
    receive(0, frame(id, {0, 0, 0, 0, 0, 0, 0, 0x44}));
    EXPECT_EQ(slot(10), 0x03u);
}

TEST_F(CanTest, ManyRowsAreFoundThroughTheBalancedTree) {
    mailbox(0, 0, 0x300);
    signal(0, 0, 0, 16, false, CANIN_UNSIGNED, CANIN_MUX);
    for (unsigned r = 0; r < 500; ++r) signal(1 + r, 0, 16, 16, false, CANIN_UNSIGNED, CANIN_MSIG, r * 3);
    ASSERT_EQ(CanIn_init(), 0);
    for (unsigned r = 0; r < 500; ++r) {
        uint16_t v = uint16_t(r * 3);
        receive(0, frame(0x300, {uint8_t(v), uint8_t(v >> 8), uint8_t(r), uint8_t((r >> 8) | 0x80)}));
    }
    for (unsigned r = 0; r < 500; ++r) ASSERT_EQ(slot(1 + r), 0x8000u | r) << r;

    // the tree itself: ascending inserts stay balanced and ordered
    std::vector<CanInRow> nodes(1023);
    CanInRow* root = nullptr;
    for (unsigned i = 0; i < nodes.size(); ++i) {
        nodes[i] = {};
        nodes[i].value = i;
        AVLinsert(&root, &nodes[i]);
    }
    std::function<int(const CanInRow*, uint32_t, uint32_t)> check = [&](const CanInRow* n, uint32_t lo,
                                                                          uint32_t hi) -> int {
        if (!n) return 0;
        EXPECT_TRUE(n->value >= lo && n->value <= hi);
        if (n->left) {
            EXPECT_EQ(n->left->parent, n);
        }
        if (n->right) {
            EXPECT_EQ(n->right->parent, n);
        }
        int l = check(n->left, lo, n->value - 1), r = check(n->right, n->value + 1, hi);
        EXPECT_LE(std::abs(l - r), 1);
        return 1 + std::max(l, r);
    };
    EXPECT_LE(check(root, 0, 0xFFFFFFFF), 11);
}

TEST_F(CanTest, TimeOutsWriteTheReplacementValueOnce) {
    mailbox(0, 0, 0x400);
    signal(0, 0, 0, 8, false, CANIN_UNSIGNED, CANIN_SIG, 0, 100, 0x55);
    signal(1, 0, 8, 8, false, CANIN_UNSIGNED, CANIN_SIG, 0, 0, 7);
    signal(2, 0, 16, 8, false, CANIN_SIGNED, CANIN_SIG, 0, 10, 5);
    signal(3, 0, 24, 16, false, CANIN_SIGNED, CANIN_SIG, 0, 10, 0xFFFF);
    signal(4, 0, 40, 8);
    signalPage()->memory_canin[4] = 0x42;
    ASSERT_EQ(CanIn_init(), 0);
    EXPECT_EQ(slot(0), 0x55u);   // the replacement before the first frame
    EXPECT_EQ(slot(1), 7u);
    EXPECT_EQ(slot(3), 0x0000FFFFu);   // the low half of an empty slot
    EXPECT_EQ(slot(4), 0x42u);   // not supervised: untouched

    receive(0, frame(0x400, {0x11, 0x22, 0x80, 0x00, 0x80, 0x33}));
    EXPECT_EQ(slot(2), 0xFFFFFF80u);
    EXPECT_EQ(slot(3), 0xFFFF8000u);
    for (int i = 0; i < 99; ++i) CanIn_supervisor_1ms();
    EXPECT_EQ(slot(0), 0x11u);
    EXPECT_EQ(slot(2), 0xFFFFFF05u);   // the low byte replaced, the others kept
    EXPECT_EQ(slot(3), 0xFFFFFFFFu);
    CanIn_supervisor_1ms();
    EXPECT_EQ(slot(0), 0x55u);   // on the 100th tick
    signalPage()->memory_canin[0] = 0x99;
    for (int i = 0; i < 300; ++i) CanIn_supervisor_1ms();
    EXPECT_EQ(slot(0), 0x99u);   // written once, not again until received
    EXPECT_EQ(slot(1), 0x22u);   // time-out 0: never replaced after the first frame
    EXPECT_EQ(slot(4), 0x33u);

    receive(0, frame(0x400, {0x12, 0x22, 0x01, 0, 0, 0x33}));
    EXPECT_EQ(slot(0), 0x12u);
    for (int i = 0; i < 100; ++i) CanIn_supervisor_1ms();
    EXPECT_EQ(slot(0), 0x55u);
}

TEST_F(CanTest, ReplacementValuesReplaceTheSignalsWidthOfTheSlot) {
    // up to 8 bits the low byte, up to 16 the low half, above that the word;
    // nothing is cut to the signal's length or sign-extended
    mailbox(0, 0, 0x410);
    signal(0, 0, 0, 8, false, CANIN_SIGNED, CANIN_SIG, 0, 10, 216);
    signal(1, 0, 8, 4, false, CANIN_UNSIGNED, CANIN_SIG, 0, 10, 0xABCD);
    signal(2, 0, 16, 12, false, CANIN_SIGNED, CANIN_SIG, 0, 10, 0x12345678);
    signal(3, 0, 32, 17, false, CANIN_SIGNED, CANIN_SIG, 0, 10, 0x12345678);
    signalPage()->memory_canin[0] = 0;
    signalPage()->memory_canin[1] = 0x11111111;
    signalPage()->memory_canin[2] = 0x22222222;
    signalPage()->memory_canin[3] = 0x33333333;
    ASSERT_EQ(CanIn_init(), 0);
    EXPECT_EQ(slot(0), 0x000000D8u);   // SINT8 216 before any frame
    EXPECT_EQ(slot(1), 0x111111CDu);
    EXPECT_EQ(slot(2), 0x22225678u);
    EXPECT_EQ(slot(3), 0x12345678u);

    receive(0, frame(0x410, {0x80, 0x0F, 0xFF, 0x0F, 0xFF, 0xFF, 0x01}));
    EXPECT_EQ(slot(0), 0xFFFFFF80u);
    EXPECT_EQ(slot(1), 0x0000000Fu);
    EXPECT_EQ(slot(2), 0xFFFFFFFFu);
    EXPECT_EQ(slot(3), 0xFFFFFFFFu);
    for (int i = 0; i < 10; ++i) CanIn_supervisor_1ms();
    EXPECT_EQ(slot(0), 0xFFFFFFD8u);
    EXPECT_EQ(slot(1), 0x000000CDu);
    EXPECT_EQ(slot(2), 0xFFFF5678u);
    EXPECT_EQ(slot(3), 0x12345678u);
}

TEST_F(CanTest, ConfigurationErrorsStopTheStartAndRegisterNothing) {
    struct Case {
        const char* text;
        std::function<void()> setup;
    };
    const std::vector<Case> cases = {
        {"CanIn_Init: Config Error: two row counter for one msg (2)",
         [] {
             signal(1, 0, 0, 8, false, CANIN_UNSIGNED, CANIN_MUX);
             signal(2, 0, 8, 8, false, CANIN_UNSIGNED, CANIN_MUX);
         }},
        {"CanIn_Init: Config Error: mailbox index not up counting (2)",
         [] {
             signal(1, 1, 0, 8);
             signal(2, 0, 0, 8);
         }},
        {"CanIn_Init: Config Error: multiplexed signal config before row counter config (1)",
         [] { signal(1, 0, 8, 8, false, CANIN_UNSIGNED, CANIN_MSIG, 1); }},
        {"CanIn_Init: Config Error: not multiplexed signal config after row counter config (2)",
         [] {
             signal(1, 0, 0, 8, false, CANIN_UNSIGNED, CANIN_MUX);
             signal(2, 0, 8, 8);
         }},
        {"CanIn_Init: Config Error: row counter values not sorted per message (3)",
         [] {
             signal(1, 0, 0, 8, false, CANIN_UNSIGNED, CANIN_MUX);
             signal(2, 0, 8, 8, false, CANIN_UNSIGNED, CANIN_MSIG, 4);
             signal(3, 0, 8, 8, false, CANIN_UNSIGNED, CANIN_MSIG, 3);
         }},
        {"CanIn_Init: Config Error: mailbox index out of range (1)", [] { signal(1, 300, 0, 8); }},
        {"CanIn_Init: Config Error: bit field out of range (1)", [] { signal(1, 0, 460, 64); }},
        {"CanIn_Init: Config Error: bit field out of range (2)", [] { signal(2, 0, 0, 65); }},
    };
    for (const Case& c : cases) {
        CanIn_resetForTest();
        canFront_resetForTest();
        mailbox(0, 0, 0x500);
        mailbox(1, 0, 0x501);
        signal(0, 0, 56, 8);
        c.setup();
        EXPECT_EQ(CanIn_init(), 1) << c.text;
        EXPECT_TRUE(logContains(takeLogTexts(), c.text)) << c.text;
        signalPage()->memory_canin[0] = 0;
        receive(0, frame(0x500, {1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(slot(0), 0u) << c.text;
        EXPECT_FALSE(CanIn_initialized());
    }
}

TEST_F(CanTest, EmptyConfigurationAndSignalsOnMissingInterfaces) {
    ASSERT_EQ(CanIn_init(), 0);
    EXPECT_TRUE(logContains(takeLogTexts(), "CanIn_Init: empty configuration"));
    EXPECT_TRUE(CanIn_initialized());

    CanIn_resetForTest();
    mailbox(0, 3, 0x600);
    mailbox(1, 0, 0x601);
    signal(0, 0, 0, 8);
    signal(1, 1, 0, 8);
    ASSERT_EQ(CanIn_init(), 0);
    EXPECT_EQ(activeErrorType(ERRMGR_PATH_CAN_IN), int(ERRMGR_TYPE_RANGE));
    receive(0, frame(0x601, {9}));
    EXPECT_EQ(slot(1), 9u);
}
