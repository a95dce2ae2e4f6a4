#include "logging/store/lock.h"

#include <cerrno>
#include <cstring>

#include "platform/syslogx.h"

namespace measure::store {

namespace {
const char* const kFree = "none";
}

Lock::Lock(bool inversionSafe) : owner_(kFree) {
    sem_ = semMCreate(SEM_Q_PRIORITY | (inversionSafe ? SEM_INVERSION_SAFE : 0));
    if (!sem_) {
        syslogx(147, "Lock::Lock(): could not create semaphore (%s)", std::strerror(errno));
        throw "Lock::Lock(): could not create semaphore";
    }
}

Lock::~Lock() {
    if (!sem_) return;
    lock("~Lock");
    semDelete(sem_);
    sem_ = nullptr;
}

int Lock::lock(const char* name) {
    if (!sem_) {
        syslogx(147, "Lock::lock(%s): could not take semaphore (OBJ_ID_ERROR) - object destroyed?",
                name ? name : "");
        return 0;
    }
    if (semTake(sem_, WAIT_FOREVER) != OK) {
        SYSLOGX_FLOOD(floodLock_, 147, "Lock::lock(%s): could not take semaphore (%s) - locked by (%s)",
                      name ? name : "", std::strerror(errno), owner());
        return 0;
    }
    if (owner() == kFree) {
        if (name) {
            owner_.store(name, std::memory_order_relaxed);
            ++count_;
        }
    } else {
        ++count_;
    }
    return 1;
}

int Lock::unlock() {
    if (count_ > 0 && --count_ == 0) owner_.store(kFree, std::memory_order_relaxed);
    if (!sem_ || semGive(sem_) != OK) {
        SYSLOGX_FLOOD(floodUnlock_, 147, "Lock::unlock(%s): failed to give semaphore (%s)", owner(),
                      std::strerror(errno));
        return 0;
    }
    return 1;
}

}  // namespace measure::store
