#include "xcp/xcp_socket.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/syslogx.h"
#include "xcp/xcp_errno.h"

xcpSocket xcpSock;

xcpSocket::xcpSocket() {
    mutex_ = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (!mutex_) syslogx(155, "xcpSocket(): semMCreate failed - errno %s", xcpErrnoText(errno).c_str());
}

xcpSocket::~xcpSocket() {
    shutdown_ = true;
    bool locked = mutex_ && semTake(mutex_, WAIT_FOREVER) == OK;
    if (!locked) syslogx(147, "xcpSocket shutdown - could not get mutex (%s)", xcpErrnoText(errno).c_str());
    if (used_) {
        syslogx(143, "xcpSocket shutdown - closing %u pending sockets", used_);
        while (used_) close(fds_[--used_]);
    }
    if (locked) semGive(mutex_);
    if (mutex_) semDelete(mutex_);
    mutex_ = nullptr;
}

unsigned xcpSocket::count() {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) return 0;
    unsigned n = used_;
    semGive(mutex_);
    return n;
}

int xcpSocket::get_socket(int domain, int type, int protocol) {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "xcpSocket::get_socket(): could not get mutex - errno %s", xcpErrnoText(errno).c_str());
        return -1;
    }
    int fd = -1;
    if (used_ < kMaxSockets) {
        fd = socket(domain, type, protocol);
        if (fd >= 0) fds_[used_++] = fd;
    } else {
        syslogx(147, "xcpSocket::get_socket(): maximum socket reached, no socket given");
    }
    semGive(mutex_);
    return fd;
}

int xcpSocket::accept_socket(int listening, sockaddr* address, socklen_t* addressLength) {
    int fd = accept(listening, address, addressLength);
    if (fd < 0) return -1;
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "xcpSocket::accept_socket(): could not get mutex - errno %s", xcpErrnoText(errno).c_str());
        close(fd);
        return -1;
    }
    if (used_ >= kMaxSockets) {
        semGive(mutex_);
        syslogx(147, "xcpSocket::accept_socket(): maximum socket reached, no socket added to the array");
        close(fd);
        errno = EMFILE;
        return -1;
    }
    fds_[used_++] = fd;
    semGive(mutex_);
    return fd;
}

int xcpSocket::close_socket(int fd) {
    if (!mutex_ || semTake(mutex_, WAIT_FOREVER) != OK) {
        syslogx(147, "xcpSocket::close_socket(): could not get mutex - errno %s", xcpErrnoText(errno).c_str());
        return -1;
    }
    unsigned i = 0;
    while (i < used_ && fds_[i] != fd) ++i;
    if (i == used_) {
        semGive(mutex_);
        syslogx(143, "xcpSocket::close_socket(%u): invalid file descriptor", unsigned(fd));
        errno = EBADF;
        return -1;
    }
    fds_[i] = fds_[--used_];
    semGive(mutex_);
    syslogx(143, "xcpSocket::close_socket(%u)", unsigned(fd));
    return close(fd);
}

int xcpSocket_get(int domain, int type, int protocol) { return xcpSock.get_socket(domain, type, protocol); }
int xcpSocket_accept(int listening, sockaddr* address, socklen_t* addressLength) {
    return xcpSock.accept_socket(listening, address, addressLength);
}
int xcpSocket_close(int fd) { return xcpSock.close_socket(fd); }
bool xcpSocket_isShutdown() { return xcpSock.isShutdown(); }
