// State shared by the remote-control requests, the listener and the
// supervision task.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/os/os.h"

// Events to the supervision task.
enum : uint32_t {
    RCTRL_EV_REMOTESTOP = 1,
    RCTRL_EV_REMOTEDESTROY = 2,
    RCTRL_EV_REMOTESTART_DONE = 4,
    RCTRL_EV_REMOTEINIT_DONE = 8,
};

// A task's event word: senders set bits, the receiver takes the bits of a
// mask it waits for and leaves the others.
class RemoteEvents {
public:
    bool init();
    void destroy();
    bool send(uint32_t bits);
    // The bits of mask that arrived (taken), 0 after the time-out.
    uint32_t receive(uint32_t mask, int timeoutTicks);
    void clear(uint32_t mask) { bits_.fetch_and(~mask); }

private:
    std::atomic<uint32_t> bits_{0};
    std::atomic<SEM_ID> wake_{nullptr};
};

// Who locked the remote init (RemoteState::initLock; 0 = not locked).
enum : uint8_t {
    RCTRL_INITLOCK_SHELL = 1,   // the shell's destroy: its own init lifts it
    RCTRL_INITLOCK_LOST = 2,    // the init the supervision made for a lost client
};

struct RemoteState {
    std::atomic<uint32_t> address{0};   // client to watch, network order; 0 = none
    std::atomic<uint8_t> startLock{0};
    std::atomic<uint8_t> initLock{0};   // RCTRL_INITLOCK_*
    std::atomic<uint32_t> retries{0};
    std::atomic<uint8_t> stopActive{0};
    std::atomic<TASK_ID> lostTask{nullptr};
    std::atomic<TASK_ID> listenTask{nullptr};
    RemoteEvents events;
    std::atomic<uint8_t (*)()> xcpMasterPresent{nullptr};
};
RemoteState& remoteState();

void remotectrl_lost_task();
void remotectrl_listenQueue();
