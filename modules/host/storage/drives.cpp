// Device drives as sub-folders of the device folder, and the mapping of device
// paths ("meas:/a/b.dat", "cfg:m01.xml", "/tyCo/0") to host paths.
#include "host/kernel/kernel_internal.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

namespace host {

namespace {

const char* const kDrives[] = {"cfg", "meas", "meas2", "usb_meas", "c"};

// "meas:", "MEAS", "meas:/" -> "meas"; "" for names that are not drives.
std::string driveName(const std::string& drive) {
    std::string d = drive;
    while (!d.empty() && (d.back() == '/' || d.back() == '\\')) d.pop_back();
    if (!d.empty() && d.back() == ':') d.pop_back();
    std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* k : kDrives)
        if (d == k) return d;
    return "";
}

// A path inside a drive must not climb out of it.
bool climbsOut(const std::string& rest) {
    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = rest.find('/', i);
        if (j == std::string::npos) j = rest.size();
        if (rest.compare(i, j - i, "..") == 0 && j - i == 2) return true;
        i = j + 1;
    }
    return false;
}

}  // namespace

bool driveAvailable(const std::string& drive) {
    std::string d = driveName(drive);
    if (d.empty()) return false;
    struct stat st{};
    return ::stat(inDeviceFolder(d).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string hostPath(const std::string& devicePath) {
    if (devicePath.rfind("/tyCo/", 0) == 0) {
        const std::string num = devicePath.substr(6);
        if (num.empty() || num.size() > 2 || !std::all_of(num.begin(), num.end(), ::isdigit)) return "";
        size_t n = std::stoul(num);
        const auto& paths = startParams().serialPath;
        return n < paths.size() ? paths[n] : "";
    }
    size_t colon = devicePath.find(':');
    size_t slash = devicePath.find('/');
    if (colon == std::string::npos || (slash != std::string::npos && slash < colon))
        return devicePath;   // a plain host path
    std::string d = driveName(devicePath.substr(0, colon));
    if (d.empty()) return "";
    std::string rest = devicePath.substr(colon + 1);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    if (climbsOut(rest)) return "";
    std::string out = inDeviceFolder(d);
    if (!rest.empty()) out += "/" + rest;
    return out;
}

}  // namespace host
