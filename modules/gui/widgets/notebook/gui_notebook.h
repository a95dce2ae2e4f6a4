// GuiNotebook: a window with a row of tabs along its top or bottom edge and
// one page (any screen object) per tab, of which only the current tab's page
// is attached and shown.
//
// Tabs are labelled by strings the notebook draws (style GNB_TAB_STRINGS) or
// by screen objects placed inside the tabs (tab clients). When the tabs do
// not all fit, a horizontal spin button at the end of the row scrolls it.
// A pointer press on another tab swaps the page and queues signal 8 to the
// parent with the new tab index in payload word 0.
#pragma once

#include <cstdint>

#include "gui/core/gui_window.h"

class GuiSpinButton;

constexpr uint8_t GT_NOTEBOOK = 158;

// Style bits of the notebook.
constexpr uint16_t GNB_TABS_ON_TOP = 0x0100;    // else along the bottom edge
constexpr uint16_t GNB_TAB_STRINGS = 0x0400;    // tabs labelled by strings, else by tab clients

// Font slot of the tab strings.
constexpr int GUI_FONT_SLOT_NOTEBOOK = 13;
// Id of the spin button that scrolls the tab row.
constexpr unsigned short GUI_ID_NOTEBOOK_SPIN = 1000;
// Signal queued to the parent when a press selects another tab.
constexpr uint8_t GUI_SIG_TAB_SELECTED = 8;

class GuiNotebook : public GuiWindow {
public:
    GuiNotebook(const GuiRect& rect, unsigned int style, unsigned char tabs);
    ~GuiNotebook() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override;
    void SetFont(const GuiFont* font) override;
    void DrawFrame(int fill) override;

    // Tab size, client area below or above the tab row, spin button.
    void CalculateTabPositions();
    // Attaches the current tab's page, sized to the client area less 4.
    void AddCurrentPageClient(int show);
    void SelectTab(uint8_t index);
    // 1 when the press at `point` selected another tab.
    int CheckTabClick(GuiPoint point);
    void RedrawTabs();
    // current 0: every tab but the current one; 1: only the current one.
    void DrawTabs(int current);

    // The notebook owns what it is handed: tab clients and pages.
    void SetTabClient(uint8_t index, GuiThing* thing);
    void SetPageClient(uint8_t index, GuiThing* page);
    GuiThing* GetPageClient(uint8_t index);
    // Hands the page back to the caller, who then owns it.
    GuiThing* RemovePageClient(uint8_t index);
    GuiThing* GetTabClient(uint8_t index);
    void SetTabString(uint8_t index, const char* text);
    // Switches the label table to the kind the style asks for; the
    // notebook's own style word is left to the caller.
    void ResetTabStyle(unsigned int style);
    void ResetNumTabs(uint8_t count);

    char** mppTabStrings;         // with GNB_TAB_STRINGS, else null
    GuiThing** mppTabClients;     // without GNB_TAB_STRINGS, else null
    GuiThing** mppPages;
    GuiSpinButton* mpSpin;        // null while every tab fits
    uint8_t mCurrentTab;
    uint8_t mTabCount;
    uint8_t mVisibleTabs;         // whole tabs that fit in the row
    uint8_t mFirstVisibleTab;     // scroll position of the row
    int32_t mTabWidth;
    int32_t mTabHeight;

private:
    bool TabsOnTop() const { return (mStyle & GNB_TABS_ON_TOP) != 0; }
    bool Thick() const { return (mStyle & GST_FRAME_THICK) != 0; }
    // The current tab's page, null without tabs or without a page.
    GuiThing* CurrentPage() const;
    // Measures the labels and sets the client area by the tab height.
    void MeasureTabs();
    // Creates, moves or drops the spin button by the visible tab count.
    void PlaceSpinButton();
    void PlaceTabClients();
    // Fresh null-filled tables of `count` entries; false when memory ran out.
    bool AllocateTables(uint8_t count, bool strings);
    void FreeStrings(uint8_t from);
    // Index of the tab whose span holds x, or the tab count for none.
    int TabAt(int x) const;
    void ScrollToTab(uint8_t index);
    void QueueTabSignal();
    void DrawTab(const GuiRect& tab, uint8_t index, bool current);
};
