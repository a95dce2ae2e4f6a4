// A fixed pool of equal items, made once and never grown: the event path
// allocates nothing else. Not locked: its owner serialises the calls.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

class EventPool {
public:
    // itemSize is rounded up to pointer alignment. Check valid() afterwards.
    EventPool(size_t items, size_t itemSize)
        : size_((itemSize + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t)),
          count_(items),
          storage_(new (std::nothrow) unsigned char[items * size_]) {
        if (!storage_) return;
        for (size_t i = items; i-- > 0;) push(storage_.get() + i * size_);
    }
    bool valid() const { return storage_ != nullptr; }

    // An item, or nullptr when all are in use.
    void* take() {
        Free* f = free_;
        if (!f) return nullptr;
        free_ = f->next;
        --available_;
        return f;
    }
    // False (nothing done) for a pointer that is not an item of this pool.
    bool give(void* p) {
        auto* b = static_cast<unsigned char*>(p);
        if (!p || b < storage_.get() || b >= storage_.get() + count_ * size_ ||
            size_t(b - storage_.get()) % size_)
            return false;
        push(b);
        return true;
    }
    size_t available() const { return available_; }
    size_t itemSize() const { return size_; }

private:
    struct Free {
        Free* next;
    };
    void push(unsigned char* b) {
        auto* f = new (b) Free{free_};
        free_ = f;
        ++available_;
    }

    size_t size_;
    size_t count_;
    std::unique_ptr<unsigned char[]> storage_;
    Free* free_ = nullptr;
    size_t available_ = 0;
};
