// Internals shared by the kernel-side services of the host layer.
#pragma once

#include "host/kernel.h"

#include <string>

namespace host::detail {

// PWM and digital channels the I/O state keeps; others are ignored there and
// refused by the system call.
constexpr unsigned kIoChannels = 32;

// Resets of the single services (resetForTest calls them all).
void resetStartParams();
void resetNvram();
void resetIoState();
void resetScreen();
void resetSharedPage();
void resetTimeCore();
void resetCan();
void resetSyscallState();
void resetBaseTick();

// Writes data to path through "path.tmp" and a rename, so that readers see the
// old or the new content, never a part.
bool writeFileAtomic(const std::string& path, const void* data, size_t len);

}  // namespace host::detail
