// One display page: a window over the display area with the views of one
// page of the configuration and of the common page. The page on screen
// refreshes its views on a GUI timer within a budget, lets overlapping
// alarm views take turns (overlay groups), acknowledges alarms on the reset
// input, shows the flash window and publishes the gateway status of its
// values. Everything runs on the GUI task.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "display/pages/chash_elem.h"
#include "gui/core/gui_prompt.h"
#include "gui/core/gui_window.h"

class CData;
class CDataManager;
class CDataView;
class CImageContainer;

// Refresh units a page spends per refresh on views that are not alarm views.
constexpr int DISP_REFRESH_BUDGET = 21;
// Refreshes a member of an overlay group stays on top while others alarm.
constexpr int DISP_GROUP_TICKS = 15;
// Raster index of the display's values (20 ms).
constexpr unsigned short DISP_RASTER = 4;

struct DispOverlayGroup {
    int32_t count = 0;
    int32_t current = 0;
    int32_t ticks = 0;
    CDataView** members = nullptr;
    CDataView** shown = nullptr;   // an entry of members, or null
};

class CDispPage : public GuiWindow {
public:
    CDispPage(int x, int y, int width, int height, int pageIndex, page_s* page, page_s* common, CDataManager* data,
              CImageContainer* images);
    // The plain colour page: no views.
    CDispPage(int left, int top, int right, int bottom, int ignored, int colour);
    ~CDispPage() override;

    int Message(const GuiMessage& msg) override;

    void setFlashMode(bool on);
    int setFrameRate(int ticks);
    void SwitchedPage();

    void addOverlayElement(CDataView* view);
    void processOverlayElements();
    // Rectangles that share at least one pixel (edges inclusive).
    static bool checkOverlap(GuiRect a, GuiRect b);
    // Raster index for a period in milliseconds.
    static int getTimeSlot(unsigned short ms);

    // Inputs of the running configuration, made and released by the main
    // container; null when not configured.
    static CData* page_chan;
    static CData* brightness_chan;
    static CData* reset_chan;
    static uint8_t switched_page;
    static uint8_t reset_old;
    static uint8_t online_min_old, online_max_old;
    static uint32_t timecnt_min_old, timecnt_max_old, timeout_all_old, timeout_pids_old;
    // Resets the class-wide refresh state (a new start).
    static void resetClassState();

    int32_t pageIndex = 0;
    CHashElem* elems = nullptr;
    int32_t elemCount = 0;
    int32_t frameRate = 1;
    CDataView* resetElem = nullptr;
    int32_t resetGroup = 0;
    GuiWindow* flashWindow = nullptr;
    GuiWindow* flashBar = nullptr;
    GuiPrompt* flashPrompt = nullptr;
    DispOverlayGroup* groups = nullptr;
    int32_t groupCount = 0;
    uint8_t flash = 0;
    int16_t flashLeft = 0;
    int16_t flashDir = 1;
    uint16_t ackTicks = 0;
    uint8_t ackState = 0;
    int32_t roundRobin = 0;
    CDataManager* data = nullptr;

private:
    struct OverlayNode;
    OverlayNode* overlayHead = nullptr;
    OverlayNode* overlayTail = nullptr;

    void refresh();
    void refreshAlarmViews(int& sum);
    int refreshRoundRobin(int& sum);
    void readResetInput();
    void runGroups(bool ext, const GuiRect& extRect);
    // The next member in alarm takes the group's turn.
    void takeTurn(DispOverlayGroup& g, int gi, bool ext, const GuiRect& extRect);
    void runAcknowledge(bool ext);
    void stepFlash();
    void publishStatus();
    void redraw(CDataView* v);
    // The member of the group in front of the others on the page; null
    // when none is on it.
    CDataView* frontMember(const DispOverlayGroup& g) const;
    bool coveredByExt(CDataView* v, bool ext, const GuiRect& extRect) const;
    void freeOverlayList();
};
