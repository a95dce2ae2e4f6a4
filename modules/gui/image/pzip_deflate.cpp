// Compressor: zlib stream wrapper, sliding window with hash chains, and the
// three match strategies (stored, fast greedy, lazy) selected by level. The
// parameters and the order of every decision follow zlib's deflate, so equal
// input and parameters give byte-identical output.
#include "gui/image/pzip.h"
#include "gui/image/pzip_deflate_state.h"

#include <cstring>
#include <new>

using namespace pzip;

namespace {

constexpr int kInitState = 42;
constexpr int kBusyState = 113;
constexpr int kFinishState = 666;
constexpr uint32_t kNil = 0;
constexpr int kTooFar = 4096;  // a 3-byte match farther away is not worth it
constexpr uint32_t kMaxStored = 65535;

struct Config {
    uint16_t goodLength;
    uint16_t maxLazy;
    uint16_t niceLength;
    uint16_t maxChain;
    int kind;  // 0 stored, 1 fast, 2 lazy
};

constexpr Config kConfig[10] = {
    {0, 0, 0, 0, 0},          {4, 4, 8, 4, 1},          {4, 5, 16, 8, 1},
    {4, 6, 32, 32, 1},        {4, 4, 16, 16, 2},        {8, 16, 32, 32, 2},
    {8, 16, 128, 128, 2},     {8, 32, 128, 256, 2},     {32, 128, 258, 1024, 2},
    {32, 258, 258, 4096, 2}};

DeflateInternalState* StateOf(PzipStream* strm) {
    auto* s = static_cast<DeflateInternalState*>(StateOfKind(strm, kDeflateKind));
    if (s == nullptr) return nullptr;
    if (s->status != kInitState && s->status != kBusyState && s->status != kFinishState) return nullptr;
    return s;
}

inline uint32_t MaxDist(const DeflateInternalState* s) { return s->wSize - kMinLookahead; }

inline void UpdateHash(DeflateInternalState* s, uint32_t& h, uint8_t c) {
    h = ((h << s->hashShift) ^ c) & s->hashMask;
}

// Inserts the string at str into the hash chains; returns the previous head.
inline uint32_t InsertString(DeflateInternalState* s, uint32_t str) {
    UpdateHash(s, s->insH, s->window[str + (kMinMatch - 1)]);
    uint32_t head = s->head[s->insH];
    s->prev[str & s->wMask] = uint16_t(head);
    s->head[s->insH] = uint16_t(str);
    return head;
}

// The reserve added when the output buffer grows: 1024 bytes, doubled for
// every bit of the output so far above bit 9.
uint32_t GrowthReserve(uint32_t totalOut) {
    uint32_t reserve = 1024;
    for (uint32_t t = totalOut >> 10; t != 0; t >>= 1) reserve <<= 1;
    return reserve;
}

// Makes room for the pending bytes by moving the output into a larger
// codec-owned buffer. On allocation failure the buffer stays as it was and
// only what fits will be written.
void GrowOutput(PzipStream* strm, uint32_t needed) {
    uint32_t reserve = GrowthReserve(strm->totalOut);
    uint64_t size = uint64_t(needed) + reserve;
    uint32_t written = 0;
    if (strm->outputBuffer != nullptr && strm->nextOut != nullptr && strm->nextOut >= strm->outputBuffer)
        written = uint32_t(strm->nextOut - strm->outputBuffer);
    size += written;
    if (size > 0xFFFFFFFFull) return;
    auto* fresh = new (std::nothrow) uint8_t[size];
    if (fresh == nullptr) return;
    if (written) std::memcpy(fresh, strm->outputBuffer, written);
    delete[] strm->outputBuffer;
    strm->outputBuffer = fresh;
    strm->nextOut = fresh + written;
    strm->availOut = uint32_t(size - written);
}

void FlushPending(PzipStream* strm) {
    auto* s = static_cast<DeflateInternalState*>(strm->state);
    TreesFlushBits(s);
    uint32_t len = s->pending;
    if (len > strm->availOut) GrowOutput(strm, len);
    if (len > strm->availOut) len = strm->availOut;
    if (len == 0) return;
    std::memcpy(strm->nextOut, s->pendingOut, len);
    strm->nextOut += len;
    s->pendingOut += len;
    strm->totalOut += len;
    strm->availOut -= len;
    s->pending -= len;
    if (s->pending == 0) s->pendingOut = s->pendingBuf;
}

inline void PutShortMsb(DeflateInternalState* s, uint32_t b) {
    s->pendingBuf[s->pending++] = uint8_t(b >> 8);
    s->pendingBuf[s->pending++] = uint8_t(b);
}

// Takes up to size input bytes into buf, updating the checksum.
uint32_t ReadBuf(PzipStream* strm, uint8_t* buf, uint32_t size) {
    uint32_t len = strm->availIn;
    if (len > size) len = size;
    if (len == 0) return 0;
    strm->availIn -= len;
    std::memcpy(buf, strm->nextIn, len);
    strm->adler = PzipAdler32(strm->adler, buf, len);
    strm->nextIn += len;
    strm->totalIn += len;
    return len;
}

void SlideHash(DeflateInternalState* s) {
    uint32_t wsize = s->wSize;
    for (uint32_t n = 0; n < s->hashSize; n++) {
        uint32_t m = s->head[n];
        s->head[n] = uint16_t(m >= wsize ? m - wsize : kNil);
    }
    for (uint32_t n = 0; n < wsize; n++) {
        uint32_t m = s->prev[n];
        s->prev[n] = uint16_t(m >= wsize ? m - wsize : kNil);
    }
}

// Reads input into the window, sliding it down by wSize when the current
// position gets close to its end, and hashes the strings left over from the
// previous call.
void FillWindow(DeflateInternalState* s) {
    uint32_t wsize = s->wSize;
    do {
        uint32_t more = s->windowSize - s->lookahead - s->strStart;
        if (s->strStart >= wsize + MaxDist(s)) {
            std::memcpy(s->window, s->window + wsize, wsize - more);
            s->matchStart -= wsize;
            s->strStart -= wsize;
            s->blockStart -= long(wsize);
            if (s->insert > s->strStart) s->insert = s->strStart;
            SlideHash(s);
            more += wsize;
        }
        if (s->strm->availIn == 0) break;
        uint32_t n = ReadBuf(s->strm, s->window + s->strStart + s->lookahead, more);
        s->lookahead += n;
        if (s->lookahead + s->insert >= uint32_t(kMinMatch)) {
            uint32_t str = s->strStart - s->insert;
            s->insH = s->window[str];
            UpdateHash(s, s->insH, s->window[str + 1]);
            while (s->insert) {
                UpdateHash(s, s->insH, s->window[str + kMinMatch - 1]);
                s->prev[str & s->wMask] = s->head[s->insH];
                s->head[s->insH] = uint16_t(str);
                str++;
                s->insert--;
                if (s->lookahead + s->insert < uint32_t(kMinMatch)) break;
            }
        }
    } while (s->lookahead < uint32_t(kMinLookahead) && s->strm->availIn != 0);
}

// Follows the hash chain from curMatch and returns the longest match length
// (at most the lookahead); its start goes to matchStart.
uint32_t LongestMatch(DeflateInternalState* s, uint32_t curMatch) {
    uint32_t chainLength = s->maxChainLength;
    const uint8_t* scan = s->window + s->strStart;
    int bestLen = int(s->prevLength);
    int niceMatch = s->niceMatch;
    uint32_t limit = s->strStart > MaxDist(s) ? s->strStart - MaxDist(s) : kNil;
    const uint16_t* prev = s->prev;
    uint32_t wmask = s->wMask;
    uint8_t scanEnd1 = scan[bestLen - 1];
    uint8_t scanEnd = scan[bestLen];

    if (s->prevLength >= s->goodMatch) chainLength >>= 2;
    if (uint32_t(niceMatch) > s->lookahead) niceMatch = int(s->lookahead);

    do {
        const uint8_t* match = s->window + curMatch;
        if (match[bestLen] != scanEnd || match[bestLen - 1] != scanEnd1 || match[0] != scan[0] ||
            match[1] != scan[1])
            continue;
        int len = 2;
        while (len < kMaxMatch && scan[len] == match[len]) len++;
        if (len > bestLen) {
            s->matchStart = curMatch;
            bestLen = len;
            if (len >= niceMatch) break;
            scanEnd1 = scan[bestLen - 1];
            scanEnd = scan[bestLen];
        }
    } while ((curMatch = prev[curMatch & wmask]) > limit && --chainLength != 0);

    if (uint32_t(bestLen) <= s->lookahead) return uint32_t(bestLen);
    return s->lookahead;
}

// Ends the current block; returns false when the output is full.
bool FlushBlockOnly(DeflateInternalState* s, int last) {
    TreesFlushBlock(s, s->blockStart >= 0L ? s->window + unsigned(s->blockStart) : nullptr,
                    (unsigned long)(long(s->strStart) - s->blockStart), last);
    s->blockStart = long(s->strStart);
    FlushPending(s->strm);
    return s->strm->availOut != 0;
}

// The end of the Huffman-coded strategies once the input is used up: the
// last block when finishing, else the block collected so far if it holds
// any symbols.
BlockState EndOfInput(DeflateInternalState* s, int flush) {
    if (flush == PZIP_FINISH) return FlushBlockOnly(s, 1) ? BlockState::FinishDone : BlockState::FinishStarted;
    if (s->symNext && !FlushBlockOnly(s, 0)) return BlockState::NeedMore;
    return BlockState::BlockDone;
}

// Level 0: blocks of up to 65535 bytes, the last one marked final. A full
// block is held back until more input shows it is not the last.
BlockState DeflateStored(DeflateInternalState* s, int flush) {
    for (;;) {
        if (s->storedLen == kMaxStored && s->strm->availIn != 0) {
            TreesStoredBlock(s, s->storedBuf, s->storedLen, 0);
            s->storedLen = 0;
            FlushPending(s->strm);
            if (s->strm->availOut == 0) return BlockState::NeedMore;
        }
        if (s->strm->availIn == 0) break;
        s->storedLen += ReadBuf(s->strm, s->storedBuf + s->storedLen, kMaxStored - s->storedLen);
    }
    if (flush != PZIP_FINISH) return BlockState::NeedMore;
    TreesStoredBlock(s, s->storedBuf, s->storedLen, 1);
    s->storedLen = 0;
    FlushPending(s->strm);
    return s->strm->availOut == 0 ? BlockState::FinishStarted : BlockState::FinishDone;
}

// Levels 1 to 3: greedy matching; short matches insert all their strings.
BlockState DeflateFast(DeflateInternalState* s, int flush) {
    for (;;) {
        if (s->lookahead < uint32_t(kMinLookahead)) {
            FillWindow(s);
            if (s->lookahead < uint32_t(kMinLookahead) && flush == PZIP_NO_FLUSH) return BlockState::NeedMore;
            if (s->lookahead == 0) break;
        }
        uint32_t hashHead = kNil;
        if (s->lookahead >= uint32_t(kMinMatch)) hashHead = InsertString(s, s->strStart);
        if (hashHead != kNil && s->strStart - hashHead <= MaxDist(s)) s->matchLength = LongestMatch(s, hashHead);
        bool bflush;
        if (s->matchLength >= uint32_t(kMinMatch)) {
            bflush = TallyDist(s, s->strStart - s->matchStart, s->matchLength - kMinMatch);
            s->lookahead -= s->matchLength;
            if (s->matchLength <= s->maxLazyMatch && s->lookahead >= uint32_t(kMinMatch)) {
                s->matchLength--;
                do {
                    s->strStart++;
                    InsertString(s, s->strStart);
                } while (--s->matchLength != 0);
                s->strStart++;
            } else {
                s->strStart += s->matchLength;
                s->matchLength = 0;
                s->insH = s->window[s->strStart];
                UpdateHash(s, s->insH, s->window[s->strStart + 1]);
            }
        } else {
            bflush = TallyLit(s, s->window[s->strStart]);
            s->lookahead--;
            s->strStart++;
        }
        if (bflush && !FlushBlockOnly(s, 0)) return BlockState::NeedMore;
    }
    s->insert = s->strStart < uint32_t(kMinMatch - 1) ? s->strStart : uint32_t(kMinMatch - 1);
    return EndOfInput(s, flush);
}

// Levels 4 to 9: lazy matching; a match is taken only when the match found
// at the next position is not longer.
BlockState DeflateSlow(DeflateInternalState* s, int flush) {
    for (;;) {
        if (s->lookahead < uint32_t(kMinLookahead)) {
            FillWindow(s);
            if (s->lookahead < uint32_t(kMinLookahead) && flush == PZIP_NO_FLUSH) return BlockState::NeedMore;
            if (s->lookahead == 0) break;
        }
        uint32_t hashHead = kNil;
        if (s->lookahead >= uint32_t(kMinMatch)) hashHead = InsertString(s, s->strStart);

        s->prevLength = s->matchLength;
        s->prevMatch = s->matchStart;
        s->matchLength = kMinMatch - 1;

        if (hashHead != kNil && s->prevLength < s->maxLazyMatch && s->strStart - hashHead <= MaxDist(s)) {
            s->matchLength = LongestMatch(s, hashHead);
            if (s->matchLength <= 5 &&
                (s->strategy == PZIP_FILTERED ||
                 (s->matchLength == uint32_t(kMinMatch) && s->strStart - s->matchStart > uint32_t(kTooFar)))) {
                s->matchLength = kMinMatch - 1;
            }
        }
        if (s->prevLength >= uint32_t(kMinMatch) && s->matchLength <= s->prevLength) {
            uint32_t maxInsert = s->strStart + s->lookahead - kMinMatch;
            bool bflush = TallyDist(s, s->strStart - 1 - s->prevMatch, s->prevLength - kMinMatch);
            s->lookahead -= s->prevLength - 1;
            s->prevLength -= 2;
            do {
                if (++s->strStart <= maxInsert) InsertString(s, s->strStart);
            } while (--s->prevLength != 0);
            s->matchAvailable = 0;
            s->matchLength = kMinMatch - 1;
            s->strStart++;
            if (bflush && !FlushBlockOnly(s, 0)) return BlockState::NeedMore;
        } else if (s->matchAvailable) {
            bool bflush = TallyLit(s, s->window[s->strStart - 1]);
            if (bflush) FlushBlockOnly(s, 0);
            s->strStart++;
            s->lookahead--;
            if (s->strm->availOut == 0) return BlockState::NeedMore;
        } else {
            s->matchAvailable = 1;
            s->strStart++;
            s->lookahead--;
        }
    }
    if (s->matchAvailable) {
        TallyLit(s, s->window[s->strStart - 1]);
        s->matchAvailable = 0;
    }
    s->insert = s->strStart < uint32_t(kMinMatch - 1) ? s->strStart : uint32_t(kMinMatch - 1);
    return EndOfInput(s, flush);
}

// Huffman only: every byte a literal.
BlockState DeflateHuff(DeflateInternalState* s, int flush) {
    for (;;) {
        if (s->lookahead == 0) {
            FillWindow(s);
            if (s->lookahead == 0) {
                if (flush == PZIP_NO_FLUSH) return BlockState::NeedMore;
                break;
            }
        }
        s->matchLength = 0;
        bool bflush = TallyLit(s, s->window[s->strStart]);
        s->lookahead--;
        s->strStart++;
        if (bflush && !FlushBlockOnly(s, 0)) return BlockState::NeedMore;
    }
    s->insert = 0;
    return EndOfInput(s, flush);
}

void FreeState(PzipStream* strm) {
    auto* s = static_cast<DeflateInternalState*>(strm->state);
    if (s == nullptr) return;
    delete[] s->pendingBuf;
    delete[] s->window;
    delete[] s->prev;
    delete[] s->head;
    delete[] s->symBuf;
    delete[] s->storedBuf;
    delete s;
    strm->state = nullptr;
}

void LmInit(DeflateInternalState* s) {
    std::memset(s->head, 0, s->hashSize * sizeof(uint16_t));
    const Config& c = kConfig[s->level];
    s->maxLazyMatch = c.maxLazy;
    s->goodMatch = c.goodLength;
    s->niceMatch = c.niceLength;
    s->maxChainLength = c.maxChain;
    s->strStart = 0;
    s->blockStart = 0;
    s->lookahead = 0;
    s->insert = 0;
    s->matchLength = s->prevLength = kMinMatch - 1;
    s->matchAvailable = 0;
    s->insH = 0;
    s->matchStart = 0;
    s->prevMatch = 0;
    s->storedLen = 0;
}

}  // namespace

int PzipDeflateReset(PzipStream* strm) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr) return PZIP_STREAM_ERROR;
    strm->totalIn = strm->totalOut = 0;
    strm->msg = nullptr;
    strm->dataType = PZIP_UNKNOWN;
    s->pending = 0;
    s->pendingOut = s->pendingBuf;
    s->status = kInitState;
    s->wrapDone = 0;
    strm->adler = PzipAdler32(0, nullptr, 0);
    s->lastFlush = -2;
    TreesInit(s);
    // Bytes of the window beyond the data are read by the match finder (and
    // then cut to the lookahead); zeroing them keeps the result repeatable.
    std::memset(s->window, 0, s->windowSize);
    LmInit(s);
    return PZIP_OK;
}

int PzipDeflateInit(PzipStream* strm, int level, int method, int windowBits, int memLevel, int strategy,
                    const char* version, int recordSize) {
    if (version == nullptr || recordSize != int(sizeof(PzipStream))) return PZIP_VERSION_ERROR;
    if (strm == nullptr) return PZIP_STREAM_ERROR;
    strm->msg = nullptr;
    strm->state = nullptr;
    if (level == PZIP_DEFAULT_COMPRESSION) level = 6;
    if (memLevel < 1 || memLevel > 9 || method != PZIP_DEFLATED || windowBits < 8 || windowBits > 15 ||
        level < 0 || level > 9 || strategy < 0 || strategy > PZIP_HUFFMAN_ONLY)
        return PZIP_STREAM_ERROR;
    if (windowBits == 8) windowBits = 9;  // a 256-byte window is coded as 512, as zlib does

    auto* s = new (std::nothrow) DeflateInternalState();
    if (s == nullptr) return PZIP_MEM_ERROR;
    strm->state = s;
    s->header = {strm, kDeflateKind};
    s->strm = strm;
    s->status = kInitState;
    s->wBits = uint32_t(windowBits);
    s->wSize = 1u << s->wBits;
    s->wMask = s->wSize - 1;
    s->hashBits = uint32_t(memLevel) + 7;
    s->hashSize = 1u << s->hashBits;
    s->hashMask = s->hashSize - 1;
    s->hashShift = (s->hashBits + kMinMatch - 1) / kMinMatch;
    s->windowSize = 2 * s->wSize;
    s->litBufSize = 1u << (memLevel + 6);
    // A block holds at most litBufSize - 1 symbols of at most 48 bits each,
    // or is stored from the window; header, trailer and trees come on top.
    s->pendingBufSize = s->litBufSize * 6 + s->windowSize + 1024;
    if (level == 0 && s->pendingBufSize < kMaxStored + 64) s->pendingBufSize = kMaxStored + 64;

    s->window = new (std::nothrow) uint8_t[s->windowSize];
    s->prev = new (std::nothrow) uint16_t[s->wSize]();
    s->head = new (std::nothrow) uint16_t[s->hashSize];
    s->pendingBuf = new (std::nothrow) uint8_t[s->pendingBufSize];
    s->symBuf = new (std::nothrow) uint8_t[s->litBufSize * 3];
    s->storedBuf = level == 0 ? new (std::nothrow) uint8_t[kMaxStored] : nullptr;
    if (!s->window || !s->prev || !s->head || !s->pendingBuf || !s->symBuf || (level == 0 && !s->storedBuf)) {
        s->status = kFinishState;
        FreeState(strm);
        strm->msg = "insufficient memory";
        return PZIP_MEM_ERROR;
    }
    s->symEnd = (s->litBufSize - 1) * 3;
    s->level = level;
    s->strategy = strategy;
    return PzipDeflateReset(strm);
}

int PzipDeflate(PzipStream* strm, int flush) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr || flush < 0 || flush > PZIP_FINISH || (flush != PZIP_NO_FLUSH && flush != PZIP_FINISH))
        return PZIP_STREAM_ERROR;
    if ((strm->availIn != 0 && strm->nextIn == nullptr) || (s->status == kFinishState && flush != PZIP_FINISH)) {
        strm->msg = "stream error";
        return PZIP_STREAM_ERROR;
    }
    int oldFlush = s->lastFlush;
    s->lastFlush = flush;

    if (s->pending != 0) {
        FlushPending(strm);
        if (strm->availOut == 0) {
            s->lastFlush = -1;
            return PZIP_OK;
        }
    } else if (strm->availIn == 0 && flush <= oldFlush && flush != PZIP_FINISH) {
        strm->msg = "buffer error";
        return PZIP_BUF_ERROR;
    }
    if (s->status == kFinishState && strm->availIn != 0) {
        strm->msg = "buffer error";
        return PZIP_BUF_ERROR;
    }

    if (s->status == kInitState) {
        uint32_t header = (PZIP_DEFLATED + ((s->wBits - 8) << 4)) << 8;
        uint32_t levelFlags;
        if (s->strategy >= PZIP_HUFFMAN_ONLY || s->level < 2) levelFlags = 0;
        else if (s->level < 6) levelFlags = 1;
        else if (s->level == 6) levelFlags = 2;
        else levelFlags = 3;
        header |= levelFlags << 6;
        header += 31 - (header % 31);
        PutShortMsb(s, header);
        strm->adler = PzipAdler32(0, nullptr, 0);
        s->status = kBusyState;
        FlushPending(strm);
        if (s->pending != 0) {
            s->lastFlush = -1;
            return PZIP_OK;
        }
    }

    if (strm->availIn != 0 || s->lookahead != 0 || s->storedLen != 0 ||
        (flush != PZIP_NO_FLUSH && s->status != kFinishState)) {
        BlockState bstate;
        if (s->level == 0) bstate = DeflateStored(s, flush);
        else if (s->strategy == PZIP_HUFFMAN_ONLY) bstate = DeflateHuff(s, flush);
        else if (kConfig[s->level].kind == 1) bstate = DeflateFast(s, flush);
        else bstate = DeflateSlow(s, flush);

        if (bstate == BlockState::FinishStarted || bstate == BlockState::FinishDone) s->status = kFinishState;
        if (bstate == BlockState::NeedMore || bstate == BlockState::FinishStarted) {
            if (strm->availOut == 0) s->lastFlush = -1;
            return PZIP_OK;
        }
    }

    if (flush != PZIP_FINISH) return PZIP_OK;
    if (s->wrapDone) return PZIP_STREAM_END;
    PutShortMsb(s, strm->adler >> 16);
    PutShortMsb(s, strm->adler & 0xFFFF);
    FlushPending(strm);
    s->wrapDone = 1;
    return s->pending != 0 ? PZIP_OK : PZIP_STREAM_END;
}

int PzipDeflateEnd(PzipStream* strm) {
    DeflateInternalState* s = StateOf(strm);
    if (s == nullptr) return PZIP_STREAM_ERROR;
    int status = s->status;
    FreeState(strm);
    return status == kBusyState ? PZIP_DATA_ERROR : PZIP_OK;
}
