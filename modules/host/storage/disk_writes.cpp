// The writes of the device folder's own files that are under way: a stop
// that cannot wait for a slow disk names the ones it leaves.
#include "host/kernel/kernel.h"

#include <chrono>
#include <map>
#include <mutex>

namespace host {

namespace {

struct UnderWay {
    std::string path;
    std::chrono::steady_clock::time_point since;
};

std::mutex mx;
std::map<uint64_t, UnderWay> writes;   // by the order they began
uint64_t lastId = 0;

}  // namespace

DiskWriteNote::DiskWriteNote(const std::string& path) {
    std::lock_guard<std::mutex> lk(mx);
    id_ = ++lastId;
    writes[id_] = {path, std::chrono::steady_clock::now()};
}

DiskWriteNote::~DiskWriteNote() {
    std::lock_guard<std::mutex> lk(mx);
    writes.erase(id_);
}

std::vector<DiskWriteUnderWay> diskWritesUnderWay() {
    std::lock_guard<std::mutex> lk(mx);
    const auto now = std::chrono::steady_clock::now();
    std::vector<DiskWriteUnderWay> out;
    for (const auto& [id, w] : writes)
        out.push_back({w.path, long(std::chrono::duration_cast<std::chrono::milliseconds>(now - w.since).count())});
    return out;
}

}  // namespace host
