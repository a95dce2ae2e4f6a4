// Serial ports "/tyCo/<n>" as the host paths of the start parameters (a pty of
// socat in tests). Baud rate and raw mode go through termios; on a path that
// is no terminal (a FIFO or a plain file) they are accepted and ignored.
#include "host/kernel/kernel_internal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace host {

namespace {

speed_t speedOf(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return 0;
    }
}

}  // namespace

int serialOpen(const std::string& device, int flags) {
    if (device.rfind("/tyCo/", 0) != 0) return -1;
    std::string path = hostPath(device);
    if (path.empty()) return -1;
    return ::open(path.c_str(), flags | O_NOCTTY | O_CLOEXEC);
}

int serialSetBaud(int fd, int baud) {
    speed_t s = speedOf(baud);
    if (fd < 0 || !s) return -1;
    if (!::isatty(fd)) return 0;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return -1;
    ::cfsetispeed(&t, s);
    ::cfsetospeed(&t, s);
    return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : -1;
}

int serialSetRaw(int fd) {
    if (fd < 0) return -1;
    if (!::isatty(fd)) return 0;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return -1;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : -1;
}

}  // namespace host
