// Internal state of the compressor (shared by the match finder in
// pzip_deflate.cpp and the Huffman block coder in pzip_trees.cpp).
#pragma once

#include "gui/image/pzip.h"
#include "gui/image/pzip_common.h"

#include <cstdint>

namespace pzip {

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr int kLiterals = 256;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kHeapSize = 2 * kLCodes + 1;
constexpr int kMaxBlBits = 7;
constexpr int kEndBlock = 256;

// One Huffman tree node: frequency (while building) or code (after), and the
// parent (while building) or the code length.
struct TreeNode {
    uint16_t freq;
    uint16_t code;
    uint16_t dad;
    uint16_t len;
};

struct StaticTreeDesc {
    const TreeNode* staticTree;  // the fixed tree of the format, or null
    const uint8_t* extraBits;
    int extraBase;
    int elems;
    int maxLength;
};

struct TreeDesc {
    TreeNode* dynTree;
    int maxCode;
    const StaticTreeDesc* stat;
};

enum class BlockState { NeedMore, BlockDone, FinishStarted, FinishDone };

struct DeflateInternalState {
    StateHeader header;
    PzipStream* strm;
    int status;        // kInitState, kBusyState, kFinishState
    int wrapDone;      // trailer written
    int lastFlush;
    int level;
    int strategy;

    // Pending output.
    uint8_t* pendingBuf;
    uint32_t pendingBufSize;
    uint8_t* pendingOut;
    uint32_t pending;

    // Sliding window and hash chains.
    uint32_t wBits, wSize, wMask;
    uint8_t* window;
    uint32_t windowSize;  // 2 * wSize
    uint16_t* prev;
    uint16_t* head;
    uint32_t insH;
    uint32_t hashBits, hashSize, hashMask, hashShift;
    long blockStart;
    uint32_t matchLength;
    uint32_t prevMatch;
    int matchAvailable;
    uint32_t strStart;
    uint32_t matchStart;
    uint32_t lookahead;
    uint32_t prevLength;
    uint32_t maxChainLength;
    uint32_t maxLazyMatch;  // also the longest match still inserted (fast levels)
    uint32_t goodMatch;
    int niceMatch;
    uint32_t insert;

    // Stored blocks (level 0) collect their data here.
    uint8_t* storedBuf;
    uint32_t storedLen;

    // Huffman coding.
    TreeNode dynLtree[kHeapSize];
    TreeNode dynDtree[2 * kDCodes + 1];
    TreeNode blTree[2 * kBlCodes + 1];
    TreeDesc lDesc, dDesc, blDesc;
    uint16_t blCount[kMaxBits + 1];
    int heap[2 * kLCodes + 1];
    int heapLen, heapMax;
    uint8_t depth[2 * kLCodes + 1];
    uint8_t* symBuf;
    uint32_t litBufSize;
    uint32_t symNext;
    uint32_t symEnd;
    unsigned long optLen, staticLen;
    uint32_t matches;
    uint64_t biBuf;
    int biValid;
};

// Huffman block coder (pzip_trees.cpp).
void TreesInit(DeflateInternalState* s);
void TreesFlushBlock(DeflateInternalState* s, const uint8_t* buf, unsigned long storedLen, int last);
void TreesStoredBlock(DeflateInternalState* s, const uint8_t* buf, unsigned long storedLen, int last);
void TreesFlushBits(DeflateInternalState* s);
void TreesWindup(DeflateInternalState* s);

// Code of every match length - kMinMatch and distance - 1 (distances of
// 256 and more by their upper bits, from entry 256 on), and the first value
// of each code (pzip_trees.cpp).
struct CodeTables {
    uint8_t lengthCode[256];
    uint8_t distCode[512];
    int baseLength[kLengthCodes];
    int baseDist[kDCodes];
};
extern const CodeTables kCodes;

inline int DistCode(unsigned dist) {
    return dist < 256 ? kCodes.distCode[dist] : kCodes.distCode[256 + (dist >> 7)];
}

// Records a literal; true when the symbol buffer is full (block must end).
inline bool TallyLit(DeflateInternalState* s, uint8_t c) {
    s->symBuf[s->symNext++] = 0;
    s->symBuf[s->symNext++] = 0;
    s->symBuf[s->symNext++] = c;
    s->dynLtree[c].freq++;
    return s->symNext == s->symEnd;
}

// Records a match of length - kMinMatch = lenCode at distance dist.
inline bool TallyDist(DeflateInternalState* s, unsigned dist, unsigned lenCode) {
    s->symBuf[s->symNext++] = uint8_t(dist);
    s->symBuf[s->symNext++] = uint8_t(dist >> 8);
    s->symBuf[s->symNext++] = uint8_t(lenCode);
    s->matches++;
    dist--;
    s->dynLtree[kCodes.lengthCode[lenCode] + kLiterals + 1].freq++;
    s->dynDtree[DistCode(dist)].freq++;
    return s->symNext == s->symEnd;
}

}  // namespace pzip
