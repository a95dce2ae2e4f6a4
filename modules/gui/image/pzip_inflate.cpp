// Decompressor: a resumable state machine that can stop at any input or
// output byte (for callers with small buffers) and a fast loop for the bulk
// of the data while both buffers have room. Matches that reach back beyond
// the current output buffer come from a sliding window kept across calls.
// Results and error texts are those of zlib's inflate.
#include "gui/image/pzip.h"
#include "gui/image/pzip_common.h"
#include "gui/image/pzip_inflate_table.h"

#include <cstring>
#include <new>

using namespace pzip;

namespace {

enum Mode {
    HEAD,
    DICTID,
    DICT,
    TYPE,
    STORED,
    COPY,
    TABLE,
    LENLENS,
    CODELENS,
    LEN,
    LENEXT,
    DIST,
    DISTEXT,
    MATCH,
    LIT,
    CHECK,
    DONE,
    BAD,
    MEM
};

struct InflateState {
    StateHeader header;
    PzipStream* strm;
    Mode mode;
    int last;             // the current block is the last one
    uint32_t check;       // running Adler-32
    uint32_t wbits;       // window size asked for at init
    uint32_t wsize;       // allocated window size (0 until first needed)
    uint32_t whave;       // valid bytes in the window
    uint32_t wnext;       // write position in the window
    uint8_t* window;
    uint64_t hold;
    unsigned bits;
    unsigned length;      // literal or match length, stored block length
    unsigned offset;      // match distance
    unsigned extra;       // extra bits still to read
    const Code* lencode;
    const Code* distcode;
    unsigned lenbits;
    unsigned distbits;
    unsigned ncode, nlen, ndist, have;
    uint16_t lens[320];
    Code codes[kTableSpace];
};

InflateState* StateOf(PzipStream* strm) {
    return static_cast<InflateState*>(StateOfKind(strm, kInflateKind));
}

// Copies the last `copy` bytes written before `end` into the window.
bool UpdateWindow(InflateState* st, const uint8_t* end, uint32_t copy) {
    if (st->window == nullptr) {
        st->window = new (std::nothrow) uint8_t[1u << st->wbits];
        if (st->window == nullptr) return false;
    }
    if (st->wsize == 0) {
        st->wsize = 1u << st->wbits;
        st->wnext = 0;
        st->whave = 0;
    }
    if (copy >= st->wsize) {
        std::memcpy(st->window, end - st->wsize, st->wsize);
        st->wnext = 0;
        st->whave = st->wsize;
        return true;
    }
    uint32_t dist = st->wsize - st->wnext;
    if (dist > copy) dist = copy;
    std::memcpy(st->window + st->wnext, end - copy, dist);
    copy -= dist;
    if (copy) {
        std::memcpy(st->window, end - copy, copy);
        st->wnext = copy;
        st->whave = st->wsize;
    } else {
        st->wnext += dist;
        if (st->wnext == st->wsize) st->wnext = 0;
        if (st->whave < st->wsize) st->whave += dist;
    }
    return true;
}

// Copies len bytes from dist bytes back in the output; may write up to 7
// bytes beyond out + len when dist >= 8 (the caller guarantees room).
inline uint8_t* CopyBack(uint8_t* out, unsigned dist, unsigned len) {
    const uint8_t* from = out - dist;
    if (dist >= 8) {
        uint8_t* end = out + len;
        while (out < end) {
            uint64_t v;
            std::memcpy(&v, from, 8);
            std::memcpy(out, &v, 8);
            out += 8;
            from += 8;
        }
        return end;
    }
    if (dist == 1) {
        std::memset(out, *from, len);
        return out + len;
    }
    while (len--) *out++ = *from++;
    return out;
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // little-endian host
}

// Decodes literal/length and distance codes while at least 8 input bytes and
// 266 output bytes are free. Leaves mode at LEN (out of room), TYPE (end of
// block) or BAD. outBeg is the start of this call's output.
void InflateFast(InflateState* st, const uint8_t*& next, unsigned& have, uint8_t*& put, unsigned& left,
                 uint8_t* outBeg) {
    const uint8_t* in = next;
    const uint8_t* inLast = next + have - 8;
    uint8_t* out = put;
    uint8_t* outLast = put + left - 266;
    uint64_t hold = st->hold;
    unsigned bits = st->bits;
    const Code* lcode = st->lencode;
    const Code* dcode = st->distcode;
    const uint64_t lmask = (1ull << st->lenbits) - 1;
    const uint64_t dmask = (1ull << st->distbits) - 1;
    const uint8_t* window = st->window;
    const unsigned wsize = st->wsize;
    const unsigned whave = st->whave;
    const unsigned wnext = st->wnext;

    while (in <= inLast && out <= outLast) {
        hold |= Load64(in) << bits;
        in += (63 - bits) >> 3;
        bits |= 56;

        Code e = lcode[hold & lmask];
        if ((e.op & 0xF0) == kOpLink) {
            hold >>= e.bits;
            bits -= e.bits;
            e = lcode[e.val + (hold & ((1u << (e.op & 15)) - 1))];
        }
        hold >>= e.bits;
        bits -= e.bits;
        if (e.op == kOpLiteral) {
            *out++ = uint8_t(e.val);
            // A second literal often fits in the bits already held.
            if (bits >= 15) {
                Code e2 = lcode[hold & lmask];
                if (e2.op == kOpLiteral) {
                    hold >>= e2.bits;
                    bits -= e2.bits;
                    *out++ = uint8_t(e2.val);
                }
            }
            continue;
        }
        if (!(e.op & kOpBase)) {
            if (e.op & kOpEnd) {
                st->mode = TYPE;
            } else {
                st->strm->msg = "invalid literal/length code";
                st->mode = BAD;
            }
            break;
        }
        unsigned len = e.val;
        unsigned op = e.op & 15;
        if (op) {
            len += unsigned(hold & ((1u << op) - 1));
            hold >>= op;
            bits -= op;
        }
        e = dcode[hold & dmask];
        if ((e.op & 0xF0) == kOpLink) {
            hold >>= e.bits;
            bits -= e.bits;
            e = dcode[e.val + (hold & ((1u << (e.op & 15)) - 1))];
        }
        hold >>= e.bits;
        bits -= e.bits;
        if (!(e.op & kOpBase)) {
            st->strm->msg = "invalid distance code";
            st->mode = BAD;
            break;
        }
        unsigned dist = e.val;
        op = e.op & 15;
        if (op) {
            dist += unsigned(hold & ((1u << op) - 1));
            hold >>= op;
            bits -= op;
        }
        unsigned produced = unsigned(out - outBeg);
        if (dist <= produced) {
            out = CopyBack(out, dist, len);
            continue;
        }
        // Part (or all) of the match lies in the window of earlier calls.
        unsigned back = dist - produced;
        if (back > whave) {
            st->strm->msg = "invalid distance too far back";
            st->mode = BAD;
            break;
        }
        const uint8_t* from;
        if (back > wnext) {
            // The window wraps: its older part sits at the end.
            unsigned tail = back - wnext;
            from = window + wsize - tail;
            unsigned n = tail < len ? tail : len;
            std::memcpy(out, from, n);
            out += n;
            len -= n;
            back -= n;
            from = window;
        } else {
            from = window + wnext - back;
        }
        if (len) {
            unsigned n = back < len ? back : len;
            std::memcpy(out, from, n);
            out += n;
            len -= n;
        }
        if (len) out = CopyBack(out, dist, len);
    }

    // Give back the whole bytes read ahead.
    unsigned unused = bits >> 3;
    in -= unused;
    bits -= unused << 3;
    hold &= (1ull << bits) - 1;
    have -= unsigned(in - next);
    next = in;
    left -= unsigned(out - put);
    put = out;
    st->hold = hold;
    st->bits = bits;
}

void ResetState(InflateState* st) {
    st->strm->totalIn = st->strm->totalOut = 0;
    st->strm->msg = nullptr;
    st->strm->adler = 1;
    st->mode = HEAD;
    st->last = 0;
    st->check = 1;
    st->hold = 0;
    st->bits = 0;
    st->wsize = 0;
    st->whave = 0;
    st->wnext = 0;
    st->lencode = st->distcode = nullptr;
}

}  // namespace

int PzipInflateInit(PzipStream* strm, int windowBits, const char* version, int recordSize) {
    if (version == nullptr || recordSize != int(sizeof(PzipStream))) return PZIP_VERSION_ERROR;
    if (strm == nullptr) return PZIP_STREAM_ERROR;
    strm->msg = nullptr;
    strm->state = nullptr;
    if (windowBits < 8 || windowBits > 15) return PZIP_STREAM_ERROR;
    auto* st = new (std::nothrow) InflateState;
    if (st == nullptr) return PZIP_MEM_ERROR;
    st->header = {strm, kInflateKind};
    st->strm = strm;
    st->window = nullptr;
    st->wbits = uint32_t(windowBits);
    strm->state = st;
    ResetState(st);
    return PZIP_OK;
}

int PzipInflateReset(PzipStream* strm) {
    InflateState* st = StateOf(strm);
    if (st == nullptr) return PZIP_STREAM_ERROR;
    ResetState(st);
    return PZIP_OK;
}

int PzipInflateEnd(PzipStream* strm) {
    InflateState* st = StateOf(strm);
    if (st == nullptr) return PZIP_STREAM_ERROR;
    delete[] st->window;
    delete st;
    strm->state = nullptr;
    return PZIP_OK;
}

int PzipInflate(PzipStream* strm, int flush) {
    InflateState* st = StateOf(strm);
    if (st == nullptr || strm->nextOut == nullptr || (strm->nextIn == nullptr && strm->availIn != 0))
        return PZIP_STREAM_ERROR;

    const uint8_t* next = strm->nextIn;
    unsigned have = strm->availIn;
    uint8_t* put = strm->nextOut;
    unsigned left = strm->availOut;
    uint8_t* const outBeg = put;
    uint8_t* checked = put;  // output up to here is in the checksum
    const unsigned in0 = have;
    const unsigned out0 = left;
    uint64_t hold = st->hold;
    unsigned bits = st->bits;
    int ret = PZIP_OK;
    unsigned copy;
    Code here;

// Input helpers: each stops the call (to resume later) when input runs out.
#define PULLBYTE()                                   \
    do {                                             \
        if (have == 0) goto leave;                   \
        have--;                                      \
        hold += uint64_t(*next++) << bits;           \
        bits += 8;                                   \
    } while (0)
#define NEEDBITS(n)                                  \
    do {                                             \
        while (bits < unsigned(n)) PULLBYTE();       \
    } while (0)
#define BITS(n) unsigned(hold & ((1ull << (n)) - 1))
#define DROPBITS(n)                                  \
    do {                                             \
        hold >>= (n);                                \
        bits -= unsigned(n);                         \
    } while (0)
#define BAD_DATA(text)                               \
    do {                                             \
        strm->msg = text;                            \
        st->mode = BAD;                              \
    } while (0)
// Decodes the next symbol of a literal/length or distance table into here
// and drops its bits, following a link into a second-level table. Nothing
// is dropped until the whole code is in hold, so a call that stops for
// input decodes the symbol again when it resumes.
#define DECODE(table, rootBits)                                                             \
    do {                                                                                    \
        for (;;) {                                                                          \
            here = (table)[BITS(rootBits)];                                                 \
            if (here.bits <= bits) break;                                                   \
            PULLBYTE();                                                                     \
        }                                                                                   \
        if ((here.op & 0xF0) == kOpLink) {                                                  \
            Code link = here;                                                               \
            for (;;) {                                                                      \
                here = (table)[link.val + (BITS(link.bits + (link.op & 15)) >> link.bits)]; \
                if (unsigned(link.bits + here.bits) <= bits) break;                         \
                PULLBYTE();                                                                 \
            }                                                                               \
            DROPBITS(link.bits);                                                            \
        }                                                                                   \
        DROPBITS(here.bits);                                                                \
    } while (0)

    for (;;) {
        switch (st->mode) {
        case HEAD: {
            NEEDBITS(16);
            if (((BITS(8) << 8) + (hold >> 8 & 0xFF)) % 31) {
                BAD_DATA("incorrect header check");
                break;
            }
            if (BITS(4) != PZIP_DEFLATED) {
                BAD_DATA("unknown compression method");
                break;
            }
            DROPBITS(4);
            unsigned len = BITS(4) + 8;
            if (len > 15 || len > st->wbits) {
                BAD_DATA("invalid window size");
                break;
            }
            strm->adler = st->check = 1;
            st->mode = (hold & 0x200) ? DICTID : TYPE;
            hold = 0;
            bits = 0;
            break;
        }
        case DICTID:
            NEEDBITS(32);
            {
                uint32_t id = uint32_t(hold);
                strm->adler = st->check = (id >> 24) | ((id >> 8) & 0xFF00) | ((id << 8) & 0xFF0000) | (id << 24);
            }
            hold = 0;
            bits = 0;
            st->mode = DICT;
            [[fallthrough]];
        case DICT:
            // No preset dictionary can be given to this codec.
            ret = PZIP_NEED_DICT;
            goto leave;
        case TYPE:
            if (st->last) {
                hold >>= bits & 7;
                bits -= bits & 7;
                st->mode = CHECK;
                break;
            }
            NEEDBITS(3);
            st->last = int(BITS(1));
            DROPBITS(1);
            switch (BITS(2)) {
            case 0:
                st->mode = STORED;
                break;
            case 1:
                st->lencode = FixedLenTable();
                st->lenbits = kLenRoot;
                st->distcode = FixedDistTable();
                st->distbits = kDistRoot;
                st->mode = LEN;
                break;
            case 2:
                st->mode = TABLE;
                break;
            default:
                BAD_DATA("invalid block type");
            }
            DROPBITS(2);
            break;
        case STORED:
            hold >>= bits & 7;
            bits -= bits & 7;
            NEEDBITS(32);
            if ((hold & 0xFFFF) != ((hold >> 16) ^ 0xFFFF)) {
                BAD_DATA("invalid stored block lengths");
                break;
            }
            st->length = unsigned(hold & 0xFFFF);
            hold = 0;
            bits = 0;
            st->mode = COPY;
            [[fallthrough]];
        case COPY:
            copy = st->length;
            if (copy) {
                if (copy > have) copy = have;
                if (copy > left) copy = left;
                if (copy == 0) goto leave;
                std::memcpy(put, next, copy);
                have -= copy;
                next += copy;
                left -= copy;
                put += copy;
                st->length -= copy;
                break;
            }
            st->mode = TYPE;
            break;
        case TABLE:
            NEEDBITS(14);
            st->nlen = BITS(5) + 257;
            DROPBITS(5);
            st->ndist = BITS(5) + 1;
            DROPBITS(5);
            st->ncode = BITS(4) + 4;
            DROPBITS(4);
            if (st->nlen > 286 || st->ndist > 30) {
                BAD_DATA("too many length or distance symbols");
                break;
            }
            st->have = 0;
            st->mode = LENLENS;
            [[fallthrough]];
        case LENLENS:
            while (st->have < st->ncode) {
                NEEDBITS(3);
                st->lens[kBlOrder[st->have++]] = uint16_t(BITS(3));
                DROPBITS(3);
            }
            while (st->have < 19) st->lens[kBlOrder[st->have++]] = 0;
            if (BuildTable(CodeType::Codes, st->lens, 19, st->codes, kCodesRoot, kTableSpace) < 0) {
                BAD_DATA("invalid code lengths set");
                break;
            }
            st->lencode = st->codes;
            st->lenbits = kCodesRoot;
            st->have = 0;
            st->mode = CODELENS;
            [[fallthrough]];
        case CODELENS: {
            while (st->have < st->nlen + st->ndist) {
                for (;;) {
                    here = st->lencode[BITS(st->lenbits)];
                    if (here.bits <= bits) break;
                    PULLBYTE();
                }
                if (here.val < 16) {
                    DROPBITS(here.bits);
                    st->lens[st->have++] = here.val;
                    continue;
                }
                unsigned len = 0;
                if (here.val == 16) {
                    NEEDBITS(here.bits + 2);
                    DROPBITS(here.bits);
                    if (st->have == 0) {
                        BAD_DATA("invalid bit length repeat");
                        break;
                    }
                    len = st->lens[st->have - 1];
                    copy = 3 + BITS(2);
                    DROPBITS(2);
                } else if (here.val == 17) {
                    NEEDBITS(here.bits + 3);
                    DROPBITS(here.bits);
                    copy = 3 + BITS(3);
                    DROPBITS(3);
                } else {
                    NEEDBITS(here.bits + 7);
                    DROPBITS(here.bits);
                    copy = 11 + BITS(7);
                    DROPBITS(7);
                }
                if (st->have + copy > st->nlen + st->ndist) {
                    BAD_DATA("invalid bit length repeat");
                    break;
                }
                while (copy--) st->lens[st->have++] = uint16_t(len);
            }
            if (st->mode == BAD) break;
            if (st->lens[256] == 0) {
                BAD_DATA("invalid code -- missing end-of-block");
                break;
            }
            int used = BuildTable(CodeType::Lens, st->lens, st->nlen, st->codes, kLenRoot, kTableSpace);
            if (used < 0) {
                BAD_DATA("invalid literal/lengths set");
                break;
            }
            st->lencode = st->codes;
            st->lenbits = kLenRoot;
            int dused = BuildTable(CodeType::Dists, st->lens + st->nlen, st->ndist, st->codes + used, kDistRoot,
                                   kTableSpace - unsigned(used));
            if (dused < 0) {
                BAD_DATA("invalid distances set");
                break;
            }
            st->distcode = st->codes + used;
            st->distbits = kDistRoot;
            st->mode = LEN;
            break;
        }
        case LEN:
            if (have >= 8 && left >= 266) {
                st->hold = hold;
                st->bits = bits;
                InflateFast(st, next, have, put, left, outBeg);
                hold = st->hold;
                bits = st->bits;
                break;
            }
            DECODE(st->lencode, st->lenbits);
            st->length = here.val;
            if (here.op == kOpLiteral) {
                st->mode = LIT;
                break;
            }
            if (here.op & kOpBase) {
                st->extra = here.op & 15;
                st->mode = LENEXT;
            } else if (here.op & kOpEnd) {
                st->mode = TYPE;
                break;
            } else {
                BAD_DATA("invalid literal/length code");
                break;
            }
            [[fallthrough]];
        case LENEXT:
            if (st->extra) {
                NEEDBITS(st->extra);
                st->length += BITS(st->extra);
                DROPBITS(st->extra);
            }
            st->mode = DIST;
            [[fallthrough]];
        case DIST:
            DECODE(st->distcode, st->distbits);
            if (!(here.op & kOpBase)) {
                BAD_DATA("invalid distance code");
                break;
            }
            st->offset = here.val;
            st->extra = here.op & 15;
            st->mode = DISTEXT;
            [[fallthrough]];
        case DISTEXT:
            if (st->extra) {
                NEEDBITS(st->extra);
                st->offset += BITS(st->extra);
                DROPBITS(st->extra);
            }
            st->mode = MATCH;
            [[fallthrough]];
        case MATCH: {
            if (left == 0) goto leave;
            const uint8_t* from;
            copy = unsigned(put - outBeg);
            if (st->offset > copy) {
                copy = st->offset - copy;
                if (copy > st->whave) {
                    BAD_DATA("invalid distance too far back");
                    break;
                }
                if (copy > st->wnext) {
                    copy -= st->wnext;
                    from = st->window + (st->wsize - copy);
                } else {
                    from = st->window + (st->wnext - copy);
                }
                if (copy > st->length) copy = st->length;
            } else {
                from = put - st->offset;
                copy = st->length;
            }
            if (copy > left) copy = left;
            left -= copy;
            st->length -= copy;
            do *put++ = *from++;
            while (--copy);
            if (st->length == 0) st->mode = LEN;
            break;
        }
        case LIT:
            if (left == 0) goto leave;
            *put++ = uint8_t(st->length);
            left--;
            st->mode = LEN;
            break;
        case CHECK: {
            NEEDBITS(32);
            if (put > checked) {
                st->check = PzipAdler32(st->check, checked, uint32_t(put - checked));
                strm->adler = st->check;
                checked = put;
            }
            uint32_t v = uint32_t(hold);
            uint32_t want = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
            if (want != st->check) {
                BAD_DATA("incorrect data check");
                break;
            }
            hold = 0;
            bits = 0;
            st->mode = DONE;
            [[fallthrough]];
        }
        case DONE:
            ret = PZIP_STREAM_END;
            goto leave;
        case BAD:
            ret = PZIP_DATA_ERROR;
            goto leave;
        case MEM:
        default:
            return PZIP_MEM_ERROR;
        }
    }

leave:
#undef PULLBYTE
#undef NEEDBITS
#undef BITS
#undef DROPBITS
#undef BAD_DATA
#undef DECODE
    strm->nextIn = next;
    strm->availIn = have;
    strm->nextOut = put;
    strm->availOut = left;
    st->hold = hold;
    st->bits = bits;
    unsigned outDone = out0 - left;
    // Keep the window only when a later call may need it: not when the whole
    // stream finished in this one call with the finish flag.
    if (st->wsize || (outDone != 0 && st->mode < BAD && (st->mode < CHECK || flush != PZIP_FINISH))) {
        if (!UpdateWindow(st, put, outDone)) {
            st->mode = MEM;
            return PZIP_MEM_ERROR;
        }
    }
    unsigned inDone = in0 - have;
    strm->totalIn += inDone;
    strm->totalOut += outDone;
    if (put > checked) {
        st->check = PzipAdler32(st->check, checked, uint32_t(put - checked));
        strm->adler = st->check;
    }
    strm->dataType = st->bits + (st->last ? 64u : 0u) + (st->mode == TYPE ? 128u : 0u);
    if (((inDone == 0 && outDone == 0) || flush == PZIP_FINISH) && ret == PZIP_OK) ret = PZIP_BUF_ERROR;
    return ret;
}
