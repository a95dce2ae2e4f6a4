// CDataMeas: the value holder of one channel. The gateway task stores raw
// values under the holder's lock; the GUI task converts them.
#include <new>
#include <stdexcept>

#include "display/values/cdata.h"
#include "platform/byteorder.h"
#include "platform/syslogx.h"

CDataMeas::CDataMeas(const CData* s)
{
    if (s) {
        address = s->address;
        mask = s->mask;
        shift = s->shift;
        elemType = s->elemType;
        a = s->a, b = s->b, c = s->c, d = s->d, e = s->e, f = s->f;
        dispMode = s->dispMode;
        if (dispMode == DISP_VERBAL) vtab = s->vtab;
    }
    lock = semBCreate(SEM_Q_PRIORITY, SEM_FULL);
    if (!lock) {
        syslogx(151, "CDataMeas constructor semBCreate failed");
        throw std::runtime_error("CDataMeas: no lock");
    }
}

CDataMeas::~CDataMeas()
{
    if (lock) semDelete(lock);
}

bool CDataMeas::take(const char* failText)
{
    if (semTake(lock, WAIT_FOREVER) == OK) return true;
    syslogx(151, "%s", failText);
    return false;
}

void CDataMeas::putData(const uint8_t* p)
{
    if (!take("CDataMeas::putData(...) semTake failed.")) return;
    switch (elemType) {
    case GW_INT8: raw.i = int8_t(p[0]); break;
    case GW_UINT8:
    case GW_BOOL8: raw.u = p[0]; break;
    case GW_INT16: raw.i = int16_t(be_get16(p)); break;
    case GW_UINT16: raw.u = be_get16(p); break;
    case GW_INT32:
    case GW_UINT32: raw.u = be_get32(p); break;
    case GW_FLOAT32: raw.dbl = be_getf(p); break;
    default: break;
    }
    valid = 1;
    semGive(lock);
}

// The integer forms: the stored word, a float converted toward zero within
// the range of the form, 0 for an unknown type.
template <class Int>
void CDataMeas::rawInteger(Int& out, const char* failText, Int (*fromDouble)(double))
{
    if (!take(failText)) return;
    if (elemType == GW_FLOAT32)
        out = fromDouble(raw.dbl);
    else if (elemType <= GW_BOOL8)
        out = Int(raw.u);
    else
        out = 0;
    semGive(lock);
}

void CDataMeas::getRawData(GUIUINT& out)
{
    rawInteger<GUIUINT>(out, "CData::getRawData(GUIUINT) semTake failed.", disp_trunc_u32);
}

void CDataMeas::getRawData(GUIINT& out)
{
    rawInteger<GUIINT>(out, "CData::getRawData(GUIINT) semTake failed.", disp_trunc_s32);
}

void CDataMeas::getRawData(double& out)
{
    if (!take("CData::getRawData(double) semTake failed.")) return;
    switch (elemType) {
    case GW_INT8:
    case GW_INT16:
    case GW_INT32: out = raw.i; break;
    case GW_FLOAT32: out = raw.dbl; break;
    case GW_UINT8:
    case GW_UINT16:
    case GW_UINT32:
    case GW_BOOL8: out = raw.u; break;
    default: out = 0; break;
    }
    semGive(lock);
}

void CDataMeas::updateData()
{
    double x;
    if (elemType == GW_INT8 || elemType == GW_INT16 || elemType == GW_INT32) {
        GUIINT v = 0;
        getRawData(v);
        x = double(v >> shift);   // signed: the mask is not applied
    } else if (elemType == GW_FLOAT32) {
        x = 0;
        getRawData(x);
    } else {
        GUIUINT v = 0;
        getRawData(v);
        if (mask != 0) v = (v & mask) >> shift;
        x = double(v);
    }
    physical = (double(a) * x * x + double(b) * x + double(c)) / (double(d) * x * x + double(e) * x + double(f));
}

void CDataMeas::getQuantData(GUIUINT& out) const { out = disp_trunc_u32(physical); }
void CDataMeas::getQuantData(GUIINT& out) const { out = disp_trunc_s32(physical); }

bool CDataMeas::getMeasUpdateState()
{
    if (!take("CData::getMeasUpdateState semTake failed.")) return false;
    const bool v = valid != 0;
    semGive(lock);
    return v;
}

void CDataMeas::setTimeout()
{
    if (!take("CDataMeas::setTimeout semTake failed.")) return;
    valid = 0;
    semGive(lock);
}
