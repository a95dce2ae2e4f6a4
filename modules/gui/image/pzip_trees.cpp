// Huffman block coder of the compressor: builds the dynamic trees of a block,
// chooses stored, fixed or dynamic coding by size and writes the block. The
// tree construction (heap order, tie-breaking by depth, length limiting) is
// done exactly the classic zlib way so that output matches zlib's bit for bit.
#include "gui/image/pzip_deflate_state.h"

#include <cstring>

namespace pzip {

namespace {

constexpr uint8_t kExtraBlbits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

constexpr int kRep3To6 = 16;
constexpr int kRepz3To10 = 17;
constexpr int kRepz11To138 = 18;

constexpr unsigned BitReverse(unsigned code, int len) {
    unsigned res = 0;
    do {
        res |= code & 1;
        code >>= 1;
        res <<= 1;
    } while (--len > 0);
    return res >> 1;
}

constexpr CodeTables MakeCodeTables() {
    CodeTables t{};
    int length = 0;
    int code = 0;
    for (code = 0; code < kLengthCodes - 1; code++) {
        t.baseLength[code] = length;
        for (int n = 0; n < (1 << kLengthExtraBits[code]); n++) t.lengthCode[length++] = uint8_t(code);
    }
    // Length 258 has a code of its own, overwriting the last entry of code 27.
    t.lengthCode[length - 1] = uint8_t(code);
    int dist = 0;
    for (code = 0; code < 16; code++) {
        t.baseDist[code] = dist;
        for (int n = 0; n < (1 << kDistExtraBits[code]); n++) t.distCode[dist++] = uint8_t(code);
    }
    dist >>= 7;
    for (; code < kDCodes; code++) {
        t.baseDist[code] = dist << 7;
        for (int n = 0; n < (1 << (kDistExtraBits[code] - 7)); n++) t.distCode[256 + dist++] = uint8_t(code);
    }
    return t;
}

void GenCodes(TreeNode* tree, int maxCode, const uint16_t* blCount) {
    uint16_t nextCode[kMaxBits + 1];
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; bits++) {
        code = (code + blCount[bits - 1]) << 1;
        nextCode[bits] = uint16_t(code);
    }
    for (int n = 0; n <= maxCode; n++) {
        int len = tree[n].len;
        if (len == 0) continue;
        tree[n].code = uint16_t(BitReverse(nextCode[len]++, len));
    }
}

struct StaticTrees {
    TreeNode ltree[kLCodes + 2];
    TreeNode dtree[kDCodes];
    StaticTrees() {
        std::memset(ltree, 0, sizeof ltree);
        std::memset(dtree, 0, sizeof dtree);
        uint16_t blCount[kMaxBits + 1] = {};
        int n = 0;
        while (n <= 143) ltree[n++].len = 8, blCount[8]++;
        while (n <= 255) ltree[n++].len = 9, blCount[9]++;
        while (n <= 279) ltree[n++].len = 7, blCount[7]++;
        while (n <= 287) ltree[n++].len = 8, blCount[8]++;
        GenCodes(ltree, kLCodes + 1, blCount);
        for (n = 0; n < kDCodes; n++) {
            dtree[n].len = 5;
            dtree[n].code = uint16_t(BitReverse(unsigned(n), 5));
        }
    }
};

const StaticTrees kStatic;

const StaticTreeDesc kStaticLDesc = {kStatic.ltree, kLengthExtraBits, kLiterals + 1, kLCodes, kMaxBits};
const StaticTreeDesc kStaticDDesc = {kStatic.dtree, kDistExtraBits, 0, kDCodes, kMaxBits};
const StaticTreeDesc kStaticBlDesc = {nullptr, kExtraBlbits, 0, kBlCodes, kMaxBlBits};

// ---- bit output ----------------------------------------------------------------
inline void PutByte(DeflateInternalState* s, uint8_t c) { s->pendingBuf[s->pending++] = c; }

inline void SendBits(DeflateInternalState* s, unsigned value, int length) {
    s->biBuf |= uint64_t(value) << s->biValid;
    s->biValid += length;
    if (s->biValid >= 32) {
        uint32_t w = uint32_t(s->biBuf);
        uint8_t* p = s->pendingBuf + s->pending;
        p[0] = uint8_t(w);
        p[1] = uint8_t(w >> 8);
        p[2] = uint8_t(w >> 16);
        p[3] = uint8_t(w >> 24);
        s->pending += 4;
        s->biBuf >>= 32;
        s->biValid -= 32;
    }
}

inline void SendCode(DeflateInternalState* s, int c, const TreeNode* tree) {
    SendBits(s, tree[c].code, tree[c].len);
}

void InitBlock(DeflateInternalState* s) {
    for (int n = 0; n < kLCodes; n++) s->dynLtree[n].freq = 0;
    for (int n = 0; n < kDCodes; n++) s->dynDtree[n].freq = 0;
    for (int n = 0; n < kBlCodes; n++) s->blTree[n].freq = 0;
    s->dynLtree[kEndBlock].freq = 1;
    s->optLen = s->staticLen = 0;
    s->symNext = s->matches = 0;
}

// ---- tree construction -----------------------------------------------------------
inline bool Smaller(const TreeNode* tree, int n, int m, const uint8_t* depth) {
    return tree[n].freq < tree[m].freq || (tree[n].freq == tree[m].freq && depth[n] <= depth[m]);
}

void PqDownHeap(DeflateInternalState* s, const TreeNode* tree, int k) {
    int v = s->heap[k];
    int j = k << 1;
    while (j <= s->heapLen) {
        if (j < s->heapLen && Smaller(tree, s->heap[j + 1], s->heap[j], s->depth)) j++;
        if (Smaller(tree, v, s->heap[j], s->depth)) break;
        s->heap[k] = s->heap[j];
        k = j;
        j <<= 1;
    }
    s->heap[k] = v;
}

// Computes the code lengths from the built tree, limiting them to the
// descriptor's maximum, and adds the block's coded sizes to optLen/staticLen.
void GenBitlen(DeflateInternalState* s, TreeDesc* desc) {
    TreeNode* tree = desc->dynTree;
    int maxCode = desc->maxCode;
    const TreeNode* stree = desc->stat->staticTree;
    const uint8_t* extra = desc->stat->extraBits;
    int base = desc->stat->extraBase;
    int maxLength = desc->stat->maxLength;
    int h;
    int overflow = 0;

    for (int bits = 0; bits <= kMaxBits; bits++) s->blCount[bits] = 0;
    tree[s->heap[s->heapMax]].len = 0;  // root

    for (h = s->heapMax + 1; h < kHeapSize; h++) {
        int n = s->heap[h];
        int bits = tree[tree[n].dad].len + 1;
        if (bits > maxLength) bits = maxLength, overflow++;
        tree[n].len = uint16_t(bits);
        if (n > maxCode) continue;  // inner node
        s->blCount[bits]++;
        int xbits = n >= base ? extra[n - base] : 0;
        unsigned f = tree[n].freq;
        s->optLen += (unsigned long)f * unsigned(bits + xbits);
        if (stree) s->staticLen += (unsigned long)f * unsigned(stree[n].len + xbits);
    }
    if (overflow == 0) return;

    // Move leaves up from the deepest level until the lengths fit.
    do {
        int bits = maxLength - 1;
        while (s->blCount[bits] == 0) bits--;
        s->blCount[bits]--;
        s->blCount[bits + 1] += 2;
        s->blCount[maxLength]--;
        overflow -= 2;
    } while (overflow > 0);

    for (int bits = maxLength; bits != 0; bits--) {
        int n = s->blCount[bits];
        while (n != 0) {
            int m = s->heap[--h];
            if (m > maxCode) continue;
            if (unsigned(tree[m].len) != unsigned(bits)) {
                s->optLen += ((unsigned long)bits - tree[m].len) * tree[m].freq;
                tree[m].len = uint16_t(bits);
            }
            n--;
        }
    }
}

void BuildTree(DeflateInternalState* s, TreeDesc* desc) {
    TreeNode* tree = desc->dynTree;
    const TreeNode* stree = desc->stat->staticTree;
    int elems = desc->stat->elems;
    int maxCode = -1;
    int node;

    s->heapLen = 0;
    s->heapMax = kHeapSize;
    for (int n = 0; n < elems; n++) {
        if (tree[n].freq != 0) {
            s->heap[++s->heapLen] = maxCode = n;
            s->depth[n] = 0;
        } else {
            tree[n].len = 0;
        }
    }
    // At least two codes of non-zero frequency, so that a code exists.
    while (s->heapLen < 2) {
        node = s->heap[++s->heapLen] = (maxCode < 2 ? ++maxCode : 0);
        tree[node].freq = 1;
        s->depth[node] = 0;
        s->optLen--;
        if (stree) s->staticLen -= stree[node].len;
    }
    desc->maxCode = maxCode;

    for (int n = s->heapLen / 2; n >= 1; n--) PqDownHeap(s, tree, n);

    node = elems;
    do {
        int n = s->heap[1];
        s->heap[1] = s->heap[s->heapLen--];
        PqDownHeap(s, tree, 1);
        int m = s->heap[1];
        s->heap[--s->heapMax] = n;
        s->heap[--s->heapMax] = m;
        tree[node].freq = uint16_t(tree[n].freq + tree[m].freq);
        s->depth[node] = uint8_t((s->depth[n] >= s->depth[m] ? s->depth[n] : s->depth[m]) + 1);
        tree[n].dad = tree[m].dad = uint16_t(node);
        s->heap[1] = node++;
        PqDownHeap(s, tree, 1);
    } while (s->heapLen >= 2);
    s->heap[--s->heapMax] = s->heap[1];

    GenBitlen(s, desc);
    GenCodes(tree, maxCode, s->blCount);
}

// Counts the run-length coded lengths of a tree into the bit-length tree.
void ScanTree(DeflateInternalState* s, TreeNode* tree, int maxCode) {
    int prevlen = -1;
    int nextlen = tree[0].len;
    int count = 0;
    int maxCount = 7;
    int minCount = 4;
    if (nextlen == 0) maxCount = 138, minCount = 3;
    tree[maxCode + 1].len = 0xFFFF;  // guard
    for (int n = 0; n <= maxCode; n++) {
        int curlen = nextlen;
        nextlen = tree[n + 1].len;
        if (++count < maxCount && curlen == nextlen) continue;
        if (count < minCount) {
            s->blTree[curlen].freq = uint16_t(s->blTree[curlen].freq + count);
        } else if (curlen != 0) {
            if (curlen != prevlen) s->blTree[curlen].freq++;
            s->blTree[kRep3To6].freq++;
        } else if (count <= 10) {
            s->blTree[kRepz3To10].freq++;
        } else {
            s->blTree[kRepz11To138].freq++;
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) maxCount = 138, minCount = 3;
        else if (curlen == nextlen) maxCount = 6, minCount = 3;
        else maxCount = 7, minCount = 4;
    }
}

void SendTree(DeflateInternalState* s, const TreeNode* tree, int maxCode) {
    int prevlen = -1;
    int nextlen = tree[0].len;
    int count = 0;
    int maxCount = 7;
    int minCount = 4;
    if (nextlen == 0) maxCount = 138, minCount = 3;
    for (int n = 0; n <= maxCode; n++) {
        int curlen = nextlen;
        nextlen = tree[n + 1].len;
        if (++count < maxCount && curlen == nextlen) continue;
        if (count < minCount) {
            do SendCode(s, curlen, s->blTree);
            while (--count != 0);
        } else if (curlen != 0) {
            if (curlen != prevlen) {
                SendCode(s, curlen, s->blTree);
                count--;
            }
            SendCode(s, kRep3To6, s->blTree);
            SendBits(s, unsigned(count - 3), 2);
        } else if (count <= 10) {
            SendCode(s, kRepz3To10, s->blTree);
            SendBits(s, unsigned(count - 3), 3);
        } else {
            SendCode(s, kRepz11To138, s->blTree);
            SendBits(s, unsigned(count - 11), 7);
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0) maxCount = 138, minCount = 3;
        else if (curlen == nextlen) maxCount = 6, minCount = 3;
        else maxCount = 7, minCount = 4;
    }
}

int BuildBlTree(DeflateInternalState* s) {
    ScanTree(s, s->dynLtree, s->lDesc.maxCode);
    ScanTree(s, s->dynDtree, s->dDesc.maxCode);
    BuildTree(s, &s->blDesc);
    int maxBlindex;
    for (maxBlindex = kBlCodes - 1; maxBlindex >= 3; maxBlindex--) {
        if (s->blTree[kBlOrder[maxBlindex]].len != 0) break;
    }
    s->optLen += 3 * ((unsigned long)maxBlindex + 1) + 5 + 5 + 4;
    return maxBlindex;
}

void SendAllTrees(DeflateInternalState* s, int lcodes, int dcodes, int blcodes) {
    SendBits(s, unsigned(lcodes - 257), 5);
    SendBits(s, unsigned(dcodes - 1), 5);
    SendBits(s, unsigned(blcodes - 4), 4);
    for (int rank = 0; rank < blcodes; rank++) SendBits(s, s->blTree[kBlOrder[rank]].len, 3);
    SendTree(s, s->dynLtree, lcodes - 1);
    SendTree(s, s->dynDtree, dcodes - 1);
}

void CompressBlock(DeflateInternalState* s, const TreeNode* ltree, const TreeNode* dtree) {
    uint32_t sx = 0;
    while (sx < s->symNext) {
        unsigned dist = s->symBuf[sx] | unsigned(s->symBuf[sx + 1]) << 8;
        unsigned lc = s->symBuf[sx + 2];
        sx += 3;
        if (dist == 0) {
            SendCode(s, int(lc), ltree);
        } else {
            int code = kCodes.lengthCode[lc];
            SendCode(s, code + kLiterals + 1, ltree);
            int extra = kLengthExtraBits[code];
            if (extra != 0) SendBits(s, lc - unsigned(kCodes.baseLength[code]), extra);
            dist--;
            code = DistCode(dist);
            SendCode(s, code, dtree);
            extra = kDistExtraBits[code];
            if (extra != 0) SendBits(s, dist - unsigned(kCodes.baseDist[code]), extra);
        }
    }
    SendCode(s, kEndBlock, ltree);
}

// Text when the block holds only printable, TAB, LF and CR bytes (and at
// least one of them), binary when any "black-listed" control byte occurs.
uint32_t DetectDataType(DeflateInternalState* s) {
    unsigned long blockMask = 0xF3FFC07FUL;
    for (int n = 0; n <= 31; n++, blockMask >>= 1) {
        if ((blockMask & 1) && s->dynLtree[n].freq != 0) return PZIP_BINARY;
    }
    if (s->dynLtree[9].freq != 0 || s->dynLtree[10].freq != 0 || s->dynLtree[13].freq != 0) return PZIP_TEXT;
    for (int n = 32; n < kLiterals; n++) {
        if (s->dynLtree[n].freq != 0) return PZIP_TEXT;
    }
    return PZIP_BINARY;
}

}  // namespace

// Built at compile time, so the tables are ready before any other static
// object of the codec is.
constinit const CodeTables kCodes = MakeCodeTables();

void TreesInit(DeflateInternalState* s) {
    s->lDesc = {s->dynLtree, 0, &kStaticLDesc};
    s->dDesc = {s->dynDtree, 0, &kStaticDDesc};
    s->blDesc = {s->blTree, 0, &kStaticBlDesc};
    s->biBuf = 0;
    s->biValid = 0;
    InitBlock(s);
}

// Moves the complete bytes of the bit buffer into the pending output.
void TreesFlushBits(DeflateInternalState* s) {
    while (s->biValid >= 8) {
        PutByte(s, uint8_t(s->biBuf));
        s->biBuf >>= 8;
        s->biValid -= 8;
    }
}

// Pads the bit buffer to a byte boundary and moves it out.
void TreesWindup(DeflateInternalState* s) {
    TreesFlushBits(s);
    if (s->biValid > 0) PutByte(s, uint8_t(s->biBuf));
    s->biBuf = 0;
    s->biValid = 0;
}

void TreesStoredBlock(DeflateInternalState* s, const uint8_t* buf, unsigned long storedLen, int last) {
    SendBits(s, unsigned(0 << 1) + unsigned(last), 3);
    TreesWindup(s);
    PutByte(s, uint8_t(storedLen));
    PutByte(s, uint8_t(storedLen >> 8));
    PutByte(s, uint8_t(~storedLen));
    PutByte(s, uint8_t(~storedLen >> 8));
    if (storedLen) std::memcpy(s->pendingBuf + s->pending, buf, storedLen);
    s->pending += uint32_t(storedLen);
}

// Ends the current block: stored when that is smallest and the data are
// still in the window, else fixed or dynamic Huffman codes.
void TreesFlushBlock(DeflateInternalState* s, const uint8_t* buf, unsigned long storedLen, int last) {
    unsigned long optLenb, staticLenb;
    int maxBlindex = 0;
    if (s->level > 0) {
        if (s->strm->dataType == PZIP_UNKNOWN) s->strm->dataType = DetectDataType(s);
        BuildTree(s, &s->lDesc);
        BuildTree(s, &s->dDesc);
        maxBlindex = BuildBlTree(s);
        optLenb = (s->optLen + 3 + 7) >> 3;
        staticLenb = (s->staticLen + 3 + 7) >> 3;
        if (staticLenb <= optLenb) optLenb = staticLenb;
    } else {
        optLenb = staticLenb = storedLen + 5;
    }
    if (storedLen + 4 <= optLenb && buf != nullptr) {
        TreesStoredBlock(s, buf, storedLen, last);
    } else if (staticLenb == optLenb) {
        SendBits(s, (1u << 1) + unsigned(last), 3);
        CompressBlock(s, kStatic.ltree, kStatic.dtree);
    } else {
        SendBits(s, (2u << 1) + unsigned(last), 3);
        SendAllTrees(s, s->lDesc.maxCode + 1, s->dDesc.maxCode + 1, maxBlindex + 1);
        CompressBlock(s, s->dynLtree, s->dynDtree);
    }
    InitBlock(s);
    if (last) TreesWindup(s);
}

}  // namespace pzip
