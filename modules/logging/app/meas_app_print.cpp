// The shell command "meas": state of the logging application and the
// devices whose lists did not start.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "logging/app/meas_app_internal.h"
#include "logging/config/cfg_meas.h"
#include "logging/counters/lapoutfra.h"
#include "logging/fifo/meas_fifo.h"
#include "logging/store/meas_app_store.h"
#include "platform/raster.h"
#include "platform/syslogx.h"

namespace {

const char* yesNo(bool v) { return v ? "TRUE" : "FALSE"; }

// Writes, flushes and closes that the drives of a measurement refused (its
// internal and USB writer together).
unsigned writeFailures(unsigned measIdx) {
    unsigned n = 0;
    for (unsigned usb = 0; usb < 2; ++usb)
        n += std::atomic_ref<uint32_t>(meas_store_writeCounters(measIdx, usb).failures).load(std::memory_order_relaxed);
    return n;
}

void printMeas(const char* name, unsigned measIdx) {
    const meas_t& m = meas[measIdx];
    // The reply counters are kept under the list lock. The rest is read under
    // the condition lock, under which a destroy frees the configuration and a
    // creation publishes it. One after the other: the list lock is never
    // held around the condition lock.
    unsigned startCnt, replyCnt, errCnt;
    {
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        startCnt = m.startCount;
        replyCnt = m.replyCount;
        errCnt = m.replyErrorCount;
    }
    struct Seen {
        unsigned blocks, engineBlocks, engineWithCond, conditions, savedRecords;
        bool started, conditionValid;
    } seen{};
    SEM_ID lock = m.condLock;   // none before the first configuration
    bool configured = false;
    if (lock && semTake(lock, WAIT_FOREVER) == OK) {
        configured = (m.stateFlags & 1) && m.config;
        if (configured)
            seen = {blockCountOf(m), m.engineBlockCount, m.engineBlocksWithCond, m.config->numConditions,
                    m.savedRecords, (m.runFlags & 1) != 0, !(m.stateFlags & 2)};
        semGive(lock);
    }
    if (!configured) {
        char drive[CFG_MEAS_STRLEN + 1];
        if (meas_app_driveWaiting(measIdx, drive)) std::printf("%s waits for drive %s \n\n", name, drive);
        else std::printf("%s not found \n\n", name);
        return;
    }
    std::printf("%-13s: loaded = %s, configured (incl. cond.) = %i, started = %s\n --> start_cnt       = %i\n"
                " --> reply_cnt       = %i\n --> reply_errcnt    = %i\n --> condition valid = %s\n"
                " --> blkcount        = %i\n",
                name, yesNo(true), int(seen.blocks), yesNo(seen.started), int(startCnt), int(replyCnt), int(errCnt),
                yesNo(seen.conditionValid), int(seen.savedRecords));
    // the telemetry has no file writers
    if (measIdx != MEAS_IDX_M02) std::printf(" --> write_errcnt    = %i\n", int(writeFailures(measIdx)));
    std::printf("\n");
    std::printf("ENGINE blks:%i w/ cond blks:%i, CHASSIS blks :%i w/ cond blks: %i\n\n", int(seen.engineBlocks),
                int(seen.engineWithCond), int(seen.blocks - seen.engineBlocks),
                int(seen.conditions > seen.engineWithCond ? seen.conditions - seen.engineWithCond : 0));
}

}  // namespace

void meas_app_print_measstate() {
    SignalPage& s = sp();
    const struct {
        const char* name;
        uint8_t* f;
    } flags[] = {{"meas_app_startreq", &s.meas_app_startreq},     {"meas_app_stopreq", &s.meas_app_stopreq},
                 {"meas_app_faststopreq", &s.meas_app_faststopreq}, {"meas_app_blkstopreq", &s.meas_app_blkstopreq},
                 {"meas_app_reinitreq", &s.meas_app_reinitreq},   {"meas_app_destroyreq", &s.meas_app_destroyreq},
                 {"meas_app_hstinitreq", &s.meas_app_hstinitreq}, {"meas_app_running", &s.meas_app_running}};
    for (const auto& f : flags) std::printf("%-26s = %i \n", f.name, int(flag(*f.f).load()));
    std::printf("meas_app_lapstate_ok       = %i \n", int(LapOutFra_isValid()));
    std::printf("remotectrl_remotestart_lock = %i \n\n", int(meas_app_get_remotectrl_remotestart_lock()));
    if (meas_app_waitsForTime())
        std::printf("logging waiting for the time master (this device's time is not in sync)\n\n");
    printMeas("MEASURE SG", MEAS_IDX_M01);
    printMeas("MEASURE TELE", MEAS_IDX_M02);
    printMeas("MEASURE FDE", MEAS_IDX_M03);
    if (flag(s.meas_app_blkstopreq).load()) {
        std::printf("Blockstoprequest not finished\n");
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        for (unsigned r = 0; r < MEAS_RASTER_CODES; ++r)
            for (const MeasBlock* b = meas_app_measlist[r]; b; b = b->next) {
                char rn[16];
                std::printf(" Block not stopped! m0%d PID: 0x%X, Type: %s, BLK #%d, Ch #%d, Raster: %s\n",
                            b->measIdx + 1, b->pid, meas_app_typeName(b), b->config->blockNumber,
                            int(b->config->channelCount), convraster2ascii(b->config->raster, rn));
            }
    }
    std::fflush(stdout);
}

void meas_app_print_errorPIDS() {
    bool any = false;
    {
        std::lock_guard<std::mutex> lk(meas_app_listLock());
        for (const ext_pidnode* n = ext_pidlist; n; n = n->next) {
            const MeasBlock* b = n->block;
            if (!b) continue;
            const uint16_t f = lst(b);
            if (!(f & MEAS_LST_SETUP) || (f & MEAS_LST_REPLY)) continue;
            char rn[16];
            const char* rate = convraster2ascii(b->config->raster, rn);
            if (f & MEAS_LST_OFFLINE) std::printf("-->pid %i [0x%X] rate %s is offline!\n", n->pid, n->pid, rate);
            else if (f & MEAS_LST_STARTERR)
                std::printf("-->pid %i [0x%X] rate %s replied with error!  0x%x\n", n->pid, n->pid, rate, f);
            else std::printf("-->pid %i [0x%X] rate %s not replied!  0x%x\n", n->pid, n->pid, rate, f);
            any = true;
        }
    }
    // writes the drives refused are errors as well
    for (unsigned measIdx : {MEAS_IDX_M01, MEAS_IDX_M03}) {
        const unsigned failed = writeFailures(measIdx);
        if (!failed) continue;
        std::printf("-->m0%u: %u writes failed!\n", measIdx + 1, failed);
        any = true;
    }
    // and so are the records lost to full logger FIFOs
    const uint32_t lost = std::atomic_ref<uint32_t>(meas_fifo_signals().fifo_full_ctr).load(std::memory_order_relaxed);
    if (lost) {
        std::printf("-->%u records lost to full logger FIFOs!\n", unsigned(lost));
        any = true;
    }
    // and the raster runs lost when the base tick skipped ticks after a lag:
    // their records are missing from the files
    for (int i = 0; i < raster_count(); ++i) {
        RasterInfo ri{};
        if (!raster_info(i, &ri) || !ri.skippedRuns) continue;
        std::printf("-->raster %s: %llu runs lost to lags of the base tick!\n", ri.name,
                    static_cast<unsigned long long>(ri.skippedRuns));
        any = true;
    }
    if (!any) std::printf("no error found ! \n");
    std::printf("\n");
    std::fflush(stdout);
}

namespace {
// A request the shell could not make: said in the shell and in the log; the
// command's value is nonzero, as for every command that did not do its job.
int refused(const char* sub, const char* why) {
    if (!why) why = "refused";
    syslogx(150, "meas %s: %s", sub, why);
    std::printf("meas %s: %s\n", sub, why);
    return -1;
}

int usage() {
    std::printf("usage: meas [start|stop|init|destroy]\n");
    return -1;
}
}  // namespace

int measCommandFunc(int argc, char** argv) {
    const char* sub = argc > 1 && argv[1] ? argv[1] : "";
    const char* why = nullptr;
    // extra words: the usage, and nothing is requested
    if (argc > 2) return usage();
    if (!std::strcmp(sub, "start")) return meas_app_remotestart(&why) ? 0 : refused(sub, why);
    if (!std::strcmp(sub, "stop")) return meas_app_remotestop(0, &why) ? 0 : refused(sub, why);
    if (!std::strcmp(sub, "init")) {
        // the logging raster would refuse it too, where only log.txt says so
        if (meas_app_measExists()) return refused(sub, "measurement exists, init refused (destroy it first)");
        return meas_app_shellinit() ? 0 : refused(sub, "another request is pending, init refused");
    }
    if (!std::strcmp(sub, "destroy")) return meas_app_remotedestroy(0, &why) ? 0 : refused(sub, why);
    if (*sub) return usage();
    meas_app_print_measstate();
    meas_app_print_errorPIDS();
    return 0;
}
