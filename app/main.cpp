// Entry of the device process: the application number is the one argument.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "signals.h"

int appStart(int argc, char** argv);

namespace {

// A standard descriptor the caller closed (`tav9 1 <&-`) would be the next
// file the device opens: device.lock read as shell commands, shell answers
// and warnings written into it. Each one closed is opened on /dev/null.
void openClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR);
        if (null < 0) _exit(1);   // nothing to say it on; the device must not start so
        if (null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything is opened: the standard descriptors are the device's
    // terminal, never one of its files.
    openClosedStandardDescriptors();
    // Then: a termination signal sent while the process starts then
    // waits, pending, until the device can end in order, instead of killing
    // it half made; every thread made later inherits the mask.
    signals_blockTermination();
    return appStart(argc, argv);
}
