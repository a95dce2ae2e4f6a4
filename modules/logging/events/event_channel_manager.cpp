#include "logging/events/event_channel_manager.h"

#include <algorithm>

#include "measurement/types.h"

namespace {

constexpr int32_t kSizeWord[3] = {GW_SIZE4, GW_SIZE2, GW_SIZE1};
constexpr uint32_t kCallbackWord = 100;
constexpr uint16_t kNoDataPeriods = 5;

const callback_list cdataman_callbacks = {{
    {EventChDataManager::c2cpp_readCyclic, kCallbackWord},
    {EventChDataManager::c2cpp_stopMeas, kCallbackWord},
    {EventChDataManager::c2cpp_startMeas, kCallbackWord},
    {nullptr, 0},
    {nullptr, 0},
    {nullptr, 0},
}};

int group(unsigned width) { return width == 4 ? 0 : width == 2 ? 1 : 2; }

void saturatingInc(uint16_t& c) {
    if (c != 0xFFFF) ++c;
}

}  // namespace

void CEvDataList::add(EventChData* in) {
    auto& c = chain[group(in->width())];
    wordCount += c.empty() ? 3 : 1;
    c.push_front(in);
}

void CEvDataList::buildArray() {
    array.clear();
    slotSize = 4;
    for (int g = 0; g < 3; ++g) {
        if (chain[g].empty()) continue;
        array.push_back(uint32_t(kSizeWord[g]));
        for (EventChData* in : chain[g]) {
            array.push_back(in->address() & 0x00FFFFFFu);
            slotSize += in->width();
        }
        array.push_back(0);
    }
    array.push_back(0);
}

void CEvDataList::clearUpdated() {
    for (auto& c : chain)
        for (EventChData* in : c) in->setTimeout();
    receiving = false;
}

void CEvDataList::readCyclic(unsigned long event, const uint8_t* slot) {
    if (state != STARTED) return;
    if (event == GW_NO_ERROR && slot) {
        timeouts = 0;
        receiving = true;
        const uint8_t* p = slot + 4;   // behind the time stamp
        for (auto& c : chain)
            for (EventChData* in : c) {
                in->putData(p);
                p += in->width();
            }
        return;
    }
    if (event == GW_NO_DATA) {
        owner->countNoData(pid);
        saturatingInc(noData);
        if (timeouts < kNoDataPeriods - 1) ++timeouts;
        else clearUpdated();
        return;
    }
    clearUpdated();
}

EventChDataManager::EventChDataManager() : conn_(gw_connect(&cdataman_callbacks)) {}

EventChDataManager::~EventChDataManager() {
    stopMeasurement();
    gw_disconnect(conn_);
}

void EventChDataManager::addData(std::unique_ptr<EventChData> in, uint16_t raster) {
    const uint16_t pid = uint16_t(MEASADDR_PID(in->address()));
    CEvDataList* list = nullptr;
    for (auto& l : lists_)
        if (l->pid == pid && l->raster == raster && l->wordCount * 4 < CEvDataList::kCapacityBytes) {
            list = l.get();
            break;
        }
    if (!list) {
        lists_.insert(lists_.begin(), std::make_unique<CEvDataList>(pid, raster, this));
        list = lists_.front().get();
    }
    list->add(in.get());
    inputs_.push_back(std::move(in));
}

void EventChDataManager::createMeaslists() {
    for (auto& l : lists_)
        if (l->pid != 0) l->buildArray();
}

void EventChDataManager::startMeasurement() {
    for (auto& l : lists_) {
        if (l->pid == 0 || l->array.empty()) continue;
        l->handle = gw_setup_list(conn_, l->array.data(), l.get(), uint16_t(l->array.size() * 4), l->raster, l->pid,
                                  0, 0, 1, 4, uint16_t(l->slotSize), kNoDataPeriods);
    }
    gw_start_all(conn_);
}

// Every list ends here: the gateway reports each stop while it kills the
// lists, and nothing of them is used afterwards.
void EventChDataManager::stopMeasurement() {
    for (auto& l : lists_) l->state = CEvDataList::STOPPING;
    gw_kill_all_lists(conn_);
    lists_.clear();
    inputs_.clear();
}

void EventChDataManager::replyStart(CEvDataList* l, unsigned long err) {
    if (err == GW_NO_ERROR && l->state == CEvDataList::CREATED) l->state = CEvDataList::STARTED;
}

void EventChDataManager::replyStop(CEvDataList* l) {
    if (l->state == CEvDataList::STOPPING) l->state = CEvDataList::STOPPED;
}

void EventChDataManager::countNoData(uint16_t pid) {
    saturatingInc(noData_);
    const unsigned bit = pid < 10 ? 0 : pid < 32 ? 1 : std::min(unsigned(pid) - 30u, 31u);
    noDataMask_ |= 1u << bit;
}

int EventChDataManager::c2cpp_readCyclic(unsigned long status, void* data, void* user) {
    if (auto* l = static_cast<CEvDataList*>(user)) l->readCyclic(status, static_cast<const uint8_t*>(data));
    return 1;
}

int EventChDataManager::c2cpp_startMeas(unsigned long status, void*, void* user) {
    if (auto* l = static_cast<CEvDataList*>(user)) l->owner->replyStart(l, status);
    return 1;
}

int EventChDataManager::c2cpp_stopMeas(unsigned long status, void*, void* user) {
    if (auto* l = static_cast<CEvDataList*>(user); l && status == 0) l->owner->replyStop(l);
    return 1;
}
