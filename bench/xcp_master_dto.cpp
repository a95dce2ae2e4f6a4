// DTO decode cost of the XCP master per value: identification of the DAQ and
// ODT from the DTO header, the checks against the configuration, the time
// stamp, and the store of every value into its channel slot (the work of the
// receive path and the DAQ task without the queue between them).
//   BM_DecodeDto/<size>/<bigEndian>: one full UDP ODT (247 bytes) of values
//     of 4, 2 or 1 bytes from a little- or big-endian slave; time per value.
//   BM_DecodeCanDto: one CAN frame with a 4-, a 2- and a 1-byte value.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "host/kernel/kernel.h"
#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "xcp/master/xcpmr_internal.h"

namespace {
struct Setup {
    std::string dir;
    Setup() {
        char tmpl[] = "/tmp/tav9_bench_xcpmr_XXXXXX";
        dir = mkdtemp(tmpl);
        host::setDeviceFolder(dir);
        seram_init();
        xcpmr_data_alloc();
    }
    ~Setup() {
        seram_shutdown();
        std::filesystem::remove_all(dir);
    }
};

CalPage& cal() { return *reinterpret_cast<CalPage*>(seramVirtToPtr(SERAM_REFPAGE_ADDR)); }

// An instance with one running DAQ whose one ODT holds `count` values of
// `size` bytes.
std::unique_ptr<XcpmrInstance> makeInstance(unsigned size, unsigned count, unsigned transport, bool bigEndian) {
    auto h = std::make_unique<XcpmrInstance>();
    h->transport = uint8_t(transport);
    h->bigEndian = bigEndian;
    h->tsUsed = transport == 0;
    h->tsSize = 4;
    h->keyByte = transport == 0 ? 0x80 : 0x00;
    for (unsigned ch = 0; ch < XCPMR_CHANNELS; ++ch) cal().CfgMat_XcpMr_CHAN_DAQ[ch] = 0xFF;
    for (unsigned ch = 0; ch < count; ++ch) {
        cal().CfgMat_XcpMr_CHAN_DAQ[ch] = 0;
        cal().CfgMat_XcpMr_CHAN_SIZE[ch] = uint8_t(size ? size : 4u >> (ch % 3));   // 0: 4, 2, 1 in turn
    }
    auto d = std::make_unique<XcpmrDaq>();
    d->odtCap = 1;
    d->inst = h.get();
    daq_init(h.get(), d.get());
    d->active = 1;
    h->listToDaq.push_back(0);
    h->pidMap[0] = xcpmrPidEntry(0, 0);
    h->daqs.push_back(std::move(d));
    return h;
}

void BM_DecodeDto(benchmark::State& state) {
    Setup s;
    const unsigned size = unsigned(state.range(0));
    const unsigned count = XCPMR_ODT_BYTES_UDP / size;
    auto h = makeInstance(size, count, 0, state.range(1) != 0);
    std::vector<uint8_t> dto(7 + count * size);
    for (size_t i = 7; i < dto.size(); ++i) dto[i] = uint8_t(i);
    XcpmrDaqMsg m;
    for (auto _ : state) {
        dto[7] ^= 1;
        if (!xcpmr_decode_dto(h.get(), dto.data(), unsigned(dto.size()), false, &m)) state.SkipWithError("rejected");
        xcpmr_store_odt(h.get(), h->daqs[0]->odts[0], m.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
    state.SetLabel(std::to_string(count) + " values a DTO");
}
BENCHMARK(BM_DecodeDto)->ArgsProduct({{4, 2, 1}, {0, 1}});

void BM_DecodeCanDto(benchmark::State& state) {
    Setup s;
    auto h = makeInstance(0, 3, 1, true);
    uint8_t frame[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    XcpmrDaqMsg m;
    for (auto _ : state) {
        frame[1] ^= 1;
        if (!xcpmr_decode_dto(h.get(), frame, 8, true, &m)) state.SkipWithError("rejected");
        xcpmr_store_odt(h.get(), h->daqs[0]->odts[0], m.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 3);
}
BENCHMARK(BM_DecodeCanDto);
}  // namespace

BENCHMARK_MAIN();
