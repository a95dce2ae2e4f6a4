// Process-wide registry of the network sockets of the device network and the
// telemetry, so that all of them are closed together when the process ends.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>

#include "host/os/os.h"

class bcSocket {
public:
    static constexpr int kMaxSockets = 200;
    bcSocket();
    ~bcSocket();
    bcSocket(const bcSocket&) = delete;
    bcSocket& operator=(const bcSocket&) = delete;

    int get_socket(int domain, int type, int protocol);
    int accept_socket(int listenFd, sockaddr* peer, socklen_t* peerLen);
    // logClose false: the close is not logged (a close that a peer can cause
    // at will, whose line its caller limits).
    int close_socket(int fd, bool logClose = true);
    // Sockets in use (tests).
    int count();
    // Shuts every registered socket down both ways without closing it, so that
    // tasks blocked on them return (the device network's stop).
    void wake_all();
    // Closes every registered socket (the destructor, and the device
    // network's stop once its tasks have ended).
    void close_all();

private:
    int fds_[kMaxSockets];
    int count_ = 0;
    SEM_ID mutex_ = nullptr;
};

// The one registry, made at its first use (after the OS layer it relies on)
// and closed at process exit.
bcSocket& bcSock();

int bcSocket_get(int domain, int type, int protocol);
int bcSocket_accept(int listenFd, sockaddr* peer, socklen_t* peerLen);
int bcSocket_close(int fd, bool logClose = true);
int bcSocket_isShutdown();
void bcSocket_wakeAll();
void bcSocket_closeAll();
