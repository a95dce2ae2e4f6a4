// Decoding tables of the decompressor: a primary table indexed by the next
// `root` input bits, with second-level tables for longer codes.
#pragma once

#include <cstdint>

namespace pzip {

// op: 0 literal (val = byte); 0x10 | n: base value val with n extra bits;
// 0x20 end of block; 0x40 | n: link to the n-bit table at index val (bits =
// root bits consumed); 0x80 invalid code. bits: bits the entry consumes.
struct Code {
    uint8_t op;
    uint8_t bits;
    uint16_t val;
};

constexpr uint8_t kOpLiteral = 0x00;
constexpr uint8_t kOpBase = 0x10;
constexpr uint8_t kOpEnd = 0x20;
constexpr uint8_t kOpLink = 0x40;
constexpr uint8_t kOpInvalid = 0x80;

enum class CodeType { Codes, Lens, Dists };

constexpr unsigned kLenRoot = 10;
constexpr unsigned kDistRoot = 8;
constexpr unsigned kCodesRoot = 7;
// Room for the three tables of one block (bounds checked by the builder).
constexpr unsigned kTableSpace = 12288;

// Builds the table for the code lengths lens[0..n-1] at table (capacity
// entries); returns the entries used, or -1 for an over-subscribed or
// incomplete set (a single one-bit code is allowed for lengths and
// distances) or when the table would not fit.
int BuildTable(CodeType type, const uint16_t* lens, unsigned n, Code* table, unsigned root,
               unsigned capacity);

// Tables of the fixed codes (root kLenRoot and kDistRoot).
const Code* FixedLenTable();
const Code* FixedDistTable();

}  // namespace pzip
