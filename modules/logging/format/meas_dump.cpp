// Listing of measurement files for the "measdump" command.
#include "logging/format/meas_dump.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/counters/lapoutfra.h"

namespace {

// Bytes read from the file at a time.
constexpr size_t kReadChunk = 65536;
// Payload bytes of a metadata block the listing looks at: every field of a
// status block lies within them (its page and lap-stack offsets are 16-bit),
// and an event's texts are shown up to there.
constexpr size_t kListedMetaBytes = 1 << 20;

const char* metaName(uint8_t type) {
    static const char* const names[] = {"dynamic", "client configuration", "status block", "car id",
                                        "initial time stamp", "close time stamp", "event", "time-master ids"};
    return type < 8 ? names[type] : "invalid";
}

void printHex(const std::vector<uint8_t>& v, FILE* out) {
    for (uint8_t b : v) std::fprintf(out, "%02X", b);
}

// Zero-terminated text at *pos inside the payload; *pos moves past its NUL.
std::string takeText(const std::vector<uint8_t>& p, size_t* pos) {
    std::string s;
    while (*pos < p.size() && p[*pos] != 0) s += char(p[(*pos)++]);
    if (*pos < p.size()) ++*pos;
    return s;
}

// Event block: 00 01 00 01, id, time stamp, duration, kind, severity, source
// PID, name, description, application name of the source.
void printEvent(const std::vector<uint8_t>& p, FILE* out) {
    if (p.size() < 4 + 16) return;
    const uint8_t* b = p.data() + 4;
    std::fprintf(out, ": id 0x%08X time %u duration %u kind %u severity %u pid 0x%02X", be_get32(b),
                 be_get32(b + 4), be_get32(b + 8), b[12], b[13], be_get16(b + 14));
    size_t pos = 4 + 16;
    std::string name = takeText(p, &pos);
    std::string text = takeText(p, &pos);
    std::string app = takeText(p, &pos);
    std::fprintf(out, " \"%s\" \"%s\" app \"%s\"", name.c_str(), text.c_str(), app.c_str());
}

// Status block: "StateData V", the file name of its page-01 data and the lap
// stack (lap, lap time m:ss.hh, fuel value).
void printStatusBlock(const std::vector<uint8_t>& p, FILE* out) {
    static const char kText[] = "StateData V";
    if (p.size() < 116 || std::memcmp(p.data(), kText, sizeof kText) != 0) {
        std::fprintf(out, ": not a status block");
        return;
    }
    std::fprintf(out, ": \"%s\"", kText);
    const size_t page = size_t(be_get16(p.data() + 86)) + 20;
    if (page + 448 + 80 <= p.size()) {
        size_t pos = page + 448;
        std::string name = takeText(p, &pos);
        std::fprintf(out, " file \"%.79s\"", name.c_str());
    }
    const size_t lap = size_t(be_get16(p.data() + 68)) + 20;
    if (lap + 2 > p.size()) {
        std::fprintf(out, " lap stack outside the block");
        return;
    }
    const unsigned n = be_get16(p.data() + lap);
    std::fprintf(out, " lap stack %u", n);
    for (unsigned i = 0; i < n; ++i) {
        const size_t e = lap + 2 + 6 * size_t(i);
        if (e + 6 > p.size()) {
            std::fprintf(out, "; cut after %u entries", i);
            return;
        }
        const uint8_t* q = p.data() + e;
        const unsigned fuel = be_get16(q + 4);
        std::fprintf(out, "%s lap %u %u:%02u.%02u fuel %u.%02u", i ? ";" : ":", q[0], q[1], q[2], q[3], fuel / 100,
                     fuel % 100);
    }
}

// Why a status block does not fit its file: it names another file than
// `own` (the name the header's counters give; empty: none to compare), or its
// lap stack's count is not followed by the stack's end mark (a count raised
// past its entries). Empty when it fits, or is no status block (listed so).
std::string statusBlockMisfit(const std::vector<uint8_t>& p, const std::string& own) {
    static const char kText[] = "StateData V";
    if (p.size() < 116 || std::memcmp(p.data(), kText, sizeof kText) != 0) return "";
    const size_t page = size_t(be_get16(p.data() + 86)) + 20;
    if (!own.empty() && page + 448 + 80 <= p.size()) {
        size_t pos = page + 448;
        const std::string name = takeText(p, &pos).substr(0, 79);
        if (name != own) return "it names the file \"" + name + "\", not " + own;
    }
    const size_t lap = size_t(be_get16(p.data() + 68)) + 20;
    if (lap + 2 > p.size()) return "";   // listed: "lap stack outside the block"
    const unsigned n = be_get16(p.data() + lap);
    static const char kEnd[] = "LAP_END";
    const size_t end = lap + 2 + 6 * size_t(n);
    if (end + sizeof kEnd > p.size() || std::memcmp(p.data() + end, kEnd, sizeof kEnd) != 0)
        return "its lap stack count " + std::to_string(n) + " is not followed by the stack's end (LAP_END)";
    return "";
}

// A measurement file opened for reading. Only a regular file is read, and
// none larger than a measurement file can be: a device such as /dev/zero
// would never end, and opening a FIFO would wait for a writer (O_NONBLOCK
// keeps the open from waiting; it changes nothing for a regular file).
class FileSource : public MeasFileSource {
public:
    ~FileSource() override {
        if (fd_ >= 0) ::close(fd_);
    }
    // false with the reason in `why`
    bool open(const char* path, std::string& why) {
        fd_ = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            why = std::strerror(errno);
            return false;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            why = std::strerror(errno);
        } else if (!S_ISREG(st.st_mode)) {
            why = "not a regular file";
        } else if (uint64_t(st.st_size) > MEAS_FILE_MAX_BYTES) {
            char text[96];
            std::snprintf(text, sizeof text, "too large (%llu bytes) for a measurement file",
                          static_cast<unsigned long long>(st.st_size));
            why = text;
        }
        return why.empty();
    }
    long read(uint8_t* to, size_t n, std::string& why) override {
        for (;;) {
            const ssize_t got = ::read(fd_, to, n);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                why = std::strerror(errno);
                return -1;
            }
            total_ += uint64_t(got);
            if (total_ > MEAS_FILE_MAX_BYTES) {   // it grew while being read
                char text[96];
                std::snprintf(text, sizeof text, "too large (more than %llu bytes) for a measurement file",
                              static_cast<unsigned long long>(MEAS_FILE_MAX_BYTES));
                why = text;
                return -1;
            }
            return long(got);
        }
    }

private:
    int fd_ = -1;
    uint64_t total_ = 0;
};

// Prints each item as the reader hands it on, and counts them; nothing of
// the file is kept.
class Listing : public MeasFileSink {
public:
    Listing(FILE* out, bool csv) : out_(out), csv_(csv) {}
    size_t blocks = 0, metas = 0, frames = 0, records = 0;
    // Every file is closed with a status block as its last item; one that
    // ends otherwise was cut off by a writer that stopped between two items.
    bool closed = false;
    // why the first status block that does not fit the file does not (empty:
    // each fits), and its offset
    std::string misfit;
    size_t misfitAt = 0;

    void header(const MeasFileHeaderInfo& h, uint16_t crc) override {
        char name[16] = "";
        if (h.measIdx == 0 || h.measIdx == 2)
            LapOutFra_genFilenameAbsLap(name, sizeof name, h.measIdx, h.outing, h.lap, h.fragment, h.absLap);
        name_ = name;
        if (csv_) {
            std::fprintf(out_, "block,time,values\n");
            return;
        }
        std::fprintf(out_, "header: version 6 crc 0x%04X project 0x%04X measurement m0%u blocks %u\n", crc,
                     h.pcode, h.measIdx + 1u, h.numBlocks);
        std::fprintf(out_, "counters: outing %u lap %u fragment %u absolute lap %u (0x%X)\n", h.outing, h.lap,
                     h.fragment, h.absLap, h.absLap);
        // the 8.3 name these counters give, to check against the file's own name
        if (name[0]) std::fprintf(out_, "name: %s\n", name);
        static const uint8_t kNoDate[6] = {};
        if (std::memcmp(h.bcdDate, kNoDate, 6) == 0)
            std::fprintf(out_, "created: unknown (no clock)\n");
        else
            std::fprintf(out_, "created: 20%02X-%02X-%02X %02X:%02X:%02X\n", h.bcdDate[0], h.bcdDate[1],
                         h.bcdDate[2], h.bcdDate[3], h.bcdDate[4], h.bcdDate[5]);
    }
    void block(const MeasFileBlockDesc& b) override {
        ++blocks;
        if (!csv_) std::fprintf(out_, "block %u: record length %u\n", b.id, b.recordLength);
    }
    void meta(const MeasFileMeta& m) override {
        ++metas;
        closed = m.type == MEAS_META_STATUSBLOCK;
        if (closed && misfit.empty()) {
            misfit = statusBlockMisfit(m.payload, name_);
            misfitAt = m.offset;
        }
        if (csv_) return;
        std::fprintf(out_, "meta @%zu type %u (%s) length %u", m.offset, m.type, metaName(m.type), m.length);
        const uint8_t* p = m.payload.data();
        if ((m.type == MEAS_META_INIT_TS || m.type == MEAS_META_CLOSE_TS) && m.payload.size() == 4)
            std::fprintf(out_, ": time %u", be_get32(p));
        else if (m.type == MEAS_META_CARID && m.payload.size() == MEAS_META_CARID_LEN)
            std::fprintf(out_, ": \"%.31s\"", reinterpret_cast<const char*>(p + 4));
        else if (m.type == MEAS_META_TIMEMASTER && m.payload.size() == MEAS_META_TIMEMASTER_LEN)
            std::fprintf(out_, ": master 0x%08X boot %u logger 0x%08X", be_get32(p), be_get32(p + 4),
                         be_get32(p + 8));
        else if (m.type == MEAS_META_EVENT)
            printEvent(m.payload, out_);
        else if (m.type == MEAS_META_STATUSBLOCK)
            printStatusBlock(m.payload, out_);
        std::fprintf(out_, "\n");
    }
    void frame(const MeasFileFrameInfo& f, std::vector<MeasFileRecord>& rs) override {
        ++frames;
        records += rs.size();
        closed = false;
        if (!csv_)
            std::fprintf(out_, "frame @%zu block %u samples %u records %u divider %u packed %u\n", f.offset,
                         f.blockId, f.samples, f.records, f.divider, f.packedLength);
        for (const MeasFileRecord& r : rs) {
            if (csv_) std::fprintf(out_, "%u,%u,", r.blockId, r.timeStamp);
            else std::fprintf(out_, "  record time %u values ", r.timeStamp);
            printHex(r.values, out_);
            std::fprintf(out_, "\n");
        }
    }
    void ok() {
        if (!csv_)
            std::fprintf(out_, "ok: %zu blocks, %zu metadata blocks, %zu frames, %zu records\n", blocks, metas,
                         frames, records);
    }

private:
    FILE* out_;
    bool csv_;
    std::string name_;   // the name the header's counters give (empty: none)
};

// Hands what was read into a MeasFileContent to a listing, in file order.
void replay(const MeasFileContent& c, Listing& listing) {
    if (!c.headerRead) return;   // a file broken before its header's end lists nothing
    listing.header(c.header, c.storedCrc);
    for (const MeasFileBlockDesc& b : c.blocks) listing.block(b);
    size_t rec = 0;
    for (const MeasFileItem& it : c.items) {
        if (it.kind == MeasFileItem::META) {
            listing.meta(c.metas[it.index]);
            continue;
        }
        const MeasFileFrameInfo& f = c.frames[it.index];
        const size_t n = std::min<size_t>(f.records, c.records.size() - rec);
        std::vector<MeasFileRecord> rs(c.records.begin() + long(rec), c.records.begin() + long(rec + n));
        rec += n;
        listing.frame(f, rs);
    }
}

}  // namespace

void measdump_list(const MeasFileContent& c, FILE* out, bool complete) {
    Listing listing(out, false);
    replay(c, listing);
    if (c.headerRead && complete) listing.ok();
}

void measdump_csv(const MeasFileContent& c, FILE* out) {
    Listing listing(out, true);
    replay(c, listing);
}

int measdump_file(const char* path, bool csv, FILE* out, FILE* err, size_t chunk) {
    FileSource source;
    std::string why;
    if (!source.open(path, why)) {
        std::fprintf(err, "measdump: cannot read %s: %s\n", path, why.c_str());
        return 2;
    }
    Listing listing(out, csv);
    MeasFileReadOptions options;
    options.chunk = chunk;
    options.metaKeep = kListedMetaBytes;
    MeasFileReadEnd end;
    const bool ok = meas_file_stream(source, listing, options, end);
    if (end.unreadable) {
        std::fprintf(err, "measdump: cannot read %s: %s\n", path, end.error.c_str());
        return 2;
    }
    if (ok && !listing.closed) {
        // sound up to its end, but the writer never came to the closing status block
        if (!csv)
            std::fprintf(out, "cut: the file ends without its closing status block; %zu records\n",
                         listing.records);
        std::fprintf(err, "measdump: %s: file cut: it ends without its closing status block\n", path);
        return 3;
    }
    if (!ok && end.cutAt != SIZE_MAX) {
        // a writer stopped in the middle of an item: what came before is sound
        if (!csv && end.cutAt < end.length)
            std::fprintf(out, "cut: %zu bytes from @%zu not complete (%s); %zu records before\n",
                         end.length - end.cutAt, end.cutAt, end.error.c_str(), listing.records);
        else if (!csv)
            std::fprintf(out, "cut: the file ends at @%zu (%s)\n", end.cutAt, end.error.c_str());
        std::fprintf(err, "measdump: %s: file cut: %s\n", path, end.error.c_str());
        return 3;
    }
    if (!ok) {
        std::fprintf(err, "measdump: %s: broken file: %s\n", path, end.error.c_str());
        return 1;
    }
    if (!listing.misfit.empty()) {
        // read whole, but a status block tells of another file or another lap stack
        if (!csv)
            std::fprintf(out, "misfit: the status block @%zu does not fit the file: %s\n", listing.misfitAt,
                         listing.misfit.c_str());
        std::fprintf(err, "measdump: %s: broken file: the status block @%zu does not fit the file: %s\n", path,
                     listing.misfitAt, listing.misfit.c_str());
        return 1;
    }
    listing.ok();
    return 0;
}

int measdump_main(int argc, const char* const* argv, FILE* out, FILE* err) {
    static const char* const kUsage =
        "usage: measdump [--csv] FILE\n"
        "Checks a measurement file and lists what it could read (--csv: the records\n"
        "as block,time,values lines).\n"
        "Exit status: 0 sound file, 1 broken file (a status block that does not fit the\n"
        "file too), 2 usage or unreadable file (regular\n"
        "files only), 3 file cut off at its end: inside an item (the header included)\n"
        "or without its closing status block (its complete items are listed).\n";
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, out);
        return 0;
    }
    bool csv = false;
    const char* path = nullptr;
    bool bad = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--csv") == 0) csv = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0') bad = true;   // an option we do not know
        else if (!path) path = argv[i];
        else bad = true;   // more than one file
    }
    if (!path || bad) {
        std::fputs(kUsage, err);
        return 2;
    }
    return measdump_file(path, csv, out, err, kReadChunk);
}
