// File attributes of the device's FAT file system (read-only, hidden, system,
// archive), which Linux has not: kept in the extended attribute
// "user.tav9.attrib" where the file system allows it, else in a side file
// ".attrib" of the folder with lines "<name> <hex bits>". The directory bit
// always comes from the file itself.
#include "host/kernel/kernel_internal.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>

namespace host {

namespace {

constexpr const char* kXattr = "user.tav9.attrib";
constexpr uint32_t kStoredBits = ATTR_READ_ONLY | ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ARCHIVE;
std::mutex sideMx;

void splitPath(const std::string& path, std::string* dir, std::string* name) {
    size_t s = path.find_last_of('/');
    *dir = s == std::string::npos ? "." : path.substr(0, s);
    *name = s == std::string::npos ? path : path.substr(s + 1);
}

std::map<std::string, uint32_t> readSide(const std::string& dir) {
    std::map<std::string, uint32_t> m;
    std::vector<uint8_t> bytes;
    readWholeFile(dir + "/.attrib", &bytes);   // missing or unreadable: no attributes
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
        size_t sp = line.find_last_of(' ');
        if (sp == std::string::npos || sp == 0) continue;
        m[line.substr(0, sp)] = static_cast<uint32_t>(std::strtoul(line.c_str() + sp + 1, nullptr, 16));
    }
    return m;
}

bool writeSide(const std::string& dir, const std::map<std::string, uint32_t>& m) {
    std::ostringstream out;
    for (auto& [name, bits] : m)
        if (bits) out << name << ' ' << std::hex << bits << '\n';
    std::string s = out.str();
    return detail::writeFileAtomic(dir + "/.attrib", s.data(), s.size());
}

}  // namespace

bool getFileAttributes(const std::string& devicePath, uint32_t* attrs) {
    std::string p = hostPath(devicePath);
    struct stat st{};
    if (p.empty() || !attrs || ::stat(p.c_str(), &st) != 0) return false;
    uint32_t bits = 0;
    char buf[16] = {};
    ssize_t n = ::getxattr(p.c_str(), kXattr, buf, sizeof buf - 1);
    if (n > 0) {
        bits = static_cast<uint32_t>(std::strtoul(buf, nullptr, 16));
    } else {
        std::string dir, name;
        splitPath(p, &dir, &name);
        std::lock_guard<std::mutex> lk(sideMx);
        auto m = readSide(dir);
        auto it = m.find(name);
        if (it != m.end()) bits = it->second;
    }
    bits &= kStoredBits;
    if (S_ISDIR(st.st_mode)) bits |= ATTR_DIRECTORY;
    *attrs = bits;
    return true;
}

bool setFileAttributes(const std::string& devicePath, uint32_t attrs) {
    std::string p = hostPath(devicePath);
    struct stat st{};
    if (p.empty() || ::stat(p.c_str(), &st) != 0) return false;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", attrs & kStoredBits);
    if (::setxattr(p.c_str(), kXattr, buf, std::char_traits<char>::length(buf), 0) == 0) return true;
    if (errno != ENOTSUP && errno != EPERM) return false;
    std::string dir, name;
    splitPath(p, &dir, &name);
    std::lock_guard<std::mutex> lk(sideMx);
    auto m = readSide(dir);
    m[name] = attrs & kStoredBits;
    return writeSide(dir, m);
}

}  // namespace host
