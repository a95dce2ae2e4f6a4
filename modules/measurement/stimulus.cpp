// Stimulus of the host inputs.
#include "measurement/stimulus.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "host/kernel/kernel.h"
#include "measurement/seram.h"
#include "measurement/catalogue.h"
#include "measurement/signalpage.h"
#include "platform/syslogx.h"

namespace {
enum Shape { CONST, SINE, RAMP, SQUARE, STEPS };

struct Channel {
    CatEntry entry;
    Shape shape;
    double a, b;
    double periodMs;
};

std::mutex gMx;
std::vector<Channel> gChannels;
uint64_t gStep = 0;

const char kBuiltIn[] =
    "n_engine      sine   8000  4000  6000\n"
    "v_vehicle     sine   150   120   30000\n"
    "gear          steps  1     6     12000\n"
    "throttle      square 100   20    4000\n"
    "t_water       ramp   80    95    60000\n"
    "t_oil         sine   110   5     45000\n"
    "t_air         const  25\n"
    "p_oil         sine   4     1.5   6000\n"
    "p_fuel        const  5\n"
    "p_brake_front square 0     60    4000\n"
    "lap_distance  ramp   0     4500  90000\n"
    "sw_brightness const  6\n";

double valueAt(const Channel& c, uint64_t ms) {
    double p = c.periodMs > 0 ? c.periodMs : 1;
    double phase = std::fmod(double(ms), p) / p;
    switch (c.shape) {
    case CONST: return c.a;
    case SINE: return c.a + c.b * std::sin(2 * M_PI * phase);
    case RAMP: return c.a + (c.b - c.a) * phase;
    case SQUARE: return phase < 0.5 ? c.a : c.b;
    case STEPS: {
        double n = std::floor(c.b - c.a) + 1;
        return c.a + std::floor(phase * n);
    }
    }
    return 0;
}

constexpr double kMaxPeriodMs = 24.0 * 3600.0 * 1000.0;   // one day

// The extreme values a shape produces all fit the variable (integer
// variables get the rounded value).
bool shapeFits(const Channel& c, const CatEntry& e) {
    double lo = c.a, hi = c.a;
    if (c.shape == SINE) lo = c.a - std::fabs(c.b), hi = c.a + std::fabs(c.b);
    else if (c.shape != CONST) lo = std::min(c.a, c.b), hi = std::max(c.a, c.b);
    if (c.shape == STEPS) hi = c.a + std::floor(c.b - c.a);
    if (!std::isfinite(lo) || !std::isfinite(hi)) return false;
    if (e.type != TE_FLOAT) lo = std::round(lo), hi = std::round(hi);
    return catalogue_valueFits(&e, lo) && catalogue_valueFits(&e, hi);
}

bool parseShape(const std::string& s, Shape* out) {
    static const struct { const char* name; Shape shape; } k[] = {
        {"const", CONST}, {"sine", SINE}, {"ramp", RAMP}, {"square", SQUARE}, {"steps", STEPS}};
    for (auto& e : k)
        if (s == e.name) {
            *out = e.shape;
            return true;
        }
    return false;
}
}  // namespace

// Lines that cannot be used are named by their line up to this many; the
// rest are counted, so that a large file of them does not fill the log queue
// while the device starts.
constexpr int kNamedRefusals = 10;

int stimulus_load(const std::string& text) {
    std::vector<Channel> chans;
    // One channel per variable: a later line for it takes the earlier one's
    // place, so the stimulus never holds more channels than there are
    // signals, however long the file. Key: the variable's address.
    struct Taken { size_t channel; int firstLine; bool named; };
    std::unordered_map<measaddr_t, Taken> taken;
    int refused = 0, repeats = 0, repeatsNamed = 0;
    auto refuse = [&refused](const char* fmt, auto... args) {
        if (++refused <= kNamedRefusals) syslogx(148, fmt, args...);
    };
    int lineNo = 0;
    for (std::string& line : host::textLines(text)) {
        ++lineNo;
        // the name would end at the NUL for the catalogue, and the rest of
        // the line be taken as its values
        if (auto zero = line.find('\0'); zero != std::string::npos) {
            refuse("stimulus: NUL byte in line %d column %zu, line ignored", lineNo, zero + 1);
            continue;
        }
        if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream ls(line);
        std::string name, shape;
        if (!(ls >> name)) continue;   // empty line
        Channel c{};
        ls >> shape >> c.a;
        if (ls.fail() || !parseShape(shape, &c.shape)) {
            refuse("stimulus: line %d not understood", lineNo);
            continue;
        }
        if (c.shape != CONST && !(ls >> c.b >> c.periodMs)) {
            refuse("stimulus: line %d not understood", lineNo);
            continue;
        }
        if (std::string extra; ls >> extra) {
            refuse("stimulus: line %d: extra word '%.32s'", lineNo, extra.c_str());
            continue;
        }
        if (c.shape != CONST && !(c.periodMs >= 1 && c.periodMs <= kMaxPeriodMs)) {
            refuse("stimulus: line %d: period %g ms not in 1 to %.0f", lineNo, c.periodMs, kMaxPeriodMs);
            continue;
        }
        if (c.shape == STEPS && !(c.b >= c.a)) {
            refuse("stimulus: line %d: steps need a <= b", lineNo);
            continue;
        }
        const CatEntry* e = catalogue_find(name.c_str(), &c.entry);
        if (!e || MEASADDR_OFFSET(e->addr) < SERAM_SIGNAL_ADDR ||
            MEASADDR_OFFSET(e->addr) >= SERAM_SIGNAL_ADDR + SERAM_SIGNAL_SIZE) {
            refuse("stimulus: line %d: %.64s is no signal-page variable", lineNo, name.c_str());
            continue;
        }
        if (!shapeFits(c, *e)) {
            refuse("stimulus: line %d: values out of the range of %.64s", lineNo, name.c_str());
            continue;
        }
        c.entry = *e;
        auto [it, isNew] = taken.try_emplace(e->addr, Taken{chans.size(), lineNo, false});
        if (isNew) {
            chans.push_back(c);
            continue;
        }
        // each variable's first repeat is named, the others only counted
        ++repeats;
        if (!it->second.named && repeatsNamed < kNamedRefusals) {
            it->second.named = true;
            ++repeatsNamed;
            syslogx(148, "stimulus: line %d: %.64s again (first in line %d), the later line counts", lineNo,
                    name.c_str(), it->second.firstLine);
        }
        chans[it->second.channel] = c;
    }
    if (refused > kNamedRefusals)
        syslogx(148, "stimulus: %d more lines not used", refused - kNamedRefusals);
    if (repeats > 1)
        syslogx(148, "stimulus: %d lines repeat a signal, the last line of each counts", repeats);
    std::lock_guard<std::mutex> lk(gMx);
    gChannels = std::move(chans);
    gStep = 0;
    return int(gChannels.size());
}

int stimulus_init() {
    std::vector<uint8_t> text;
    std::string why;
    switch (host::readWholeFile(host::inDeviceFolder("stimulus.cfg"), &text, &why)) {
    case host::FileRead::Missing:
        syslogx(148, "stimulus: stimulus.cfg not found, built-in stimulus used");
        return stimulus_load(kBuiltIn);
    case host::FileRead::Unreadable:
        syslogx(147, "stimulus: stimulus.cfg %s, built-in stimulus used", why.c_str());
        return stimulus_load(kBuiltIn);
    case host::FileRead::Ok: break;
    }
    // an empty file (or one of comments and refused lines) is most likely a
    // mistake: the inputs then stay at their defaults
    if (text.empty()) {
        syslogx(148, "stimulus: stimulus.cfg is empty, the inputs stay still");
        return stimulus_load("");
    }
    const int n = stimulus_load(std::string(text.begin(), text.end()));
    if (n == 0) syslogx(148, "stimulus: stimulus.cfg drives no signal, the inputs stay still");
    return n;
}

void stimulus_step(uint64_t ms) {
    std::lock_guard<std::mutex> lk(gMx);
    for (const Channel& c : gChannels) {
        double v = valueAt(c, ms);
        if (c.entry.type != TE_FLOAT) v = std::round(v);
        catalogue_write(&c.entry, v);
    }
    // whole-word stores: the shell and the gateway read them meanwhile
    SignalPage* sp = signalPage();
    __atomic_store_n(&sp->stim_active, uint8_t(gChannels.empty() ? 0 : 1), __ATOMIC_RELAXED);
    __atomic_store_n(&sp->stim_tick, uint32_t(ms), __ATOMIC_RELAXED);
}

void stimulus_1ms(intptr_t) { stimulus_step(gStep++); }

void stimulus_clear() {
    std::lock_guard<std::mutex> lk(gMx);
    gChannels.clear();
    gStep = 0;
}
