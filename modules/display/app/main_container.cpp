// The main container: start and stop of the configuration, page switches,
// the colour page and the brightness.
#include "display/app/main_container.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "awm/awm.h"
#include "display/app/display_backlight.h"
#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/config/xml_reader.h"
#include "display/control/display_ctrl.h"
#include "display/pages/cdisppage.h"
#include "display/values/cdata.h"
#include "display/views/cimage_container.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "host/screen/display_regs.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

int32_t brightness_switch_pos = 0;

namespace {

int visAlwaysCount(const page_s& common)
{
    int n = 0;
    for (const display_elem_s* e = common.elements; e; e = e->next) {
        uint32_t vis = VIS_LIMIT;
        switch (e->type) {
        case DISP_ELEM_ALPHANUM: vis = e->alphanum.vis_mode; break;
        case DISP_ELEM_BARGRAPH: vis = e->bargraph.vis_mode; break;
        case DISP_ELEM_PICTURE: vis = e->picture.vis_mode; break;
        }
        if (vis == VIS_ALWAYS) ++n;
    }
    return n;
}

void clearPageStatistics()
{
    DispSignals& sig = dispSignals();
    dispSigSet(sig.display_err, uint8_t(0));
    dispSigSet(sig.display_elements_skipped, uint16_t(0));
    dispSigSet(sig.display_elements_updated, uint16_t(0));
}

}  // namespace

CMainContainer::CMainContainer(const GuiRect& rect, unsigned int style) : GuiWindow(rect, style)
{
    SetColor(0, 0xFFFFFF);
    SetColor(1, 0xFFFFFF);
    SetWallpaper(gbBootLogoBitmap, 0);
    CDispPage::reset_chan = CDispPage::page_chan = CDispPage::brightness_chan = nullptr;
}

CMainContainer::~CMainContainer()
{
    // The presentation manager is going: nothing is drawn or removed from
    // here on (the boot logo may already be released). Children go with
    // the window base; only things that are not children are deleted here.
    SetWallpaper(nullptr, 0);
    releasePages(true);
    releaseMeasurement();
    for (GuiWindow** w : {&textWindow, &extWindow}) {
        if (*w && !(*w)->mpParent) delete *w;
        *w = nullptr;
    }
    textPrompt1 = textPrompt2 = extPrompt = extResetPrompt = nullptr;
}

CDispPage* CMainContainer::current() const
{
    return currentPage >= 0 && currentPage < DISPLAY_MAX_PAGES ? pages[currentPage] : nullptr;
}

void CMainContainer::flushAndWait()
{
    if (!mpScreen) return;
    mpScreen->FlushScreen();
    mpScreen->WaitFlushFinish();
}

void CMainContainer::releaseInvalidation()
{
    if (!mpScreen) return;
    mpScreen->BeginDraw(this);
    mpScreen->EndDraw();
}

// ---- start and stop ---------------------------------------------------------------------------

void CMainContainer::initDispCfgChan(CData** chan, awm_meas_in* input, unsigned short raster)
{
    *chan = nullptr;
    if (!input || input->adr == 0 || !data) return;
    CData* d = nullptr;
    try {
        d = new CData(input);
        data->addData(d, raster);   // the manager owns it from here
        *chan = d;
    } catch (...) {
        delete d;
        *chan = nullptr;
        syslogx(147, "CMainContainer::initDispPageConfigChannel(): new CData() failed");
    }
}

void CMainContainer::releasePages(bool destroying)
{
    // The reader task lets go of the inputs before their sources are freed.
    displaySetChannels(nullptr, nullptr, nullptr);
    CDispPage::reset_chan = CDispPage::page_chan = CDispPage::brightness_chan = nullptr;

    bool removed = false;
    for (int i = 0; i <= DISPLAY_MAX_PAGES; ++i) {
        CDispPage*& p = i < DISPLAY_MAX_PAGES ? pages[i] : colourPage;
        if (!p) continue;
        if (GuiMessageQueue* q = mpMessageQueue) {
            q->KillTimer(p, 0);
            q->Purge(p, 0, 0);
        }
        if (p->mpParent && destroying) {
            p = nullptr;   // goes with the window base
            continue;
        }
        if (p->mpParent) {
            Remove(p, 0);
            removed = true;
        }
        delete p;
        p = nullptr;
    }
    if (removed) releaseInvalidation();
}

void CMainContainer::releaseMeasurement()
{
    if (data) {
        data->stopMeasurement();
        delete data;
        data = nullptr;
    }
    displayCtrl_stop();
    displayBacklightRelease();
    if (config) XmlFreeDisplay(config);
    config = nullptr;
    delete images;
    images = nullptr;
}

void CMainContainer::stopMeas()
{
    // The pages go first: their views hold sources of the data manager. They
    // leave without a redraw, so that what they showed (the colour page of
    // "display color") stays on the screen.
    releasePages(false);
    releaseMeasurement();
}

void CMainContainer::setupMeas()
{
    InitClient();
    SetColor(0, 0xFFFFFF);
    currentPage = 0;
    stopMeas();
    CDispPage::resetClassState();

    if (XmlLoad(DISPLAY_CFG_PATH, &config) != 0) {
        if (config) XmlFreeDisplay(config);
        config = nullptr;
        char text[100];
        xml_get_error_msg(text, sizeof text);
        syslogx(155, "MainContainer::setupMeas - XML:%s", text);
    }
    clearPageStatistics();
    int pageCount = 0;
    if (!config) {
        syslogx(155, "MainContainer::setupMeas - reading of display control file failed");
    } else {
        syslogx(158, "MainContainer::setupMeas - reading display control file, configuration with %d pages",
                int(config->page_count));
        images = new CImageContainer(config);
        data = new CDataManager();
        initDispCfgChan(&CDispPage::reset_chan, &config->reset_in, DISP_RASTER);
        initDispCfgChan(&CDispPage::page_chan, &config->page_in, DISP_RASTER);
        initDispCfgChan(&CDispPage::brightness_chan, &config->brightness_in, DISP_RASTER);
        displaySetChannels(CDispPage::reset_chan, CDispPage::page_chan, CDispPage::brightness_chan);

        const int always = visAlwaysCount(config->all_pages);
        for (int i = 0; i < DISPLAY_MAX_PAGES; ++i) {
            if (always <= 0 && !config->pages[i].used) continue;
            pages[i] = new CDispPage(mClient.left, mClient.top, config->x_res, config->y_res, i, &config->pages[i],
                                     &config->all_pages, data, images);
            if (always <= 0) ++pageCount;
        }
        if (always > 0) pageCount = DISPLAY_MAX_PAGES;

        const uint8_t position = displayCtrl_start(uint8_t(pageCount - 1));
        currentPage = int(position) - 1;
        // Shown as a page switch shows it: the views are built visible, and
        // only the switch's full first refresh takes idle alarm views off the
        // screen; after a stop and start the page-control task sees its
        // position unchanged and asks for no switch.
        if (position >= 1) showCurrent();

        const uint8_t b = displayCtrl_brightness();
        brightness_switch_pos = b ? b - 1 : 0;
        displayBrightness(unsigned(brightness_switch_pos));
        data->createMeaslists();
        data->startMeasurement();
        if (pageCount != 0) displayMaxPages(pageCount - 1);
    }
    disp_started = 1;
    update_ext_wnd(false);
}

// ---- page switch, next page, colour page, brightness -------------------------------------------------

void CMainContainer::showCurrent()
{
    if (CDispPage* p = current()) {
        p->SwitchedPage();
        Add(p, 1);
        p->setFrameRate(frameRate);
        p->setFlashMode(flash != 0);
    }
}

void CMainContainer::switchPage(int index)
{
    clearPageStatistics();
    if (index < 0 || index >= DISPLAY_MAX_PAGES) index = DISPLAY_MAX_PAGES - 1;
    if (CDispPage* p = current()) {
        if (!pages[index]) {
            Remove(p, 1);
            flushAndWait();
        } else {
            Remove(p, 0);   // the new page covers it
        }
    }
    currentPage = index;
    showCurrent();
    if (textWindow) MoveToFront(textWindow, 1);
    update_ext_wnd(true);
}

void CMainContainer::nextPage()
{
    if (CDispPage* p = current()) Remove(p, 1);
    int index = currentPage;
    bool found = false;
    for (int step = 0; step < 13 && !found; ++step) {
        index = index >= DISPLAY_MAX_PAGES - 1 ? 0 : index + 1;
        found = pages[index] != nullptr;
    }
    currentPage = index;
    if (found) {
        Center(pages[index]);
        Add(pages[index], 1);
    }
    update_ext_wnd(true);
}

void CMainContainer::colourPageRequest(uint32_t rgb)
{
    colour = rgb;
    if (!colourPage) {
        colourPage = new CDispPage(mClient.left, mClient.top, mClient.left + 639, mClient.top + 479, 0, int(rgb));
        Add(colourPage, 1);
    }
    colourPage->SetColor(0, rgb);
    if (mpScreen) mpScreen->Invalidate(colourPage->mOuter);
    colourPage->Draw();
    MoveToFront(colourPage, 1);
}

void CMainContainer::brightness(unsigned index)
{
    if (!config || index >= 12) return;
    brightness_switch_pos = int32_t(index);
    if (index >= config->perc_count || index >= unsigned(DISPLAY_MAX_PERC)) return;
    const float p = float(config->perc[index]);
    displayBacklightStep(display_brightness_bg(p));
    host::displayRegWrite(DISP_COLSAT_REGISTER, display_brightness_colSat(p));
}

// ---- messages ----------------------------------------------------------------------------------------

int CMainContainer::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case DISP_MSG_NEXT:
        nextPage();
        return 0;
    case DISP_MSG_START:
        setupMeas();
        if (textWindow) MoveToFront(textWindow, 1);
        return 0;
    case DISP_MSG_STOP:
        stopMeas();
        flushAndWait();
        return 0;
    case DISP_MSG_COLOR:
        colourPageRequest(uint32_t(msg.Word(0)));
        return 0;
    case DISP_MSG_PAGE:
        switchPage(int(msg.Word(0)));
        return 0;
    case 0x4005:
    case 0x4006:
        return 0;
    case DISP_MSG_BRIGHTNESS:
        brightness(unsigned(msg.Word(0)));
        return 0;
    case DISP_MSG_RATE:
        if (CDispPage* p = current()) {
            p->setFrameRate(int(msg.Word(0)));
            frameRate = int(msg.Word(0));
        }
        return 0;
    case DISP_MSG_FLASH_ON:
    case DISP_MSG_FLASH_OFF:
        if (CDispPage* p = current()) {
            flash = msg.type == DISP_MSG_FLASH_ON;
            p->setFlashMode(flash != 0);
        }
        return 0;
    case DISP_MSG_TEXT:
        show_text(static_cast<const char*>(msg.Pointer(0)));
        return 0;
    case DISP_MSG_TEXT2:
        show_text2(static_cast<const char*>(msg.Pointer(0)), static_cast<const char*>(msg.Pointer(1)));
        return 0;
    case DISP_MSG_TEXT_FREE:
        if (char* copy = static_cast<char*>(msg.Pointer(0))) {
            char text[DISP_TEXT_COPY_LEN];
            snprintf(text, sizeof text, "%s", copy);
            std::free(copy);
            show_text(text);
        }
        return 0;
    case DISP_MSG_TEXT_HIDE:
        hide_text();
        return 0;
    case DISP_MSG_EXT_WND:
        update_ext_wnd(false);
        return 0;
    default:
        return GuiWindow::Message(msg);
    }
}
