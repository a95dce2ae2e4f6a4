// CAN input: compilation of the configuration into byte commands, the
// receive callback that runs them, and the time-out supervision.
//
// Every bit computation happens once in CanIn_init: a signal becomes one
// command per data byte it touches (source byte, mask, accumulator byte) and
// a final right shift, so that decoding a frame is a short walk over
// precomputed commands. Signals of a multiplexed message hang in a balanced
// tree by row value under their message.
#include "can/can_in.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "can/can_in_compiled.h"
#include "measurement/signalpage.h"
#include "measurement/seram.h"
#include "platform/can_front.h"
#include "platform/error_mgr.h"
#include "platform/syslogx.h"

CanInMailBox CanInMailBoxConf[CANIN_MAILBOXES];
CanInSignal CanInSignalConf[CANIN_SIGNALS];

namespace {

constexpr uint16_t kNotSupervised = 0xFFFF;

uint16_t canin_timeout[CANIN_SIGNALS];
uint32_t sign_ext[CANIN_SIGNALS][2];   // sign-bit mask, extension word

CanInMsg* msg_memory = nullptr;
CanInCmd* cmd_memory = nullptr;
CanInRow* tree_memory = nullptr;
unsigned msg_cnt = 0, cmd_cnt = 0, treecnt = 0;
std::atomic<bool> initialized{false};   // read by the 1 ms task, set by the loader

inline uint32_t* slots() { return signalPage()->memory_canin; }

// Other tasks read the slots as single words while this task writes them.
inline void storeSlot(unsigned ch, uint32_t v) { __atomic_store_n(&slots()[ch], v, __ATOMIC_RELAXED); }

// Writes the replacement value over as much of the slot as the signal is
// wide: the low byte up to 8 bits, the low half up to 16, the word above;
// the slot's other bytes keep what they hold. Receivers of the value rely on
// exactly this, so it is neither cut to the length nor sign-extended.
void storeReplacement(unsigned ch) {
    const CanInSignal& s = CanInSignalConf[ch];
    const uint32_t keep = s.len <= 8 ? 0xFFFFFF00u : s.len <= 16 ? 0xFFFF0000u : 0u;
    const uint32_t old = __atomic_load_n(&slots()[ch], __ATOMIC_RELAXED);
    storeSlot(ch, (old & keep) | (s.timeoutValue & ~keep));
}

void setSignExt(unsigned ch, uint32_t len, bool isSigned) {
    sign_ext[ch][0] = isSigned && len >= 1 && len <= 32 ? 1u << (len - 1) : 0;
    sign_ext[ch][1] = isSigned && len < 32 ? ~0u << len : 0;
}

bool usedSignal(const CanInSignal& s) { return s.msgIdx != CANIN_MSG_UNUSED; }

// Last data byte a field touches, or -1 when it leaves the 64-byte frame.
int lastByte(const CanInSignal& s) {
    if (s.len == 0 || s.len > 64) return -1;
    uint32_t last;
    if (!s.bigEndian) {
        last = (s.sBit + s.len - 1) >> 3;
    } else {
        uint32_t b = s.sBit & 7, f = 8 - b;
        last = (s.sBit >> 3) + (s.len <= f ? 0 : (s.len - f + 7) >> 3);
    }
    return last < CAN_MAX_PAYLOAD ? int(last) : -1;
}

// Writes the commands of one signal from cmd on; returns its last command.
CanInCmd* cmd_gen(uint32_t sBit, uint32_t len, bool bigEndian, bool isSigned, CanInCmd* cmd, unsigned ch) {
    const uint32_t b = sBit & 7, B = sBit >> 3;
    unsigned n;
    uint8_t shift;
    if (!bigEndian) {
        n = cmd_len(sBit, len);
        for (unsigned k = 0; k < n; ++k) cmd[k] = {nullptr, 0, 0xFF, uint8_t(B + k), uint8_t(k), 0};
        cmd[0].mask = uint8_t(0xFF << b);
        if ((b + len) & 7) cmd[n - 1].mask &= uint8_t(0xFF >> (8 - ((b + len) & 7)));
        shift = uint8_t(b);
    } else {
        const uint32_t f = 8 - b;
        const uint32_t L = len <= f ? B : B + ((len - f + 7) >> 3);
        n = L - B + 1;
        shift = uint8_t(8 - (len - f)) & 7;
        for (unsigned k = 0; k < n; ++k) cmd[k] = {nullptr, 0, 0xFF, uint8_t(L - k), uint8_t(k), 0};
        cmd[0].mask = uint8_t(0xFF << shift);
        if (b) cmd[n - 1].mask &= uint8_t(0xFF >> b);
    }
    for (unsigned k = 0; k + 1 < n; ++k) cmd[k].next = &cmd[k + 1];
    CanInCmd* last = &cmd[n - 1];
    last->outCh = uint16_t(ch + 1);
    last->shift = shift;
    setSignExt(ch, len, isSigned);
    return last;
}

// Runs a command list over a frame. Returns true with *lastOut set when at
// least one signal was output. A signal that needs a byte beyond the frame's
// length is not stored.
bool runList(const CanInCmd* c, const uint8_t* data, unsigned frameLen, uint32_t* lastOut) {
    unsigned __int128 acc = 0;   // room for a 64-bit field at an unaligned start bit
    bool missing = false, out = false;
    for (; c; c = c->next) {
        if (c->src < frameLen) acc |= (unsigned __int128)(data[c->src] & c->mask) << (8 * c->dst);
        else missing = true;
        if (!c->outCh) continue;
        const unsigned ch = c->outCh - 1u;
        if (!missing) {
            uint32_t v = uint32_t(acc >> c->shift);
            if (v & sign_ext[ch][0]) v += sign_ext[ch][1];
            storeSlot(ch, v);
            if (canin_timeout[ch] != kNotSupervised) canin_timeout[ch] = 0;
            *lastOut = v;
            out = true;
        }
        missing = false;
        acc = 0;
    }
    return out;
}

const CanInRow* findRow(const CanInRow* r, uint32_t value) {
    while (r && r->value != value) r = value < r->value ? r->left : r->right;
    return r;
}

void freeCompiled() {
    std::free(msg_memory);
    std::free(cmd_memory);
    std::free(tree_memory);
    msg_memory = nullptr;
    cmd_memory = nullptr;
    tree_memory = nullptr;
    msg_cnt = cmd_cnt = treecnt = 0;
}

bool allZero(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i]) return false;
    return true;
}

uint16_t configError(const char* what, unsigned ch) {
    syslogx(147, "CanIn_Init: Config Error: %s (%d)", what, int(ch));
    return 1;
}

}  // namespace

unsigned cmd_len(uint32_t sBit, uint32_t len) {
    const uint32_t s = sBit & 0xFFFF, l = len & 0xFF;
    return uint8_t(((s + l - 1) >> 3) - (s >> 3) + 1);
}

void AVLinsert(CanInRow** root, CanInRow* node) {
    node->left = node->right = node->parent = nullptr;
    node->balance = 0;
    if (!*root) {
        *root = node;
        return;
    }
    // values arrive in ascending order: the new node goes to the far right
    CanInRow* p = *root;
    while (p->right) p = p->right;
    p->right = node;
    node->parent = p;
    for (CanInRow* n = p; n; n = n->parent) {
        if (n->balance < 0) {
            n->balance = 0;
            return;
        }
        if (n->balance == 0) {
            n->balance = 1;
            continue;
        }
        // right-heavy twice: rotate left with its right child
        CanInRow* c = n->right;
        CanInRow* up = n->parent;
        n->right = c->left;
        if (c->left) c->left->parent = n;
        c->left = n;
        n->parent = c;
        c->parent = up;
        if (!up) *root = c;
        else if (up->left == n) up->left = c;
        else up->right = c;
        n->balance = c->balance = 0;
        return;
    }
}

void CanIn_initConfig() {
    for (auto& m : CanInMailBoxConf) m = {CANIN_INTF_UNUSED, CAN_ID_UNUSED, 0};
    for (auto& s : CanInSignalConf) {
        s = {};
        s.msgIdx = CANIN_MSG_UNUSED;
        s.timeout = CANIN_NO_TIMEOUT;
    }
}

uint16_t CanIn_init() {
    freeCompiled();
    initialized = false;

    for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
        const CanInSignal& s = CanInSignalConf[ch];
        setSignExt(ch, s.len, s.valueKind == CANIN_SIGNED);
        if (s.timeout == CANIN_NO_TIMEOUT || !usedSignal(s)) {
            canin_timeout[ch] = kNotSupervised;
        } else {
            canin_timeout[ch] = 0;
            storeReplacement(ch);
        }
    }

    unsigned mailboxes = 0;
    for (const auto& m : CanInMailBoxConf) mailboxes += m.intf != CANIN_INTF_UNUSED;
    if (!mailboxes) {
        syslogx(150, "CanIn_Init: empty configuration");
        initialized = true;
        return 0;
    }

    // First pass: check the order rules and count what the second pass needs.
    const unsigned boardIntf = unsigned(pinConfig_getCANmaxIntf());
    bool skip[CANIN_SIGNALS] = {};
    unsigned beyond = 0, notConfigured = 0;
    uint32_t prevMsg = 0, prevRow = 0;
    bool haveMux = false, haveMsig = false, first = true;
    for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
        const CanInSignal& s = CanInSignalConf[ch];
        if (!usedSignal(s)) continue;
        if (s.msgIdx >= CANIN_MAILBOXES) return configError("mailbox index out of range", ch);
        const uint32_t intf = CanInMailBoxConf[s.msgIdx].intf;
        if (intf >= 2 || intf >= boardIntf) {
            ++(intf >= 2 ? beyond : notConfigured);
            skip[ch] = true;
            continue;
        }
        if (lastByte(s) < 0) return configError("bit field out of range", ch);
        cmd_cnt += cmd_len(s.sBit, s.len);
        if (!first && s.msgIdx < prevMsg) return configError("mailbox index not up counting", ch);
        if (first || s.msgIdx != prevMsg) haveMux = haveMsig = false;
        first = false;
        prevMsg = s.msgIdx;
        if (s.RCType == CANIN_SIG) {
            if (haveMux) return configError("not multiplexed signal config after row counter config", ch);
        } else if (s.RCType == CANIN_MUX) {
            if (haveMux) return configError("two row counter for one msg", ch);
            haveMux = true;
        } else if (s.RCType == CANIN_MSIG) {
            if (haveMsig && s.RCValue < prevRow)
                return configError("row counter values not sorted per message", ch);
            if (!haveMsig || s.RCValue != prevRow) ++treecnt;
            if (!haveMux) return configError("multiplexed signal config before row counter config", ch);
            haveMsig = true;
            prevRow = s.RCValue;
        } else {
            return configError("unknown signal kind", ch);
        }
    }

    msg_cnt = mailboxes;
    msg_memory = static_cast<CanInMsg*>(std::calloc(msg_cnt, sizeof(CanInMsg)));
    tree_memory = static_cast<CanInRow*>(std::calloc(treecnt + 1, sizeof(CanInRow)));
    cmd_memory = static_cast<CanInCmd*>(std::calloc(cmd_cnt + 1, sizeof(CanInCmd)));
    if (!msg_memory || !tree_memory || !cmd_memory) {
        syslogx(147, "CanIn_Init: not enough memory for CanIn");
        freeCompiled();
        return 1;
    }

    // Second pass: build the lists.
    CanInMsg* msg = nullptr;
    unsigned msgs = 0, nextCmd = 0, nextRow = 0;
    CanInCmd* listTail = nullptr;   // last command of the list being built
    CanInCmd** listHead = nullptr;  // where the list being built starts
    CanInRow* row = nullptr;
    for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
        const CanInSignal& s = CanInSignalConf[ch];
        if (!usedSignal(s) || skip[ch]) continue;
        if (!msg || msg->mbIdx != s.msgIdx) {
            msg = &msg_memory[msgs++];
            msg->mbIdx = uint16_t(s.msgIdx);
            listHead = &msg->plain;
            listTail = nullptr;
            row = nullptr;
        }
        if (s.RCType == CANIN_MUX) {
            listHead = &msg->rc;
            listTail = nullptr;
        } else if (s.RCType == CANIN_MSIG && (!row || row->value != s.RCValue)) {
            row = &tree_memory[nextRow++];
            row->value = s.RCValue;
            AVLinsert(&msg->root, row);
            listHead = &row->list;
            listTail = nullptr;
        }
        CanInCmd* firstCmd = &cmd_memory[nextCmd];
        CanInCmd* last = cmd_gen(s.sBit, s.len, s.bigEndian != 0, s.valueKind == CANIN_SIGNED, firstCmd, ch);
        nextCmd += unsigned(last - firstCmd) + 1;
        if (listTail) listTail->next = firstCmd;
        else *listHead = firstCmd;
        listTail = last;
    }
    msg_cnt = msgs;

    if (beyond) {
        error_mgr_set(ERRMGR_PATH_CAN_IN, ERRMGR_TYPE_RANGE, 0);
        syslogx(147, "CanIn_Init: CanIn configured %d signals on CANs beyond the device's!!(%d)", int(beyond), 2);
    } else if (notConfigured) {
        error_mgr_set(ERRMGR_PATH_CAN_IN, ERRMGR_TYPE_NOT_CONFIGURED, 0);
        syslogx(147, "CanIn_Init: CanIn configured %d signals on CANs that are not configured (Pins)!!(%d)",
                int(notConfigured), int(boardIntf));
    } else {
        error_mgr_clear(ERRMGR_PATH_CAN_IN);
    }

    if (!allZero(&tree_memory[treecnt], sizeof(CanInRow)) || !allZero(&cmd_memory[cmd_cnt], sizeof(CanInCmd))) {
        syslogx(147, "CanIn_Init: more memory used than allocated");
        return 1;
    }

    for (unsigned i = 0; i < msg_cnt; ++i) {
        const CanInMailBox& mb = CanInMailBoxConf[msg_memory[i].mbIdx];
        const bool ext = (mb.canId & CAN_ID_EXTENDED) != 0;
        if (canRegisterRxFunc(mb.intf, ext ? 1 : 0, ext ? mb.canId & 0x1FFFFFFF : mb.canId & 0x7FF, CanInRx_msg,
                              &msg_memory[i]) != 0) {
            error_mgr_set(ERRMGR_PATH_CAN01 + mb.intf, ERRMGR_TYPE_CANID_RX_MAX, 0);
            syslogx(147, "CanIn_Init: could not bind Can message");
            return 1;
        }
    }
    syslogx(150, "CanIn_Init: CanIn successfully started (%d messages)", int(msg_cnt));
    initialized = true;
    return 0;
}

void CanInRx_msg(void* user, uint32_t, uint8_t, uint32_t lenFlags, const uint8_t* data) {
    const auto* msg = static_cast<const CanInMsg*>(user);
    const unsigned len = lenFlags & 0xFF;
    if (!msg || !data || len == 0) return;
    const unsigned frameLen = len < CAN_MAX_PAYLOAD ? len : CAN_MAX_PAYLOAD;
    uint32_t v = 0;
    runList(msg->plain, data, frameLen, &v);
    if (!msg->rc) return;
    uint32_t rowValue = 0;
    if (!runList(msg->rc, data, frameLen, &rowValue)) return;   // row counter not carried
    if (const CanInRow* r = findRow(msg->root, rowValue)) runList(r->list, data, frameLen, &v);
}

void CanIn_supervisor_1ms() {
    if (!initialized) return;
    for (unsigned ch = 0; ch < CANIN_SIGNALS; ++ch) {
        uint16_t& age = canin_timeout[ch];
        if (age == kNotSupervised || age >= CanInSignalConf[ch].timeout) continue;
        if (++age == CanInSignalConf[ch].timeout) storeReplacement(ch);
    }
}

bool CanIn_initialized() { return initialized; }

void CanIn_resetForTest() {
    freeCompiled();
    initialized = false;
    CanIn_initConfig();
    for (auto& t : canin_timeout) t = kNotSupervised;
}

CanInMsg* CanIn_compiledMessages(unsigned* count) {
    if (count) *count = msg_cnt;
    return msg_memory;
}
