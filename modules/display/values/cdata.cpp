// CData: one input of a view or of the display, and its forwarders to the
// shared value holder.
#include "display/values/cdata.h"

#include <new>

#include "awm/awm.h"
#include "measurement/chandata.h"

CData::CData(display_elem_s* elem, CDataType_t k)
{
    if (!elem) return;
    kind = k;
    if (k == CDATA_VALUE) {
        if (elem->type == DISP_ELEM_ALPHANUM) {
            copyInput(elem->alphanum.ch_in, true);
            dispMode = elem->alphanum.dispmode;
            if (dispMode == DISP_VERBAL) vtab = elem->alphanum.vtab;
        } else if (elem->type == DISP_ELEM_BARGRAPH) {
            // The bar graph's a stays 0: its value is never squared.
            copyInput(elem->bargraph.ch_in, false);
        }
    } else if (k == CDATA_VISIBILITY) {
        const awm_meas_in* vis = nullptr;
        switch (elem->type) {
        case DISP_ELEM_ALPHANUM: vis = &elem->alphanum.vis_in; break;
        case DISP_ELEM_BARGRAPH: vis = &elem->bargraph.vis_in; break;
        case DISP_ELEM_PICTURE: vis = &elem->picture.vis_in; break;
        }
        if (vis) {
            copyInput(*vis, true);
            dispMode = CDATA_MODE_VISIBILITY;
        }
    }
    computeShift();
}

CData::CData(const awm_meas_in* input)
{
    kind = CDATA_INPUT;
    if (input) copyInput(*input, true);
    computeShift();
}

void CData::copyInput(const awm_meas_in& in, bool withA)
{
    address = in.adr;
    mask = in.mask;
    elemType = convDataType(TypeEnum_t(in.type));
    if (withA) a = in.quant_a;
    b = in.quant_b;
    c = in.quant_c;
    d = in.quant_d;
    e = in.quant_e;
    f = in.quant_f;
}

void CData::computeShift()
{
    shift = 0;
    if (mask == 0) return;
    for (uint32_t m = mask; !(m & 1u); m >>= 1) ++shift;
}

uint32_t CData::convDataType(TypeEnum_t type) { return ChanData::convDataType(type); }

bool CData::containsMeasChan(const display_elem_s* elem)
{
    if (!elem) return false;
    if (elem->type == DISP_ELEM_ALPHANUM) return elem->alphanum.ch_in.type != 0;
    if (elem->type == DISP_ELEM_BARGRAPH) return elem->bargraph.ch_in.type != 0;
    return false;
}

bool CData::containsVisChan(const display_elem_s* elem)
{
    if (!elem) return false;
    switch (elem->type) {
    case DISP_ELEM_ALPHANUM: return elem->alphanum.vis_mode != VIS_ALWAYS;
    case DISP_ELEM_BARGRAPH: return elem->bargraph.vis_mode != VIS_ALWAYS;
    case DISP_ELEM_PICTURE: return elem->picture.vis_mode != VIS_ALWAYS;
    }
    return false;
}

bool CData::isEqualData(const CData* o) const
{
    return o && address == o->address && elemType == o->elemType && mask == o->mask && dispMode == o->dispMode &&
           dispMode != 0;
}

CDataMeas* CData::newMeas()
{
    holder = new CDataMeas(this);
    return holder;
}

void CData::updateData()
{
    if (holder) holder->updateData();
}
void CData::getDataStr(const char* format, char* out)
{
    if (holder) holder->getDataStr(format, out);
}
void CData::getRawData(GUIUINT& out)
{
    if (holder) holder->getRawData(out);
}
void CData::getRawData(GUIINT& out)
{
    if (holder) holder->getRawData(out);
}
void CData::getRawData(double& out)
{
    if (holder) holder->getRawData(out);
}
void CData::getQuantData(double& out)
{
    if (holder) holder->getQuantData(out);
}
void CData::getQuantData(GUIUINT& out)
{
    if (holder) holder->getQuantData(out);
}
void CData::getQuantData(GUIINT& out)
{
    if (holder) holder->getQuantData(out);
}
bool CData::getMeasUpdateState() { return holder ? holder->getMeasUpdateState() : false; }
void CData::setTimeout()
{
    if (holder) holder->setTimeout();
}

// ---- conversions that never overflow -------------------------------------------

int32_t disp_round_s32(double x)
{
    const double r = awm_round(x);
    return r >= 2147483647.0 ? INT32_MAX : int32_t(r);
}

uint32_t disp_round_u32(double x)
{
    if (!(x >= 0)) return 0;
    return uint32_t(awm_round(x));
}

int32_t disp_trunc_s32(double x)
{
    if (x != x) return 0;
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return int32_t(x);
}

uint32_t disp_trunc_u32(double x)
{
    if (!(x > 0)) return 0;
    if (x >= 4294967295.0) return UINT32_MAX;
    return uint32_t(x);
}
