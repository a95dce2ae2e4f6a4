// Construction of a page, its overlay groups, show and hide, frame rate,
// page switch and the flash window.
#include "display/pages/cdisppage.h"

#include <new>
#include <vector>

#include "display/fonts/korva_fonts.h"
#include "display/values/cdata.h"
#include "display/views/cbarview.h"
#include "display/views/cdispbox.h"
#include "display/views/cimage_container.h"
#include "display/views/cpicture.h"
#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"

CData* CDispPage::page_chan = nullptr;
CData* CDispPage::brightness_chan = nullptr;
CData* CDispPage::reset_chan = nullptr;
uint8_t CDispPage::switched_page = 0;
uint8_t CDispPage::reset_old = 0;
uint8_t CDispPage::online_min_old = 0;
uint8_t CDispPage::online_max_old = 0;
uint32_t CDispPage::timecnt_min_old = 0;
uint32_t CDispPage::timecnt_max_old = 0;
uint32_t CDispPage::timeout_all_old = 0;
uint32_t CDispPage::timeout_pids_old = 0;

// A view waiting to be sorted into a group: group heads form one list,
// the members of a head's group a second one.
struct CDispPage::OverlayNode {
    CDataView* view = nullptr;
    OverlayNode* nextMember = nullptr;
    OverlayNode* prevMember = nullptr;
    OverlayNode* nextHead = nullptr;
    OverlayNode* prevHead = nullptr;
};

namespace {

int countOf(const page_s* p) { return p ? p->count : 0; }

}  // namespace

void CDispPage::resetClassState()
{
    switched_page = 0;
    reset_old = 0;
    online_min_old = online_max_old = 0;
    timecnt_min_old = timecnt_max_old = timeout_all_old = timeout_pids_old = 0;
}

CDispPage::CDispPage(int x, int y, int width, int height, int index, page_s* page, page_s* common,
                     CDataManager* dataManager, CImageContainer* images)
    : GuiWindow(GST_FRAME_NONE)
{
    elemCount = countOf(page) + countOf(common);
    elems = new CHashElem(short(elemCount));
    pageIndex = index;
    Resize(GuiRect(int16_t(x), int16_t(y), int16_t(x + width - 1), int16_t(y + height - 1)));
    InitClient();
    data = dataManager;
    if (page) SetColor(0, CDataView::dispElem_Color(&page->bg_col));
    resetGroup = 0;

    const display_elem_s* own = page ? page->elements : nullptr;
    const display_elem_s* shared = common ? common->elements : nullptr;
    for (int i = 0; i < elemCount; ++i) {
        display_elem_s* e = nullptr;
        if (own) {
            e = const_cast<display_elem_s*>(own);
            own = own->next;
        } else if (shared) {
            e = const_cast<display_elem_s*>(shared);
            shared = shared->next;
        } else {
            break;
        }
        CDataView* view = nullptr;
        switch (e->type) {
        case DISP_ELEM_ALPHANUM:
            view = new CDispBox(mOuter, e, this, 1);
            Add(view, 1);
            break;
        case DISP_ELEM_BARGRAPH:
            view = new CBarView(mOuter, e, this, 1);
            Add(view, 0);
            break;
        case DISP_ELEM_PICTURE:
            view = new CPicture(mOuter, e, images ? images->getImage(&e->picture.pic) : nullptr, this, 1);
            Add(view, 1);
            break;
        default:
            continue;
        }
        if (data)
            for (CDataType_t k : {CDATA_VALUE, CDATA_VISIBILITY})
                if (CData* d = data->addData(e, DISP_RASTER, k)) view->setData(d, k);
        elems->AddElemAt(view, short(i));
        if (view->isAlarm()) addOverlayElement(view);
    }
    processOverlayElements();
}

CDispPage::CDispPage(int left, int top, int right, int bottom, int, int colour) : GuiWindow(GST_FRAME_NONE)
{
    Resize(GuiRect(int16_t(left), int16_t(top), int16_t(right), int16_t(bottom)));
    InitClient();
    SetColor(0, uint32_t(colour));
}

CDispPage::~CDispPage()
{
    // Views on the page go with the window base; those their visibility has
    // taken off the page are deleted here, as is the flash window while it
    // is not shown.
    for (int i = 0; elems && i < elemCount; ++i) {
        CDataView* v = elems->GetElem(short(i));
        if (v && v->mpParent != this) delete v;
    }
    if (flashWindow && !flashWindow->mpParent) delete flashWindow;
    freeOverlayList();
    for (int g = 0; g < groupCount; ++g) delete[] groups[g].members;
    delete[] groups;
    delete elems;
}

// ---- overlay groups -------------------------------------------------------------------------------

bool CDispPage::checkOverlap(GuiRect a, GuiRect b)
{
    // strict comparisons: rectangles that meet only in an edge column or row
    // are side by side, not on top of each other
    return a.top < b.bottom && a.bottom > b.top && a.left < b.right && a.right > b.left;
}

int CDispPage::getTimeSlot(unsigned short ms)
{
    if (ms < 100) return 5;
    if (ms < 200) return 6;
    if (ms < 500) return 7;
    if (ms < 1000) return 8;
    return 9;
}

void CDispPage::addOverlayElement(CDataView* view)
{
    auto* n = new OverlayNode;
    n->view = view;
    n->prevHead = overlayTail;
    if (overlayTail) overlayTail->nextHead = n;
    else overlayHead = n;
    overlayTail = n;
}

void CDispPage::processOverlayElements()
{
    // Each head collects, in list order, every later head that overlaps one
    // of its members, including members that joined during the walk.
    for (OverlayNode* h = overlayHead; h; h = h->nextHead) {
        OverlayNode* last = h;
        for (OverlayNode* m = h; m; m = m->nextMember) {
            for (OverlayNode* c = h->nextHead; c;) {
                OverlayNode* following = c->nextHead;
                if (checkOverlap(m->view->mClient, c->view->mClient)) {
                    // unlink from the heads, append to h's group
                    if (c->prevHead) c->prevHead->nextHead = c->nextHead;
                    if (c->nextHead) c->nextHead->prevHead = c->prevHead;
                    if (overlayTail == c) overlayTail = c->prevHead;
                    c->nextHead = c->prevHead = nullptr;
                    c->prevMember = last;
                    last->nextMember = c;
                    last = c;
                }
                c = following;
            }
        }
    }
    int count = 0;
    for (OverlayNode* h = overlayHead; h; h = h->nextHead) ++count;
    groups = count ? new DispOverlayGroup[size_t(count)] : nullptr;
    groupCount = count;
    int g = 0;
    for (OverlayNode* h = overlayHead; h; h = h->nextHead, ++g) {
        int n = 0;
        for (OverlayNode* m = h; m; m = m->nextMember) ++n;
        groups[g].count = n;
        groups[g].members = new CDataView*[size_t(n)];
        int k = 0;
        for (OverlayNode* m = h; m; m = m->nextMember) groups[g].members[k++] = m->view;
    }
    freeOverlayList();
    resetGroup = groupCount;
}

void CDispPage::freeOverlayList()
{
    for (OverlayNode* h = overlayHead; h;) {
        OverlayNode* nextHead = h->nextHead;
        for (OverlayNode* m = h; m;) {
            OverlayNode* nm = m->nextMember;
            delete m;
            m = nm;
        }
        h = nextHead;
    }
    overlayHead = overlayTail = nullptr;
}

// ---- messages, frame rate, page switch --------------------------------------------------------------

int CDispPage::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_SHOW:
        GuiWindow::Message(msg);
        if (mpMessageQueue) mpMessageQueue->SetTimer(this, uint16_t(pageIndex), frameRate, frameRate);
        return 0;
    case GM_HIDE:
        GuiWindow::Message(msg);
        if (mpMessageQueue) mpMessageQueue->KillTimer(this, uint16_t(pageIndex));
        return 0;
    case GM_TIMER:
        if (msg.target == this) {
            refresh();
            return 0;
        }
        return GuiWindow::Message(msg);
    default:
        return GuiWindow::Message(msg);
    }
}

int CDispPage::setFrameRate(int ticks)
{
    frameRate = ticks;
    if (mpMessageQueue) {
        mpMessageQueue->KillTimer(this, uint16_t(pageIndex));
        mpMessageQueue->SetTimer(this, uint16_t(pageIndex), ticks, ticks);
    }
    return 0;
}

void CDispPage::SwitchedPage()
{
    for (int g = 0; g < groupCount; ++g) {
        for (int k = 0; k < groups[g].count; ++k) groups[g].members[k]->clearAlarmReset();
        groups[g].shown = nullptr;
    }
    for (int i = 0; i < elemCount; ++i)
        if (CDataView* v = elems ? elems->GetElem(short(i)) : nullptr) v->forceUpdate();
    resetElem = nullptr;
    resetGroup = groupCount;
    roundRobin = 0;
    switched_page = 1;
}

void CDispPage::setFlashMode(bool on)
{
    flash = on ? 1 : 0;
    if (!on) {
        if (flashWindow) Remove(flashWindow, 1);
        return;
    }
    const int l = mClient.left, t = mClient.top;
    if (!flashWindow) {
        flashWindow = new GuiWindow(GuiRect(int16_t(l + 15), int16_t(t + 150), int16_t(l + 785), int16_t(t + 250)),
                                    GST_FRAME_NONE);
        flashPrompt = new GuiPrompt(l + 40, t + 160, "Please stand by while programming device...", 0, 0x6081,
                                    Korva_getFont(FONT_TINY), 0);
        flashLeft = int16_t(l + 25);
        flashBar = new GuiWindow(GuiRect(int16_t(l + 25), int16_t(t + 210), int16_t(l + 100), int16_t(t + 240)),
                                 GST_FRAME_NONE);
        flashBar->SetColor(0, 0x000000);
        flashWindow->Add(flashPrompt, 1);
        flashWindow->Add(flashBar, 1);
    }
    Add(flashWindow, 1);
    flashWindow->SetColor(0, 0xFF0000);
    if (mpScreen) mpScreen->Invalidate(flashWindow->mOuter);
    flashWindow->Draw();
    MoveToFront(flashWindow, 1);
}
