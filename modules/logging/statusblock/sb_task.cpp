// The task "r_sblk_task": woken every 5 ms after a lap (fast mode) and every
// second otherwise, it completes the status blocks and asks the lap-trigger
// master for a measurement now and then. Also the lap events, the lap-stack
// answers of the lap-stack controller and the shutdown.
#include <cstring>

#include "logging/app/meas_app.h"
#include "logging/counters/lapoutfra.h"
#include "logging/statusblock/sb_internal.h"
#include "logging/statusblock/sb_lapstack.h"
#include "measurement/calparams.h"
#include "measurement/comint.h"
#include "measurement/laptrigger.h"
#include "host/os/os.h"
#include "platform/byteorder.h"
#include "platform/stop_budget.h"
#include "platform/syslogx.h"
#include "platform/timebase.h"
#include "platform/task_stop.h"

std::atomic<bool> sblk_task_fast{false};
std::atomic<bool> sb_SwOff{false};

namespace {

std::atomic<SEM_ID> wakeSem{nullptr};
SEM_ID readySem = nullptr;
TASK_ID task = nullptr;
std::atomic<bool> taskReady{false};
uint8_t floodForeign = 0, floodShortLs = 0;

void wake() {
    if (SEM_ID s = wakeSem.load()) semGive(s);
}

void taskBody() {
    {
        std::lock_guard<std::mutex> lk(sb_lock());
        sb_init_all_locked();
    }
    sb_lapstack_check_read();
    syslogx(151, "sblk_task: init:");
    SEM_ID w = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    if (!w) syslogx(147, "sblk_task: sblk semaphore creation failed!!!");
    wakeSem = w;
    taskReady = w != nullptr;
    semGive(readySem);
    if (!w) return;
    for (;;) {
        if (semTake(w, WAIT_FOREVER) != OK) continue;
        meas_app_saveblock_lap();
        sb_task_check_blocks();
    }
}

int lapstackCmd(ci_msg_t* m) { return ci_get_lapstack_info(m); }

}  // namespace

void sb_task_check_blocks() {
    // A finished block closes its file, which takes the file queue's lock:
    // taken first, as the logging raster does when it asks for a block.
    MeasAppStoreQueueHold queue("sblk_task");
    if (!queue.held()) return;
    // a command may hold the blocks: next wake
    std::unique_lock<std::mutex> lk(sb_lock(), std::try_to_lock);
    if (!lk.owns_lock()) return;
    SbState& s = sb_state();
    for (unsigned i = 0; i < SB_BLOCKS; ++i) sb_create_check_locked(i);
    // a lap whose file did not ask for its block yet keeps the fast pace
    if (sblk_task_fast && !(s.status & SB_ST_LAPSTACK_PENDING) &&
        time_getTimestamp() - s.lastLap.received >= SB_TIMEOUT)
        sb_check_idle_locked();
    if (sblk_task_fast) {
        s.slowWakes = 0;
    } else if (s.slowWakes > 5) {
        if (!sb_SwOff && (meas_app_get_flags() & MEAS_FLAG_RUNNING)) {
            s.perReq = s.perOk = 0;
            s.lapReq = s.lapOk = 0;
            laptrigger_meas_req();
        }
        s.slowWakes = 0;
    }
    ++s.slowWakes;
}

int sblk_task_init(const char* name, int priority, int stackSize, intptr_t) {
    if (task) return 1;
    readySem = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    if (!readySem) return 0;
    task = taskSpawn(name ? name : "r_sblk_task", priority, VX_FP_TASK, size_t(stackSize), [] { taskBody(); });
    if (!task) {
        syslogx(147, "sblk_task_init(): spawning %s failed", name ? name : "r_sblk_task");
        semDelete(readySem);
        readySem = nullptr;
        return 0;
    }
    // As long as it takes on a loaded host, but a stop asked for meanwhile
    // is not held up by the start: the task may still get ready later.
    constexpr int kReadyPollTicks = 100;
    while (semTake(readySem, kReadyPollTicks) != OK) {
        if (stopBudget_requested()) {
            syslogx(147, "sblk_task_init(): %s not ready when the stop came", name ? name : "r_sblk_task");
            return 0;
        }
    }
    return taskReady ? 1 : 0;
}

int sblk_cmds_init() {
    ci_register_command(CI_CMD_VERSION_INFO_REQ, ci_get_version_info_req);
    ci_register_command(CI_CMD_VERSION_INFO_REPLY, ci_get_version_info_reply);
    ci_register_command(CI_CMD_LAPSTACK_INFO, lapstackCmd);
    return 1;
}

void sblk_task_trigger_fast() {
    if (sblk_task_fast) wake();
}

void sblk_task_trigger_slow() {
    if (!sblk_task_fast) wake();
}

void sblk_task_laptrigger(uint16_t lap, uint16_t outing, uint32_t lapTime, uint32_t timeStamp) {
    {
        std::lock_guard<std::mutex> lk(sb_lock());
        SbState& s = sb_state();
        if (!s.initialised) sb_init_all_locked();
        s.lastLap = SbLapEvent{lap, outing, lapTime, timeStamp, time_getTimestamp()};
        s.lapReq = meas_app_get_sbControllers(MEAS_IDX_M01) | meas_app_get_sbControllers(MEAS_IDX_M03);
        s.lapOk = 0;
        if (s.lapstackControllers) {
            s.lapstackAnswered = 0;
            s.status |= SB_ST_LAPSTACK_PENDING;
        }
        sblk_task_fast = true;
    }
    wake();
}

int sb_lapstack_is_keeper() {
    std::lock_guard<std::mutex> lk(sb_lock());
    if (!sb_state().initialised) sb_init_all_locked();
    return sb_state().lapstackControllers == 0;
}

int ci_get_lapstack_info(ci_msg_t* m) {
    if (!m) return 0;
    const unsigned pid = ci_get_src(m);
    const unsigned len = ci_get_len(m);
    std::lock_guard<std::mutex> lk(sb_lock());
    SbState& s = sb_state();
    if (!s.initialised) sb_init_all_locked();
    const uint64_t bit = sb_pid_bit(pid);
    if (!bit || !(s.lapstackControllers & bit)) {
        SYSLOGX_FLOOD(floodForeign, 148, "ci_get_lapstack_info(): lap stack info from PID 0x%X ignored", pid);
        return 1;
    }
    float fuel = 0.0f;
    if (len == 16) {
        fuel = be_getf(m->payload + 4);
        s.lapstackExtra[0] = m->payload[8];
        s.lapstackExtra[1] = m->payload[9];
    } else if (len >= 2) {
        fuel = float(int16_t(be_get16(m->payload))) / 64.0f;
        s.lapstackExtra[0] = s.lapstackExtra[1] = 0;
    } else {
        SYSLOGX_FLOOD(floodShortLs, 147, "ci_get_lapstack_info(): payload of %u bytes from PID 0x%X too short", len,
                      pid);
        return 0;
    }
    s.lapstackAnswered |= bit;
    // one entry per lap: answers without a lap waiting for them add nothing
    if ((s.status & SB_ST_LAPSTACK_PENDING) && (s.lapstackAnswered & s.lapstackControllers) == s.lapstackControllers) {
        if (!sb_SwOff) sb_lapstack_add_entry(s.lastLap.lap, s.lastLap.lapTime, fuel);
        s.status &= ~SB_ST_LAPSTACK_PENDING;
    }
    return 1;
}

void sblk_power_down() {
    sblk_task_fast = true;
    sb_SwOff = true;
    sb_lapstack_setPowerDown();
    wake();
}

void fde_system_sd_data_changed(const char*) {
    if (OUTINGCTR_MODE() != 1) return;
    LapOutFraState st{};
    LapOutFra_getState(&st);
    const uint16_t outing = uint16_t(st.outing + 1);
    LapOutFra_setLapOutCnt(st.lap, outing, time_getTimestamp());
    syslogx(150, "Testbenchmode: CF-Data changed, incrementing outingctr to %d", int(outing));
}

void sblk_resetForTest() {
    // a task given up in a system call may take the semaphores when its
    // call returns: they are kept
    const bool ended = task_stop(task, "sblk_resetForTest()", "its semaphores");
    task = nullptr;
    if (SEM_ID w = wakeSem.exchange(nullptr); w && ended) semDelete(w);
    if (readySem && ended) semDelete(readySem);
    readySem = nullptr;
    taskReady = false;
    sblk_task_fast = false;
    sb_SwOff = false;
    sblk_setConnectMaskSource(nullptr);
    {
        std::lock_guard<std::mutex> lk(sb_lock());
        sb_state() = SbState{};
    }
    sb_lapstack_resetForTest();
}
