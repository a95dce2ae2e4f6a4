// The directory size of a formatted drive. A host folder has no directory of
// fixed size: its file system answers the statistics request with the
// folder's file-system totals. Once the format service has formatted a drive
// for a size, the drive answers that size instead, as a partition formatted
// for it would. The sizes live in "drive_format.cfg" of the device folder
// (lines "meas: 1000"), so a later process start sees them; the drive
// folders and their files stay untouched.
#include "host/kernel/kernel.h"

#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace host {

namespace {

std::mutex mx;

std::string stateFile() { return deviceFolder() + "/drive_format.cfg"; }

// "meas:", "MEAS", "meas:/" -> "meas:"
std::string key(const std::string& drive) {
    std::string d;
    for (char c : drive) {
        if (c == ':' || c == '/') break;
        d += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return d + ":";
}

std::string problem;   // what the last reading found wrong with the file, "" when nothing

// The sizes of the lines that can be used; what is wrong with the file (it is
// written whole by setDriveDirectorySize, so anything else is damage) goes
// to `problem`. A missing file is a folder never formatted.
std::map<std::string, uint32_t> readSizes() {
    std::map<std::string, uint32_t> sizes;
    problem.clear();
    const std::string kind = fileProblem(stateFile());
    if (kind == "not found") return sizes;
    if (!kind.empty()) {   // a folder, a link that leads nowhere, empty
        problem = "drive_format.cfg " + kind + ": no drive counts as formatted";
        return sizes;
    }
    std::ifstream in(stateFile(), std::ios::binary);
    if (!in) {
        problem = "drive_format.cfg cannot be read: no drive counts as formatted";
        return sizes;
    }
    std::string line, nul;
    int number = 0, bad = 0, firstBad = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string drive;
        unsigned long size = 0;
        // a NUL byte would end the line early for a reader of C strings
        const size_t zero = line.find('\0');
        if (zero != std::string::npos && nul.empty())
            nul = "NUL byte in line " + std::to_string(number) + " column " + std::to_string(zero + 1) + "; ";
        if (zero == std::string::npos && words >> drive >> size && size > 0 && size <= 0xFFFFFFFEul) {
            sizes[key(drive)] = uint32_t(size);
        } else if (line.find_first_not_of(" \t\r") != std::string::npos) {
            if (!bad++) firstBad = number;
        }
    }
    if (number == 0)
        problem = "drive_format.cfg is empty: no drive counts as formatted";
    else if (bad)
        problem = "drive_format.cfg: " + nul + std::to_string(bad) + (bad == 1 ? " unusable line" : " unusable lines") +
                  " ignored (the first is line " + std::to_string(firstBad) + ")";
    return sizes;
}

// True when the file is one that setDriveDirectorySize may replace: missing,
// or a file (a folder or a link that leads nowhere stays as it is).
bool replaceable() {
    const std::string kind = fileProblem(stateFile());
    return kind.empty() || kind == "not found" || kind == "is empty";
}

}  // namespace

uint32_t driveDirectorySize(const std::string& drive) {
    std::lock_guard<std::mutex> lk(mx);
    auto sizes = readSizes();
    auto it = sizes.find(key(drive));
    return it == sizes.end() ? 0 : it->second;
}

std::string driveFormatProblem() {
    std::lock_guard<std::mutex> lk(mx);
    return problem;
}

bool setDriveDirectorySize(const std::string& drive, uint32_t size) {
    std::lock_guard<std::mutex> lk(mx);
    auto sizes = readSizes();
    if (!replaceable()) return false;   // named by readSizes
    sizes[key(drive)] = size;
    // written aside and renamed: a crash leaves the old sizes or the new ones
    const std::string tmp = stateFile() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (const auto& [d, s] : sizes) out << d << ' ' << s << '\n';
        if (!out.flush()) return false;
    }
    return std::rename(tmp.c_str(), stateFile().c_str()) == 0;
}

bool driveFileStatistics(const std::string& drive, uint32_t* used, uint32_t* total) {
    if (!driveAvailable(drive)) return false;
    const std::string root = hostPath(key(drive));
    struct statvfs st {};
    if (root.empty() || ::statvfs(root.c_str(), &st) != 0) return false;
    const uint32_t formatted = driveDirectorySize(drive);
    if (!formatted) {
        if (used) *used = uint32_t(st.f_files - st.f_ffree);
        if (total) *total = uint32_t(st.f_files);
        return true;
    }
    // a formatted drive's directory holds the drive's own entries only
    uint32_t entries = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        ++entries;
    if (used) *used = entries;
    if (total) *total = formatted;
    return true;
}

}  // namespace host
