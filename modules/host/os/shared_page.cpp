// The page "/shm/ApplComm" that the sibling application writes, with its guard
// semaphore "/ApplComSem" (created full, so the first taker gets it).
#include "host/kernel/kernel_internal.h"
#include "host/os/os.h"

#include <cstring>
#include <mutex>

namespace host {

namespace {
alignas(64) uint8_t page[kApplCommPageSize];
std::once_flag semOnce;
}  // namespace

uint8_t* applCommPage() {
    std::call_once(semOnce, [] { semOpen("/ApplComSem", SEM_TYPE_BINARY, 1, SEM_Q_FIFO, OM_CREATE); });
    return page;
}

namespace detail {
void resetSharedPage() { std::memset(page, 0, sizeof page); }
}  // namespace detail

}  // namespace host
