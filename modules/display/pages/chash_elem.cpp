#include "display/pages/chash_elem.h"

#include <cstddef>
#include <new>

CHashElem::CHashElem(short n)
{
    if (n > 0) table = new (std::nothrow) CDataView*[size_t(n)]();
    size = table ? n : 0;
}

CHashElem::~CHashElem() { delete[] table; }

short CHashElem::AddElem(CDataView* view)
{
    const short at = nextFree;
    if (at >= 0 && at < size && !table[at]) table[at] = view;
    ++nextFree;
    return at;
}

short CHashElem::AddElemAt(CDataView* view, short index)
{
    if (index < 0 || index >= size || table[index]) return 0;
    table[index] = view;
    return index;
}

CDataView* CHashElem::GetElem(short index) const
{
    return index >= 0 && index < size ? table[index] : nullptr;
}
