// Variable catalogue over the calibration page and signal page layouts.
#include "measurement/catalogue.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <deque>

#include "measurement/calparams.h"
#include "measurement/seram.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

namespace {
constexpr size_t kMaxEntries = 4096;

std::mutex gMx;
std::deque<CatEntry> gEntries;   // stable addresses for catalogue_at
std::unordered_map<std::string, size_t> gIndex;
bool gBuilt = false;

template <class T>
constexpr TypeEnum_t typeOf() {
    using E = std::remove_all_extents_t<T>;
    if constexpr (std::is_same_v<E, float>) return TE_FLOAT;
    else if constexpr (std::is_same_v<E, char>) return TE_UINT8;   // text, read bytewise
    else if constexpr (std::is_signed_v<E>) return sizeof(E) == 1 ? TE_SINT8 : sizeof(E) == 2 ? TE_SINT16 : TE_SINT32;
    else return sizeof(E) == 1 ? TE_UINT8 : sizeof(E) == 2 ? TE_UINT16 : TE_UINT32;
}
template <class T>
constexpr uint16_t countOf() {
    return std::is_array_v<T> ? uint16_t(sizeof(T) / sizeof(std::remove_all_extents_t<T>)) : 1;
}

bool addLocked(const char* name, measaddr_t addr, TypeEnum_t type, uint16_t count) {
    // A module that starts again (new calibration memory) names its variable
    // again: same type and count move the entry to the new address.
    if (name) {
        auto it = gIndex.find(name);
        if (it != gIndex.end() && gEntries[it->second].type == type && gEntries[it->second].count == count) {
            gEntries[it->second].addr = addr;
            return true;
        }
    }
    if (!name || std::strlen(name) >= sizeof(CatEntry::name) || typeSize(type) == 0 || count == 0 ||
        gEntries.size() >= kMaxEntries || gIndex.count(name)) {
        syslogx(147, "catalogue_add(): cannot add %s", name ? name : "(null)");
        return false;
    }
    CatEntry e{};
    std::strncpy(e.name, name, sizeof e.name - 1);
    e.addr = addr;
    e.type = type;
    e.count = count;
    gIndex[e.name] = gEntries.size();
    gEntries.push_back(e);
    return true;
}

#define CAT_CAL(m) \
    addLocked(#m, SERAM_REFPAGE_ADDR + offsetof(CalPage, m), typeOf<decltype(CalPage::m)>(), countOf<decltype(CalPage::m)>())
#define CAT_SIG(m)                                                                  \
    addLocked(#m, SERAM_SIGNAL_ADDR + offsetof(SignalPage, m), typeOf<decltype(SignalPage::m)>(), \
              countOf<decltype(SignalPage::m)>())

void buildLocked() {
    CAT_CAL(EPK);
    CAT_CAL(PCODE);
    CAT_CAL(DATADELAY);
    CAT_CAL(OUTINGCTR_MODE);
    CAT_CAL(OUTINGCTR_MODE_TESTBENCH_RESET);
    CAT_CAL(MEAS_APP_DEBUG);
    CAT_CAL(LOGGING2_TARGET_PARTITION);
    CAT_CAL(FILEFRAGMENTATION_SIZE);
    CAT_CAL(FILEFRAGMENTATION_TIME);
    CAT_CAL(ECU_TYPE);
    CAT_CAL(DEVICE_CONFIG);
    CAT_CAL(MEAS_MAXFILECNT_PART1);
    CAT_CAL(MEAS_MAXFILECNT_PART2);
    CAT_CAL(CfgMat_CanVersion);
    CAT_CAL(CL_DISP_BRIGHT_BG);
    CAT_CAL(CL_DISP_BRIGHT_BG_row_);
    CAT_CAL(CL_DISP_BRIGHT_COLSAT);
    CAT_CAL(CL_DISP_BRIGHT_COLSAT_row_);
    CAT_CAL(CL_DISP_BRIGHT_LED_RED);
    CAT_CAL(CL_DISP_BRIGHT_LED_RED_row_);
    CAT_CAL(CL_DISP_BRIGHT_LED_GREEN);
    CAT_CAL(CL_DISP_BRIGHT_LED_GREEN_row_);
    CAT_CAL(CL_DISP_BRIGHT_LED_BLUE);
    CAT_CAL(CL_DISP_BRIGHT_LED_BLUE_row_);
    CAT_CAL(CanOut_rate_limit);
    CAT_CAL(CanOut_startdelay);
    CAT_CAL(CfgMat_CanIn_Mb_CanIntf);
    CAT_CAL(CfgMat_CanIn_Mb_CanID);
    CAT_CAL(CfgMat_CanIn_Ch_MsgInd);
    CAT_CAL(CfgMat_CanIn_Ch_data_pos);
    CAT_CAL(CfgMat_CanIn_Ch_RZ_type);
    CAT_CAL(CfgMat_CanIn_Ch_data_format);
    CAT_CAL(CfgMat_CanIn_Ch_timeout_ms);
    CAT_CAL(CfgMat_CanIn_Ch_RZ_value);
    CAT_CAL(CfgMat_CanIn_Ch_timeout_value);
    CAT_CAL(CfgMat_CanOut_Mb_CanID);
    CAT_CAL(CfgMat_CanOut_Mb_CanIntf);
    CAT_CAL(CfgMat_CanOut_Mb_CanDlc);
    CAT_CAL(CfgMat_CanOut_Mb_Event);
    CAT_CAL(CfgMat_CanOut_Mb_Event_address);
    CAT_CAL(CfgMat_CanOut_Mb_Event_mask);
    CAT_CAL(CfgMat_CanOut_Mb_Event_data_type);
    CAT_CAL(CfgMat_CanOut_Mb_Event_edge);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_a);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_b);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_c);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_d);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_e);
    CAT_CAL(CfgMat_CanOut_Mb_Event_quant_f);
    CAT_CAL(CfgMat_CanOut_Mb_CounterStart);
    CAT_CAL(CfgMat_CanOut_Mb_CounterEnd);
    CAT_CAL(CfgMat_CanOut_Mb_ChksumType);
    CAT_CAL(CfgMat_CanOut_Mb_ChksumMask);
    CAT_CAL(CfgMat_CanOut_Ch_MsgInd);
    CAT_CAL(CfgMat_CanOut_Ch_data_format);
    CAT_CAL(CfgMat_CanOut_Ch_data_pos);
    CAT_CAL(CfgMat_CanOut_Ch_RZ_type);
    CAT_CAL(CfgMat_CanOut_Ch_data_type);
    CAT_CAL(CfgMat_CanOut_Ch_RZ_value);
    CAT_CAL(CfgMat_CanOut_Ch_address);
    CAT_CAL(CfgMat_CanOut_Ch_mask);
    CAT_CAL(CfgMat_CanOut_Ch_fact);
    CAT_CAL(CfgMat_CanOut_Ch_offs);
    CAT_CAL(VIRARI_DBG_PID_1);
    CAT_CAL(VIRARI_DBG_PID_2);
    CAT_CAL(VIRARI_DBG_PING_PID);
    CAT_CAL(VIRARI_DBG_PING_FREQ);
    // CCP master
    CAT_CAL(CfgMat_CcpMr_CANINT);
    CAT_CAL(CfgMat_CcpMr_BIGENDIAN);
    CAT_CAL(CfgMat_CcpMr_ACTIVE);
    CAT_CAL(CfgMat_CcpMr_MODE);
    CAT_CAL(CfgMat_CcpMr_CMD_CANID);
    CAT_CAL(CfgMat_CcpMr_CMDRET_CANID);
    CAT_CAL(CfgMat_CcpMr_STATIONADDRESS);
    CAT_CAL(CfgMat_CcpMr_STARTDELAY);
    CAT_CAL(CfgMat_CcpMr_Cond1_Adr);
    CAT_CAL(CfgMat_CcpMr_Cond2_Adr);
    CAT_CAL(CfgMat_CcpMr_Cond1_Val);
    CAT_CAL(CfgMat_CcpMr_Cond2_Val);
    CAT_CAL(CfgMat_CcpMr_Cond1_size);
    CAT_CAL(CfgMat_CcpMr_Cond2_size);
    CAT_CAL(CfgMat_CcpMr_Cond1_Op);
    CAT_CAL(CfgMat_CcpMr_Cond2_Op);
    CAT_CAL(CfgMat_CcpMr_CondComb_Op);
    CAT_CAL(CfgMat_CcpMr_DAQ_MRID);
    CAT_CAL(CfgMat_CcpMr_DAQ_ID);
    CAT_CAL(CfgMat_CcpMr_DAQ_ODT_NUM);
    CAT_CAL(CfgMat_CcpMr_DAQ_EVT_CHAN);
    CAT_CAL(CfgMat_CcpMr_DAQ_EVT_PRESC);
    CAT_CAL(CfgMat_CcpMr_DAQ_CANID);
    CAT_CAL(CfgMat_CcpMr_CHAN_ADR);
    CAT_CAL(CfgMat_CcpMr_CHAN_ADEXTR);
    CAT_CAL(CfgMat_CcpMr_CHAN_SIZE);
    CAT_CAL(CfgMat_CcpMr_CHAN_DAQ);
    CAT_CAL(CfgMat_CcpMr_CHAN_TIMEOUT);
    CAT_CAL(CfgMat_CcpMr_CHAN_DEFAULT);
    CAT_CAL(CfgMat_XcpMr_ACTIVE);
    CAT_CAL(CfgMat_XcpMr_TransportLayer);
    CAT_CAL(CfgMat_XcpMr_BIGENDIAN);
    CAT_CAL(CfgMat_XcpMr_CANINTF);
    CAT_CAL(CfgMat_XcpMr_UDP_ADDRESS);
    CAT_CAL(CfgMat_XcpMr_UDP_PORT);
    CAT_CAL(CfgMat_XcpMr_STARTDELAY);
    CAT_CAL(CfgMat_XcpMr_CMD_CANID);
    CAT_CAL(CfgMat_XcpMr_CMDRET_CANID);
    CAT_CAL(CfgMat_XcpMr_Cond_Adr);
    CAT_CAL(CfgMat_XcpMr_Cond_size);
    CAT_CAL(CfgMat_XcpMr_Cond_Op);
    CAT_CAL(CfgMat_XcpMr_TIMESTAMP_SIZE);
    CAT_CAL(CfgMat_XcpMr_TIMESTAMP_RESOLUTION);
    CAT_CAL(CfgMat_XcpMr_Cond_Val);
    CAT_CAL(CfgMat_XcpMr_TIMESTAMP_TICKS);
    CAT_CAL(CfgMat_XcpMr_DAQ_MRID);
    CAT_CAL(CfgMat_XcpMr_DAQ_ID);
    CAT_CAL(CfgMat_XcpMr_DAQ_ODT_NUM);
    CAT_CAL(CfgMat_XcpMr_DAQ_EVT_CHAN);
    CAT_CAL(CfgMat_XcpMr_DAQ_CANID);
    CAT_CAL(CfgMat_XcpMr_DAQ_EVT_PRESC);
    CAT_CAL(CfgMat_XcpMr_CHAN_DAQ);
    CAT_CAL(CfgMat_XcpMr_CHAN_ADEXTR);
    CAT_CAL(CfgMat_XcpMr_CHAN_SIZE);
    CAT_CAL(CfgMat_XcpMr_CHAN_ADR);
    CAT_CAL(CfgMat_XcpMr_CHAN_DEFAULT);
    CAT_CAL(CfgMat_XcpMr_CHAN_TIMEOUT);

    CAT_SIG(n_engine);
    CAT_SIG(v_vehicle);
    CAT_SIG(throttle);
    CAT_SIG(t_water);
    CAT_SIG(t_oil);
    CAT_SIG(t_air);
    CAT_SIG(p_oil);
    CAT_SIG(p_fuel);
    CAT_SIG(p_brake_front);
    CAT_SIG(lap_distance);
    CAT_SIG(gear);
    CAT_SIG(stim_active);
    CAT_SIG(stim_tick);
    CAT_SIG(meas_app_startreq);
    CAT_SIG(meas_app_stopreq);
    CAT_SIG(meas_app_faststopreq);
    CAT_SIG(meas_app_blkstopreq);
    CAT_SIG(meas_app_reinitreq);
    CAT_SIG(meas_app_destroyreq);
    CAT_SIG(meas_app_hstinitreq);
    CAT_SIG(meas_app_running);
    CAT_SIG(meas_app_remoteread);
    CAT_SIG(meas_globcond_m01);
    CAT_SIG(meas_globcond_m03);
    CAT_SIG(meas_cnt_m01request);
    CAT_SIG(meas_cnt_m01reply);
    CAT_SIG(meas_cnt_m02request);
    CAT_SIG(meas_cnt_m02reply);
    CAT_SIG(meas_cnt_m03request);
    CAT_SIG(meas_cnt_m03reply);
    CAT_SIG(meas_cnt_update);
    CAT_SIG(meas_compression_m01);
    CAT_SIG(meas_compression_m03);
    CAT_SIG(meas_cnt_ecu);
    CAT_SIG(meas_cnt_fde);
    CAT_SIG(meas_rate_m01);
    CAT_SIG(meas_rate_m03);
    CAT_SIG(meas_fileCnt_part1);
    CAT_SIG(meas_fileCnt_part2);
    CAT_SIG(meas_fileCnt_usb);
    CAT_SIG(meas_maxFileCnt_part1);
    CAT_SIG(meas_maxFileCnt_part2);
    CAT_SIG(meas_maxFileCnt_usb);
    CAT_SIG(display_page);
    CAT_SIG(display_page_mx);
    CAT_SIG(display_brightness);
    CAT_SIG(sw_brightness);
    CAT_SIG(meas_man_data_loss);
    CAT_SIG(ccpmr_status);
    CAT_SIG(memory_canin);
}

// Splits "name[i]"; false for a malformed index.
bool splitIndex(const char* text, std::string* base, long* index) {
    const char* br = std::strchr(text, '[');
    *index = -1;
    if (!br) {
        *base = text;
        return true;
    }
    // digits only: strtol alone would take "[ 1]", "[+1]" and one past its range
    if (!std::isdigit(static_cast<unsigned char>(br[1]))) return false;
    errno = 0;
    char* end = nullptr;
    long i = std::strtol(br + 1, &end, 10);
    if (errno == ERANGE || *end != ']' || end[1] != '\0') return false;
    base->assign(text, br);
    *index = i;
    return true;
}

// Address of an entry's value; reference-page parameters at the active page.
bool valueAddr(const CatEntry* e, uint32_t* out) {
    uint32_t a = MEASADDR_OFFSET(e->addr);
    unsigned len = typeSize(e->type) * e->count;
    if (!seramVirtualAddrRangeIsReadAccessAllowed(a, len)) return false;
    if (seramVirtualAddrIsRefpage(a)) a += seramActiveOffset.load();
    *out = a;
    return true;
}

bool fitsType(TypeEnum_t type, double value) {
    auto fits = [&](double lo, double hi) { return value >= lo && value <= hi && value == std::trunc(value); };
    switch (type) {
    case TE_UINT8: case TE_BOOL: return fits(0, 255);
    case TE_SINT8: return fits(-128, 127);
    case TE_UINT16: return fits(0, 65535);
    case TE_SINT16: return fits(-32768, 32767);
    case TE_UINT32: return fits(0, 4294967295.0);
    case TE_SINT32: return fits(-2147483648.0, 2147483647.0);
    case TE_FLOAT: return std::fabs(value) <= 3.402823466e38;
    default: return false;
    }
}
}  // namespace

int catalogue_init() {
    std::lock_guard<std::mutex> lk(gMx);
    if (!gBuilt) {
        buildLocked();
        gBuilt = true;
    }
    return 1;
}

int catalogue_add(const char* name, measaddr_t addr, TypeEnum_t type, uint16_t count) {
    std::lock_guard<std::mutex> lk(gMx);
    return addLocked(name, addr, type, count) ? 1 : 0;
}

const CatEntry* catalogue_find(const char* name, CatEntry* elementOut) {
    if (!name) return nullptr;
    std::string base;
    long index;
    if (!splitIndex(name, &base, &index)) return nullptr;
    std::lock_guard<std::mutex> lk(gMx);
    auto it = gIndex.find(base);
    if (it == gIndex.end()) return nullptr;
    const CatEntry* e = &gEntries[it->second];
    if (index < 0) return e;
    if (!elementOut || index >= e->count) return nullptr;
    *elementOut = *e;
    std::snprintf(elementOut->name, sizeof elementOut->name, "%s", name);
    elementOut->addr = e->addr + uint32_t(index) * typeSize(e->type);
    elementOut->count = 1;
    return elementOut;
}

measaddr_t catalogue_addr(const char* name) {
    CatEntry el;
    const CatEntry* e = catalogue_find(name, &el);
    return e ? e->addr : 0;
}

int catalogue_count() {
    std::lock_guard<std::mutex> lk(gMx);
    return int(gEntries.size());
}

const CatEntry* catalogue_at(int index) {
    std::lock_guard<std::mutex> lk(gMx);
    return index >= 0 && size_t(index) < gEntries.size() ? &gEntries[size_t(index)] : nullptr;
}

bool catalogue_read(const CatEntry* e, double* out) {
    if (!e || !out) return false;
    uint32_t addr;
    uint8_t p[4];
    unsigned n = typeSize(e->type);
    if (n == 0 || n > sizeof p || !valueAddr(e, &addr) || !seramReadValue(addr, p, n)) return false;
    switch (e->type) {
    case TE_UINT8: case TE_BOOL: { uint8_t v; std::memcpy(&v, p, 1); *out = v; break; }
    case TE_SINT8: { int8_t v; std::memcpy(&v, p, 1); *out = v; break; }
    case TE_UINT16: { uint16_t v; std::memcpy(&v, p, 2); *out = v; break; }
    case TE_SINT16: { int16_t v; std::memcpy(&v, p, 2); *out = v; break; }
    case TE_UINT32: { uint32_t v; std::memcpy(&v, p, 4); *out = v; break; }
    case TE_SINT32: { int32_t v; std::memcpy(&v, p, 4); *out = v; break; }
    case TE_FLOAT: { float v; std::memcpy(&v, p, 4); *out = v; break; }
    default: return false;
    }
    return true;
}

bool catalogue_valueFits(const CatEntry* e, double value) {
    return e && !std::isnan(value) && fitsType(e->type, value);
}

bool catalogue_write(const CatEntry* e, double value) {
    if (!catalogue_valueFits(e, value)) return false;
    uint8_t buf[4];
    unsigned n = typeSize(e->type);
    switch (e->type) {
    case TE_UINT8: case TE_BOOL: buf[0] = uint8_t(value); break;
    case TE_SINT8: { int8_t v = int8_t(value); std::memcpy(buf, &v, 1); } break;
    case TE_UINT16: { uint16_t v = uint16_t(value); std::memcpy(buf, &v, 2); } break;
    case TE_SINT16: { int16_t v = int16_t(value); std::memcpy(buf, &v, 2); } break;
    case TE_UINT32: { uint32_t v = uint32_t(value); std::memcpy(buf, &v, 4); } break;
    case TE_SINT32: { int32_t v = int32_t(value); std::memcpy(buf, &v, 4); } break;
    case TE_FLOAT: { float v = float(value); std::memcpy(buf, &v, 4); } break;
    default: return false;
    }
    uint32_t a = MEASADDR_OFFSET(e->addr);
    // A calibration parameter is changed in the working page; it takes effect
    // while the working page is active. Everything else is written in place.
    if (seramVirtualAddrIsRefpage(a)) a += SERAM_WORKPAGE_ADDR - SERAM_REFPAGE_ADDR;
    return seramDownload(a, buf, n);
}

int catalogue_format(const CatEntry* e, char* buf, unsigned size) {
    if (!e || !buf || size == 0) return 0;
    double v;
    if (!catalogue_read(e, &v)) return std::snprintf(buf, size, "%s = ?", e->name);
    return catalogue_formatValue(e, v, buf, size);
}

int catalogue_formatValue(const CatEntry* e, double value, char* buf, unsigned size) {
    if (!e || !buf || size == 0) return 0;
    // as the variable holds it: a float variable keeps a float's precision
    if (e->type == TE_FLOAT) return std::snprintf(buf, size, "%s = %g", e->name, double(float(value)));
    return std::snprintf(buf, size, "%s = %.0f", e->name, value + 0.0);   // -0 is 0 in an integer
}
