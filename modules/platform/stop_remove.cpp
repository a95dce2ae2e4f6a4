#include "platform/stop_remove.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "platform/syslogx.h"

namespace {

// How often the wait looks whether the removal has ended.
constexpr auto kLookEvery = std::chrono::milliseconds(2);

// In the child: only calls that are safe after a fork of a process with
// threads. Its descriptors go first: one left open (a listening socket, the
// device folder's lock, standard output's pipe) would outlive this process
// for as long as the disk holds the child.
[[noreturn]] void removeInChild(const char* path) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 0U, UINT_MAX, 0U) != 0)
#endif
        for (int fd = 0; fd < 4096; ++fd) close(fd);
    struct stat st;
    const bool gone = lstat(path, &st) != 0 || !S_ISSOCK(st.st_mode) || unlink(path) == 0;
    _exit(gone ? 0 : 1);
}

}  // namespace

bool stopRemove_socket(const std::string& path, unsigned waitMs) {
    const pid_t child = fork();
    if (child == 0) removeInChild(path.c_str());
    if (child < 0) {
        syslogx(147, "shell: %s not removed: no process for it: %s", path.c_str(), strerror(errno));
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // (SIGCHLD ignored: the child went by itself, how is not known)
        if (r < 0 && errno != EINTR) return true;
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(kLookEvery);
    }
    syslogx(148, "shell: the removal of %s is held up by its disk: left to a process of its own after %u ms",
            path.c_str(), waitMs);
    return false;
}
