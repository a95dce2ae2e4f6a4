// Mutex wrapper of the storage back end and its scoped holder.
//
// A Lock is a recursive, priority-queued mutex that remembers the name of the
// operation that holds it, for the log lines of a lock that cannot be taken.
// It is not copyable: two objects sharing one semaphore would delete it twice.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"

namespace measure::store {

class Lock {
public:
    // Throws "Lock::Lock(): could not create semaphore" when no semaphore can be made.
    explicit Lock(bool inversionSafe = true);
    virtual ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // Takes the mutex, waiting forever; 1 on success, 0 (logged) on failure.
    int lock(const char* name);
    // Gives the mutex back; 1 on success, 0 (logged) on failure.
    int unlock();
    // Name of the current holder, "none" while free.
    const char* owner() const { return owner_.load(std::memory_order_relaxed); }

private:
    std::atomic<const char*> owner_;
    unsigned count_ = 0;
    SEM_ID sem_ = nullptr;
    uint8_t floodLock_ = 0;
    uint8_t floodUnlock_ = 0;
};

// Holds a Lock for one scope.
class ScopeLock {
public:
    ScopeLock(Lock* lock, const char* name) : lock_(lock), held_(lock && lock->lock(name)) {}
    ~ScopeLock() {
        if (held_) lock_->unlock();
    }
    ScopeLock(const ScopeLock&) = delete;
    ScopeLock& operator=(const ScopeLock&) = delete;
    bool held() const { return held_; }

private:
    Lock* lock_;
    bool held_;
};

}  // namespace measure::store
