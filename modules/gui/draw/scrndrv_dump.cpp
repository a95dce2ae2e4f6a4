// Screen dumps: encoding the visible frame as palette-coded runs, drawing a
// dump into the frame buffer, and the dump file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "gui/draw/scrndrv.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

constexpr int kErr = 147;
constexpr int kDebug = 151;
constexpr uint32_t kPixels = SCRNDRV_VISIBLE_WIDTH * SCRNDRV_VISIBLE_HEIGHT;
constexpr uint32_t kMaxRun = 65535;

uint64_t indexBytes(uint64_t runs, uint32_t bits) { return (runs * bits + 7) / 8; }

// Length of a dump whose head holds the counts (palette, runs, data).
uint64_t dumpBytes(const uint32_t head[3])
{
    return 12 + 4 * uint64_t(head[0]) + 2 * uint64_t(head[1]) + uint64_t(head[2]);
}

// Every run index must name a palette entry and the packed data must hold
// all indexes; checked before a single pixel is written.
bool dumpConsistent(const scrn_dump_t* d)
{
    if (!d || d->palCount == 0 || !d->palette) return false;
    if (d->runCount && !d->runs) return false;
    uint32_t bits = scrndrvIndexBits(d->palCount);
    if (indexBytes(d->runCount, bits) > d->dataCount) return false;
    if (bits && d->runCount && !d->data) return false;
    for (uint32_t i = 0; i < d->runCount; ++i)
        if (scrndrvGetColorIdx(uint64_t(i) * bits, bits, d->data) >= d->palCount) return false;
    return true;
}

}  // namespace

uint32_t scrndrvIndexBits(uint32_t palCount)
{
    uint32_t bits = 0;
    uint64_t top = palCount ? uint64_t(palCount) - 1 : 0;
    while (top) {
        ++bits;
        top >>= 1;
    }
    return bits;
}

uint32_t scrndrvGetColorIdx(uint64_t bitPos, uint32_t bitCount, const uint8_t* data)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < bitCount && i < 32; ++i) {
        uint64_t b = bitPos + i;
        if (data[b >> 3] & (1u << (b & 7))) v |= 1u << i;
    }
    return v;
}

int scrndrvInitDumpByMem(scrn_dump_t* dump, const uint8_t* start, const uint8_t* end)
{
    if (!dump || !start || !end || end < start) return 0;
    uint64_t avail = uint64_t(end - start);
    if (avail < 12) return 0;
    uint32_t head[3];
    std::memcpy(head, start, sizeof head);
    if (dumpBytes(head) > avail) return 0;
    dump->palCount = head[0];
    dump->runCount = head[1];
    dump->dataCount = head[2];
    dump->palette = reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(start + 12));
    dump->runs = reinterpret_cast<uint16_t*>(const_cast<uint8_t*>(start + 12 + 4 * uint64_t(head[0])));
    dump->data = const_cast<uint8_t*>(start + 12 + 4 * uint64_t(head[0]) + 2 * uint64_t(head[1]));
    return 1;
}

int scrndrvDrawImg(scrn_dump_t* dump)
{
    scrndrvInit();
    if (!dumpConsistent(dump)) {
        syslogx(kErr, "scrndrvDrawImg(): inconsistent screen dump refused");
        return -1;
    }
    uint32_t bits = scrndrvIndexBits(dump->palCount);
    uint32_t* fb = scrndrvFrameBuffer();
    uint32_t run = 0;          // next run
    uint32_t pending = 0;      // pixels left of the current run
    uint32_t colour = 0;
    for (int y = 0; y < SCRNDRV_VISIBLE_HEIGHT; ++y) {
        uint32_t* row = fb + y * SCRNDRV_FB_WIDTH;
        int x = 0;
        while (x < SCRNDRV_VISIBLE_WIDTH) {
            if (pending == 0) {
                if (run >= dump->runCount) break;   // runs end early: the rest stays
                uint16_t len;
                std::memcpy(&len, reinterpret_cast<const uint8_t*>(dump->runs) + 2 * uint64_t(run), 2);
                uint32_t idx = scrndrvGetColorIdx(uint64_t(run) * bits, bits, dump->data);
                uint32_t word;
                std::memcpy(&word, reinterpret_cast<const uint8_t*>(dump->palette) + 4 * uint64_t(idx), 4);
                colour = word & 0x00FFFFFFu;
                pending = len;
                ++run;
                continue;
            }
            uint32_t n = pending;
            if (n > uint32_t(SCRNDRV_VISIBLE_WIDTH - x)) n = uint32_t(SCRNDRV_VISIBLE_WIDTH - x);
            for (uint32_t i = 0; i < n; ++i) row[x + int(i)] = colour;
            x += int(n);
            pending -= n;
        }
    }
    syslogx(kDebug, "Loading screen dump: %u pal, %u run, %u data, %u bits", dump->palCount, dump->runCount,
            dump->dataCount, bits);
    scrndrvFlush();
    return 0;
}

int scrndrvDumpImg(const char* path)
{
    uint32_t* colours = new (std::nothrow) uint32_t[kPixels];
    uint16_t* runs = new (std::nothrow) uint16_t[kPixels];
    if (!colours || !runs) {
        delete[] colours;
        delete[] runs;
        return -1;
    }
    const uint32_t* fb = scrndrvFrameBuffer();
    uint32_t nRuns = 0;
    for (int y = 0; y < SCRNDRV_VISIBLE_HEIGHT; ++y) {
        const uint32_t* row = fb + y * SCRNDRV_FB_WIDTH;
        for (int x = 0; x < SCRNDRV_VISIBLE_WIDTH; ++x) {
            uint32_t p = row[x];
            if (nRuns && colours[nRuns - 1] == p && runs[nRuns - 1] < kMaxRun) {
                ++runs[nRuns - 1];
            } else {
                colours[nRuns] = p;
                runs[nRuns] = 1;
                ++nRuns;
            }
        }
    }
    // Palette in order of first appearance; run colours become indexes.
    uint32_t* palette = new (std::nothrow) uint32_t[nRuns];
    uint32_t* index = new (std::nothrow) uint32_t[nRuns];
    if (!palette || !index) {
        delete[] colours; delete[] runs; delete[] palette; delete[] index;
        return -1;
    }
    // A colour's index is found by hashing rather than by searching the
    // palette: a picture on the screen can have a hundred thousand colours.
    uint32_t nPal = 0;
    std::unordered_map<uint32_t, uint32_t> known;
    for (uint32_t r = 0; r < nRuns; ++r) {
        auto [it, added] = known.try_emplace(colours[r], nPal);
        if (added) palette[nPal++] = colours[r];
        index[r] = it->second;
    }
    uint32_t bits = scrndrvIndexBits(nPal);
    uint32_t nData = uint32_t(indexBytes(nRuns, bits));
    uint8_t* data = new (std::nothrow) uint8_t[nData ? nData : 1]();
    if (!data) {
        delete[] colours; delete[] runs; delete[] palette; delete[] index;
        return -1;
    }
    for (uint32_t r = 0; r < nRuns; ++r)
        for (uint32_t b = 0; b < bits; ++b)
            if (index[r] & (1u << b)) {
                uint64_t pos = uint64_t(r) * bits + b;
                data[pos >> 3] |= uint8_t(1u << (pos & 7));
            }
    syslogx(kDebug, "Dumping screen: %u pal, %u run, %u data, %u bits", nPal, nRuns, nData, bits);
    scrn_dump_t dump{nPal, nRuns, nData, palette, runs, data};
    int result = scrndrvWriteDump(path, &dump);
    delete[] colours; delete[] runs; delete[] palette; delete[] index; delete[] data;
    return result;
}

int scrndrvWriteDump(const char* path, const scrn_dump_t* dump)
{
    if (!path || !dump) return -1;
    const std::string hp = dev_path(path);
    // Never through a link (the dump would land in whatever file it leads
    // to), never on a FIFO or a device (opened without waiting, then looked at).
    int fd = hp.empty() ? -1
                        : ::open(hp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                                 0644);
    if (fd < 0) {
        int e = errno;
        syslogx(kErr, "scrndrvWriteDump(): file write open err, %s: '%s'", path,
                e == ELOOP ? "is a link" : std::strerror(e));
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        syslogx(kErr, "scrndrvWriteDump(): %s is no plain file", path);
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        int e = errno;
        syslogx(kErr, "scrndrvWriteDump(): failed to open %s, errno=%d: '%s'", path, e, std::strerror(e));
        ::close(fd);
        return -1;
    }
    int result = 0;
    uint32_t head[3] = {dump->palCount, dump->runCount, dump->dataCount};
    bool ok = std::fwrite(head, sizeof head, 1, f) == 1;
    if (ok && dump->palCount) ok = std::fwrite(dump->palette, 4, dump->palCount, f) == dump->palCount;
    if (ok && dump->runCount) ok = std::fwrite(dump->runs, 2, dump->runCount, f) == dump->runCount;
    if (ok && dump->dataCount) ok = std::fwrite(dump->data, 1, dump->dataCount, f) == dump->dataCount;
    if (!ok) {
        syslogx(kErr, "scrndrvWriteDump(): fwrite failed");
        result = -1;
    }
    if (std::fflush(f) != 0) {
        syslogx(kErr, "scrndrvWriteDump(): fflush failed");
        result = -1;
    }
    if (::fsync(fileno(f)) != 0) {
        syslogx(kErr, "scrndrvWriteDump(): FIOFLUSH failed");
        result = -1;
    }
    std::fclose(f);   // closes fd too
    return result;
}

void scrndrvFreeDump(scrn_dump_t* dump)
{
    if (!dump) return;
    delete[] dump->palette;
    delete[] dump->runs;
    delete[] dump->data;
    *dump = scrn_dump_t{};
}

int scrndrvReadDump(const char* path, scrn_dump_t* dump)
{
    if (!dump || !path) return -1;
    const std::string hp = dev_path(path);
    int fd = hp.empty() ? -1 : ::open(hp.c_str(), O_RDONLY, 0444);
    if (fd < 0) {
        syslogx(kErr, "scrndrvReadDump(): cant open file, %s", path);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        syslogx(kErr, "scrndrvReadDump(): file not found %X %s", unsigned(fd), path);
        ::close(fd);
        return -1;
    }
    FILE* f = std::fopen(hp.c_str(), "rb");
    if (!f) {
        int e = errno;
        syslogx(kErr, "scrndrvReadDump(): failed to open %s, errno=%d: '%s'", path, e, std::strerror(e));
        ::close(fd);
        return -1;
    }
    int result = -1;
    uint32_t head[3];
    if (std::fread(head, sizeof head, 1, f) == 1) {
        // The counts must agree with each other and with the file's length
        // before anything is allocated for them.
        uint32_t bits = scrndrvIndexBits(head[0]);
        if (dumpBytes(head) > uint64_t(st.st_size) || indexBytes(head[1], bits) > head[2]) {
            syslogx(kErr, "scrndrvReadDump(): inconsistent sizes in %s", path);
        } else {
            scrndrvFreeDump(dump);
            uint32_t* pal = new (std::nothrow) uint32_t[head[0] ? head[0] : 1];
            uint16_t* runs = new (std::nothrow) uint16_t[head[1] ? head[1] : 1];
            uint8_t* data = new (std::nothrow) uint8_t[head[2] ? head[2] : 1];
            if (!pal || !runs || !data) {
                delete[] pal; delete[] runs; delete[] data;
            } else if ((head[0] && std::fread(pal, 4, head[0], f) != head[0]) ||
                       (head[1] && std::fread(runs, 2, head[1], f) != head[1]) ||
                       (head[2] && std::fread(data, 1, head[2], f) != head[2])) {
                delete[] pal; delete[] runs; delete[] data;
            } else {
                *dump = scrn_dump_t{head[0], head[1], head[2], pal, runs, data};
                result = 0;
            }
        }
    }
    std::fclose(f);   // closes fd too
    return result;
}

int scrndrvLoadImg(const char* path)
{
    scrn_dump_t dump{};
    if (scrndrvReadDump(path, &dump) != 0) {
        syslogx(kErr, "scrndrvLoadImg(): Failed to read dump file");
        return -1;
    }
    int r = scrndrvDrawImg(&dump);
    scrndrvFreeDump(&dump);
    return r;
}
