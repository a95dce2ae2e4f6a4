// CDataView: the base of the display's element views (text box, bar graph,
// picture). It holds the element, its value and visibility sources, and runs
// the visibility and alarm logic of the element on ticks of 50 ms: minimum
// display time, automatic reset, retrigger lock, blinking and the global
// alarm inhibit. Everything runs on the GUI task.
#pragma once

#include <atomic>
#include <cstdint>

#include "display/config/display_config.h"
#include "display/values/cdata.h"
#include "gui/core/gui_window.h"

// Set while resettable alarms are hidden (written by other tasks, read here).
extern std::atomic<uint8_t> disp_alarm_inhibit;

// Alarm states of a view.
enum : uint32_t {
    ALARM_IDLE = 0,
    ALARM_RESET_BY_HAND = 1,
    ALARM_MIN_DISPLAY = 2,
    ALARM_ACTIVE = 3,
    ALARM_RETRIGGER_LOCK = 4,
};

// Kinds returned by getType (the element types, 3 without element).
constexpr int VIEW_TYPE_NONE = 3;

class CDataView : public GuiWindow {
public:
    CDataView(display_elem_s* elem, unsigned int style);
    ~CDataView() override;

    int Message(const GuiMessage& msg) override;
    void Draw() override {}

    // Appended operations: 0 nothing to draw, 1 only the value changed, 2
    // band, colours or visibility changed.
    virtual int updateDisp(int);
    // One tick: values, alarm logic, then updateDisp and, when it reports a
    // change, Draw.
    virtual int update();
    virtual int forceUpdate();

    void setData(CData* data, CDataType_t kind);
    CData* getData(CDataType_t kind) const;
    display_elem_s* getElemP() const { return element; }
    int getType() const;
    const char* getFormatStr() const;

    void AlarmReset(int automatic);
    void clearAlarmReset();
    int setElemResetFlag(int flag);
    bool getAlarmState() const;
    bool getAlarmState_old() const;
    bool getAlarmStateHidden() const;
    bool getAlarmWasRedrawn() const;
    bool isAlarm() const { return hasVisibility && alwaysOnTop; }
    bool isResettable() const { return resettable != 0; }
    bool getViewIsActive() const { return active != 0; }
    bool getError() const;

    static uint32_t dispElem_Color(const rgb_s* c);
    static uint32_t dispElem_GhostColor(const rgb_s* c);

    // Ticks of 50 ms for a time in milliseconds, rounded up.
    static uint32_t msToTicks(uint32_t ms) { return uint32_t((uint64_t(ms) + 49) / 50); }

    uint32_t elemResetFlag = 0;
    CData* valueSource = nullptr;
    CData* visSource = nullptr;
    display_elem_s* element = nullptr;
    uint32_t alwaysOnTop = 0;
    uint32_t hasVisibility = 0;
    uint32_t active = 0;
    uint32_t drawn = 0;
    uint32_t redrawRequest = 0;
    uint32_t acknowledged = 0;
    uint32_t resettable = 0;
    uint32_t minDispTicks = 0, autoResetTicks = 0, retriggerTicks = 0;
    uint32_t minDispCounter = 0, autoResetCounter = 0, retriggerCounter = 0;
    uint32_t blinkCounter = 0, blinkPeriod = 0, blinkOn = 1;
    uint32_t alarmState = ALARM_IDLE, alarmStateOld = ALARM_IDLE;

protected:
    // Places the view at the element's position and size on the page area
    // (each edge a 16-bit coordinate) and sets its client rectangle.
    void placeOn(const GuiRect& area);
    // Adds or removes the view on its parent as its activity changes (box
    // and bar graph); 2 when it did, else 0.
    int followVisibility(GuiWindow* parent);

private:
    void alarmStep(bool on);
    static bool shown(uint32_t state) { return state == ALARM_MIN_DISPLAY || state == ALARM_ACTIVE; }
};
