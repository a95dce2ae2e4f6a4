// Internals shared by the kernel-side services of the host layer.
#pragma once

#include "host/kernel/kernel.h"
#include "host/os/os.h"

#include <ctime>
#include <string>

namespace host {
// Interrupt of the time core's gap; the queue connected to it receives the
// 4-byte time stamp of each gap.
constexpr intptr_t kTimeGapIrq = 63;
void connectTimeGapInterrupt(MSG_Q_ID queue);
}  // namespace host

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

// The time stamp (0.1 ms) of a CLOCK_MONOTONIC instant: 1 ms deadlines of
// the base tick map to stamps exactly 10 apart (9 where a slave's slew
// holds its stamp back by 0.1 ms).
uint32_t timeStampAt(const timespec& ts);

// The time core's part of every base tick (its gap interrupt), with the
// tick's stamp.
void timeCoreTick(uint32_t tickStamp);

// Writes data to path through "path.tmp" (made anew) and a rename, so that
// readers see the old or the new content, never a part; the file is synced
// before the rename and the folder after it, so a power cut keeps one of
// them whole. true once the new file is in place (a failed folder sync
// after the rename included); false with the cause in errno when the old
// content stays, and in *failedOn (if given) the path the failing call was
// made on ("path.tmp", or path for the rename).
bool writeFileAtomic(const std::string& path, const void* data, size_t len, std::string* failedOn = nullptr);

}  // namespace host::detail
