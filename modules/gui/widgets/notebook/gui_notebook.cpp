// GuiNotebook: construction and the tables of tab labels and pages, whose
// entries the notebook owns.
#include "gui/widgets/notebook/gui_notebook.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gui/draw/gui_screen.h"
#include "gui/widgets/spin/gui_spin_button.h"
#include "platform/syslogx.h"

namespace {

constexpr uint32_t kFace = 0xC0C0C0;
constexpr uint32_t kBlack = 0x000000;

char* copyText(const char* text)
{
    if (!text) return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

}  // namespace

GuiNotebook::GuiNotebook(const GuiRect& rect, unsigned int style, unsigned char tabs)
    : GuiWindow(rect, style),
      mppTabStrings(nullptr),
      mppTabClients(nullptr),
      mppPages(nullptr),
      mpSpin(nullptr),
      mCurrentTab(0),
      mTabCount(0),
      mVisibleTabs(0),
      mFirstVisibleTab(0),
      mTabWidth(11),   // the size of a row without labels until it is measured
      mTabHeight(5)
{
    mColor[0] = kFace;
    mColor[1] = kFace;
    mColor[2] = kBlack;
    mColor[3] = kBlack;
    mType = GT_NOTEBOOK;
    mSignalMask = uint16_t(1u << GUI_SIG_TAB_SELECTED);
    mStatus &= uint16_t(~GS_SIZABLE);
    if (AllocateTables(tabs, (style & GNB_TAB_STRINGS) != 0)) mTabCount = tabs;
    GuiTextThing::SetFont(mFontTable[GUI_FONT_SLOT_NOTEBOOK]);
}

GuiNotebook::~GuiNotebook()
{
    // Attached pages and the tab clients go with the child list; the pages
    // of the other tabs are deleted here.
    for (int i = 0; i < mTabCount; ++i) {
        GuiThing* page = mppPages[i];
        if (page && page->mpParent != this) delete page;
    }
    FreeStrings(0);
    delete[] mppTabStrings;
    delete[] mppTabClients;
    delete[] mppPages;
}

bool GuiNotebook::AllocateTables(uint8_t count, bool strings)
{
    // Tables of 0 entries are still allocated: which label table exists
    // tells the kind of labels.
    char** texts = nullptr;
    GuiThing** clients = nullptr;
    GuiThing** pages = new (std::nothrow) GuiThing*[count]();
    if (strings) texts = new (std::nothrow) char*[count]();
    else clients = new (std::nothrow) GuiThing*[count]();
    if (!pages || (!texts && !clients)) {
        delete[] pages;
        delete[] texts;
        delete[] clients;
        syslogx(147, "GuiNotebook: no memory for the tables of %u tabs", unsigned(count));
        return false;
    }
    mppPages = pages;
    mppTabStrings = texts;
    mppTabClients = clients;
    return true;
}

void GuiNotebook::FreeStrings(uint8_t from)
{
    if (!mppTabStrings) return;
    for (int i = from; i < mTabCount; ++i) {
        delete[] mppTabStrings[i];
        mppTabStrings[i] = nullptr;
    }
}

GuiThing* GuiNotebook::CurrentPage() const
{
    return mCurrentTab < mTabCount ? mppPages[mCurrentTab] : nullptr;
}

void GuiNotebook::SetTabString(uint8_t index, const char* text)
{
    if (!mppTabStrings || index >= mTabCount) return;
    char* copy = copyText(text);
    if (text && !copy) syslogx(147, "GuiNotebook: no memory for the label of tab %u", unsigned(index));
    delete[] mppTabStrings[index];
    mppTabStrings[index] = copy;
}

void GuiNotebook::SetTabClient(uint8_t index, GuiThing* thing)
{
    if (!mppTabClients || index >= mTabCount || !thing || thing == this) return;
    GuiThing* old = mppTabClients[index];
    if (old != thing) {
        // A thing is the label of one tab only: it leaves any other entry
        // first, so that it is never deleted twice.
        for (int i = 0; i < mTabCount; ++i)
            if (mppTabClients[i] == thing) mppTabClients[i] = nullptr;
        if (old) {
            Remove(old, 1);
            delete old;
        }
    }
    thing->mId = uint16_t(index + 1);
    thing->AddStatus(GS_NONCLIENT);
    thing->RemoveStatus(GS_SELECTABLE);   // presses on the label reach the notebook
    mppTabClients[index] = thing;
    Add(thing, 1);
}

GuiThing* GuiNotebook::GetTabClient(uint8_t index)
{
    return mppTabClients && index < mTabCount ? mppTabClients[index] : nullptr;
}

void GuiNotebook::SetPageClient(uint8_t index, GuiThing* page)
{
    if (index >= mTabCount || page == this) return;
    GuiThing* old = mppPages[index];
    if (old != page) {
        if (page) {
            // A page belongs to one tab: taken from any other entry, and
            // detached if it was that tab's shown page.
            for (int i = 0; i < mTabCount; ++i) {
                if (mppPages[i] != page) continue;
                mppPages[i] = nullptr;
                if (page->mpParent == this) Remove(page, 1);
            }
        }
        if (old) {
            if (old->mpParent == this) Remove(old, page ? 0 : 1);
            Destroy(old);
        }
        mppPages[index] = page;
    }
    if (index == mCurrentTab && IsVisible() && page) AddCurrentPageClient(1);
}

GuiThing* GuiNotebook::GetPageClient(uint8_t index)
{
    return index < mTabCount ? mppPages[index] : nullptr;
}

GuiThing* GuiNotebook::RemovePageClient(uint8_t index)
{
    if (index >= mTabCount || !mppPages[index]) return nullptr;
    GuiThing* page = mppPages[index];
    if (index == mCurrentTab && page->mpParent == this) Remove(page, 1);
    mppPages[index] = nullptr;
    return page;
}

void GuiNotebook::ResetTabStyle(unsigned int style)
{
    const bool strings = (style & GNB_TAB_STRINGS) != 0;
    if (!strings && mppTabStrings) {
        GuiThing** clients = new (std::nothrow) GuiThing*[mTabCount]();
        if (!clients) {
            syslogx(147, "GuiNotebook: no memory for the tab clients of %u tabs", unsigned(mTabCount));
            return;
        }
        FreeStrings(0);
        delete[] mppTabStrings;
        mppTabStrings = nullptr;
        mppTabClients = clients;
    } else if (strings && mppTabClients) {
        char** texts = new (std::nothrow) char*[mTabCount]();
        if (!texts) {
            syslogx(147, "GuiNotebook: no memory for the tab strings of %u tabs", unsigned(mTabCount));
            return;
        }
        for (int i = 0; i < mTabCount; ++i) {
            if (GuiThing* thing = mppTabClients[i]) {
                Remove(thing, 1);
                delete thing;
            }
        }
        delete[] mppTabClients;
        mppTabClients = nullptr;
        mppTabStrings = texts;
    }
}

void GuiNotebook::ResetNumTabs(uint8_t count)
{
    if (GuiThing* page = CurrentPage(); page && page->mpParent == this) Remove(page, 1);

    char** oldTexts = mppTabStrings;
    GuiThing** oldClients = mppTabClients;
    GuiThing** oldPages = mppPages;
    const uint8_t oldCount = mTabCount;
    if (!AllocateTables(count, (mStyle & GNB_TAB_STRINGS) != 0)) {
        AddCurrentPageClient(0);   // the notebook stays as it was
        return;
    }
    const int kept = std::min(count, oldCount);
    for (int i = 0; i < kept; ++i) {
        mppPages[i] = oldPages[i];
        if (mppTabStrings && oldTexts) {
            mppTabStrings[i] = oldTexts[i];
            oldTexts[i] = nullptr;
        }
        if (mppTabClients && oldClients) mppTabClients[i] = oldClients[i];
    }
    for (int i = count; i < oldCount; ++i) {
        // Only pages still attached would be in the child list; the current
        // one was detached above.
        delete oldPages[i];
        // Tab clients dropped from the table stay children and go with the
        // notebook.
    }
    if (oldTexts)
        for (int i = 0; i < oldCount; ++i) delete[] oldTexts[i];   // those not carried over
    delete[] oldTexts;
    delete[] oldClients;
    delete[] oldPages;

    mTabCount = count;
    mCurrentTab = 0;
    mFirstVisibleTab = 0;
    CalculateTabPositions();
    AddCurrentPageClient(0);
    if (IsVisible() && mpScreen) {
        mpScreen->Invalidate(mOuter);
        Draw();
    }
}
