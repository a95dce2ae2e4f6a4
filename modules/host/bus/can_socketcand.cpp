// One CAN interface served in the raw mode of the socketcand protocol on a
// TCP port of 127.0.0.1, so that tools built on socketcand clients (for
// example python-can's "socketcand" interface) can talk to the device.
//
// A session: the server greets with "< hi >"; the client opens the bus with
// "< open <name> >" (any name: the port selects the interface) and switches
// to raw mode with "< rawmode >", each answered with "< ok >". Then every
// frame on the interface reaches the client as
//   "< frame <id> <seconds>.<microseconds> <bytes> >"
// (the data bytes as one run of hexadecimal digits, empty for no data) and
// the client sends with "< send <id> <dlc> <byte> ... >". Identifiers are
// hexadecimal, three digits for standard and eight for extended ones (an id
// above 0x7FF or written with more than three digits is extended). Classic
// frames only: CAN FD frames stay on the UDP bus.
//
// One thread serves the listening socket and all clients. Frames to clients
// are queued per client and written by that thread, so the raster task that
// sends never blocks; a client that does not read loses frames beyond
// kMaxPending bytes.
//
// Tools come and go without closing (a laptop unplugged): TCP keepalive and a
// bound on unacknowledged data let the kernel end such connections after
// about 20 s. A tool that only listens sends nothing for hours and is as alive
// as one that talks, so a port whose kMaxClients places are all taken never
// throws a client out: it refuses the newcomer, after ending any client whose
// connection is already over.
//
// python-can reads each answer with one receive and wants exactly "< ok >"
// after "< rawmode >", so a client's frames wait behind that answer until the
// client speaks again or has had kAnswerAlone to take it.
#include "host/bus/can_internal.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace host::detail {

namespace {
constexpr size_t kMaxLine = 1024;         // longest command a client may send
constexpr size_t kMaxPending = 256 * 1024;
constexpr int kMaxClients = 16;
// A silent client is probed after 10 s, then every 2 s. The user timeout
// overrides the probe count: the kernel ends the connection once probes have
// gone unanswered or data unacknowledged for 20 s.
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 2;
constexpr int kKeepProbes = 3;
constexpr unsigned kUnackedLimitMs = 20000;
constexpr auto kAnswerAlone = std::chrono::milliseconds(500);
constexpr int kIdlePollMs = 200;
constexpr char kPortFull[] = "< error port full >";

std::vector<std::string> words(const std::string& body) {
    std::vector<std::string> w;
    size_t i = 0;
    while (i < body.size()) {
        while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
        size_t b = i;
        while (i < body.size() && !std::isspace(static_cast<unsigned char>(body[i]))) ++i;
        if (i > b) w.push_back(body.substr(b, i - b));
    }
    return w;
}

bool parseHex(const std::string& s, size_t maxDigits, uint32_t* out) {
    if (s.empty() || s.size() > maxDigits) return false;
    uint32_t v = 0;
    for (char c : s) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v << 4 | uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    *out = v;
    return true;
}
}  // namespace

std::string socketcandFrameText(const CanFrame& f) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    char buf[128];
    const bool ext = (f.id & CAN_EFF_FLAG) != 0;
    int n = std::snprintf(buf, sizeof buf, ext ? "< frame %08X %ld.%06ld " : "< frame %03X %ld.%06ld ",
                          f.id & (ext ? CAN_EFF_MASK : 0x7FFu), static_cast<long>(ts.tv_sec),
                          static_cast<long>(ts.tv_nsec / 1000));
    for (unsigned i = 0; i < f.len && i < 8; ++i) n += std::snprintf(buf + n, sizeof buf - n, "%02X", f.data[i]);
    std::snprintf(buf + n, sizeof buf - n, " >");
    return buf;
}

bool socketcandParseSend(const std::string& body, CanFrame* out) {
    std::vector<std::string> w = words(body);
    if (w.size() < 3 || w[0] != "send") return false;
    uint32_t id = 0, dlc = 0;
    if (!parseHex(w[1], 8, &id) || id > CAN_EFF_MASK) return false;
    if (!parseHex(w[2], 1, &dlc) || dlc > 8 || w.size() != 3 + dlc) return false;
    CanFrame f;
    f.id = id > 0x7FF || w[1].size() > 3 ? id | CAN_EFF_FLAG : id;
    f.len = static_cast<uint8_t>(dlc);
    for (uint32_t i = 0; i < dlc; ++i) {
        uint32_t b = 0;
        if (!parseHex(w[3 + i], 2, &b)) return false;
        f.data[i] = static_cast<uint8_t>(b);
    }
    *out = f;
    return true;
}

SocketcandServer::SocketcandServer(unsigned interface, uint16_t port) : interface_(interface) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (listenFd_ < 0 || wakeFd_ < 0) return;
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 4) != 0) {
        std::fprintf(stderr, "CAN%u: cannot serve socketcand on TCP port %u: %s\n", interface_, port,
                     std::strerror(errno));
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    thread_ = std::thread([this] {
        serve();
        end_.note();
    });
}

void SocketcandServer::askStop() {
    stop_ = true;
    wake();
}

SocketcandServer::~SocketcandServer() {
    askStop();
    if (thread_.joinable()) thread_.join();
    for (auto& c : clients_) ::close(c->fd);
    if (listenFd_ >= 0) ::close(listenFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SocketcandServer::wake() {
    uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
        // the counter is full: the thread is woken anyway
    }
}

void SocketcandServer::publish(const CanFrame& f, const Client* except) {
    if (f.len > 8 || (f.flags & CANFD_FDF)) return;   // classic frames only
    // A blank before each frame: clients look for '<', and one that drops a
    // character after a message cut by a read boundary then drops the blank.
    const std::string text = " " + socketcandFrameText(f);
    bool any = false;
    {
        std::lock_guard<std::mutex> lk(mx_);
        for (auto& c : clients_) {
            if (!c->raw || c.get() == except) continue;
            if (c->out.size() + text.size() > kMaxPending) {
                ++dropped_;
                continue;
            }
            c->out += text;
            any = true;
        }
    }
    if (any) wake();
}

void SocketcandServer::reply(Client& c, const char* text) {
    std::lock_guard<std::mutex> lk(mx_);
    c.out += text;
}

// One "< ... >" command of a client.
void SocketcandServer::command(Client& c, const std::string& body) {
    std::vector<std::string> w = words(body);
    if (w.empty()) return;
    c.quiet = false;   // a client that speaks has taken what came before
    if (w[0] == "open" && w.size() == 2 && !c.open) {
        c.open = true;
        reply(c, "< ok >");
    } else if (w[0] == "rawmode" && c.open) {
        // The answer goes out now; the frames from here on queue behind it
        // for a moment, so that a client reading it with one receive gets
        // nothing else and a frame sent right after it reads it is not lost.
        std::string answer;
        {
            std::lock_guard<std::mutex> lk(mx_);
            answer.swap(c.out);   // earlier answers first
            c.raw = true;         // atomic: publish() reads it on the sending task
        }
        answer += "< ok >";
        c.quiet = true;
        c.quietUntil = std::chrono::steady_clock::now() + kAnswerAlone;
        sendSome(c, answer);   // a broken connection shows at the next write
    } else if (w[0] == "echo") {
        reply(c, "< echo >");
    } else if (w[0] == "send" && c.raw) {
        CanFrame f;
        if (!socketcandParseSend(body, &f)) {
            reply(c, "< error wrong frame >");
            return;
        }
        canDeliver(interface_, f);
        publish(f, &c);   // the other clients see it on the bus
    } else {
        reply(c, "< error command not supported in this mode >");
    }
}

// Reads what the client sent; false when the connection is to be closed.
bool SocketcandServer::readClient(Client& c) {
    char buf[2048];
    ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    if (n < 0) return true;
    c.in.append(buf, static_cast<size_t>(n));
    for (;;) {
        size_t open = c.in.find('<');
        if (open == std::string::npos) {
            c.in.clear();
            break;
        }
        size_t close = c.in.find('>', open);
        if (close == std::string::npos) {
            c.in.erase(0, open);
            if (c.in.size() > kMaxLine) return false;   // no end in sight: not a socketcand client
            break;
        }
        std::string body = c.in.substr(open + 1, close - open - 1);
        c.in.erase(0, close + 1);
        command(c, body);
    }
    return true;
}

bool SocketcandServer::writeClient(Client& c) {
    if (c.quiet) {
        if (std::chrono::steady_clock::now() < c.quietUntil) return true;
        c.quiet = false;
    }
    std::string chunk;
    {
        std::lock_guard<std::mutex> lk(mx_);
        chunk.swap(c.out);
    }
    return sendSome(c, chunk);
}

// Sends what the socket takes now; the rest goes back to the front of the
// client's queue. False when the connection is broken.
bool SocketcandServer::sendSome(Client& c, const std::string& chunk) {
    size_t done = 0;
    while (done < chunk.size()) {
        ssize_t n = ::send(c.fd, chunk.data() + done, chunk.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    if (done < chunk.size()) {
        std::lock_guard<std::mutex> lk(mx_);
        c.out.insert(0, chunk, done, std::string::npos);
    }
    return true;
}

void SocketcandServer::endClient(Client* c) {
    std::lock_guard<std::mutex> lk(mx_);
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (it->get() != c) continue;
        ::close(c->fd);
        clients_.erase(it);
        break;
    }
    if (refused_ > 0) {
        std::fprintf(stderr, "CAN%u: socketcand port has a free place again (%u tools refused while it was full)\n",
                     interface_, refused_);
        refused_ = 0;
    }
}

// Ends the clients whose connection is over but not yet noticed by the
// serving loop: the tool closed it (its last commands are still carried out)
// or the kernel gave it up.
void SocketcandServer::endDeadClients() {
    std::vector<Client*> all;
    {
        std::lock_guard<std::mutex> lk(mx_);
        for (auto& c : clients_) all.push_back(c.get());
    }
    for (Client* c : all) {
        tcp_info ti{};
        socklen_t len = sizeof ti;
        if (::getsockopt(c->fd, IPPROTO_TCP, TCP_INFO, &ti, &len) == 0 && ti.tcpi_state == TCP_ESTABLISHED) continue;
        // Nothing arrives after the end, so the reads soon reach it; the bound
        // only guards against a socket that keeps answering "try again".
        for (int reads = 0; reads < 1024 && readClient(*c); ++reads) {
        }
        endClient(c);
    }
}

// Tells a newcomer that the port is full and closes its connection.
void SocketcandServer::refuse(int fd) {
    if (refused_++ == 0)
        std::fprintf(stderr,
                     "CAN%u: socketcand port full (%d tools), new tools are refused until one leaves or vanishes\n",
                     interface_, kMaxClients);
    if (::send(fd, kPortFull, sizeof kPortFull - 1, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
        // it is closed below either way
    }
    // unread bytes would turn the close into a reset that may discard the answer
    char sink[256];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    ::close(fd);
}

// Takes a new client, or refuses it when every place is held by a live one.
void SocketcandServer::accept() {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    auto count = [this] {
        std::lock_guard<std::mutex> lk(mx_);
        return clients_.size();
    };
    if (count() >= kMaxClients) endDeadClients();
    if (count() >= kMaxClients) {
        refuse(fd);
        return;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnackedLimitMs, sizeof kUnackedLimitMs);
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->out = "< hi >";
    std::lock_guard<std::mutex> lk(mx_);
    clients_.push_back(std::move(c));
}

// Until the first quiet client's moment is over, at most the idle period.
int SocketcandServer::pollTimeoutMs() const {
    const auto now = std::chrono::steady_clock::now();
    int ms = kIdlePollMs;
    for (const auto& c : clients_) {
        if (!c->quiet) continue;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(c->quietUntil - now).count();
        if (left < ms) ms = left < 0 ? 0 : static_cast<int>(left);
    }
    return ms;
}

void SocketcandServer::serve() {
    while (!stop_) {
        std::vector<pollfd> fds;
        std::vector<Client*> who;
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        int timeoutMs = kIdlePollMs;
        {
            std::lock_guard<std::mutex> lk(mx_);
            for (auto& c : clients_) {
                const bool toWrite = !c->out.empty() && !c->quiet;
                fds.push_back({c->fd, static_cast<short>(POLLIN | (toWrite ? POLLOUT : 0)), 0});
                who.push_back(c.get());
            }
            timeoutMs = pollTimeoutMs();
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) continue;
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            while (::read(wakeFd_, &v, sizeof v) > 0) {
            }
        }
        std::vector<Client*> gone;
        for (size_t i = 0; i < who.size(); ++i) {
            Client& c = *who[i];
            const short ev = fds[i + 2].revents;
            bool alive = true;
            if (ev & (POLLIN | POLLHUP | POLLERR)) alive = readClient(c);
            if (alive) alive = writeClient(c);
            if (!alive) gone.push_back(&c);
        }
        for (Client* g : gone) endClient(g);
        // Accepted last: a client that left makes room before a newcomer is
        // weighed, and no client the loop above served is freed under it.
        if (fds[0].revents & POLLIN) accept();
    }
}

}  // namespace host::detail
