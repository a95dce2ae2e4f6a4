// Shell bridge of the host: one task reads command lines from standard input,
// another serves the Unix socket "shell.sock" of the device folder. Both poll
// with a short time-out so that shell_stop can end them.
#include "platform/shell.h"

#include "platform/syslogx.h"
#include "host/kernel.h"
#include "host/os.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

constexpr int kPollMs = 100;
constexpr size_t kMaxClients = 8;
constexpr size_t kMaxLine = 1024;

std::mutex gCtlMx;
std::atomic<bool> gStop{false};
TASK_ID gStdinTask = nullptr;
TASK_ID gSockTask = nullptr;
int gListenFd = -1;
std::string gSockPath;

void sendAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

// Splits buffered bytes into lines; an over-long line is cut into pieces.
template <class Fn>
void takeLines(std::string& buf, Fn onLine) {
    size_t nl;
    while ((nl = buf.find('\n')) != std::string::npos) {
        onLine(buf.substr(0, nl));
        buf.erase(0, nl + 1);
    }
    if (buf.size() > kMaxLine) {
        onLine(buf);
        buf.clear();
    }
}

void stdinBody() {
    std::string buf;
    char chunk[512];
    while (!gStop.load()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        int r = poll(&p, 1, kPollMs);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) break;
        buf.append(chunk, static_cast<size_t>(n));
        takeLines(buf, [](const std::string& line) { shell_runLine(line.c_str()); });
    }
    // End of input: the socket goes on serving. The task stays until
    // shell_stop, so that its id stays valid for the stop.
    while (!gStop.load()) taskDelay(kPollMs);
}

struct Client {
    int fd;
    std::string buf;
};

void serveLine(int fd, const std::string& line) {
    std::string out;
    int rc = shell_runLineCapture(line.c_str(), &out);
    char tail[64];
    snprintf(tail, sizeof tail, "value = %d = 0x%x\n", rc, static_cast<unsigned>(rc));
    out += tail;
    sendAll(fd, out);
}

void socketBody(int listenFd) {
    Client clients[kMaxClients];
    size_t nClients = 0;
    while (!gStop.load()) {
        pollfd p[1 + kMaxClients];
        p[0] = {listenFd, POLLIN, 0};
        for (size_t i = 0; i < nClients; ++i) p[1 + i] = {clients[i].fd, POLLIN, 0};
        int r = poll(p, 1 + nClients, kPollMs);
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        // Clients first, so that indexes stay valid while closing.
        for (size_t i = nClients; i-- > 0;) {
            if (!(p[1 + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char chunk[512];
            ssize_t n = read(clients[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                clients[i].buf.append(chunk, static_cast<size_t>(n));
                int fd = clients[i].fd;
                takeLines(clients[i].buf, [fd](const std::string& line) { serveLine(fd, line); });
                continue;
            }
            if (!clients[i].buf.empty()) serveLine(clients[i].fd, clients[i].buf);
            close(clients[i].fd);
            clients[i] = std::move(clients[nClients - 1]);
            --nClients;
        }
        if (p[0].revents & POLLIN) {
            int fd = accept(listenFd, nullptr, nullptr);
            if (fd >= 0) {
                if (nClients < kMaxClients) {
                    clients[nClients++] = Client{fd, {}};
                } else {
                    sendAll(fd, "shell: too many connections\n");
                    close(fd);
                }
            }
        }
    }
    for (size_t i = 0; i < nClients; ++i) close(clients[i].fd);
    while (!gStop.load()) taskDelay(kPollMs);
}

int openSocket(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        syslogx(147, "shell: socket path too long: %s", path.c_str());
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        syslogx(147, "shell: socket failed: %s", strerror(errno));
        return -1;
    }
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());   // a socket left by an earlier run
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        syslogx(147, "shell: cannot open %s: %s", path.c_str(), strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// The tasks see gStop within one poll period (or after the command they
// run) and return.
void endTask(TASK_ID& t) {
    if (!t) return;
    taskWait(t, WAIT_FOREVER);
    t = nullptr;
}

}  // namespace

std::string shell_socketPath() {
    const std::string& dir = host::deviceFolder();
    return dir.empty() ? std::string("shell.sock") : dir + "/shell.sock";
}

int shell_start(bool readStdin) {
    std::lock_guard<std::mutex> lk(gCtlMx);
    if (gSockTask || gStdinTask) return 1;
    gStop.store(false);
    gSockPath = shell_socketPath();
    gListenFd = openSocket(gSockPath);
    if (gListenFd >= 0) {
        int fd = gListenFd;
        gSockTask = taskSpawn("r_shellSock", 200, 0, 0x8000, std::function<void()>([fd] { socketBody(fd); }));
        if (!gSockTask) syslogx(147, "shell: task r_shellSock not started");
    }
    if (readStdin) {
        gStdinTask = taskSpawn("r_shellStdin", 200, 0, 0x8000, std::function<void()>(stdinBody));
        if (!gStdinTask) syslogx(147, "shell: task r_shellStdin not started");
    }
    if (!gSockTask && gListenFd >= 0) {
        close(gListenFd);
        unlink(gSockPath.c_str());
        gListenFd = -1;
    }
    return (gSockTask || gStdinTask) ? 1 : 0;
}

void shell_stop() {
    std::lock_guard<std::mutex> lk(gCtlMx);
    gStop.store(true);
    endTask(gSockTask);
    endTask(gStdinTask);
    if (gListenFd >= 0) {
        close(gListenFd);
        unlink(gSockPath.c_str());
        gListenFd = -1;
    }
}

bool shell_running() {
    std::lock_guard<std::mutex> lk(gCtlMx);
    return gSockTask || gStdinTask;
}
