// The screen service's frame buffers: packed 0x00RRGGBB rows that start on a
// cache line. A flush copies every row of the device's frame buffer into one;
// from the 16-byte offset of an ordinary heap block that copy ran about a
// tenth slower than into a line-aligned buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace host {

template <class T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr size_t kLine = 64;

    CacheLineAllocator() = default;
    template <class U>
    CacheLineAllocator(const CacheLineAllocator<U>&) {}

    T* allocate(size_t n) {
        if (n > (SIZE_MAX - kLine) / sizeof(T)) throw std::bad_alloc();
        // aligned_alloc wants a whole number of alignments
        const size_t bytes = (n * sizeof(T) + kLine - 1) / kLine * kLine;
        void* p = std::aligned_alloc(kLine, bytes);
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) { std::free(p); }

    template <class U>
    bool operator==(const CacheLineAllocator<U>&) const { return true; }
};

using FrameWords = std::vector<uint32_t, CacheLineAllocator<uint32_t>>;

}  // namespace host
