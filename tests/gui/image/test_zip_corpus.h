// Test data for the deflate codec tests: text, binary records, random bytes,
// long runs, the empty input, one byte and one MiB of mixed content.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ziptest {

struct Sample {
    std::string name;
    std::vector<uint8_t> data;
};

inline std::vector<uint8_t> TextSample(size_t size, uint32_t seed) {
    static const char* words[] = {"lap ",   "outing ", "sensor ", "brake ",  "pressure ", "the ", "a ",
                                  "speed\n", "gear ",   "temp\t",  "oil ",    "fuel,",     "rpm ", "\r\n"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        const char* w = words[rng() % 14];
        while (*w && out.size() < size) out.push_back(uint8_t(*w++));
    }
    return out;
}

inline std::vector<uint8_t> BinarySample(size_t size) {
    std::vector<uint8_t> out;
    uint32_t t = 0;
    while (out.size() < size) {
        t += 10 + (t % 7);
        uint8_t rec[12] = {uint8_t(t), uint8_t(t >> 8), uint8_t(t >> 16), 0, 0x12, 0x34, uint8_t(t % 13), 0,
                           uint8_t((t * 7) >> 4), 0xFF, 0, 1};
        for (uint8_t b : rec) {
            if (out.size() < size) out.push_back(b);
        }
    }
    return out;
}

inline std::vector<uint8_t> RandomSample(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = uint8_t(rng());
    return out;
}

inline std::vector<uint8_t> RunSample(size_t size) {
    std::vector<uint8_t> out;
    uint8_t v = 0;
    size_t run = 1;
    while (out.size() < size) {
        for (size_t i = 0; i < run && out.size() < size; i++) out.push_back(v);
        v = uint8_t(v + 37);
        run = run * 3 % 1001 + 1;
    }
    return out;
}

// One MiB of text, binary, random and runs in turns, so blocks of every
// kind and matches across the whole window occur.
inline std::vector<uint8_t> MixedSample() {
    std::vector<uint8_t> out;
    uint32_t seed = 1;
    while (out.size() < (1u << 20)) {
        std::vector<uint8_t> part;
        switch (seed % 4) {
        case 0: part = TextSample(40000, seed); break;
        case 1: part = BinarySample(30000); break;
        case 2: part = RandomSample(20000, seed); break;
        default: part = RunSample(50000); break;
        }
        out.insert(out.end(), part.begin(), part.end());
        seed++;
    }
    out.resize(1u << 20);
    return out;
}

inline const std::vector<Sample>& Corpus() {
    static const std::vector<Sample> corpus = {
        {"text", TextSample(100000, 7)},
        {"binary", BinarySample(70000)},
        {"random", RandomSample(70000, 3)},
        {"runs", RunSample(200000)},
        {"empty", {}},
        {"one byte", {0x41}},
        {"mixed 1 MiB", MixedSample()},
    };
    return corpus;
}

}  // namespace ziptest
