// File counts of the logging drives, published in the signal page.
//
// The USB drive can take long to answer, so the 1 s variant runs the query in
// its own task "r_CfgMeasFrmtInfo"; the variant without USB queries at once.
#include <atomic>

#include <string>

#include "host/os/os.h"
#include "logging/config/cfg_meas.h"
#include "logging/drives/meas_app_drives.h"
#include "measurement/signalpage.h"
#include "platform/files.h"
#include "platform/syslogx.h"

namespace {

SEM_ID gMutex = nullptr;
SEM_ID gWake = nullptr;
std::atomic<TASK_ID> gTask{nullptr};   // started on the 1 s raster, deleted at shutdown
unsigned gBusyCount = 0;

uint8_t floodUnreadable, floodIoctl, floodNoName;

void query(bool withUsb) {
    if (semTake(gMutex, WAIT_FOREVER) != OK) {
        syslogx(147, "cfg_meas_formatInfos_int(): error taking mutex.");
        return;
    }
    SignalPage* sp = signalPage();
    if (sp) {
        if (meas_app_driveAvDebounce("meas:") == 0)
            cfg_meas_getBfsFileCounts("meas:", &sp->meas_fileCnt_part1, &sp->meas_maxFileCnt_part1);
        if (meas_app_driveAvDebounce("meas2:") == 0)
            cfg_meas_getBfsFileCounts("meas2:", &sp->meas_fileCnt_part2, &sp->meas_maxFileCnt_part2);
        if (withUsb && meas_app_driveAvDebounce("usb_meas:") == 0)
            cfg_meas_getBfsFileCounts("usb_meas:", &sp->meas_fileCnt_usb, &sp->meas_maxFileCnt_usb);
    }
    if (semGive(gMutex) != OK) syslogx(147, "cfg_meas_formatInfos_int(): Task return of mutex failed.");
}

void queryTask(intptr_t) {
    for (;;) {
        if (semTake(gWake, WAIT_FOREVER) != OK) {
            syslogx(147, "cfg_meas_formatInfos_task(): error taking binary semaphore");
            taskDelay(1000);
            continue;
        }
        query(true);
    }
}

void formatInfos(bool withUsb) {
    if (!gMutex) {
        gMutex = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        if (!gMutex) {
            syslogx(147, "cfg_meas_formatInfos_int(1): semaphore creation failed.");
            return;
        }
        gWake = semBCreate(SEM_Q_FIFO, SEM_EMPTY);
        if (!gWake) {
            syslogx(147, "cfg_meas_formatInfos_int(2): semaphore creation failed.");
            semDelete(gMutex);
            gMutex = nullptr;
            return;
        }
    }
    if (!withUsb) {
        query(false);
        return;
    }
    if (!gTask) {
        gTask = taskSpawn("r_CfgMeasFrmtInfo", 162, VX_FP_TASK, 50000, queryTask, 0);
        if (!gTask) {
            syslogx(147, "cfg_meas_formatInfos_int(): start of query task failed!");
            if (semGive(gMutex) != OK)
                syslogx(147, "cfg_meas_formatInfos_int(): returning semaphore due to failed task failed!");
            return;
        }
    }
    // A query still running leaves the semaphore full: count the refusals.
    if (semCount(gWake) > 0) {
        if (++gBusyCount >= 10)
            syslogx(147, "cfg_meas_formatInfos_int(): unable to complete. Task busy for >= 10 sec.");
    } else {
        semGive(gWake);
        gBusyCount = 0;
    }
}

}  // namespace

int cfg_meas_getBfsFileCounts(const char* drive, uint32_t* count, uint32_t* maximum) {
    if (!drive) {
        SYSLOGX_FLOOD(floodNoName, 147, "cfg_meas_getBfsFileCounts() missing drive name");
        return -1;
    }
    auto fail = [&](uint8_t& flood, const char* fmt) {
        if (count) *count = 0;
        if (maximum) *maximum = 0xFFFFFFFF;
        SYSLOGX_FLOOD(flood, 147, fmt, drive);
        return -1;
    };
    std::string root = dev_path(drive);
    if (root.empty() || driveAvailable(drive) != 0)
        return fail(floodUnreadable, "cfg_meas_getBfsFileCounts(%s) could not read drive");
    uint32_t used = 0, total = 0;
    if (driveFileStatistics(drive, &used, &total) != 0)
        return fail(floodIoctl, "cfg_meas_getBfsFileCounts(%s) ioctl failed");
    if (count) *count = used;
    if (maximum) *maximum = total;
    return 0;
}

void cfg_meas_formatInfos_1s() { formatInfos(true); }
void cfg_meas_formatInfos() { formatInfos(false); }

void cfg_meas_formatInfos_stop() {
    if (TASK_ID t = gTask.exchange(nullptr)) taskDelete(t);
}
