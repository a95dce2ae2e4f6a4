// What stands at a name on a logging drive.
#include "logging/drives/drive_entry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

const char* meas_driveEntryKind(const std::string& hostPath) {
    struct stat st {};
    if (hostPath.empty() || ::lstat(hostPath.c_str(), &st) != 0) return nullptr;
    if (S_ISLNK(st.st_mode)) return "a link";
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    return st.st_size == 0 ? "an empty file" : "a file";
}

bool meas_isMeasFileName(const char* name) {
    if (!name || std::strlen(name) != 12 || (name[0] != 'A' && name[0] != 'B') || name[8] != '.') return false;
    for (int i = 1; i < 12; ++i) {
        if (i == 8) continue;
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool meas_countersOfName(const char* name, MeasNameCounters* out) {
    if (!out || !meas_isMeasFileName(name)) return false;
    const auto hex = [name](int at, int digits) {
        return uint16_t(std::strtoul(std::string(name + at, size_t(digits)).c_str(), nullptr, 16));
    };
    out->outing = hex(1, 2);
    out->lap = hex(3, 2);
    out->absLap = uint16_t(hex(5, 3) << 4 | hex(9, 1));
    out->fragment = hex(10, 2);
    return true;
}

void meas_forEachPlainFile(const std::string& hostFolder, const std::function<bool(const char* name)>& pick,
                           const std::function<void(int dirFd, const char* name, const struct stat& st)>& visit) {
    DIR* dir = hostFolder.empty() ? nullptr : ::opendir(hostFolder.c_str());
    if (!dir) return;
    const int dfd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (!pick(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        visit(dfd, e->d_name, st);
    }
    ::closedir(dir);
}
