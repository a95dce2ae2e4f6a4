// The NVRAM database in "nvram.bin" of the device folder.
//
// Every element (id, copy) has two slots that writes use in turn; each slot is
// stored as a record with its own CRC-16-CCITT and a write counter, and a read
// delivers the valid slot with the highest counter. The whole file is written
// through a temporary file and a rename, so a crash leaves the old or the new
// file; a file damaged anyway (cut, overwritten) still yields every record
// whose CRC holds, so an element falls back to its older slot or, when both
// are gone, reads as -1.
//
// A write changes the image in memory and returns: a writer thread writes
// the whole file behind it, kSettle after the first change it has not yet
// written, so that the changes that come together (and every batch, whole)
// go to the disk in one write. Those who write (the rasters, the network
// tasks) never wait for the disk: the image's lock is held only to change or
// copy the image, never across a write or a sync, nor for the records' CRCs,
// which the writer computes on its copy. Those who wait for the disk (a
// flush, a stamp) never write themselves: they wait for the writer's next
// write, which serves all of them together. A write that fails leaves
// the changes in memory and is tried again every kRetry; the memory never
// goes back behind the disk.
//
// Record (little-endian): magic 0x564E "NV", id u16, copy u8, slot u8,
// length u16, counter u32, CRC-16 u16 over id..counter and the data, data.
#include "host/kernel/kernel_internal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace host {

namespace {

struct KnownElement {
    unsigned id;
    size_t size;
    unsigned copies;
    const char* name;   // what the log calls it
};
// Elements with a fixed size; room for more ids as modules need them.
constexpr KnownElement kKnown[] = {
    {NVRAM_ID_LAPOUTFRA, 6, 2, "lap counters"},
    {NVRAM_ID_LAPSTACK_COUNTERS, 4, 1, "lap stack counters"},
    {NVRAM_ID_LAPSTACK, 6, 256, "lap stack"},   // one copy index per lap-stack entry
    {NVRAM_ID_DISPLAY_PAGE, 1, 1, "display page"},
    {NVRAM_ID_DISPLAY_BRIGHTNESS, 1, 1, "display brightness"},
    {NVRAM_ID_BOOT_COUNTER, 4, 1, "boot counter"},
    {NVRAM_ID_ERROR_MEMORY, 8192, 1, "error memory"},
    {NVRAM_ID_ECU_ANNOTATION, 256, 1, "ECU annotation"},
    {NVRAM_ID_ABS_LAP, 2, 1, "absolute lap counter"},
};

constexpr uint16_t kMagic = 0x564E;
constexpr size_t kHeader = 14;
constexpr unsigned kMaxId = 0xFFFF;

const KnownElement* known(unsigned id) {
    for (const auto& k : kKnown)
        if (k.id == id) return &k;
    return nullptr;
}

uint16_t crc16Ccitt(uint16_t crc, const uint8_t* p, size_t n) {
    while (n--) {
        crc ^= static_cast<uint16_t>(*p++) << 8;
        for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

struct Slot {
    bool valid = false;
    uint32_t counter = 0;
    std::vector<uint8_t> data;
};
struct Element {
    Slot slot[2];
    int newest() const {
        if (slot[0].valid && slot[1].valid) return slot[1].counter - slot[0].counter < 0x80000000u ? 1 : 0;
        if (slot[0].valid) return 0;
        if (slot[1].valid) return 1;
        return -1;
    }
};
using Key = std::pair<unsigned, unsigned>;

// How long the writer gathers changes after the first one, and how long it
// waits before it tries a failed write again (unless someone waits).
constexpr auto kSettle = std::chrono::milliseconds(10);
constexpr auto kRetry = std::chrono::seconds(1);

// The image and the writer's state; held only for changes and copies.
std::mutex mx;
bool loaded = false;
std::map<Key, Element> image;
std::set<Key> damaged;        // elements with a record whose CRC failed
std::string loadProblem;      // why nvram.bin could not be read, "" when it could
std::string damage;           // what a damaged nvram.bin cost, "" when it was sound or missing
std::string writeProblem;     // why the last whole-file write failed, "" after one that worked
uint64_t changeCount = 0;     // changes made to the image (never goes back)
uint64_t writtenCount = 0;    // changes the file on the disk holds
std::map<Key, uint64_t> changedAt;   // each element's newest change
unsigned openBatches = 0;
std::condition_variable changed;   // a change, a batch's end, a write's begin and end, the stop

// The writer thread alone writes the file, one whole-file write (an
// attempt) at a time. Attempts are numbered; one stores every change made
// before it began. A waiter waits for the attempt under way when that one
// holds its stamp, else for the next one, which it asks for at once
// (flushWanted cuts the settling and a failed write's pause short). So
// every waiter is served by the first write that can serve it, whatever
// order the waiters come in, and no lock is held across a write.
uint64_t attemptsBegun = 0;
uint64_t attemptsEnded = 0;
uint64_t writingCount = 0;    // the changes the attempt under way holds
bool flushWanted = false;
bool writerRunning = false;   // its loop runs
bool stopWriter = false;
std::thread writer;

std::string filePath() { return inDeviceFolder("nvram.bin"); }

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(x & 0xFF);
    v.push_back(x >> 8);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

// The entries a damaged file no longer yields: every copy of the fixed table
// (a device that has run keeps all of them but the annotation) and every
// entry of another id whose records failed their CRC, without a valid slot.
size_t entriesLost() {
    size_t lost = 0;
    for (const auto& k : kKnown)
        for (unsigned copy = 0; copy < k.copies; ++copy) {
            auto it = image.find({k.id, copy});
            lost += it == image.end() || it->second.newest() < 0;
        }
    for (const Key& key : damaged) {
        if (known(key.first)) continue;
        auto it = image.find(key);
        lost += it == image.end() || it->second.newest() < 0;
    }
    return lost;
}

// Reads every intact record; damaged bytes are skipped until the next record.
// A file that cannot be read at all leaves the image empty (every element
// reads as never written) and its reason in loadProblem. The store writes
// nothing but whole records, so an empty file or a skipped byte is damage,
// described in `damage`; a missing file is the first start.
void load() {
    image.clear();
    damaged.clear();
    loadProblem.clear();
    damage.clear();
    loaded = true;
    std::vector<uint8_t> f;
    std::string why;
    FileRead read = readWholeFile(filePath(), &f, &why);
    if (read == FileRead::Unreadable) loadProblem = "nvram.bin " + why;
    size_t pos = 0, skipped = 0;
    while (pos + kHeader <= f.size()) {
        const uint8_t* r = &f[pos];
        size_t len = get16(r + 6);
        if (get16(r) != kMagic || r[5] > 1 || pos + kHeader + len > f.size()) {
            ++pos;
            ++skipped;
            continue;
        }
        uint16_t crc = crc16Ccitt(0xFFFF, r + 2, 10);
        crc = crc16Ccitt(crc, r + kHeader, len);
        if (crc != get16(r + 12)) {
            damaged.insert({get16(r + 2), r[4]});
            ++pos;
            ++skipped;
            continue;
        }
        Slot& s = image[{get16(r + 2), r[4]}].slot[r[5]];
        s.valid = true;
        s.counter = get32(r + 8);
        s.data.assign(r + kHeader, r + kHeader + len);
        pos += kHeader + len;
    }
    skipped += f.size() - pos;   // a tail too short for a record
    if (read != FileRead::Ok || (!f.empty() && skipped == 0)) return;
    const std::string what = f.empty() ? std::string("empty")
                                       : std::to_string(skipped) + " of " + std::to_string(f.size()) +
                                             " bytes unreadable";
    damage = "nvram.bin damaged (" + what + "), " + std::to_string(entriesLost()) +
             " entries back to their defaults";
}

// The image as the file's records, their CRCs still 0: a copy made under
// the lock, as short as the copy itself (sealRecords fills the CRCs in).
std::vector<uint8_t> serialize() {
    std::vector<uint8_t> out;
    for (auto& [key, e] : image) {
        for (uint8_t i = 0; i < 2; ++i) {
            const Slot& s = e.slot[i];
            if (!s.valid) continue;
            put16(out, kMagic);
            put16(out, static_cast<uint16_t>(key.first));
            out.push_back(static_cast<uint8_t>(key.second));
            out.push_back(i);
            put16(out, static_cast<uint16_t>(s.data.size()));
            put32(out, s.counter);
            put16(out, 0);
            out.insert(out.end(), s.data.begin(), s.data.end());
        }
    }
    return out;
}

// Computes each record's CRC over its header fields and its data.
void sealRecords(std::vector<uint8_t>& out) {
    for (size_t pos = 0; pos + kHeader <= out.size();) {
        uint8_t* r = &out[pos];
        const size_t len = get16(r + 6);
        uint16_t crc = crc16Ccitt(0xFFFF, r + 2, 10);
        crc = crc16Ccitt(crc, r + kHeader, len);
        r[12] = crc & 0xFF;
        r[13] = crc >> 8;
        pos += kHeader + len;
    }
}

// Whether the disk holds every change up to the stamp (with mx held).
bool storedLocked(uint64_t stamp) { return !loaded || writtenCount >= std::min(stamp, changeCount); }

bool attemptUnderWay() { return attemptsBegun != attemptsEnded; }

// One attempt, with mx held by lk on entry and on return: the image is
// copied under the lock, written without it. A failure keeps its cause,
// with the file it failed on.
bool writeOnce(std::unique_lock<std::mutex>& lk) {
    std::vector<uint8_t> out = serialize();
    const uint64_t count = changeCount;
    ++attemptsBegun;
    writingCount = count;
    flushWanted = false;
    lk.unlock();
    sealRecords(out);
    const std::string path = filePath();
    std::string failedOn;
    errno = 0;
    const bool ok = detail::writeFileAtomic(path, out.data(), out.size(), &failedOn);
    const int cause = errno;
    lk.lock();
    ++attemptsEnded;
    if (ok) {
        writtenCount = count;
        writeProblem.clear();
    } else {
        const std::string folder = deviceFolder() + "/";
        if (failedOn.compare(0, folder.size(), folder) == 0) failedOn.erase(0, folder.size());
        writeProblem = (failedOn.empty() ? std::string("nvram.bin") : failedOn) + ": " +
                       (cause ? std::strerror(cause) : "write failed");
    }
    changed.notify_all();
    return ok;
}

bool pendingLocked() { return loaded && writtenCount != changeCount; }

void writerLoop() {
    // started by the first change, maybe on a raster: the disk work is
    // ordinary background work
    becomeBackgroundThread("kNvramWrite");
    std::unique_lock<std::mutex> lk(mx);
    while (!stopWriter) {
        if (!pendingLocked()) {
            changed.wait(lk);
            continue;
        }
        // the changes that come together go in one write, unless one waits
        if (!flushWanted) changed.wait_for(lk, kSettle, [] { return stopWriter || flushWanted; });
        changed.wait(lk, [] { return stopWriter || openBatches == 0; });
        if (stopWriter) break;
        if (!pendingLocked()) continue;
        if (!writeOnce(lk)) changed.wait_for(lk, kRetry, [] { return stopWriter || flushWanted; });
    }
    writerRunning = false;
    changed.notify_all();
}

void endWriter();

// Called with mx held: the writer runs from the first change on. A program
// that ends without the shutdown's stop (a test) ends the thread at its exit;
// what is pending then is not written. While a stop ends the writer, none is
// started.
void startWriterLocked() {
    if (stopWriter) return;
    if (writerRunning) return;
    static const bool endsAtExit = std::atexit(endWriter) == 0;
    (void)endsAtExit;
    if (writer.joinable()) writer.join();   // it has left its loop: no wait
    writerRunning = true;
    writer = std::thread(writerLoop);
}

enum class Waited { Stored, Failed, Late };

// Waits until the disk holds every change up to the stamp: Failed when the
// write that would have stored them failed (or the writer stopped), Late
// when the deadline (if any) came first.
Waited waitStored(uint64_t stamp, const std::chrono::steady_clock::time_point* deadline) {
    std::unique_lock<std::mutex> lk(mx);
    if (storedLocked(stamp)) return Waited::Stored;
    const uint64_t target = std::min(stamp, changeCount);
    startWriterLocked();
    if (!writerRunning) return Waited::Failed;
    uint64_t awaited = attemptsBegun;
    if (!attemptUnderWay() || writingCount < target) {
        ++awaited;
        flushWanted = true;
        changed.notify_all();
    }
    auto served = [&] { return storedLocked(target) || attemptsEnded >= awaited || !writerRunning; };
    if (!deadline)
        changed.wait(lk, served);
    else if (!changed.wait_until(lk, *deadline, served))
        return Waited::Late;
    return storedLocked(target) ? Waited::Stored : Waited::Failed;
}

// Ends the writer's loop, waiting for the write under way until the
// deadline (if any); a writer still writing then goes on as before (false).
// What it has not written stays pending.
bool endWriter(const std::chrono::steady_clock::time_point* deadline) {
    std::unique_lock<std::mutex> lk(mx);
    if (!writerRunning) {
        if (writer.joinable()) writer.join();   // it has left its loop: no wait
        return true;
    }
    stopWriter = true;
    changed.notify_all();
    auto ended = [] { return !writerRunning; };
    if (!deadline)
        changed.wait(lk, ended);
    else if (!changed.wait_until(lk, *deadline, ended)) {
        stopWriter = false;
        return false;
    }
    std::thread t = std::move(writer);
    stopWriter = false;
    lk.unlock();
    t.join();   // it has left its loop: no wait
    return true;
}

void endWriter() { endWriter(nullptr); }

// Forgets the image and what was pending (the next access loads the file),
// once no write is under way.
void forget() {
    std::unique_lock<std::mutex> lk(mx);
    changed.wait(lk, [] { return !attemptUnderWay(); });
    loaded = false;
    image.clear();
    damaged.clear();
    changedAt.clear();
    loadProblem.clear();
    damage.clear();
    writeProblem.clear();
    writtenCount = changeCount;   // nothing pending; stamps handed out stay in order
    changed.notify_all();         // those who waited have nothing left to wait for
}

// What the disk lacks, by element: "name (id N)", with the count of copies
// for an element of several, "; " between them.
std::string unstoredLocked() {
    std::map<unsigned, unsigned> copies;
    for (const auto& [key, at] : changedAt)
        if (at > writtenCount) ++copies[key.first];
    std::string text;
    for (const auto& [id, n] : copies) {
        const KnownElement* k = known(id);
        if (!text.empty()) text += "; ";
        text += std::string(k ? k->name : "element") + " (id " + std::to_string(id);
        if (nvramElementCopies(id) > 1) text += ", " + std::to_string(n) + (n == 1 ? " copy" : " copies");
        text += ")";
    }
    return text;
}

bool validAddress(unsigned id, unsigned copy) {
    return id <= kMaxId && copy < nvramElementCopies(id);
}

}  // namespace

size_t nvramElementSize(unsigned id) {
    const KnownElement* k = known(id);
    return k ? k->size : kNvramUnknownMaxSize;
}

unsigned nvramElementCopies(unsigned id) {
    const KnownElement* k = known(id);
    return k ? k->copies : kNvramUnknownMaxCopies;
}

long nvramRead(unsigned id, unsigned copy, void* dst, size_t len) {
    if (!validAddress(id, copy)) return -1;
    std::lock_guard<std::mutex> lk(mx);
    if (!loaded) load();
    auto it = image.find({id, copy});
    if (it == image.end()) return -1;
    int n = it->second.newest();
    if (n < 0) return -1;
    const Slot& s = it->second.slot[n];
    if (!dst) return 0;
    size_t count = std::min(len, s.data.size());
    if (count) std::memcpy(dst, s.data.data(), count);
    return static_cast<long>(count);
}

long nvramWrite(unsigned id, unsigned copy, const void* src, size_t len) {
    if (!validAddress(id, copy) || (!src && len)) return -1;
    size_t size = nvramElementSize(id);
    size_t count = std::min(len, size);
    std::unique_lock<std::mutex> lk(mx);
    if (!loaded) load();
    // Only the first change the disk lacks wakes the writer, and within a
    // batch only the batch's end: it gathers the others by itself. A writer
    // woken for every change of a batch (an outing's reset of the lap stack
    // writes hundreds) would take the lock between them, and a writer that
    // loses the processor while it holds the lock holds up whoever changes
    // the image, a raster among them.
    const bool wakeWriter = !pendingLocked() && openBatches == 0;
    Element& e = image[{id, copy}];
    int n = e.newest();
    Slot next;
    next.valid = true;
    if (n >= 0) {
        next.counter = e.slot[n].counter + 1;
        next.data = e.slot[n].data;
    }
    // fixed-size elements are always whole; others are as long as written
    size_t want = known(id) ? size : std::max(count, next.data.size());
    next.data.resize(want, 0);
    if (count) std::memcpy(next.data.data(), src, count);
    e.slot[n == 0 ? 1 : 0] = std::move(next);
    changedAt[{id, copy}] = ++changeCount;
    startWriterLocked();
    lk.unlock();
    if (wakeWriter) changed.notify_all();
    return static_cast<long>(count);
}

void nvramBatchBegin() {
    std::lock_guard<std::mutex> lk(mx);
    ++openBatches;
}

void nvramBatchEnd() {
    bool last;
    {
        std::lock_guard<std::mutex> lk(mx);
        if (openBatches) --openBatches;
        last = openBatches == 0;
    }
    // only the end of the last open batch lets the writer on
    if (last) changed.notify_all();
}

bool nvramFlush() { return waitStored(UINT64_MAX, nullptr) == Waited::Stored; }

bool nvramFlushWithin(unsigned limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    return waitStored(UINT64_MAX, &deadline) == Waited::Stored;
}

uint64_t nvramChangeStamp() {
    std::lock_guard<std::mutex> lk(mx);
    return changeCount;
}

bool nvramStored(uint64_t stamp) {
    std::lock_guard<std::mutex> lk(mx);
    return storedLocked(stamp);
}

bool nvramFlushTo(uint64_t stamp) { return waitStored(stamp, nullptr) == Waited::Stored; }

std::string nvramUnstored() {
    std::lock_guard<std::mutex> lk(mx);
    return loaded ? unstoredLocked() : std::string();
}

bool nvramStopWriter(unsigned limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    const bool stored = waitStored(UINT64_MAX, &deadline) == Waited::Stored;
    return endWriter(&deadline) && stored;
}

bool nvramElementDamaged(unsigned id, unsigned copy) {
    std::lock_guard<std::mutex> lk(mx);
    if (!loaded) load();
    if (!damaged.count({id, copy})) return false;
    auto it = image.find({id, copy});
    return it == image.end() || it->second.newest() < 0;
}

std::string nvramLoadProblem() {
    std::lock_guard<std::mutex> lk(mx);
    if (!loaded) load();
    return loadProblem;
}

std::string nvramDamage() {
    std::lock_guard<std::mutex> lk(mx);
    if (!loaded) load();
    return damage;
}

std::string nvramWriteProblem() {
    std::lock_guard<std::mutex> lk(mx);
    return writeProblem;
}

void nvramReload() {
    nvramFlush();
    endWriter();
    forget();
}

namespace detail {
void resetNvram() {
    endWriter();
    forget();
}
}  // namespace detail

}  // namespace host
