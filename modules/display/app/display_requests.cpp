// Request functions: each packs its arguments into an application message
// and posts it to the GUI task.
#include "display/app/display_requests.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "display/app/display_signals.h"
#include "display/values/cdata.h"
#include "display/views/cdataview.h"
#include "gui/core/gui_message.h"
#include "gui/core/gui_queue.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"

std::atomic<uint8_t> disp_started{0};
std::atomic<int32_t> disp_max_page_index{0};

namespace {

// Guards the three input sources against their release by a stop while the
// page and brightness task reads them.
std::mutex gChannelLock;
CData* gResetChan = nullptr;
CData* gPageChan = nullptr;
CData* gBrightnessChan = nullptr;

int post(uint16_t type, intptr_t w0 = 0, intptr_t w1 = 0)
{
    // The flag first: it publishes the queue that the GUI task made.
    if (gbGuiInitialized.load() != 1) return -1;
    GuiMessageQueue* q = GuiThing::mpMessageQueue;
    if (!q) return -1;
    GuiMessage m(type);
    m.SetWord(0, w0);
    m.SetWord(1, w1);
    q->Push(&m);
    return 0;
}

int readChannel(CData* chan, int* value, unsigned char* updated)
{
    if (!chan) return 0;
    const bool state = chan->getMeasUpdateState();
    chan->updateData();
    double v = 0;
    chan->getQuantData(v);
    chan->setTimeout();
    if (value) *value = disp_round_s32(v);
    if (updated) *updated = state ? 1 : 0;
    return 1;
}

}  // namespace

int displayStart(void) { return post(DISP_MSG_START); }
int displayStop(void) { return post(DISP_MSG_STOP); }
int displayNext(void) { return post(DISP_MSG_NEXT); }
// The same message as displayNext: both advance to the following page.
int displayPrev(void) { return post(DISP_MSG_NEXT); }
int displayColor(unsigned int rgb) { return post(DISP_MSG_COLOR, intptr_t(rgb)); }
int displaySwitchPage(unsigned int index) { return post(DISP_MSG_PAGE, index >= 12 ? 11 : intptr_t(index)); }
int displayBrightness(unsigned int index) { return post(DISP_MSG_BRIGHTNESS, intptr_t(index)); }
int displaySetUpdateRate(int ticks) { return post(DISP_MSG_RATE, ticks); }
int displayFlashStart(void) { return post(DISP_MSG_FLASH_ON); }
int displayFlashStop(void) { return post(DISP_MSG_FLASH_OFF); }
int displayTxtShow(const char* text) { return post(DISP_MSG_TEXT, reinterpret_cast<intptr_t>(text)); }
int displayTxtShow2(const char* a, const char* b)
{
    return post(DISP_MSG_TEXT2, reinterpret_cast<intptr_t>(a), reinterpret_cast<intptr_t>(b));
}

int displayTxtShowFree(const char* text)
{
    if (gbGuiInitialized.load() != 1 || !GuiThing::mpMessageQueue) return -1;
    auto* copy = static_cast<char*>(std::malloc(DISP_TEXT_COPY_LEN));
    if (!copy) return -1;
    std::snprintf(copy, DISP_TEXT_COPY_LEN, "%s", text ? text : "");
    // A full queue drops the message: the copy then stays with us to free.
    GuiMessage m(DISP_MSG_TEXT_FREE);
    m.SetPointer(0, copy);
    if (!GuiEnqueueMessage(&m, gpGuiMesgQueue)) std::free(copy);
    return 0;
}

int displayTxtHide(void) { return post(DISP_MSG_TEXT_HIDE); }
int displayUpdateExtWnd(void) { return post(DISP_MSG_EXT_WND); }

void displayJoin(void) {}

int displayMaxPages(int n)
{
    if (n != -1) disp_max_page_index = n;
    return disp_max_page_index;
}

int displayStatus(int s)
{
    if (s == 1) disp_started = 1;
    return disp_started;
}

void displaySetChannels(CData* reset, CData* page, CData* brightness)
{
    std::lock_guard<std::mutex> lk(gChannelLock);
    gResetChan = reset;
    gPageChan = page;
    gBrightnessChan = brightness;
}

int displayGetPageChan(int* value, unsigned char* updated)
{
    std::lock_guard<std::mutex> lk(gChannelLock);
    return readChannel(gPageChan, value, updated);
}

int displayGetBrightnessChan(int* value, unsigned char* updated)
{
    std::lock_guard<std::mutex> lk(gChannelLock);
    return readChannel(gBrightnessChan, value, updated);
}

unsigned char display_get_reset_alarm_active(void) { return dispSigGet(dispSignals().disp_reset_alarm_active); }
unsigned char display_get_alarm_hidden(void) { return disp_alarm_inhibit.load(); }
void display_trigger_inhibit_alarms(void) { disp_alarm_inhibit = 1; }
void display_reset_inhibit_alarms(void) { disp_alarm_inhibit = 0; }
