// The unit's own 1-Wire ROM id in "unit.id" of the device folder.
//
// A board carries its serial number in a 1-Wire chip; a device folder
// stands for one board, so it gets a ROM id of its own: family code 0x01
// (a silicon serial number), six random bytes and the chip's CRC-8, kept
// as 16 hexadecimal digits. It is made once, on the first start in the
// folder, and then only read: a file that is there is never replaced, not
// even when it is damaged (the ROM read then fails, as a broken chip's
// would, and the start-up names the file). It is written whole under a
// temporary name and linked into place, so a power cut leaves no half id
// and the link never replaces what another start put there meanwhile.
#include "host/kernel/kernel_internal.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace host {

namespace {

constexpr const char* kUnitIdFile = "unit.id";
constexpr uint8_t kFamilySerialNumber = 0x01;

std::string path() { return inDeviceFolder(kUnitIdFile); }

// The Dallas/Maxim CRC-8 of the 1-Wire ROM (x^8 + x^5 + x^4 + 1, reflected).
uint8_t romCrc8(const uint8_t* p, size_t n) {
    uint8_t crc = 0;
    while (n--) {
        uint8_t b = *p++;
        for (int i = 0; i < 8; ++i, b >>= 1) crc = ((crc ^ b) & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
    }
    return crc;
}

// The ROM id of the file's text; false with *why when it is none.
bool parse(const std::vector<uint8_t>& text, uint8_t rom[8], std::string* why) {
    size_t len = text.size();
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
    if (len != 16) {
        *why = "is damaged (" + std::to_string(text.size()) + " bytes, not 16 hexadecimal digits)";
        return false;
    }
    for (size_t i = 0; i < 8; ++i) {
        char pair[3] = {char(text[2 * i]), char(text[2 * i + 1]), 0};
        char* end = nullptr;
        if (!std::isxdigit(static_cast<unsigned char>(pair[0])) || !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            *why = "is damaged (no hexadecimal digit at byte " + std::to_string(2 * i + 1) + ")";
            return false;
        }
        rom[i] = uint8_t(std::strtoul(pair, &end, 16));
    }
    if (romCrc8(rom, 7) != rom[7]) {
        *why = "is damaged (its check byte does not match)";
        return false;
    }
    return true;
}

// Writes a new id under a temporary name and links it into place; false
// with *why when it cannot; *taken when the name was taken meanwhile.
bool make(uint8_t rom[8], std::string* why, bool* taken) {
    rom[0] = kFamilySerialNumber;
    size_t got = 0;
    while (got < 6) {
        const ssize_t n = getrandom(rom + 1 + got, 6 - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = std::string("cannot be made (no random bytes: ") + std::strerror(errno) + ")";
            return false;
        }
        got += size_t(n);
    }
    rom[7] = romCrc8(rom, 7);
    char text[18];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X%02X%02X\n", rom[0], rom[1], rom[2], rom[3], rom[4],
                  rom[5], rom[6], rom[7]);
    const std::string tmp = path() + ".tmp";
    const DiskWriteNote underWay(path());
    const int fd = createFileAnew(tmp);
    auto fail = [&](int cause) {
        *why = std::string("cannot be made (") + std::strerror(cause) + ")";
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    if (fd < 0) {
        *why = std::string("cannot be made (") + std::strerror(errno) + ")";
        return false;
    }
    errno = 0;
    if (::write(fd, text, 17) != 17) return fail(errno ? errno : ENOSPC);   // short: the drive is full
    int r;
    do r = ::fsync(fd);
    while (r != 0 && errno == EINTR);
    if (r != 0) return fail(errno);
    if (::close(fd) != 0) {
        const int cause = errno;
        ::unlink(tmp.c_str());
        *why = std::string("cannot be made (") + std::strerror(cause) + ")";
        return false;
    }
    const bool linked = ::link(tmp.c_str(), path().c_str()) == 0;
    const int cause = errno;
    ::unlink(tmp.c_str());
    if (!linked) {
        *taken = cause == EEXIST;
        *why = std::string("cannot be made (") + std::strerror(cause) + ")";
        return false;
    }
    const int dirFd = ::open(inDeviceFolder(".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace

UnitIdLoad loadUnitId(std::string* why) {
    UnitIdLoad result = UnitIdLoad::Read;
    std::string problem;
    uint8_t rom[8] = {};
    for (int attempt = 0; attempt < 2; ++attempt) {
        problem.clear();
        std::vector<uint8_t> text;
        bool taken = false;
        switch (readWholeFile(path(), &text, &problem)) {
        case FileRead::Ok:
            if (text.empty()) problem = "is empty";
            else parse(text, rom, &problem);
            break;
        case FileRead::Missing:
            problem.clear();
            if (make(rom, &problem, &taken)) result = UnitIdLoad::Made;
            break;
        case FileRead::Unreadable: break;
        }
        if (!taken) break;   // else made meanwhile by another start: that one counts
    }
    DeviceRecord r = deviceRecord();
    r.romIdReadable = problem.empty();
    std::memcpy(r.romId, rom, sizeof rom);
    setDeviceRecord(r);
    if (!problem.empty()) {
        if (why) *why = std::string(kUnitIdFile) + " " + problem;
        return UnitIdLoad::Failed;
    }
    return result;
}

}  // namespace host
