// Interposed fsync() and lstat(): see held_calls.h.
#include "held_calls.h"

#include "call_gate.h"

#include <dlfcn.h>
#include <pthread.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>

namespace {

using Gate = CallGate;

Gate& syncs() {
    static Gate g;
    return g;
}
Gate& driveSyncs() {
    static Gate g;
    return g;
}
Gate& lookups() {
    static Gate g;
    return g;
}
std::mutex gThreadMx;
std::thread::id gLookupThread;
std::string gLookupTask;   // a task name, "" for none
std::string gSyncPart;     // the path part of the drive syncs held

std::string pathOf(int fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

bool driveSyncHeld(int fd) {
    if (!driveSyncs().isClosed()) return false;
    std::string part;
    {
        std::lock_guard<std::mutex> lk(gThreadMx);
        part = gSyncPart;
    }
    return !part.empty() && pathOf(fd).find(part) != std::string::npos;
}

bool isNvramFile(int fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = 0;
    const char* tail = "/nvram.bin.tmp";
    const size_t t = std::strlen(tail);
    return size_t(n) >= t && std::strcmp(target + n - t, tail) == 0;
}

bool lookupHeldHere() {
    std::lock_guard<std::mutex> lk(gThreadMx);
    if (gLookupThread == std::this_thread::get_id()) return true;
    if (gLookupTask.empty()) return false;
    char name[32] = "";
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 && gLookupTask == name;
}

}  // namespace

namespace held_calls {

void holdNvramSyncs() { syncs().close(); }
void releaseNvramSyncs() { syncs().open(); }
bool nvramSyncWaits(std::chrono::seconds limit) { return syncs().someoneWaits(limit); }

void holdDriveSyncs(const char* part) {
    {
        std::lock_guard<std::mutex> lk(gThreadMx);
        gSyncPart = part;
    }
    driveSyncs().close();
}
void releaseDriveSyncs() {
    driveSyncs().open();
    std::lock_guard<std::mutex> lk(gThreadMx);
    gSyncPart.clear();
}
bool driveSyncWaits(std::chrono::seconds limit) { return driveSyncs().someoneWaits(limit); }

void holdLookups(std::thread::id of) {
    {
        std::lock_guard<std::mutex> lk(gThreadMx);
        gLookupThread = of;
    }
    lookups().close();
}
void holdLookupsOfTask(const char* name) {
    {
        std::lock_guard<std::mutex> lk(gThreadMx);
        gLookupTask = name;
    }
    lookups().close();
}
void releaseLookups() {
    {
        std::lock_guard<std::mutex> lk(gThreadMx);
        gLookupThread = std::thread::id();
        gLookupTask.clear();
    }
    lookups().open();
}
bool lookupWaits(std::chrono::seconds limit) { return lookups().someoneWaits(limit); }
bool lookupWaiters(int n, std::chrono::seconds limit) { return lookups().waitersReach(n, limit); }

}  // namespace held_calls

extern "C" {

int fsync(int fd) {
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
    if (syncs().isClosed() && isNvramFile(fd)) syncs().pass();
    if (driveSyncHeld(fd)) driveSyncs().pass();
    return real(fd);
}

int fdatasync(int fd) {
    using Fn = int (*)(int);
    static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fdatasync"));
    if (driveSyncHeld(fd)) driveSyncs().pass();
    return real(fd);
}

int lstat(const char* path, struct stat* st) noexcept {
    if (lookups().isClosed() && lookupHeldHere()) lookups().pass();
    return int(::syscall(SYS_newfstatat, AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW));
}

int lstat64(const char* path, struct stat64* st) noexcept {
    if (lookups().isClosed() && lookupHeldHere()) lookups().pass();
    return int(::syscall(SYS_newfstatat, AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW));
}

}
