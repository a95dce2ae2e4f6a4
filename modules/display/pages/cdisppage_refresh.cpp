// The refresh of the page on screen, run on each of its timer messages:
// alarm views, then the other views within the budget, the reset input and
// its acknowledgement, the overlay groups, the flash bar, the flush and the
// gateway status.
#include <cmath>

#include "display/app/display_requests.h"
#include "display/app/display_signals.h"
#include "display/pages/cdisppage.h"
#include "display/values/cdata.h"
#include "display/views/cdataview.h"
#include "gui/draw/gui_screen.h"
#include "platform/syslogx.h"

namespace {
uint8_t gStatusRepeat = 0;   // refreshes whose status change was folded
}  // namespace

void CDispPage::redraw(CDataView* v)
{
    if (!v) return;
    if (mpScreen) mpScreen->Invalidate(v->mClient);
    v->Draw();
    Add(v, 1);
}

CDataView* CDispPage::frontMember(const DispOverlayGroup& g) const
{
    for (GuiThing* c = mpFirstChild; c; c = c->mpNext)
        for (int k = 0; k < g.count; ++k)
            if (c == g.members[k]) return g.members[k];
    return nullptr;
}

bool CDispPage::coveredByExt(CDataView* v, bool ext, const GuiRect& extRect) const
{
    return ext && checkOverlap(v->mClient, extRect);
}

void CDispPage::refreshAlarmViews(int& sum)
{
    DispSignals& sig = dispSignals();
    for (int i = 0; i < elemCount; ++i) {
        CDataView* v = elems->GetElem(short(i));
        if (!v || !v->isAlarm()) continue;
        const int u = v->update();
        sum += u;
        if (u) dispSigSet(sig.display_elements_updated, uint16_t(dispSigGet(sig.display_elements_updated) + 1));
        if (v == resetElem && v->getAlarmState_old() && !v->getAlarmState()) {
            resetElem = nullptr;
            v->setElemResetFlag(0);
            for (int g = 0; g < groupCount; ++g)
                if (groups[g].shown && *groups[g].shown == v) groups[g].shown = nullptr;
        }
    }
}

int CDispPage::refreshRoundRobin(int& sum)
{
    DispSignals& sig = dispSignals();
    int n = 0;
    if (elemCount <= 0) return 0;
    do {
        if (roundRobin < 0 || roundRobin >= elemCount) roundRobin = 0;
        CDataView* v = elems->GetElem(short(roundRobin));
        if (v && !v->isAlarm()) {
            const int u = v->update();
            sum += u;
            if (u) dispSigSet(sig.display_elements_updated, uint16_t(dispSigGet(sig.display_elements_updated) + 1));
        }
        if (++roundRobin >= elemCount) roundRobin = 0;
    } while ((switched_page || sum < DISP_REFRESH_BUDGET) && ++n < elemCount);
    return n;
}

void CDispPage::readResetInput()
{
    uint8_t r = 0;
    if (reset_chan) {
        reset_chan->updateData();
        double v = 0;
        reset_chan->getQuantData(v);
        r = disp_round_s32(v) != 0 ? 1 : 0;
        if (!reset_old && r && ackState == 0) ackState = 1;
    }
    reset_old = r;
}

void CDispPage::takeTurn(DispOverlayGroup& g, int gi, bool ext, const GuiRect& extRect)
{
    g.ticks = 0;
    for (int step = 0; step < g.count; ++step) {
        g.current = (g.current + 1) % g.count;
        if (g.members[g.current]->getAlarmState()) break;
    }
    CDataView* m = g.members[g.current];
    if (!m->getAlarmState() || (g.shown && *g.shown == m)) return;
    g.shown = &g.members[g.current];
    if (resetGroup == gi && !ext) {
        if (resetElem && resetElem != m) {
            resetElem->setElemResetFlag(0);
            if (resetElem->getViewIsActive()) redraw(resetElem);
        }
        resetElem = nullptr;
        if (m->isResettable()) {
            m->setElemResetFlag(1);
            resetElem = m;
        }
    }
    if (m->getViewIsActive() && !coveredByExt(m, ext, extRect)) redraw(m);
}

void CDispPage::runGroups(bool ext, const GuiRect& extRect)
{
    DispSignals& sig = dispSignals();
    dispSigSet(sig.disp_reset_alarm_active, uint8_t(0));
    for (int gi = 0; gi < groupCount; ++gi) {
        DispOverlayGroup& g = groups[gi];
        bool any = false;
        int c = 0;
        for (int k = 0; k < g.count; ++k) {
            CDataView* v = g.members[k];
            if (v->getError()) dispSigSet(sig.display_err, uint8_t(1));
            if (!v->getAlarmState()) {
                if (v->getAlarmStateHidden()) dispSigSet(sig.disp_reset_alarm_active, uint8_t(1));
                if (g.shown && *g.shown == v) g.shown = nullptr;
                continue;
            }
            any = true;
            if (!v->isResettable()) continue;
            dispSigSet(sig.disp_reset_alarm_active, uint8_t(1));
            if (!ext) {
                if (resetGroup == groupCount) resetGroup = gi;
                if (resetGroup == gi) {
                    ++c;
                    if (!resetElem && (!g.shown || *g.shown == v)) {
                        g.shown = &g.members[k];
                        resetElem = v;
                        if (v->setElemResetFlag(1) && v->getViewIsActive()) redraw(v);
                    }
                }
            } else {
                resetElem = nullptr;
                resetGroup = groupCount;
                if (v->setElemResetFlag(0) && v->getViewIsActive()) redraw(v);
            }
        }
        if (resetGroup >= 0 && resetGroup < groupCount && !resetElem && c == 0) resetGroup = groupCount;

        if (g.count > 1) {
            if (any) {
                if (ackState == 0) ++g.ticks;
                if (g.ticks == DISP_GROUP_TICKS || !g.members[g.current]->getAlarmState())
                    takeTurn(g, gi, ext, extRect);
                // A member that blinks on, or enters its alarm, adds itself
                // in front of the others: the group's turn decides who is
                // seen, so the shown member goes back on top.
                CDataView* s = g.shown ? *g.shown : nullptr;
                if (s && s->getViewIsActive() && frontMember(g) != s && !coveredByExt(s, ext, extRect)) redraw(s);
            } else {
                for (int k = 0; k < g.count; ++k) {
                    CDataView* v = g.members[k];
                    if (!v->getAlarmWasRedrawn() || (g.shown && *g.shown == v)) continue;
                    CDataView* s = g.shown ? *g.shown : nullptr;
                    if (s && s->getViewIsActive() && !coveredByExt(v, ext, extRect)) redraw(s);
                    break;
                }
            }
        } else {
            g.ticks = 0;
        }
    }
}

void CDispPage::runAcknowledge(bool ext)
{
    if (ackState == 1) {
        ackState = 2;
        ackTicks = 0;
        return;
    }
    if (ackState != 2 || ++ackTicks <= 3) return;
    if (!resetElem)
        syslogx(151, "Display: reset alarm acknowledge, ext active %d, has res elem FALSE", int(ext));
    else if (resetElem->getType() == DISP_ELEM_ALPHANUM && resetElem->getFormatStr())
        syslogx(151,
                "Display: reset alarm acknowledge, ext active %d, has res elem TRUE, #grps %d, reset group %d, "
                "str '%s'",
                int(ext), int(groupCount), int(resetGroup), resetElem->getFormatStr());
    else
        syslogx(151, "Display: reset alarm acknowledge, ext active %d, has res elem TRUE, #grps %d, reset group %d",
                int(ext), int(groupCount), int(resetGroup));
    ackTicks = 0;
    if (!ext && resetElem) {
        resetElem->setElemResetFlag(0);
        resetGroup = groupCount;
        resetElem->AlarmReset(0);
        resetElem = nullptr;
    } else if (ext) {
        ext_alarm.hidden = 1;
        displayUpdateExtWnd();
        if (resetElem && resetElem->setElemResetFlag(1) && resetElem->getViewIsActive()) redraw(resetElem);
    }
    ackState = 0;
}

void CDispPage::stepFlash()
{
    if (flash != 1 || !flashWindow || !flashBar) return;
    const int l = mClient.left, t = mClient.top;
    if (flashDir == 1) {
        if (flashLeft + 5 + 75 > l + 610) flashDir = 0;
        else flashLeft = int16_t(flashLeft + 5);
    } else {
        if (flashLeft - 5 < l + 15) flashDir = 1;
        else flashLeft = int16_t(flashLeft - 5);
    }
    flashBar->Resize(GuiRect(flashLeft, int16_t(t + 210), int16_t(flashLeft + 75), int16_t(t + 240)));
    if (mpScreen) mpScreen->Invalidate(flashWindow->mOuter);
    flashWindow->Draw();
    MoveToFront(flashWindow, 1);
}

void CDispPage::publishStatus()
{
    if (!data) return;
    bool omn = false, omx = false;
    unsigned short tmn = 0, tmx = 0;
    unsigned long all = 0, pids = 0;
    data->getStatus(&omn, &omx, &tmn, &tmx, &all, &pids);
    DispSignals& sig = dispSignals();
    dispSigSet(sig.disp_online_mn, uint8_t(omn));
    dispSigSet(sig.disp_online_mx, uint8_t(omx));
    dispSigSet(sig.disp_timecnt_mn, uint16_t(tmn));
    dispSigSet(sig.disp_timecnt_mx, uint16_t(tmx));
    dispSigSet(sig.disp_timeout_all, uint32_t(all));
    dispSigSet(sig.disp_timeout_pids, uint32_t(pids));

    auto repeated = [&] {
        syslogx(151, "Display: timeout status change %ux repeatedly (0x%X,to %d,tmn %d, tmx %d, omn %d, omx %d)",
                unsigned(gStatusRepeat), unsigned(timeout_pids_old), int(timeout_all_old), int(timecnt_min_old),
                int(timecnt_max_old), int(online_min_old), int(online_max_old));
    };
    const bool same = omn == bool(online_min_old) && omx == bool(online_max_old) && tmn == timecnt_min_old &&
                      tmx == timecnt_max_old && uint32_t(all) == timeout_all_old && uint32_t(pids) == timeout_pids_old;
    bool log = false;
    if (same) {
        if (gStatusRepeat) repeated();
        gStatusRepeat = 0;
    } else {
        // The no-data counters count up on every refresh while a device's
        // values stay missing: with the flags and the devices unchanged that
        // is the same status repeated. The smallest count counts up with the
        // others when every list waits for one device.
        const bool onlyCounts = omn == bool(online_min_old) && omx == bool(online_max_old) &&
                                tmn >= timecnt_min_old && uint32_t(pids) == timeout_pids_old;
        if (onlyCounts) {
            log = gStatusRepeat == 0;
            ++gStatusRepeat;
        } else {
            if (gStatusRepeat > 1) {
                repeated();
                gStatusRepeat = 1;
            }
            log = true;
        }
        if (gStatusRepeat > 49) {
            repeated();
            gStatusRepeat = 1;
        }
        if (log)
            syslogx(151, "Display: timeout status change (0x%X,to %d,tmn %d, tmx %d, omn %d, omx %d)", unsigned(pids),
                    int(all), int(tmn), int(tmx), int(omn), int(omx));
    }
    online_min_old = omn;
    online_max_old = omx;
    timecnt_min_old = tmn;
    timecnt_max_old = tmx;
    timeout_all_old = uint32_t(all);
    timeout_pids_old = uint32_t(pids);
}

void CDispPage::refresh()
{
    DispSignals& sig = dispSignals();
    int sum = 0;
    dispSigSet(sig.display_elements_updated, uint16_t(0));
    if (elems) refreshAlarmViews(sum);
    const int n = elems ? refreshRoundRobin(sum) : 0;
    switched_page = 0;

    const ext_alarm_s& a = ext_alarm;
    const bool ext = a.active && !a.hidden && a.resettable;
    GuiRect extRect(0, 0, -1, -1);
    if (ext)
        extRect = GuiRect(int16_t(a.left), int16_t(a.top), int16_t(a.left + a.width), int16_t(a.top + a.height));
    dispSigSet(sig.display_elements_skipped, uint16_t(elemCount - n));

    readResetInput();
    runGroups(ext, extRect);
    runAcknowledge(ext);
    stepFlash();
    if (mpScreen) {
        mpScreen->FlushScreen();
        mpScreen->WaitFlushFinish();
    }
    publishStatus();
}
