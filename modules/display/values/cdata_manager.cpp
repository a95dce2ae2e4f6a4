// CDataManager: places the display's sources on shared holders, packs the
// holders into measurement lists per device and raster and subscribes them.
#include <new>

#include "display/values/cdata.h"
#include "platform/syslogx.h"

namespace {
// A list takes further channels while its request has fewer words than this
// (116 words = 464 bytes); the last placement may add a group's two words,
// which keeps the request within the gateway's 480 bytes.
constexpr uint16_t kListWordLimit = CDataList::CDATA_LIST_BYTE_LIMIT / 4;
// The lists' no-data time-out, in periods of their raster: once five
// periods (100 ms) have passed without data, the gateway reports every
// further one (status 6 to the read callback), and the values turn invalid
// at the fifth report in a row. A shorter time-out took a value that comes
// at its rate but a period late (another device's values, sent on its own
// raster) for missing data: the page's no-data status changed several times
// a second.
constexpr uint16_t kNoDataTimeoutPeriods = 5;

// Bytes of a value of the element type in a slot, 0 when lists cannot carry it.
int widthOf(uint32_t type)
{
    switch (type) {
    case GW_INT32:
    case GW_UINT32:
    case GW_FLOAT32: return 4;
    case GW_INT16:
    case GW_UINT16: return 2;
    case GW_INT8:
    case GW_UINT8:
    case GW_BOOL8: return 1;
    default: return 0;
    }
}

void freeHolders(CDataMeas* h)
{
    while (h) {
        CDataMeas* n = h->next;
        delete h;
        h = n;
    }
}
}  // namespace

const callback_list cdataman_callbacks = {{{c2cpp_readCyclic, 100},
                                           {c2cpp_stopMeas, 100},
                                           {c2cpp_startMeas, 100},
                                           {nullptr, 0},
                                           {nullptr, 0},
                                           {nullptr, 0}}};

CDataManager::CDataManager() { connection = gw_connect(&cdataman_callbacks); }

CDataManager::~CDataManager()
{
    stopMeasurement();
    if (connection) gw_disconnect(connection);
    connection = nullptr;
    freeSources();
}

CData* CDataManager::addData(display_elem_s* elem, unsigned short raster, CDataType_t kind)
{
    if (!elem) return nullptr;
    if (kind == CDATA_VALUE && !CData::containsMeasChan(elem)) return nullptr;
    if (kind == CDATA_VISIBILITY && !CData::containsVisChan(elem)) return nullptr;
    if (kind != CDATA_VALUE && kind != CDATA_VISIBILITY) return nullptr;
    auto* d = new (std::nothrow) CData(elem, kind);
    if (!d) return nullptr;
    addData(d, raster);
    return d;
}

CDataList* CDataManager::listFor(uint16_t device, uint16_t raster)
{
    for (CDataList* l = listChain; l; l = l->next)
        if (l->deviceId == device && l->raster == raster && l->requestSize < kListWordLimit) return l;
    auto* l = new (std::nothrow) CDataList;
    if (!l) return nullptr;
    l->deviceId = device;
    l->raster = raster;
    l->owner = this;
    l->next = listChain;
    listChain = l;
    ++lists;
    return l;
}

void CDataManager::addData(CData* d, unsigned short raster)
{
    if (!d) return;
    CData* equal = nullptr;
    for (CData* s = sourceChain; s && !equal; s = s->next)
        if (s->isEqualData(d)) equal = s;
    d->next = sourceChain;
    sourceChain = d;
    if (equal) {
        d->setMeas(equal->getMeas());
        return;
    }
    CDataMeas* h;
    try {
        h = d->newMeas();
    } catch (const std::exception&) {
        d->setMeas(nullptr);   // logged by the holder; the source stays without value
        return;
    }
    const int width = widthOf(h->elemType);
    CDataList* l = width ? listFor(uint16_t(d->address >> 24), raster) : nullptr;
    if (!l) {
        // No list can carry it: kept aside so that it is freed with the sources.
        h->next = unplaced;
        unplaced = h;
        return;
    }
    CDataMeas** group = width == 4 ? &l->group4 : width == 2 ? &l->group2 : &l->group1;
    uint16_t* count = width == 4 ? &l->count4 : width == 2 ? &l->count2 : &l->count1;
    if (!*group) l->requestSize = uint16_t(l->requestSize + 2);
    h->next = *group;
    *group = h;
    ++*count;
    ++l->requestSize;
}

void CDataManager::createMeaslists()
{
    for (CDataList* l = listChain; l; l = l->next) {
        if (l->deviceId == 0 || l->request) continue;
        l->slotSize = uint16_t(4 + 4 * l->count4 + 2 * l->count2 + l->count1);
        const uint16_t words = uint16_t(l->requestSize + 1);
        l->request = new (std::nothrow) uint32_t[words];
        if (!l->request) {
            syslogx(147, "CDataManager::createMeaslists(): no memory for a request of %u words", words);
            l->requestSize = 0;
            continue;
        }
        l->requestSize = uint16_t(words * 4);
        uint32_t* w = l->request;
        const struct {
            CDataMeas* head;
            int32_t width;
        } groups[] = {{l->group4, GW_SIZE4}, {l->group2, GW_SIZE2}, {l->group1, GW_SIZE1}};
        for (const auto& g : groups) {
            if (!g.head) continue;
            *w++ = uint32_t(g.width);
            for (CDataMeas* h = g.head; h; h = h->next) *w++ = h->address & 0x00FFFFFFu;
            *w++ = 0;
        }
        *w = 0;
    }
}

int CDataManager::startMeasurement()
{
    for (CDataList* l = listChain; l; l = l->next) {
        if (l->deviceId == 0 || !l->request) continue;
        l->handle = gw_setup_list(connection, l->request, l, l->requestSize, l->raster, l->deviceId, 0, 0, 1, 4,
                                  l->slotSize, kNoDataTimeoutPeriods);
    }
    return gw_start_all(connection);
}

void CDataManager::stopMeasurement()
{
    // Lists the gateway does not know (no device, or a refused set-up) are
    // freed here; the gateway confirms the others while it kills them.
    CDataList** at = &listChain;
    while (CDataList* l = *at) {
        l->state = CDL_STOP_REQUESTED;
        if (l->deviceId == 0 || l->handle == 0) {
            *at = l->next;
            replyStop(0, l);
        } else {
            at = &l->next;
        }
    }
    if (connection) gw_kill_all_lists(connection);
    listChain = nullptr;
    lists = 0;
    // Without any list no confirmation frees the sources.
    freeSources();
}

void CDataManager::replyStart(unsigned int status, CDataList* list)
{
    if (status == 0 && list) list->state = CDL_RUNNING;
}

void CDataManager::replyStop(unsigned int status, CDataList* list)
{
    if (!list || list->state != CDL_STOP_REQUESTED || status != 0) return;
    list->state = CDL_STOPPED;
    freeSources();
    freeList(list);
}

void CDataManager::freeSources()
{
    for (CData* s = sourceChain; s;) {
        CData* n = s->next;
        delete s;
        s = n;
    }
    sourceChain = nullptr;
    freeHolders(unplaced);
    unplaced = nullptr;
}

void CDataManager::freeList(CDataList* l)
{
    freeHolders(l->group4);
    freeHolders(l->group2);
    freeHolders(l->group1);
    delete[] l->request;
    delete l;
}
