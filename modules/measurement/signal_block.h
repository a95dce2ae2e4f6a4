// A module's measurable values kept as one struct in the signal page: the
// struct lives in a private copy until the signal page has room for it, and
// each member is named in the variable catalogue at its offset.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "measurement/catalogue.h"
#include "measurement/seram.h"
#include "measurement/types.h"

struct SignalVar {
    const char* name;
    size_t offset;   // in the module's struct
    TypeEnum_t type;
};

template <class T>
class SignalBlock {
public:
    T& get() { return *ptr_.load(std::memory_order_acquire); }

    // Takes room in the signal page, names the members and moves the
    // values there (fresh). 1 on success, 0 when the page has no room.
    template <size_t N>
    int publish(const SignalVar (&vars)[N]) {
        uint32_t vaddr = seramSignalAlloc(sizeof(T));
        uint8_t* p = vaddr ? seramVirtToPtr(vaddr) : nullptr;
        if (!p) return 0;
        for (const SignalVar& v : vars) catalogue_add(v.name, vaddr + uint32_t(v.offset), v.type);
        ptr_.store(new (p) T{}, std::memory_order_release);
        return 1;
    }

    // Back to the private copy (the calibration memory is going away).
    void unpublish() { ptr_.store(&private_, std::memory_order_release); }

private:
    T private_{};
    std::atomic<T*> ptr_{&private_};
};
