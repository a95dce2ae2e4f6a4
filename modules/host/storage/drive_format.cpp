// The directory size of a formatted drive. A host folder has no directory of
// fixed size: its file system answers the statistics request with the
// folder's file-system totals. Once the format service has formatted a drive
// for a size, the drive answers that size instead, as a partition formatted
// for it would. The sizes live in "drive_format.cfg" of the device folder
// (lines "meas: 1000"), so a later process start sees them; the drive
// folders and their files stay untouched.
#include "host/kernel/kernel_internal.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

namespace host {

namespace {

std::mutex mx;

std::string stateFile() { return inDeviceFolder("drive_format.cfg"); }

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

// The last file parsed, by its stamp: the drives are asked for their
// statistics often, and a file that has not changed is not parsed again.
struct Parsed {
    bool valid = false;
    std::string path;
    FileStamp stamp;
    std::map<std::string, uint32_t> sizes;
    std::string problem;
};
Parsed parsed;

// A file written this recently may be written again within the file
// system's clock tick without a new time in its stamp: it is parsed again.
constexpr int64_t kSettledNs = 2000000000;

bool settled(const FileStamp& stamp) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec - stamp.modified >= kSettledNs;
}

// The sizes of the lines of the file's bytes that can be used; what is wrong
// with them (the file is written whole by setDriveDirectorySize, so
// anything else is damage) goes to `problem`.
std::map<std::string, uint32_t> parse(const std::vector<uint8_t>& bytes) {
    std::map<std::string, uint32_t> sizes;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
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

// The sizes of the file's lines that can be used, what is wrong with it in
// `problem`. A missing file is a folder never formatted; one that is no
// file to read (a folder, a FIFO, a link that leads nowhere, empty, above
// the one size limit) counts nothing.
std::map<std::string, uint32_t> readSizes() {
    problem.clear();
    const std::string path = stateFile();
    const std::string kind = fileProblem(path);
    if (kind == "not found") return {};
    if (!kind.empty()) {
        problem = "drive_format.cfg " + kind + ": no drive counts as formatted";
        return {};
    }
    FileStamp stamp;
    std::string why;
    const int fd = openFileToRead(path, &why, nullptr, kFileMaxBytes, &stamp);
    if (fd >= 0) ::close(fd);
    if (fd >= 0 && parsed.valid && parsed.path == path && parsed.stamp == stamp) {
        problem = parsed.problem;
        return parsed.sizes;
    }
    parsed.valid = false;
    std::vector<uint8_t> bytes;
    switch (readWholeFile(path, &bytes, &why, &stamp)) {
    case FileRead::Missing: return {};   // gone since the look above
    case FileRead::Unreadable: problem = "drive_format.cfg " + why + ": no drive counts as formatted"; return {};
    case FileRead::Ok: break;
    }
    std::map<std::string, uint32_t> sizes = parse(bytes);
    if (settled(stamp)) parsed = Parsed{true, path, stamp, sizes, problem};
    return sizes;
}

// True when the file is one that setDriveDirectorySize may replace: missing,
// or a plain file (a folder, a FIFO, a device or a link that leads nowhere
// stays as it is).
bool replaceable() {
    const std::string kind = fileProblem(stateFile());
    return kind.empty() || kind == "not found" || kind == "is empty" || kind.rfind("is too large", 0) == 0;
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

bool setDriveDirectorySize(const std::string& drive, uint32_t size, std::string* why) {
    std::lock_guard<std::mutex> lk(mx);
    auto sizes = readSizes();
    const auto kept = [&] {
        if (why) *why = "drive_format.cfg " + fileProblem(stateFile());
        return false;
    };
    if (!replaceable()) return kept();
    sizes[key(drive)] = size;
    // written aside and renamed: a crash leaves the old sizes or the new ones
    std::ostringstream out;
    for (const auto& [d, s] : sizes) out << d << ' ' << s << '\n';
    const std::string text = out.str();
    if (detail::writeFileAtomic(stateFile(), text.data(), text.size())) return true;
    // All but the rename fail on the file written aside. The rename fails
    // only when drive_format.cfg became what is not replaced meanwhile.
    const int cause = errno;
    if (!replaceable()) return kept();
    if (why) *why = std::string("drive_format.cfg.tmp: ") + std::strerror(cause);
    return false;
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
