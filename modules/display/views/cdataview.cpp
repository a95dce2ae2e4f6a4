// CDataView: visibility, alarm and blink logic shared by the element views.
#include "display/views/cdataview.h"

#include "awm/awm.h"

std::atomic<uint8_t> disp_alarm_inhibit{0};

namespace {
uint32_t blinkTicks(BlinkType_t b) { return b == BLINK_SLOW ? 8 : b == BLINK_FAST ? 4 : 0; }

// The alarm attributes of a box or picture body.
template <class Body>
void takeAlarm(CDataView& v, const Body& b)
{
    v.alwaysOnTop = b.always_on_top;
    v.resettable = b.vis_mode == VIS_LIMIT_RESETABLE;
    v.minDispTicks = CDataView::msToTicks(b.min_disp_time);
    v.autoResetTicks = CDataView::msToTicks(b.auto_reset_time);
    v.retriggerTicks = CDataView::msToTicks(b.retrigger_time);
    v.blinkPeriod = blinkTicks(b.blink);
}
}  // namespace

CDataView::CDataView(display_elem_s* elem, unsigned int style) : GuiWindow(GuiRect(0, 0, 0, 0), style)
{
    mOuter = mClient = mClip = GuiRect(0, 0, -1, -1);
    element = elem;
    if (!elem) return;
    switch (elem->type) {
    case DISP_ELEM_ALPHANUM: takeAlarm(*this, elem->alphanum); break;
    case DISP_ELEM_PICTURE: takeAlarm(*this, elem->picture); break;
    case DISP_ELEM_BARGRAPH:
        // A bar graph neither blinks nor has alarm times.
        alwaysOnTop = elem->bargraph.always_on_top;
        resettable = elem->bargraph.vis_mode == VIS_LIMIT_RESETABLE;
        break;
    }
}

CDataView::~CDataView() = default;

int CDataView::Message(const GuiMessage& msg)
{
    if (msg.type == GM_HIDE || msg.type == GM_SHOW) {
        GuiWindow::Message(msg);
        return 0;
    }
    return GuiWindow::Message(msg);
}

int CDataView::updateDisp(int) { return 0; }

void CDataView::setData(CData* data, CDataType_t kind)
{
    if (kind == CDATA_VALUE) {
        valueSource = data;
    } else if (kind == CDATA_VISIBILITY) {
        visSource = data;
        hasVisibility = 1;
    }
}

CData* CDataView::getData(CDataType_t kind) const
{
    return kind == CDATA_VALUE ? valueSource : kind == CDATA_VISIBILITY ? visSource : nullptr;
}

int CDataView::getType() const { return element ? int(element->type) : VIEW_TYPE_NONE; }

const char* CDataView::getFormatStr() const
{
    if (!element || element->type != DISP_ELEM_ALPHANUM) return nullptr;
    return element->alphanum.format_str;
}

int CDataView::update()
{
    if (valueSource) valueSource->updateData();
    if (visSource && visSource->getMeasUpdateState()) {
        visSource->updateData();
        double v = 0;
        visSource->getQuantData(v);
        const bool on = awm_round(v) != 0;
        alarmStateOld = alarmState;
        alarmStep(on);
        active = shown(alarmState) && !acknowledged && blinkOn && (!disp_alarm_inhibit || !resettable);
        if (blinkCounter > 1) {
            --blinkCounter;
        } else if (blinkCounter == 1) {
            blinkCounter = blinkPeriod;
            blinkOn = !blinkOn;
        }
    }
    const int r = updateDisp(0);
    if (r != 0) Draw();
    return r;
}

void CDataView::alarmStep(bool on)
{
    switch (alarmState) {
    case ALARM_IDLE:
        if (!on) break;
        if (autoResetTicks) autoResetCounter = autoResetTicks;
        if (minDispTicks) {
            minDispCounter = minDispTicks;
            alarmState = ALARM_MIN_DISPLAY;
        } else {
            alarmState = ALARM_ACTIVE;
        }
        blinkCounter = blinkPeriod;
        blinkOn = 1;
        disp_alarm_inhibit = 0;   // a new alarm ends the inhibit
        break;
    case ALARM_MIN_DISPLAY:
        if (minDispCounter <= 1) {
            minDispCounter = 0;
            alarmState = ALARM_ACTIVE;
        } else {
            --minDispCounter;
        }
        break;
    case ALARM_ACTIVE:
        if (!on) {
            alarmState = ALARM_IDLE;
        } else if (autoResetTicks) {
            if (autoResetCounter == 1) {
                autoResetCounter = 0;
                AlarmReset(1);
            }
            if (autoResetCounter > 1) --autoResetCounter;
        }
        break;
    case ALARM_RETRIGGER_LOCK:
        if (retriggerCounter <= 1) {
            elemResetFlag = 0;
            acknowledged = 0;
            retriggerCounter = 0;
            alarmState = ALARM_IDLE;
        } else {
            --retriggerCounter;
        }
        break;
    default: break;   // reset by hand: left only by clearAlarmReset
    }
}

int CDataView::forceUpdate()
{
    drawn = 0;
    redrawRequest = 1;
    alarmStateOld = ALARM_IDLE;
    return 0;
}

void CDataView::AlarmReset(int automatic)
{
    if (!resettable || alarmState != ALARM_ACTIVE) return;
    acknowledged = 1;
    active = 0;
    if (retriggerTicks) {
        retriggerCounter = retriggerTicks;
        alarmState = ALARM_RETRIGGER_LOCK;
    } else {
        alarmState = automatic ? ALARM_IDLE : ALARM_RESET_BY_HAND;
    }
}

void CDataView::clearAlarmReset()
{
    elemResetFlag = 0;
    acknowledged = 0;
    alarmState = ALARM_IDLE;
}

int CDataView::setElemResetFlag(int flag)
{
    const uint32_t f = uint32_t(flag);
    const int changed = f != elemResetFlag;
    elemResetFlag = f;
    return changed;
}

bool CDataView::getAlarmState() const
{
    return shown(alarmState) && alwaysOnTop && (!disp_alarm_inhibit || !resettable);
}

bool CDataView::getAlarmState_old() const
{
    return shown(alarmStateOld) && alwaysOnTop && (!disp_alarm_inhibit || !resettable);
}

bool CDataView::getAlarmStateHidden() const
{
    return shown(alarmState) && alwaysOnTop && disp_alarm_inhibit && resettable;
}

bool CDataView::getAlarmWasRedrawn() const
{
    return blinkCounter == blinkPeriod - 1 && alarmStateOld != ALARM_IDLE && active;
}

bool CDataView::getError() const { return visSource && !visSource->getMeasUpdateState(); }

uint32_t CDataView::dispElem_Color(const rgb_s* c)
{
    if (!c) return 0;
    return uint32_t(c->red) << 16 | uint32_t(c->green) << 8 | c->blue;
}

uint32_t CDataView::dispElem_GhostColor(const rgb_s* c) { return (dispElem_Color(c) >> 1) & 0x7F7F7Fu; }

void CDataView::placeOn(const GuiRect& area)
{
    const int left = area.left + int(element->pos_x), top = area.top + int(element->pos_y);
    mOuter = GuiRect(left, top, left + int(element->size_x) - 1, top + int(element->size_y) - 1);
    mClip = mOuter;
    InitClient();
}

int CDataView::followVisibility(GuiWindow* parent)
{
    if (!visSource || !parent) return 0;
    int result = 0;
    if (active && !drawn) {
        parent->Add(this, 1);
        redrawRequest = 0;
        result = 2;
    }
    if (redrawRequest || (!active && drawn)) {
        parent->Remove(this, 1);
        result = 2;
    }
    redrawRequest = 0;
    drawn = active;
    return result;
}
