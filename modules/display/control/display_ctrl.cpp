// The page and brightness task and the start and stop of page control.
#include "display/control/display_ctrl.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "display/app/display_requests.h"
#include "host/kernel/kernel.h"
#include "host/os/os.h"
#include "measurement/signalpage.h"
#include "platform/error_mgr.h"
#include "platform/nvram.h"
#include "platform/syslogx.h"

std::atomic<uint8_t> displayCtrl_state{0};

namespace {

constexpr int kPriority = 69;
constexpr size_t kStack = 10000;
constexpr cpuset_t kFirstCore = 1;
constexpr int kStopWaitTicks = 1000;

TASK_ID gTask = nullptr;
std::atomic<bool> gStop{false};
uint8_t gPageWriteFlood = 0;
// Orders the GUI task's start and stop against a pass of the task.
std::mutex gCtrlLock;

// Timeout state of one switch channel (task-local).
struct ChannelWatch {
    uint32_t passes = 0;   // passes without an update
    bool raised = false;
};
ChannelWatch gPageWatch, gBrightnessWatch;
// The positions known to be in NVRAM (0: unknown): a position that is
// already stored is not written again.
uint8_t gStoredPage = 0, gStoredBrightness = 0;

// Writes a position unless NVRAM holds it already; 0 when the write failed.
long storePosition(unsigned id, uint8_t position, uint8_t& stored)
{
    if (stored != 0 && stored == position) return 1;
    const long r = nvram_dbs_write(id, 0, &position, 1);
    stored = r != 0 ? position : 0;
    return r;
}

// Reads a stored position, limits it to 1..max and writes it back when the
// read failed or the value changed; returns the position.
uint8_t restorePosition(unsigned id, uint8_t max, const char* readFail, bool flood, const char* writeFail,
                        uint8_t& stored)
{
    uint8_t pos = 0;
    bool write = false;
    stored = 0;
    if (nvram_dbs_read(id, 0, &pos, 1) == 1) {
        stored = pos;
    } else {
        syslogx(147, "%s", readFail);
        pos = 1;
        write = true;
    }
    if (pos == 0) {
        pos = 1;
        write = true;
    }
    if (pos > max) {
        pos = max;
        write = true;
    }
    if (write && storePosition(id, pos, stored) == 0) {
        if (flood) SYSLOGX_FLOOD(gPageWriteFlood, 147, "%s", writeFail);
        else syslogx(147, "%s", writeFail);
    }
    return pos;
}

// One channel's step of a pass; true when a new position was requested.
bool followChannel(int (*read)(int*, unsigned char*), uint8_t& shared, int max, ChannelWatch& w,
                   unsigned errType, int (*request)(unsigned int), uint8_t state)
{
    // a tool may write the position at any time: one read, one write
    std::atomic_ref<uint8_t> position(shared);
    const int current = position.load();
    int value = current;
    unsigned char updated = 0;
    if (!read(&value, &updated)) {
        if (state == 1) {
            const int pos = limit1toMax(current, max);
            position.store(uint8_t(pos));
            request(unsigned(pos) - 1);
        }
        return false;
    }
    int pos;
    if (!updated) {
        pos = limit1toMax(current, max);
        if (w.passes >= uint32_t(sysClkRateGet()) * 60u) {
            if (!w.raised) {
                error_mgr_set(DISP_ERR_PATH, errType, 0);
                w.raised = true;
            }
        } else {
            ++w.passes;
        }
    } else {
        pos = limit1toMax(value, max);
        w.passes = 0;
        if (w.raised) {
            error_mgr_clear(DISP_ERR_PATH);
            w.raised = false;
        }
    }
    if (pos != current || state == 1) {
        position.store(uint8_t(pos));
        request(unsigned(pos) - 1);
        return true;
    }
    return false;
}

void taskBody(intptr_t) { displayCtrl_task(); }

}  // namespace

int limit1toMax(int value, int max)
{
    if (value < 1) value = 1;
    if (value > max) value = max;
    return value;
}

void displayCtrl_ini(void)
{
    displayCtrl_state = 0;
    gStop = false;
    gTask = taskSpawn("r_DispCtrl", kPriority, VX_FP_TASK, kStack, taskBody, 0);
    if (!gTask) {
        syslogx(147, "displayCtrl_ini(): could not start task: %s", strerror(errno));
        return;
    }
    if (taskCpuAffinitySet(gTask, kFirstCore) != OK)
        syslogx(147, "displayCtrl_ini() failed to set cpu affinity for DispCtrl, tid %X, cpuset %d, errno %s",
                unsigned(reinterpret_cast<uintptr_t>(gTask)), int(kFirstCore), strerror(errno));
}

void displayCtrl_exit(void)
{
    if (!gTask) return;
    gStop = true;
    if (taskWait(gTask, kStopWaitTicks) != OK) taskDelete(gTask);
    gTask = nullptr;
}

unsigned char displayCtrl_start(unsigned char maxIndex)
{
    std::lock_guard<std::mutex> lk(gCtrlLock);
    SignalPage* sp = signalPage();
    if (displayCtrl_state != 0) return std::atomic_ref<uint8_t>(sp->display_page).load();
    if (!displayGetPageChan(nullptr, nullptr))
        syslogx(150, "displayCtrl_start: no page channel configured, no page switching");
    if (!displayGetBrightnessChan(nullptr, nullptr))
        syslogx(150, "displayCtrl_start: no brigntness channel configured, no brightness switching");
    // a tool reads the page count at any time (getvar): one atomic word
    const uint8_t pageMax = uint8_t(maxIndex + 1);
    std::atomic_ref<uint8_t>(sp->display_page_mx).store(pageMax);
    const uint8_t page = restorePosition(NVRAM_ID_DISPLAY_PAGE, pageMax,
                                       "displayCtrl_start: could not read display page from nvram", true,
                                       "displayCtrl_start: could not write display page into nvram", gStoredPage);
    const uint8_t brightness = restorePosition(NVRAM_ID_DISPLAY_BRIGHTNESS, DISP_BRIGHTNESS_POSITIONS,
                                             "displayCtrl_start: could not read display brightness from nvram", false,
                                             "displayCtrl_start: could not write display britghnetss into nvram",
                                             gStoredBrightness);
    std::atomic_ref<uint8_t>(sp->display_page).store(page);
    std::atomic_ref<uint8_t>(sp->display_brightness).store(brightness);
    displayCtrl_state = 1;
    return page;
}

void displayCtrl_stop(void)
{
    std::lock_guard<std::mutex> lk(gCtrlLock);
    if (displayCtrl_state != 1) return;
    SignalPage* sp = signalPage();
    std::atomic_ref<uint8_t>(sp->display_page).store(0);
    std::atomic_ref<uint8_t>(sp->display_page_mx).store(0);
    std::atomic_ref<uint8_t>(sp->display_brightness).store(0);
    displayCtrl_state = 0;
}

unsigned char displayCtrl_brightness(void)
{
    std::lock_guard<std::mutex> lk(gCtrlLock);
    return std::atomic_ref<uint8_t>(signalPage()->display_brightness).load();
}

void displayCtrl_pass(void)
{
    std::lock_guard<std::mutex> lk(gCtrlLock);
    const uint8_t state = displayCtrl_state;
    if (state == 1 || state == 2) {
        SignalPage* sp = signalPage();
        bool changed = followChannel(displayGetPageChan, sp->display_page,
                                     std::atomic_ref<uint8_t>(sp->display_page_mx).load(), gPageWatch,
                                     DISP_ERR_PAGE_TIMEOUT, displaySwitchPage, state);
        if (changed && storePosition(NVRAM_ID_DISPLAY_PAGE, std::atomic_ref<uint8_t>(sp->display_page).load(),
                                     gStoredPage) == 0)
            syslogx(147, "displayCtrl_task: could not write display page into nvram");
        changed |= followChannel(displayGetBrightnessChan, sp->display_brightness, DISP_BRIGHTNESS_POSITIONS,
                                 gBrightnessWatch, DISP_ERR_BRIGHTNESS_TIMEOUT, displayBrightness, state);
        displayCtrl_state = 2;
        if (changed && storePosition(NVRAM_ID_DISPLAY_BRIGHTNESS,
                                     std::atomic_ref<uint8_t>(sp->display_brightness).load(), gStoredBrightness) == 0)
            syslogx(147, "displayCtrl_task: could not write display brightness into nvram");
    }
}

void displayCtrl_task(void)
{
    while (!gStop.load()) {
        displayCtrl_pass();
        taskDelay(1);
    }
}

void displayCtrl_resetForTest(void)
{
    gPageWatch = ChannelWatch{};
    gBrightnessWatch = ChannelWatch{};
    gPageWriteFlood = 0;
    gStoredPage = gStoredBrightness = 0;
    displayCtrl_state = 0;
}
