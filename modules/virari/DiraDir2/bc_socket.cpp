// The socket registry.
#include "virari/DiraDir2/bc_socket.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/syslogx.h"

namespace {
std::atomic<int> bcShutdown{0};

void shutdownAndClose(int fd) {
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}
}  // namespace

bcSocket& bcSock() {
    static bcSocket instance;
    return instance;
}

bcSocket::bcSocket() {
    mutex_ = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!mutex_) syslogx(155, "bcSocket(): semMCreate failed - errno %s", strerror(errno));
}

bcSocket::~bcSocket() {
    bcShutdown = 1;
    close_all();
    if (mutex_) semDelete(mutex_);
    mutex_ = nullptr;
}

void bcSocket::close_all() {
    const bool locked = mutex_ && semTake(mutex_, WAIT_FOREVER) == OK;
    if (!locked) syslogx(147, "bcSocket shutdown - could not get mutex (%s)", strerror(errno));
    if (count_ > 0) syslogx(143, "bcSocket shutdown - closing %u pending sockets", unsigned(count_));
    for (int i = count_ - 1; i >= 0; --i) shutdownAndClose(fds_[i]);
    count_ = 0;
    if (locked) semGive(mutex_);
}

void bcSocket::wake_all() {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) return;
    for (int i = 0; i < count_; ++i) ::shutdown(fds_[i], SHUT_RDWR);
    semGive(mutex_);
}

int bcSocket::get_socket(int domain, int type, int protocol) {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "bcSocket::get_socket(): could not get mutex - errno %s", strerror(errno));
        return -1;
    }
    int fd = -1;
    if (count_ >= kMaxSockets) {
        syslogx(147, "bcSocket::get_socket(): maximum socket reached, no socket given");
    } else {
        fd = ::socket(domain, type | SOCK_CLOEXEC, protocol);
        if (fd >= 0) fds_[count_++] = fd;
    }
    semGive(mutex_);
    return fd;
}

int bcSocket::accept_socket(int listenFd, sockaddr* peer, socklen_t* peerLen) {
    int fd = ::accept4(listenFd, peer, peerLen, SOCK_CLOEXEC);
    if (fd < 0) return -1;
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "bcSocket::accept_socket(): could not get mutex - errno %s", strerror(errno));
        ::close(fd);
        return -1;
    }
    if (count_ >= kMaxSockets) {
        syslogx(147, "bcSocket::accept_socket(): maximum socket reached, no socket added to the array");
        semGive(mutex_);
        ::close(fd);
        errno = 35;
        return -1;
    }
    fds_[count_++] = fd;
    semGive(mutex_);
    return fd;
}

int bcSocket::close_socket(int fd, bool logClose) {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "bcSocket::close_socket(): could not get mutex - errno %s", strerror(errno));
        return -1;
    }
    int i = 0;
    while (i < count_ && fds_[i] != fd) ++i;
    if (i == count_) {
        semGive(mutex_);
        syslogx(143, "bcSocket::close_socket(%u): invalid file descriptor", unsigned(fd));
        errno = 9;
        return -1;
    }
    fds_[i] = fds_[--count_];
    semGive(mutex_);
    if (logClose) syslogx(143, "bcSocket::close_socket(%u)", unsigned(fd));
    ::shutdown(fd, SHUT_WR);
    return ::close(fd);
}

int bcSocket::count() {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) return -1;
    int n = count_;
    semGive(mutex_);
    return n;
}

int bcSocket_get(int domain, int type, int protocol) { return bcSock().get_socket(domain, type, protocol); }
int bcSocket_accept(int listenFd, sockaddr* peer, socklen_t* peerLen) {
    return bcSock().accept_socket(listenFd, peer, peerLen);
}
int bcSocket_close(int fd, bool logClose) { return bcSock().close_socket(fd, logClose); }
int bcSocket_isShutdown() { return bcShutdown.load(); }
void bcSocket_wakeAll() { bcSock().wake_all(); }
void bcSocket_closeAll() { bcSock().close_all(); }
