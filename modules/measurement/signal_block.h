// A module's measurable values kept as one struct in the signal page: the
// struct lives in a private copy until the signal page has room for it, and
// each member is named in the variable catalogue at its offset.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "measurement/seram.h"
#include "measurement/types.h"

struct SignalVar {
    const char* name;
    size_t offset;   // in the module's struct
    TypeEnum_t type;
};

// Names every variable at base + offset, with "_<suffix>" appended when
// suffix is above 0 (a struct repeated per device, say); true when all were
// added.
bool signalVars_name(uint32_t base, const SignalVar* vars, size_t n, int suffix = 0);

template <size_t N>
bool signalVars_name(uint32_t base, const SignalVar (&vars)[N], int suffix = 0) {
    return signalVars_name(base, vars, N, suffix);
}

template <class T>
class SignalBlock {
public:
    T& get() { return *ptr_.load(std::memory_order_acquire); }

    // Takes room in the signal page, names the members and moves the
    // values there (fresh). 1 on success, 0 when the page has no room or a
    // name could not be added.
    template <size_t N>
    int publish(const SignalVar (&vars)[N]) {
        return publishNamed([&](uint32_t vaddr) { return signalVars_name(vaddr, vars); });
    }

    // As publish, with the naming left to nameAt(vaddr of the struct), which
    // says whether all names were added.
    template <class NameFn>
    int publishNamed(NameFn nameAt) {
        uint32_t vaddr = seramSignalAlloc(sizeof(T));
        uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
        if (!p) return 0;
        const bool named = nameAt(vaddr);
        ptr_.store(new (p) T{}, std::memory_order_release);
        return named ? 1 : 0;
    }

    // Back to the private copy (the calibration memory is going away).
    void unpublish() { ptr_.store(&private_, std::memory_order_release); }

    // Back to a zeroed private copy; only while no task uses the values.
    void reset() {
        ptr_.store(&private_, std::memory_order_release);
        private_ = T{};
    }

private:
    T private_{};
    std::atomic<T*> ptr_{&private_};
};
