// The device folder and the atomic file write that every persisted service uses.
#include "host/kernel_internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace host {

namespace {
std::mutex folderMx;
std::string folder;
bool folderSet = false;
}  // namespace

void setDeviceFolder(const std::string& f) {
    std::lock_guard<std::mutex> lk(folderMx);
    folder = f;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folderSet = true;
}

const std::string& deviceFolder() {
    std::lock_guard<std::mutex> lk(folderMx);
    if (!folderSet) {
        char buf[4096];
        folder = getcwd(buf, sizeof buf) ? buf : ".";
        folderSet = true;
    }
    return folder;
}

namespace detail {

bool writeFileAtomic(const std::string& path, const void* data, size_t len) {
    std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::write(fd, p + done, len - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace detail
}  // namespace host
