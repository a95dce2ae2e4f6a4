// Cost of storing CCP DAQ messages per value: the bytes of each ODT go to
// precomputed slot addresses; with a linked measurement list the DAQ cycle
// also writes one FIFO slot.
#include <benchmark/benchmark.h>

#include "bench_measurement_core.h"

#include "can/ccpmaster/ccpmr_internal.h"
#include "measurement/dynkomm.h"

namespace {

CalPage* cal() { return reinterpret_cast<CalPage*>(seramVirtToPtr(SERAM_REFPAGE_ADDR)); }

// A DAQ list of channels of the sizes, in ODTs built by the master's own
// assignment; the number of values.
unsigned buildDaq(CcpDaqList* d, const std::vector<uint8_t>& sizes, bool bigEndian) {
    benchMeasurementCoreOnce();
    CalPage* p = cal();
    for (unsigned c = 0; c < CCPMR_CHANNELS; ++c) p->CfgMat_CcpMr_CHAN_DAQ[c] = 0xFF;
    for (unsigned c = 0; c < sizes.size(); ++c) {
        p->CfgMat_CcpMr_CHAN_DAQ[c] = 0;
        p->CfgMat_CcpMr_CHAN_SIZE[c] = sizes[c];
    }
    d->cfgIndex = 0;
    d->odtReserved = 20;
    daq_init(d, bigEndian);
    d->firstPid = 0x10;
    return unsigned(sizes.size());
}

void store(benchmark::State& state, const std::vector<uint8_t>& sizes, bool bigEndian, bool linked) {
    CcpDaqList d;
    const unsigned values = buildDaq(&d, sizes, bigEndian);
    meas_master_list rec;
    CcpListLink link;
    if (linked) {
        const uint32_t magic = dynkomm_get_magic();
        dynkomm_fifo_prepare(magic);
        link.bytes = 4;
        for (unsigned c = 0; c < values; ++c) {
            link.values.push_back({uint16_t(c), sizes[c]});
            link.bytes += sizes[c];
        }
        // a newest-value buffer: the writer never finds it full
        rec.fifo = dynkomm_fifo_create(magic, 1, magic, 1, 3, 4, uint16_t(link.bytes), 0);
        link.daq = &d;
        link.rec = &rec;
        d.lists[0] = &link;
    }
    std::vector<CcpDaqMsg> msgs(d.odtUsed);
    for (unsigned o = 0; o < msgs.size(); ++o) {
        msgs[o] = CcpDaqMsg{0, 8, 0, 1000 + o, {}};
        msgs[o].data[0] = uint8_t(0x10 + o);
        for (unsigned b = 1; b < 8; ++b) msgs[o].data[b] = uint8_t(o * 7 + b);
    }
    for (auto _ : state) {
        for (const CcpDaqMsg& m : msgs) ccpmr_daq_store(&d, m);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * values);
    state.counters["values"] = values;
    d.lists[0] = nullptr;
    if (rec.fifo) dynkomm_fifo_delete(rec.fifo);
    delete[] d.odt;
}

const std::vector<uint8_t> kBytes(21, 1);                                  // 3 ODTs of 7 bytes
const std::vector<uint8_t> kMixed = {4, 2, 1, 4, 2, 1, 4, 2, 1, 4, 2, 1};   // 4 ODTs of 7 bytes
const std::vector<uint8_t> kWords(20, 4);                                   // 20 ODTs of 4 bytes

void BM_CcpDaqStoreBytesIntel(benchmark::State& s) { store(s, kBytes, false, false); }
void BM_CcpDaqStoreMixedMotorola(benchmark::State& s) { store(s, kMixed, true, false); }
void BM_CcpDaqStoreWords(benchmark::State& s) { store(s, kWords, false, false); }
void BM_CcpDaqStoreMixedLinkedList(benchmark::State& s) { store(s, kMixed, false, true); }

}  // namespace

BENCHMARK(BM_CcpDaqStoreBytesIntel);
BENCHMARK(BM_CcpDaqStoreMixedMotorola);
BENCHMARK(BM_CcpDaqStoreWords);
BENCHMARK(BM_CcpDaqStoreMixedLinkedList);
BENCHMARK_MAIN();
