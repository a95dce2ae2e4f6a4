// The inputs of the event channels grouped into gateway measurement lists,
// one list per source device (and as many more as 464 bytes of list
// description need). The gateway's callbacks store the received values into
// the inputs; a source that stops sending takes the updated flag from its
// inputs after five reports without data.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "logging/events/event_channel_data.h"
#include "measurement/gateway.h"

class EventChDataManager;

class CEvDataList {
public:
    enum State : uint8_t { CREATED = 0, STARTED = 1, STOPPING = 2, STOPPED = 3 };
    static constexpr unsigned kCapacityBytes = 464;

    CEvDataList(uint16_t pid, uint16_t raster, EventChDataManager* owner) : pid(pid), raster(raster), owner(owner) {}

    // The chain of its width gets the input at its head; the first member of
    // a chain takes 3 words (size, member, terminator), every further one 1.
    void add(EventChData* in);
    // Description words: per non-empty width (4, 2, 1 bytes) the size word,
    // the low 24 address bits of the members and 0; then a final 0.
    void buildArray();
    // Delivered values and the gateway's reports.
    void readCyclic(unsigned long event, const uint8_t* slot);
    void clearUpdated();

    uint16_t pid;
    uint16_t raster;
    EventChDataManager* owner;
    std::deque<EventChData*> chain[3];   // 4-byte, 2-byte, 1-byte members, head first
    uint32_t wordCount = 0;
    State state = CREATED;
    std::vector<uint32_t> array;
    uint32_t slotSize = 4;
    uint16_t noData = 0;          // saturating
    uint16_t timeouts = 0;        // consecutive reports without data
    bool receiving = false;
    uint32_t handle = 0;
};

class EventChDataManager {
public:
    EventChDataManager();
    ~EventChDataManager();   // stops the lists
    EventChDataManager(const EventChDataManager&) = delete;
    EventChDataManager& operator=(const EventChDataManager&) = delete;

    // Takes the input (owned from here on) into a list of its source and raster.
    void addData(std::unique_ptr<EventChData> in, uint16_t raster);
    void createMeaslists();
    // Subscribes every list of another device and starts them; the lists of
    // PID 0 receive nothing.
    void startMeasurement();
    void stopMeasurement();
    void replyStart(CEvDataList* l, unsigned long err);
    void replyStop(CEvDataList* l);
    // Gateway callbacks (user pointer: the list).
    static int c2cpp_readCyclic(unsigned long status, void* data, void* user);
    static int c2cpp_startMeas(unsigned long status, void* data, void* user);
    static int c2cpp_stopMeas(unsigned long status, void* data, void* user);

    void countNoData(uint16_t pid);
    size_t listCount() const { return lists_.size(); }
    size_t inputCount() const { return inputs_.size(); }
    const std::vector<std::unique_ptr<CEvDataList>>& lists() const { return lists_; }

private:
    uint16_t noData_ = 0;
    uint32_t noDataMask_ = 0;
    std::vector<std::unique_ptr<CEvDataList>> lists_;        // newest first
    std::vector<std::unique_ptr<EventChData>> inputs_;
    gw_conn_t conn_ = nullptr;
};
