// Registry of the XCP slave's sockets: at most ten open at once, all closed
// when the registry is destroyed at process exit. Its twin for the device
// network lives with DiraDir2.
#pragma once

#include <sys/socket.h>

#include <atomic>

#include "host/os/os.h"

class xcpSocket {
public:
    static constexpr unsigned kMaxSockets = 10;

    xcpSocket();
    ~xcpSocket();
    xcpSocket(const xcpSocket&) = delete;
    xcpSocket& operator=(const xcpSocket&) = delete;

    // A new socket, recorded; -1 when it cannot be made or ten are open.
    int get_socket(int domain, int type, int protocol);
    // Accepts a connection and records it; -1 on failure or when ten are open.
    int accept_socket(int listening, sockaddr* address, socklen_t* addressLength);
    // Closes a recorded socket: the result of closing, or -1 with errno EBADF
    // for a descriptor that is not recorded.
    int close_socket(int fd);

    bool isShutdown() const { return shutdown_; }
    unsigned count();

private:
    int fds_[kMaxSockets] = {};
    unsigned used_ = 0;
    SEM_ID mutex_ = nullptr;
    std::atomic<bool> shutdown_{false};   // read by the receive task
};

extern xcpSocket xcpSock;

int xcpSocket_get(int domain, int type, int protocol);
int xcpSocket_accept(int listening, sockaddr* address, socklen_t* addressLength);
int xcpSocket_close(int fd);
bool xcpSocket_isShutdown();
