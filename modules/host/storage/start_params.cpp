// Start parameters of the application manager, read from "start.cfg" of the
// device folder. A missing file or key keeps its default; a bad value is
// noted in StartParams::problems (the log service is above this layer, the
// application manager's front end logs them) and ignored.
#include "host/kernel/kernel_internal.h"

#include <arpa/inet.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
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

// The lines of the file: CR, LF and CR LF each end one (a file written on
// any system reads alike).
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

std::string lineText(int line, const char* fmt, const std::string& a, const std::string& b = "") {
    char buf[384];
    std::snprintf(buf, sizeof buf, fmt, line, a.c_str(), b.c_str());
    return buf;
}

void apply(StartParams& p, int line, const std::string& key, const std::string& value) {
    auto warn = [&p](int l, const std::string& k, const std::string& v) {
        p.problems.push_back(lineText(l, "start.cfg line %d: bad value '%.128s' for %.64s (default kept)", v, k));
    };
    long n = 0;
    if (key == "pid") {
        if (parseNumber(value, 0, 63, &n)) p.pid = static_cast<uint8_t>(n);
        else warn(line, key, value);
    } else if (key == "ip" || key == "modem_ip") {
        in_addr a{};
        if (value.size() < 20 && inet_pton(AF_INET, value.c_str(), &a) == 1) (key == "ip" ? p.ip : p.modemIp) = value;
        else warn(line, key, value);
    } else if (key == "xcp_port" || key == "can0_port" || key == "can1_port") {
        if (!parseNumber(value, 1, 65535 - 1000, &n)) {
            warn(line, key, value);
            return;
        }
        uint16_t port = static_cast<uint16_t>(n);
        if (key == "xcp_port") p.xcpPort = port;
        else p.canPort[key[3] - '0'] = port;
    } else if (key == "can0_socketcand_port" || key == "can1_socketcand_port") {
        if (parseNumber(value, 0, 65535, &n)) p.socketcandPort[key[3] - '0'] = static_cast<uint16_t>(n);
        else warn(line, key, value);
    } else if (key == "port_offset") {
        if (parseNumber(value, 0, 65535 - 9863, &n)) p.portOffset = static_cast<uint16_t>(n);
        else warn(line, key, value);
    } else if (key == "can_bus") {
        if (value == "udp" || value == "loopback") p.canBus = value;
        else warn(line, key, value);
    } else if (key == "sibling_laptrig_pid" || key == "sibling_fuelcons_pid") {
        if (!parseNumber(value, 0, 255, &n)) warn(line, key, value);
        else (key == "sibling_laptrig_pid" ? p.siblingLaptrigPid : p.siblingFuelconsPid) = static_cast<int>(n);
    } else if (key.rfind("serial", 0) == 0 && parseNumber(key.substr(6), 0, 15, &n)) {
        if (p.serialPath.size() <= static_cast<size_t>(n)) p.serialPath.resize(n + 1);
        p.serialPath[n] = value;
    } else {
        p.problems.push_back(lineText(line, "start.cfg line %d: unknown key '%.64s' ignored", key));
    }
}

}  // namespace

const StartParams& loadStartParams(int appNumber) {
    StartParams p;
    p.appNumber = appNumber;
    std::vector<uint8_t> bytes;
    std::string why;
    switch (readWholeFile(deviceFolder() + "/start.cfg", &bytes, &why)) {
    case FileRead::Unreadable: p.problems.push_back("start.cfg " + why + " (defaults used)"); break;
    // most likely a file that lost its content: a missing one is the usual
    // way to run on the defaults
    case FileRead::Ok: if (bytes.empty()) p.problems.push_back("start.cfg is empty (defaults used)"); break;
    case FileRead::Missing: break;
    }
    int line = 0;
    for (std::string& raw : splitLines(std::string(bytes.begin(), bytes.end()))) {
        ++line;
        // a NUL byte would end the value early for a reader of C strings
        const size_t zero = raw.find('\0');
        if (zero != std::string::npos) {
            p.problems.push_back("start.cfg: NUL byte in line " + std::to_string(line) + " column " +
                                 std::to_string(zero + 1) + ", line ignored (default kept)");
            continue;
        }
        size_t hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        if (trim(raw).empty()) continue;
        size_t eq = raw.find('=');
        if (eq == std::string::npos) {
            p.problems.push_back(lineText(line, "start.cfg line %d: no '=' (ignored)%s", ""));
            continue;
        }
        apply(p, line, trim(raw.substr(0, eq)), trim(raw.substr(eq + 1)));
    }
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
