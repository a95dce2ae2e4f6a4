// Start parameters of the application manager, read from "start.cfg" of the
// device folder. A missing file or key keeps its default; a bad value is
// noted in StartParams::problems (the log service is above this layer, the
// application manager's front end logs them) and ignored. A key given again
// takes the later line's value.
#include "host/kernel/kernel_internal.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace host {

namespace {

std::mutex paramsMx;
StartParams params;

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Decimal, or hexadecimal after "0x": a leading zero is no octal, so that
// "xcp_port = 05555" is port 5555, as a user writing it means.
bool parseNumber(const std::string& text, long lo, long hi, long* out) {
    const std::string v = !text.empty() && text[0] == '+' ? text.substr(1) : text;
    const bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
    const std::string digits = hex ? v.substr(2) : v;
    if (digits.empty()) return false;
    for (char ch : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(ch)) : std::isdigit(static_cast<unsigned char>(ch))))
            return false;
    errno = 0;
    char* end = nullptr;
    long n = std::strtol(digits.c_str(), &end, hex ? 16 : 10);
    if (errno || *end || n < lo || n > hi) return false;
    *out = n;
    return true;
}

std::string lineText(int line, const char* fmt, const std::string& a, const std::string& b = "") {
    char buf[384];
    std::snprintf(buf, sizeof buf, fmt, line, a.c_str(), b.c_str());
    return buf;
}

// Lines that cannot be used are named up to this many, the rest counted, so
// that a large file of them does not flood the log while the device starts.
// Likewise the repeats of a key: each key's first repeat is named, of this
// many keys at most.
constexpr int kNamedProblems = 10;

// Takes the lines of start.cfg into a StartParams and notes its problems.
class StartCfgReader {
public:
    explicit StartCfgReader(StartParams& p) : p_(p) {}

    void line(int no, std::string raw) {
        // a NUL byte would end the value early for a reader of C strings
        const size_t zero = raw.find('\0');
        if (zero != std::string::npos) {
            // the key before the byte, when there is one, keeps what it had
            std::string head = raw.substr(0, zero);
            head.erase(std::min(head.find('#'), head.size()));
            const size_t eq = head.find('=');
            const std::string key = eq == std::string::npos ? std::string() : trim(head.substr(0, eq));
            refuse("start.cfg: NUL byte in line " + std::to_string(no) + " column " + std::to_string(zero + 1) +
                   ", line ignored (" + keptText(key) + " kept)");
            return;
        }
        size_t hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        if (trim(raw).empty()) return;
        size_t eq = raw.find('=');
        if (eq == std::string::npos) {
            refuse(lineText(no, "start.cfg line %d: no '=' (ignored)%s", ""));
            return;
        }
        apply(no, trim(raw.substr(0, eq)), trim(raw.substr(eq + 1)));
    }

    // The counts of what was not named.
    void finish() {
        if (refused_ > kNamedProblems)
            p_.problems.push_back("start.cfg: " + std::to_string(refused_ - kNamedProblems) + " more lines not used");
        if (repeats_ > 1)
            p_.problems.push_back("start.cfg: " + std::to_string(repeats_) +
                                  " lines repeat a key, the last line of each counts");
    }

private:
    struct Taken {
        int firstLine;
        int lastLine;   // the one whose value counts
        bool named;     // its first repeat was named
    };

    void refuse(const std::string& text) {
        if (++refused_ <= kNamedProblems) p_.problems.push_back(text);
    }

    // A value of key from line no was taken: a key given before is named
    // (its first repeat), the later line counts.
    void taken(int no, const std::string& key) {
        auto [it, isNew] = taken_.try_emplace(key, Taken{no, no, false});
        if (isNew) return;
        it->second.lastLine = no;
        ++repeats_;
        if (!it->second.named && repeatsNamed_ < kNamedProblems) {
            it->second.named = true;
            ++repeatsNamed_;
            char buf[160];
            std::snprintf(buf, sizeof buf, "start.cfg line %d: %.64s again (first in line %d), the later line counts",
                          no, key.c_str(), it->second.firstLine);
            p_.problems.push_back(buf);
        }
    }

    // What a key keeps when a line of it is not used.
    std::string keptText(const std::string& key) const {
        auto it = taken_.find(key);
        return it == taken_.end() ? "default" : "value of line " + std::to_string(it->second.lastLine);
    }

    void badValue(int no, const std::string& key, const std::string& value) {
        refuse(lineText(no, "start.cfg line %d: bad value '%.128s' for %.64s", value, key) + " (" + keptText(key) +
               " kept)");
    }

    void apply(int line, const std::string& key, const std::string& value) {
        StartParams& p = p_;
        long n = 0;
        bool ok = true;
        if (key == "pid") {
            if ((ok = parseNumber(value, 0, 63, &n))) p.pid = static_cast<uint8_t>(n);
        } else if (key == "ip" || key == "modem_ip") {
            in_addr a{};
            if ((ok = value.size() < 20 && inet_pton(AF_INET, value.c_str(), &a) == 1))
                (key == "ip" ? p.ip : p.modemIp) = value;
        } else if (key == "xcp_port" || key == "can0_port" || key == "can1_port") {
            if ((ok = parseNumber(value, 1, 65535 - 1000, &n))) {
                uint16_t port = static_cast<uint16_t>(n);
                if (key == "xcp_port") p.xcpPort = port;
                else p.canPort[key[3] - '0'] = port;
            }
        } else if (key == "can0_socketcand_port" || key == "can1_socketcand_port") {
            if ((ok = parseNumber(value, 0, 65535, &n))) p.socketcandPort[key[3] - '0'] = static_cast<uint16_t>(n);
        } else if (key == "port_offset") {
            if ((ok = parseNumber(value, 0, 65535 - 9863, &n))) p.portOffset = static_cast<uint16_t>(n);
        } else if (key == "can_bus") {
            if ((ok = value == "udp" || value == "loopback")) p.canBus = value;
        } else if (key == "sibling_laptrig_pid" || key == "sibling_fuelcons_pid") {
            if ((ok = parseNumber(value, 0, 255, &n)))
                (key == "sibling_laptrig_pid" ? p.siblingLaptrigPid : p.siblingFuelconsPid) = static_cast<int>(n);
        } else if (key.rfind("serial", 0) == 0 && parseNumber(key.substr(6), 0, 15, &n)) {
            if (p.serialPath.size() <= static_cast<size_t>(n)) p.serialPath.resize(n + 1);
            p.serialPath[n] = value;
            taken(line, "serial" + std::to_string(n));   // serial01 is serial1
            return;
        } else {
            refuse(lineText(line, "start.cfg line %d: unknown key '%.64s' ignored", key));
            return;
        }
        if (ok) taken(line, key);
        else badValue(line, key, value);
    }

    StartParams& p_;
    std::unordered_map<std::string, Taken> taken_;   // the keys whose value was taken
    int refused_ = 0, repeats_ = 0, repeatsNamed_ = 0;
};

}  // namespace

const StartParams& loadStartParams(int appNumber) {
    StartParams p;
    p.appNumber = appNumber;
    std::vector<uint8_t> bytes;
    std::string why;
    switch (readWholeFile(inDeviceFolder("start.cfg"), &bytes, &why)) {
    case FileRead::Unreadable: p.problems.push_back("start.cfg " + why + " (defaults used)"); break;
    // most likely a file that lost its content: a missing one is the usual
    // way to run on the defaults
    case FileRead::Ok: if (bytes.empty()) p.problems.push_back("start.cfg is empty (defaults used)"); break;
    case FileRead::Missing: break;
    }
    StartCfgReader reader(p);
    int line = 0;
    for (std::string& raw : textLines(std::string(bytes.begin(), bytes.end()))) reader.line(++line, std::move(raw));
    reader.finish();
    // the sibling application would have written these before we start
    uint8_t* page = applCommPage();
    if (p.siblingLaptrigPid >= 0) page[0] = static_cast<uint8_t>(p.siblingLaptrigPid);
    if (p.siblingFuelconsPid >= 0) page[1] = static_cast<uint8_t>(p.siblingFuelconsPid);
    std::lock_guard<std::mutex> lk(paramsMx);
    params = p;
    return params;
}

const StartParams& startParams() {
    std::lock_guard<std::mutex> lk(paramsMx);
    return params;
}

namespace detail {
void resetStartParams() {
    std::lock_guard<std::mutex> lk(paramsMx);
    params = StartParams{};
}
}  // namespace detail

}  // namespace host
