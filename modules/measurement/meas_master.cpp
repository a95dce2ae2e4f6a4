// Registration point of the CCP and XCP masters for the measurement lists
// they fill themselves.
#include "measurement/meas_master.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {
std::atomic<const meas_master_hooks*> gHooks[MEAS_MASTER_COUNT];

struct Linked {
    std::unique_ptr<meas_master_list> rec;
    meas_master_unlink_fn unlink = nullptr;
};
// Held only for the table itself, never while a master's hook runs: the
// hooks look records up through meas_master_list_get.
std::mutex gMx;
std::unordered_map<uint32_t, Linked> gLinked;

void eraseRecord(uint32_t listId) {
    std::unique_ptr<meas_master_list> rec;
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gLinked.find(listId);
    if (it == gLinked.end()) return;
    rec = std::move(it->second.rec);
    gLinked.erase(it);
}
}  // namespace

int meas_man_set_master_hooks(unsigned master, const meas_master_hooks* hooks) {
    if (master >= MEAS_MASTER_COUNT) return 0;
    gHooks[master] = hooks;
    return 1;
}

meas_master_list* meas_master_list_get(uint32_t listId) {
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gLinked.find(listId);
    return it == gLinked.end() ? nullptr : it->second.rec.get();
}

bool meas_man_create(uint32_t listId, dynkomm_fifo_t* fifo, const uint32_t* desc, unsigned nWords) {
    if (!listId || !fifo || !desc || nWords == 0) return false;
    bool any = false;
    for (auto& h : gHooks) any |= h.load() != nullptr;
    if (!any) return false;
    {
        auto rec = std::make_unique<meas_master_list>();
        rec->listId = listId;
        rec->fifo = fifo;
        rec->elems.assign(desc, desc + nWords);
        std::lock_guard<std::mutex> lk(gMx);
        if (gLinked.count(listId)) return false;   // ids are unique: a second offer is refused
        gLinked[listId] = Linked{std::move(rec), nullptr};
    }
    const meas_master_list* rec = meas_master_list_get(listId);
    for (auto& slot : gHooks) {
        const meas_master_hooks* h = slot.load();
        if (!h || !h->checkMeasList || !h->measlist_create) continue;
        void* daq = nullptr;
        if (h->checkMeasList(rec->elems.data(), unsigned(rec->elems.size() * 4), &daq, 0) != 1) continue;
        meas_master_unlink_fn fn = h->measlist_create(listId, daq);
        if (!fn) continue;
        std::lock_guard<std::mutex> lk(gMx);
        gLinked[listId].unlink = fn;
        return true;
    }
    eraseRecord(listId);
    return false;
}

void meas_man_destroy_master_list(uint32_t listId) {
    meas_master_unlink_fn fn = nullptr;
    {
        std::lock_guard<std::mutex> lk(gMx);
        auto it = gLinked.find(listId);
        if (it == gLinked.end()) return;
        fn = it->second.unlink;
    }
    if (fn) fn(listId);   // after this the master no longer writes the FIFO
    eraseRecord(listId);
}

void meas_man_master_list_run(uint32_t listId, bool run) {
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gLinked.find(listId);
    if (it == gLinked.end()) return;
    it->second.rec->counter = run ? uint16_t(1) : uint16_t(0);
}
