// Canonical Huffman decoding tables for the decompressor.
#include "gui/image/pzip_inflate_table.h"

#include "gui/image/pzip_common.h"

#include <cstring>

namespace pzip {

namespace {

constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

unsigned Reverse(unsigned code, unsigned len) {
    unsigned r = 0;
    for (unsigned i = 0; i < len; i++) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

Code SymbolEntry(CodeType type, unsigned sym, unsigned bits) {
    Code c{kOpInvalid, uint8_t(bits), 0};
    switch (type) {
    case CodeType::Codes:
        c.op = kOpLiteral;
        c.val = uint16_t(sym);
        break;
    case CodeType::Lens:
        if (sym < 256) {
            c.op = kOpLiteral;
            c.val = uint16_t(sym);
        } else if (sym == 256) {
            c.op = kOpEnd;
        } else if (sym < 286) {
            c.op = uint8_t(kOpBase | kLengthExtraBits[sym - 257]);
            c.val = kLenBase[sym - 257];
        }
        break;
    case CodeType::Dists:
        if (sym < 30) {
            c.op = uint8_t(kOpBase | kDistExtraBits[sym]);
            c.val = kDistBase[sym];
        }
        break;
    }
    return c;
}

void Fill(Code* table, unsigned tableBits, unsigned rev, unsigned len, Code entry) {
    for (unsigned i = rev; i < (1u << tableBits); i += 1u << len) table[i] = entry;
}

}  // namespace

int BuildTable(CodeType type, const uint16_t* lens, unsigned n, Code* table, unsigned root, unsigned capacity) {
    unsigned count[kMaxBits + 1] = {};
    for (unsigned sym = 0; sym < n; sym++) {
        if (lens[sym] > kMaxBits) return -1;
        count[lens[sym]]++;
    }
    unsigned max = kMaxBits;
    while (max >= 1 && count[max] == 0) max--;
    if ((1u << root) > capacity) return -1;
    const Code invalid{kOpInvalid, uint8_t(root), 0};
    for (unsigned i = 0; i < (1u << root); i++) table[i] = invalid;
    if (max == 0) {
        // No codes at all: every lookup is an invalid code. Allowed for the
        // distance code (a block of literals only).
        return type == CodeType::Codes ? -1 : int(1u << root);
    }

    int left = 1;
    for (unsigned len = 1; len <= kMaxBits; len++) {
        left <<= 1;
        left -= int(count[len]);
        if (left < 0) return -1;  // over-subscribed
    }
    if (left > 0 && (type == CodeType::Codes || max != 1)) return -1;  // incomplete

    // First code of each length (canonical order: by length, then symbol).
    unsigned nextCode[kMaxBits + 2] = {};
    unsigned code = 0;
    count[0] = 0;
    for (unsigned len = 1; len <= kMaxBits; len++) {
        code = (code + count[len - 1]) << 1;
        nextCode[len] = code;
    }

    // Size of each second-level table: its longest code decides.
    uint8_t subMax[1u << kLenRoot] = {};
    unsigned codes[320];
    for (unsigned sym = 0; sym < n; sym++) {
        unsigned len = lens[sym];
        if (len == 0) continue;
        codes[sym] = Reverse(nextCode[len]++, len);
        if (len > root) {
            unsigned prefix = codes[sym] & ((1u << root) - 1);
            if (len > subMax[prefix]) subMax[prefix] = uint8_t(len);
        }
    }

    unsigned used = 1u << root;
    uint16_t subStart[1u << kLenRoot] = {};
    for (unsigned prefix = 0; prefix < (1u << root); prefix++) {
        if (subMax[prefix] == 0) continue;
        unsigned subBits = subMax[prefix] - root;
        unsigned size = 1u << subBits;
        if (used + size > capacity || used + size > 0xFFFF) return -1;
        subStart[prefix] = uint16_t(used);
        const Code subInvalid{kOpInvalid, uint8_t(subBits), 0};
        for (unsigned i = 0; i < size; i++) table[used + i] = subInvalid;
        table[prefix] = Code{uint8_t(kOpLink | subBits), uint8_t(root), uint16_t(used)};
        used += size;
    }

    for (unsigned sym = 0; sym < n; sym++) {
        unsigned len = lens[sym];
        if (len == 0) continue;
        if (len <= root) {
            Fill(table, root, codes[sym], len, SymbolEntry(type, sym, len));
        } else {
            unsigned prefix = codes[sym] & ((1u << root) - 1);
            unsigned subBits = subMax[prefix] - root;
            Fill(table + subStart[prefix], subBits, codes[sym] >> root, len - root,
                 SymbolEntry(type, sym, len - root));
        }
    }
    return int(used);
}

namespace {

struct FixedTables {
    Code lens[1u << kLenRoot];
    Code dists[1u << kDistRoot];
    FixedTables() {
        uint16_t l[320];
        unsigned sym = 0;
        while (sym < 144) l[sym++] = 8;
        while (sym < 256) l[sym++] = 9;
        while (sym < 280) l[sym++] = 7;
        while (sym < 288) l[sym++] = 8;
        BuildTable(CodeType::Lens, l, 288, lens, kLenRoot, 1u << kLenRoot);
        for (sym = 0; sym < 32; sym++) l[sym] = 5;
        BuildTable(CodeType::Dists, l, 32, dists, kDistRoot, 1u << kDistRoot);
    }
};

const FixedTables& Fixed() {
    static const FixedTables tables;
    return tables;
}

}  // namespace

const Code* FixedLenTable() { return Fixed().lens; }
const Code* FixedDistTable() { return Fixed().dists; }

}  // namespace pzip
