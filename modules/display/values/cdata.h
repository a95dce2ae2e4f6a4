// Value sources of the display: every live input of a view or of the display
// itself is a CData; sources that read the same channel the same way share
// one value holder (CDataMeas). The CDataManager packs the holders into
// measurement lists, one or more per (device, raster), subscribes them at the
// measurement gateway and stores the values it receives on the raster task.
//
// Threads: putData and the list statistics run on the gateway's raster task;
// everything else on the GUI task. A holder's lock guards its raw value and
// valid flag; the physical value is computed and read on the GUI task only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "display/config/display_config.h"
#include "host/os/os.h"
#include "measurement/gateway.h"

using GUIUINT = unsigned int;
using GUIINT = int;

// Kind of a source: the value input of an element, its visibility input, or
// an input of the display read from an awm_meas_in record directly.
enum CDataType_t : uint32_t {
    CDATA_VALUE = 0,
    CDATA_VISIBILITY = 1,
    CDATA_INPUT = 2,
};

// Display mode of every visibility source.
constexpr uint32_t CDATA_MODE_VISIBILITY = 8;
// Bytes of a box's value text, terminator included.
constexpr size_t DISP_VALUE_TEXT_LEN = 255;

class CDataMeas;
class CDataManager;

class CData {
public:
    CData(display_elem_s* elem, CDataType_t kind);
    explicit CData(const awm_meas_in* input);

    static bool containsMeasChan(const display_elem_s* elem);
    static bool containsVisChan(const display_elem_s* elem);
    static uint32_t convDataType(TypeEnum_t type);

    // Same channel read the same way; sources of display mode 0 never match.
    bool isEqualData(const CData* other) const;
    CDataMeas* newMeas();
    void setMeas(CDataMeas* meas) { holder = meas; }
    CDataMeas* getMeas() const { return holder; }

    // Forwarders to the holder; without one they leave outputs untouched.
    void updateData();
    void getDataStr(const char* format, char* out);
    void getRawData(GUIUINT& out);
    void getRawData(GUIINT& out);
    void getRawData(double& out);
    void getQuantData(double& out);
    void getQuantData(GUIUINT& out);
    void getQuantData(GUIINT& out);
    bool getMeasUpdateState();
    void setTimeout();

    CData* next = nullptr;
    CDataMeas* holder = nullptr;
    uint32_t address = 0;
    uint32_t mask = 0;
    int8_t shift = 0;
    uint32_t elemType = GW_TYPE_INVALID_CODE;
    float a = 0, b = 1, c = 0, d = 0, e = 0, f = 1;
    const vtab_s* vtab = nullptr;
    uint32_t dispMode = 0;
    CDataType_t kind = CDATA_VALUE;

    static constexpr uint32_t GW_TYPE_INVALID_CODE = 255;

private:
    void copyInput(const awm_meas_in& in, bool withA);
    void computeShift();
};

// The value holder shared by equal sources; owned by its list.
class CDataMeas {
public:
    explicit CDataMeas(const CData* source);   // throws when no lock can be made
    ~CDataMeas();
    CDataMeas(const CDataMeas&) = delete;
    CDataMeas& operator=(const CDataMeas&) = delete;

    // Gateway task: stores the big-endian value at p (the holder's place in
    // a data slot) and marks the holder valid.
    void putData(const uint8_t* p);
    void getRawData(GUIUINT& out);
    void getRawData(GUIINT& out);
    void getRawData(double& out);
    void updateData();
    void getQuantData(double& out) const { out = physical; }
    void getQuantData(GUIUINT& out) const;
    void getQuantData(GUIINT& out) const;
    bool getMeasUpdateState();
    void setTimeout();
    void getDataStr(const char* format, char* out);

    CDataMeas* next = nullptr;
    uint32_t address = 0;
    uint32_t mask = 0;
    int8_t shift = 0;
    uint32_t elemType = CData::GW_TYPE_INVALID_CODE;
    SEM_ID lock = nullptr;
    uint32_t valid = 0;
    union {
        int32_t i;
        uint32_t u;
        double dbl;
    } raw{};
    double physical = 0;
    float a = 0, b = 1, c = 0, d = 0, e = 0, f = 1;
    const vtab_s* vtab = nullptr;
    uint32_t dispMode = 0;

private:
    bool take(const char* failText);
    template <class Int>
    void rawInteger(Int& out, const char* failText, Int (*fromDouble)(double));
};

// States of a measurement list.
enum : uint16_t {
    CDL_SETUP = 0,
    CDL_RUNNING = 1,
    CDL_STOP_REQUESTED = 2,
    CDL_STOPPED = 3,
};

// One measurement list of a device and raster.
struct CDataList {
    uint16_t deviceId = 0;
    uint16_t raster = 0;
    CDataMeas* group4 = nullptr;
    CDataMeas* group2 = nullptr;
    CDataMeas* group1 = nullptr;
    uint16_t count4 = 0, count2 = 0, count1 = 0;
    std::atomic<uint16_t> state{CDL_SETUP};
    CDataList* next = nullptr;
    uint32_t* request = nullptr;
    uint16_t requestSize = 0;   // words while filling, bytes after createMeaslists
    uint16_t byteLimit = CDATA_LIST_BYTE_LIMIT;
    uint16_t slotSize = 0;
    std::atomic<uint16_t> noDataRun{0};
    std::atomic<uint16_t> noDataTotal{0};
    std::atomic<uint8_t> online{0};
    uint32_t handle = 0;
    CDataManager* owner = nullptr;

    static constexpr uint16_t CDATA_LIST_BYTE_LIMIT = 464;
};

class CDataManager {
public:
    CDataManager();
    // Ends the subscriptions still running and frees every list, holder and
    // source; the gateway connection is closed.
    ~CDataManager();
    CDataManager(const CDataManager&) = delete;
    CDataManager& operator=(const CDataManager&) = delete;

    // Makes and places the source of one input of an element (null when the
    // element has no such input). The manager owns every placed source.
    CData* addData(display_elem_s* elem, unsigned short raster, CDataType_t kind);
    void addData(CData* d, unsigned short raster);
    void createMeaslists();
    int startMeasurement();
    void stopMeasurement();

    void readCyclic(unsigned int status, const uint8_t* slot, CDataList* list);
    void replyStop(unsigned int status, CDataList* list);
    void replyStart(unsigned int status, CDataList* list);
    void getStatus(bool* allOnline, bool* anyOnline, unsigned short* minNoData, unsigned short* maxNoData,
                   unsigned long* total, unsigned long* deviceMask) const;

    uint16_t listCount() const { return lists; }
    CDataList* firstList() const { return listChain; }
    CData* firstSource() const { return sourceChain; }

    std::atomic<uint16_t> noDataTotal{0};
    std::atomic<uint32_t> deviceMask{0};
    CDataList* listChain = nullptr;
    CData* sourceChain = nullptr;
    uint16_t lists = 0;
    gw_conn_t connection = nullptr;

private:
    CDataList* listFor(uint16_t device, uint16_t raster);
    void freeSources();
    static void freeList(CDataList* list);

    // Holders of a type the lists cannot carry: they never receive data and
    // are freed with the manager's sources.
    CDataMeas* unplaced = nullptr;
};

extern "C" {
int c2cpp_readCyclic(unsigned long status, void* data, void* user);
int c2cpp_startMeas(unsigned long status, void* data, void* user);
int c2cpp_stopMeas(unsigned long status, void* data, void* user);
}
extern const callback_list cdataman_callbacks;

// Half away from zero as the display rounds, limited to the 32-bit range
// (a NaN gives 0), so that no value reaches an integer conversion unchecked.
int32_t disp_round_s32(double x);
uint32_t disp_round_u32(double x);   // negative values give 0
// Toward zero, limited the same way.
int32_t disp_trunc_s32(double x);
uint32_t disp_trunc_u32(double x);
