// GuiNotebook: tab row layout, the spin button that scrolls it, selecting
// tabs and the notebook's message handling.
#include <algorithm>

#include "gui/core/gui_queue.h"
#include "gui/draw/gui_screen.h"
#include "gui/widgets/notebook/gui_notebook.h"
#include "gui/widgets/spin/gui_spin_button.h"

namespace {

// The spin button is 32 pixels wide and sits 2 pixels in from the right.
constexpr int kSpinWidth = 32;

uint8_t tabCount(int n) { return uint8_t(std::clamp(n, 0, 255)); }

}  // namespace

void GuiNotebook::MeasureTabs()
{
    int w = -1, h = -1;
    if (mppTabStrings) {
        if (mpScreen && mpFont) {
            for (int i = 0; i < mTabCount; ++i)
                if (mppTabStrings[i]) w = std::max(w, mpScreen->TextWidth(mppTabStrings[i], mpFont, -1));
            h = mpScreen->TextHeight(nullptr, mpFont);
        }
    } else if (mppTabClients) {
        for (int i = 0; i < mTabCount; ++i) {
            if (GuiThing* c = mppTabClients[i]) {
                w = std::max(w, c->mOuter.Width());
                h = std::max(h, c->mOuter.Height());
            }
        }
    }
    mTabWidth = w + 12;    // never below 11: no division by zero below
    mTabHeight = h + 6;

    InitClient();
    if (TabsOnTop()) mClient.top = int16_t(mOuter.top + mTabHeight + (Thick() ? 4 : 2));
    else mClient.bottom = int16_t(mOuter.bottom - mTabHeight - (Thick() ? 5 : 3));
}

void GuiNotebook::PlaceSpinButton()
{
    const int clientWidth = mClient.right - mClient.left;
    const int fit = (clientWidth - 3) / mTabWidth;
    if (fit < mTabCount) {
        const int r = mOuter.right - 2;
        const GuiRect rect = TabsOnTop() ? GuiRect(r - kSpinWidth, mClient.top - 19, r, mClient.top - 3)
                                         : GuiRect(r - kSpinWidth, mClient.bottom + 3, r, mClient.bottom + 19);
        if (mpSpin) {
            mpSpin->Resize(rect);
        } else {
            mpSpin = new GuiSpinButton(rect, GUI_ID_NOTEBOOK_SPIN, GST_ENABLED);
            mpSpin->AddStatus(GS_NONCLIENT);
            Add(mpSpin, 1);
        }
        mVisibleTabs = tabCount((clientWidth - 35) / mTabWidth);
    } else {
        if (mpSpin) {
            GuiSpinButton* spin = mpSpin;
            mpSpin = nullptr;
            Destroy(spin);
        }
        mVisibleTabs = tabCount(fit);
        // Without the spin button the row cannot be scrolled back: it
        // starts at the first tab again.
        mFirstVisibleTab = 0;
    }
}

void GuiNotebook::PlaceTabClients()
{
    if (!mppTabClients) return;
    GuiRect label;
    label.left = int16_t(mOuter.left - mTabWidth * mFirstVisibleTab + 6);
    label.right = int16_t(label.left + mTabWidth - 13);
    if (TabsOnTop()) {
        label.top = int16_t(mOuter.top + 3);
        label.bottom = int16_t(mOuter.top + mTabHeight - 4);
    } else {
        label.bottom = int16_t(mOuter.bottom - 3);
        label.top = int16_t(label.bottom - mTabHeight + 7);
    }
    // Every index takes a step, as the tabs are drawn and hit, so a label
    // stays on its own tab when an earlier tab has none.
    for (int i = 0; i < mTabCount; ++i) {
        if (GuiThing* c = mppTabClients[i]) c->Resize(label);
        label.Shift(mTabWidth, 0);
    }
}

void GuiNotebook::CalculateTabPositions()
{
    MeasureTabs();
    PlaceSpinButton();
    PlaceTabClients();
}

void GuiNotebook::AddCurrentPageClient(int show)
{
    GuiThing* page = CurrentPage();
    if (!page) return;
    GuiRect target = mClient;
    target -= 4;
    if (page->mOuter != target) page->Resize(target);
    Add(page, show);
}

void GuiNotebook::ScrollToTab(uint8_t index)
{
    const int l = mOuter.left, w = mTabWidth, s = mpSpin->mOuter.left;
    const int x = l + (index - mFirstVisibleTab) * w;
    int first = mFirstVisibleTab;
    if (s <= x + w) first = index - (s - l) / w + 1;
    else if (l > x) first = index;
    // A row narrower than one tab would put the tab before the row.
    mFirstVisibleTab = uint8_t(std::clamp(first, 0, int(index)));
}

void GuiNotebook::QueueTabSignal()
{
    if (mId == 0 || !mpParent || !mpMessageQueue) return;
    GuiMessage m(GuiSignalType(mId, GUI_SIG_TAB_SELECTED), mId, mpParent, this);
    m.SetWord(0, mCurrentTab);
    mpMessageQueue->Push(&m);
}

void GuiNotebook::SelectTab(uint8_t index)
{
    if (index >= mTabCount || index == mCurrentTab) return;
    if (mpSpin) {
        const uint8_t before = mFirstVisibleTab;
        ScrollToTab(index);
        // Labels that are screen objects follow the scrolled row.
        if (mFirstVisibleTab != before) PlaceTabClients();
    }
    if (GuiThing* old = CurrentPage(); old && old->mpParent == this) Remove(old, 0);
    mCurrentTab = index;
    AddCurrentPageClient(0);
    if (IsVisible()) {
        if (mpScreen) {
            mpScreen->Invalidate(mOuter);
            Draw();
        }
        QueueTabSignal();
    }
}

int GuiNotebook::TabAt(int x) const
{
    int left = mOuter.left;
    for (int i = mFirstVisibleTab; i < mTabCount; ++i, left += mTabWidth)
        if (x >= left && x <= left + mTabWidth - 1) return i;
    return mTabCount;
}

int GuiNotebook::CheckTabClick(GuiPoint point)
{
    const bool inBand = TabsOnTop() ? point.y < mClient.top : point.y > mClient.bottom;
    if (!inBand) return 0;
    const int index = TabAt(point.x);
    if (index >= mTabCount || index == mCurrentTab) return 0;
    SelectTab(uint8_t(index));
    return 1;
}

void GuiNotebook::RedrawTabs()
{
    GuiRect band = mOuter;
    if (TabsOnTop()) band.bottom = int16_t(mOuter.top + mTabHeight);
    else band.top = int16_t(mOuter.bottom - mTabHeight - 2);
    if (mppTabClients) CalculateTabPositions();
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(band);
        Draw();
    }
}

void GuiNotebook::SetFont(const GuiFont* font)
{
    GuiTextThing::SetFont(font);
    if (!IsVisible() || !mpScreen) return;
    CalculateTabPositions();
    AddCurrentPageClient(0);   // the client area moved with the tab height
    mpScreen->Invalidate(mOuter);
    Draw();
}

int GuiNotebook::Message(const GuiMessage& msg)
{
    switch (msg.type) {
    case GM_RESIZE: {
        if (GuiThing* page = CurrentPage(); page && page->mpParent == this) Remove(page, 0);
        const int r = GuiWindow::Message(msg);
        // The tab row is laid out again for the new width: the spin button
        // comes or goes and stays at the right end.
        CalculateTabPositions();
        AddCurrentPageClient(0);
        if (IsVisible() && mpParent && mpScreen) {
            mpScreen->Invalidate(mpParent->mOuter);
            mpParent->Draw();
        }
        return r;
    }
    case GM_SHOW: {
        CalculateTabPositions();
        const int r = GuiWindow::Message(msg);
        AddCurrentPageClient(0);
        return r;
    }
    case GM_POINTER_PRESS:
        CheckTabClick(msg.Point());
        return 0;
    default:
        break;
    }
    if (msg.type == GuiSignalType(GUI_ID_NOTEBOOK_SPIN, GUI_SIG_SPIN_MORE)) {
        if (mFirstVisibleTab + mVisibleTabs < mTabCount) {
            ++mFirstVisibleTab;
            RedrawTabs();
        }
        return 0;
    }
    if (msg.type == GuiSignalType(GUI_ID_NOTEBOOK_SPIN, GUI_SIG_SPIN_LESS)) {
        if (mFirstVisibleTab > 0) {
            --mFirstVisibleTab;
            RedrawTabs();
        }
        return 0;
    }
    return GuiWindow::Message(msg);
}
