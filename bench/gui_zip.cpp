// GuiUnzip against zlib's uncompress and the compressor against compress2 at
// levels 1, 6 and 9, on one MiB of mixed text, records, noise and runs.
// Reports MB/s of uncompressed data and the compression ratio.
#include "gui/image/gui_zip.h"
#include "gui/image/pzip.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

const std::vector<uint8_t>& Input() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d;
        std::mt19937 rng(5);
        static const char* words[] = {"lap ", "outing ", "sensor ", "brake ", "pressure ", "the ", "speed\n", "gear "};
        while (d.size() < (1u << 20)) {
            switch (rng() % 4) {
            case 0:
                for (int i = 0; i < 2000; i++)
                    for (const char* w = words[rng() % 8]; *w; w++) d.push_back(uint8_t(*w));
                break;
            case 1:
                for (uint32_t t = 0; t < 4000; t++) {
                    uint32_t v = t * 10 + rng() % 3;
                    d.insert(d.end(), {uint8_t(v), uint8_t(v >> 8), 0, 0x12, uint8_t(rng() % 4)});
                }
                break;
            case 2:
                for (int i = 0; i < 3000; i++) d.push_back(uint8_t(rng()));
                break;
            default:
                d.insert(d.end(), 1 + rng() % 5000, uint8_t(rng()));
            }
        }
        d.resize(1u << 20);
        return d;
    }();
    return data;
}

std::vector<uint8_t> ZlibPacked(int level) {
    const auto& in = Input();
    uLongf len = compressBound(uLong(in.size()));
    std::vector<uint8_t> out(len);
    compress2(out.data(), &len, in.data(), uLong(in.size()), level);
    out.resize(len);
    return out;
}

void Report(benchmark::State& state, size_t packed) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input().size()));
    state.counters["ratio"] = double(Input().size()) / double(packed);
}

void BM_GuiUnzip(benchmark::State& state) {
    auto packed = ZlibPacked(6);
    std::vector<uint8_t> out(Input().size());
    for (auto _ : state) {
        uint32_t len = uint32_t(out.size());
        if (GuiUnzip(out.data(), &len, packed.data(), uint32_t(packed.size())) != 0) state.SkipWithError("unzip");
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, packed.size());
}

void BM_ZlibUncompress(benchmark::State& state) {
    auto packed = ZlibPacked(6);
    std::vector<uint8_t> out(Input().size());
    for (auto _ : state) {
        uLongf len = uLongf(out.size());
        if (uncompress(out.data(), &len, packed.data(), uLong(packed.size())) != Z_OK) state.SkipWithError("zlib");
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, packed.size());
}

void BM_PzipDeflate(benchmark::State& state) {
    const auto& in = Input();
    size_t packed = 0;
    for (auto _ : state) {
        PzipStream s{};
        PzipDeflateInitDefault(&s, int(state.range(0)));
        s.nextIn = in.data();
        s.availIn = uint32_t(in.size());
        if (PzipDeflate(&s, PZIP_FINISH) != PZIP_STREAM_END) state.SkipWithError("deflate");
        packed = s.totalOut;
        delete[] s.outputBuffer;
        PzipDeflateEnd(&s);
    }
    Report(state, packed);
}

// The one-call wrapper (level 6, output buffer grown as it goes).
void BM_GuiZip(benchmark::State& state) {
    const auto& in = Input();
    size_t packed = 0;
    for (auto _ : state) {
        uint8_t* out = nullptr;
        uint32_t len = 0;
        if (GuiZip(&out, &len, in.data(), uint32_t(in.size())) != 0) state.SkipWithError("zip");
        packed = len;
        delete[] out;
    }
    Report(state, packed);
}

void BM_ZlibCompress2(benchmark::State& state) {
    const auto& in = Input();
    std::vector<uint8_t> out(compressBound(uLong(in.size())));
    size_t packed = 0;
    for (auto _ : state) {
        uLongf len = uLongf(out.size());
        compress2(out.data(), &len, in.data(), uLong(in.size()), int(state.range(0)));
        packed = len;
    }
    Report(state, packed);
}

}  // namespace

BENCHMARK(BM_GuiUnzip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PzipDeflate)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GuiZip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress2)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
