// Lap, outing, absolute-lap and fragment counters that name the measurement
// files: kept in NVRAM (element 0: fragment, outing, lap; element 261:
// absolute lap), published as measurable values, changed by lap triggers,
// fragment triggers and the shell.
#pragma once

#include <cstddef>
#include <cstdint>

struct LapOutFraState {
    uint16_t lap;
    uint16_t outing;
    uint16_t absLap;
    uint16_t fragment;
    uint32_t timeStamp;     // time_getTimestamp() of the last lap or fragment trigger
    uint8_t valid;          // 1 once set for logging
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
void LapOutFra_setFragmentTrig(uint32_t timeStamp);
void LapOutFra_getState(LapOutFraState* out);
// False when an NVRAM store of the calling task's last initLapOutCnt,
// setLapOutCnt or setFragmentTrig failed (the counters then changed in
// memory only).
bool LapOutFra_lastStoreOk();
uint32_t LapOutFra_getTimeStamp();
uint8_t LapOutFra_isValid();
void LapOutFra_checkExtLaptrgInit();
void LapOutFra_queryLapOutCntTask();

int LapOutFra_genFilename(char* buf, uint32_t size, uint8_t measIdx, uint16_t outing, uint16_t lap,
                          uint16_t fragment);
int LapOutFra_genFilenameAbsLap(char* buf, uint32_t size, uint8_t measIdx, uint16_t outing, uint16_t lap,
                                uint16_t fragment, uint16_t absLap);

// The name that follows a measurement file name by the rule of the splits:
// the next fragment, or after fragment 255 the next absolute lap with
// fragment 1 ("A0102012.3ff" -> "A0102012.401"). False (out untouched) for
// what is no measurement file name. out holds at least 13 bytes.
bool LapOutFra_nextFileName(const char* name, char* out, uint32_t size);

// Moves the fragment on from the current one while its file name is in use
// on a logging drive, as a split does (a start after a stop, or after an
// earlier run left files under the counters' names). The counters are
// stored when they changed.
void LapOutFra_skipNamesInUse();

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
