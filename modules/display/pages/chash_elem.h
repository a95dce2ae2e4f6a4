// The table of a page's views by element index.
#pragma once

#include <cstdint>

class CDataView;

class CHashElem {
public:
    explicit CHashElem(short size);
    ~CHashElem();
    CHashElem(const CHashElem&) = delete;
    CHashElem& operator=(const CHashElem&) = delete;

    // Stores at the next free index when that entry is empty; the index
    // advances in any case. Returns the index used.
    short AddElem(CDataView* view);
    // 0 without storing when the entry is taken or outside the table.
    short AddElemAt(CDataView* view, short index);
    // Null outside 0 .. size - 1.
    CDataView* GetElem(short index) const;
    short Size() const { return size; }

private:
    CDataView** table = nullptr;
    short size = 0;
    short nextFree = 0;
};
