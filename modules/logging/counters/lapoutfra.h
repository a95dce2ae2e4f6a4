// Lap, outing, absolute-lap and fragment counters that name the measurement
// files: kept in NVRAM (element 0: fragment, outing, lap; element 261:
// absolute lap), published as measurable values, changed by lap triggers,
// fragment triggers and the shell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct LapOutFraState {
    uint16_t lap;
    uint16_t outing;
    uint16_t absLap;
    uint16_t fragment;
    uint32_t timeStamp;     // time_getTimestamp() of the last lap or fragment trigger
    uint8_t valid;          // 1 once set for logging
    uint32_t trigger;       // counts the lap and fragment triggers (0: none yet)
};

// Calls into modules built on top of the counters; each may be null.
struct LapOutFraHooks {
    void (*lapstackResetHistory)();                         // status block: new outing or pair
    void (*clearSegmentation)();                            // logging: a lap restarts fragmenting
    void (*laptriggerUpdate)(uint16_t lap, uint16_t outing); // logging: restart files after an update
};
void LapOutFra_setHooks(const LapOutFraHooks& hooks);

// The measurable values lapctr, outctr, fractr, abslap (u16 each); until
// LapOutFra_publishSignals places them in the signal page they live here.
struct LapOutFraSignals {
    uint16_t* lapctr;
    uint16_t* outctr;
    uint16_t* fractr;
    uint16_t* abslap;
};
// Takes room for the four values from the signal page and names them in the
// variable catalogue; 1 on success, 0 when they stay private.
int LapOutFra_publishSignals();
// Moves the four values to base[0..3] (lapctr, outctr, fractr, abslap).
void LapOutFra_publishSignalsAt(uint16_t* base);
const LapOutFraSignals& LapOutFra_signals();

int LapOutFra_init();
void LapOutFra_initLapOutCnt(uint16_t lap, uint16_t outing);
void LapOutFra_setLapOutCnt(uint16_t lap, uint16_t outing, uint32_t timeStamp);
void LapOutFra_chngLapOutCnt(uint16_t lap, uint16_t outing);
// The next fragment (past the names in use on the logging drives, which it
// looks at: not for a raster). stepped, when given, gets the counters the
// step was made of, those of the file the fragment closes.
void LapOutFra_setFragmentTrig(uint32_t timeStamp, LapOutFraState* stepped = nullptr);
// The next fragment, as LapOutFra_setFragmentTrig gives it but without
// looking at the drives (for a raster: the stop, whose next start looks for
// free names, LapOutFra_skipNamesInUse, before it makes files).
void LapOutFra_stepFragment(uint32_t timeStamp);
void LapOutFra_getState(LapOutFraState* out);
// The counters the trigger numbered `trigger` (LapOutFraState::trigger) set,
// with its stamp; false when it is not among the last few kept.
bool LapOutFra_stateOfTrigger(uint32_t trigger, LapOutFraState* out);
// False when the NVRAM refused a store of the calling task's last
// initLapOutCnt, setLapOutCnt or setFragmentTrig (the counters then changed
// in memory only). The stores it took go to the disk behind the caller:
// nvram_dbs_flush tells whether they got there.
bool LapOutFra_lastStoreOk();
uint32_t LapOutFra_getTimeStamp();
// The counters' time begins at timeStamp, their numbers unchanged: the files
// they make next begin there (a restart at a step back of the time begins
// its first files at the step, whose moment they hold the events of).
void LapOutFra_beginAt(uint32_t timeStamp);
uint8_t LapOutFra_isValid();
void LapOutFra_checkExtLaptrgInit();
void LapOutFra_queryLapOutCntTask();

int LapOutFra_genFilename(char* buf, uint32_t size, uint8_t measIdx, uint16_t outing, uint16_t lap,
                          uint16_t fragment);
int LapOutFra_genFilenameAbsLap(char* buf, uint32_t size, uint8_t measIdx, uint16_t outing, uint16_t lap,
                                uint16_t fragment, uint16_t absLap);

// What stands at name on drive, under the letter of m01 or of m03 (they
// share the counters, so a name is taken for both): the device path of the
// first entry found and what it is ("a file", "a FIFO", ...); an empty path
// when the name is free there. The entry is looked at, never opened.
struct LapOutFraNameUse {
    std::string path;
    const char* what = nullptr;
};
LapOutFraNameUse LapOutFra_nameUse(const char* drive, const char* name);

// The order in which a file whose name is in use moves on to a free one, the
// same for the files a lap or a split opens and for the copies: from
// (absLap, fragment) on, the next fragment, or after fragment 255 the next
// absolute lap with fragment 1, at most three such wraps. The names of
// measIdx are tried until inUse gives false for one; absLap and fragment are
// left at it and the name is in name. Gives the number of names skipped, or
// -1 when no name can be formed (name empty) or the wraps ran out (name and
// counters then give the last name reached, unchecked).
int LapOutFra_findFreeName(uint8_t measIdx, uint16_t outing, uint16_t lap, uint16_t* absLap, uint16_t* fragment,
                           char* name, uint32_t size, const std::function<bool(const char*)>& inUse);

// The name that follows a measurement file name by the rule of the splits:
// the next fragment, or after fragment 255 the next absolute lap with
// fragment 1 ("A0102012.3ff" -> "A0102012.401"). False (out untouched) for
// what is no measurement file name. out holds at least 13 bytes.
bool LapOutFra_nextFileName(const char* name, char* out, uint32_t size);

// Moves the fragment on from the current one while its file name is in use
// on a logging drive, as a split does (a start after a stop, or after an
// earlier run left files under the counters' names). The counters are
// stored when they changed. The drives are looked at without the counters'
// lock (as by every trigger's search): a change of the counters meanwhile
// sends the search round again.
void LapOutFra_skipNamesInUse();

// A copy of a finished file is to stand under the name of these counters
// (not its own: that was in use on the copy's drive). False when it is the
// name the counters give now, which the recording going on takes on its
// drives. Otherwise true (also when the counters cannot be had: the copy
// is not lost for them), and counters not yet past the name move past it
// at once, stored as a split's name skip is, so that no later file on any
// drive takes it; the copy waits for the NVRAM's disk (nvram_dbs_flush)
// before it stands there.
bool LapOutFra_takeCopyName(uint16_t outing, uint16_t lap, uint16_t absLap, uint16_t fragment);

// The NVRAM change stamp (nvram_dbs_changeStamp) that holds the counters as
// LapOutFra_getState gave them before this call: a file they name is made
// on a drive once the NVRAM's disk holds it (nvram_dbs_flushTo), by the task
// that makes the file, never by a raster.
uint64_t LapOutFra_storedStamp();

// Shell commands "lof_set", "lof_laptrig", "lof_outtrig", "lof_fratrig",
// "lof_get"; argc counts the command name.
int LapOutFra_cmds_init();
int lof_set(int argc, char** argv);
int lof_laptrig(int argc, char** argv);
int lof_outtrig(int argc, char** argv);
int lof_fratrig(int argc, char** argv);
int lof_get(int argc, char** argv);

// Drops the mutex and the state (tests: simulate a restart).
void LapOutFra_resetForTest();
