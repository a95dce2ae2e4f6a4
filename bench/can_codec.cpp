// Cost of CAN input decoding per frame (8-byte, 64-byte and multiplexed) and
// of composing 128 output messages with counters and checksums.
#include <benchmark/benchmark.h>

#include "bench_measurement_core.h"

#include "can/can_in.h"
#include "can/can_in_compiled.h"
#include "can/can_out.h"
#include "can/can_out_internal.h"
#include "measurement/catalogue.h"
#include "measurement/gateway.h"
#include "measurement/signalpage.h"
#include "platform/can_front.h"

namespace {

void signal(unsigned ch, unsigned msg, unsigned sBit, unsigned len, bool be, uint32_t rc = CANIN_SIG,
            uint32_t rcValue = 0) {
    CanInSignalConf[ch] = {msg, sBit, len, ch & 1 ? CANIN_SIGNED : CANIN_UNSIGNED, be ? 1u : 0u, rc, rcValue, 100, 0};
}

// Mailbox 0: 8 signals in 8 bytes; 1: 32 signals of 16 bits in 64 bytes;
// 2: a row counter and 16 rows of 4 signals.
void configureInput() {
    CanIn_resetForTest();
    canFront_resetForTest();
    for (unsigned m = 0; m < 3; ++m) CanInMailBoxConf[m] = {0, 0x100 + m, 0};
    unsigned ch = 0;
    const unsigned lens8[8] = {4, 12, 8, 16, 3, 5, 8, 8};
    for (unsigned i = 0, bit = 0; i < 8; bit += lens8[i], ++i) signal(ch++, 0, bit, lens8[i], false);
    for (unsigned i = 0; i < 32; ++i) signal(ch++, 1, i * 16, 16, i & 1);
    signal(ch++, 2, 0, 8, false, CANIN_MUX);
    for (unsigned r = 0; r < 16; ++r)
        for (unsigned k = 0; k < 4; ++k) signal(ch++, 2, 8 + k * 14, 14, k & 1, CANIN_MSIG, r);
    CanIn_init();
}

void decode(benchmark::State& state, unsigned msg, unsigned len) {
    benchMeasurementCoreOnce();
    configureInput();
    unsigned n = 0;
    CanInMsg* msgs = CanIn_compiledMessages(&n);
    uint8_t data[64];
    for (unsigned i = 0; i < 64; ++i) data[i] = uint8_t(i * 37 + 11);
    unsigned row = 0;
    for (auto _ : state) {
        data[0] = uint8_t(row++ & 15);
        CanInRx_msg(&msgs[msg], 0x100 + msg, 0, len, data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_CanInDecode8Byte(benchmark::State& state) { decode(state, 0, 8); }
void BM_CanInDecode64Byte(benchmark::State& state) { decode(state, 1, 64); }
void BM_CanInDecodeMultiplexed(benchmark::State& state) { decode(state, 2, 64); }

// 128 messages of 8 bytes: two measured values (scaled), two constants, a
// counter and a CRC-8 checksum each.
void BM_CanOutCompose128(benchmark::State& state) {
    benchMeasurementCoreOnce();
    CanOut_resetForTest();
    const measaddr_t engine = catalogue_addr("n_engine"), gear = catalogue_addr("gear");
    for (unsigned i = 0; i < 128; ++i) {
        CanOutMailBox& m = CanOutMailBoxConf[i];
        m = {};
        m.intf = i & 1;
        m.canId = 0x200 + i;
        m.canDlc = 8;
        m.length = 8;
        m.event = 3;
        auto add = [&](unsigned k, uint32_t kind, unsigned sBit, unsigned len) -> CanOutSignal& {
            CanOutSignal& s = CanOutSignalConf[i * 3 + k < CANOUT_ENTRIES ? i * 3 + k : 0];
            s = {};
            s.kind = kind;
            s.msgIdx = i;
            s.sBit = uint16_t(sBit);
            s.len = uint8_t(len);
            return s;
        };
        // 400 entries: three per message (value, counter, checksum); the
        // other values are packed as constants of the same shape
        CanOutSignal& v = add(0, CANOUT_SIGNAL, 0, 16);
        v.addr = i & 1 ? gear : engine;
        v.dataType = i & 1 ? GW_INT8 : GW_FLOAT32;
        v.fact = 0.5f;
        v.isSigned = i & 1;
        CanOutSignal& c = add(1, CANOUT_COUNTER, 48, 4);
        c.end = 15;
        CanOutSignal& k = add(2, CANOUT_CHECKSUM, 56, 8);
        k.chkType = 20;
        k.chkSumByteMask = 0x7F;
    }
    CanOut_init();
    signalPage()->n_engine = 6543.0f;
    signalPage()->gear = 3;
    meas_man_copy_raster(3, 1);
    gw_distribute(3);
    auto& msgs = canout::state().msgs;
    for (auto _ : state) {
        for (auto& m : msgs) canout::processMessage(*m);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(msgs.size()));
}

}  // namespace

BENCHMARK(BM_CanInDecode8Byte);
BENCHMARK(BM_CanInDecode64Byte);
BENCHMARK(BM_CanInDecodeMultiplexed);
BENCHMARK(BM_CanOutCompose128);
BENCHMARK_MAIN();
