// Every reply matched to its own attempt, with several pingers at once. A responder in a
// network namespace of this benchmark's own (the kernel there told to ignore echo requests)
// answers each request twice, and some of them only after the pinger's time-out, so that late
// and duplicate replies keep arriving while later attempts wait. Each attempt's reply is told
// apart by its timing and its peer: the responder delays a reply by a time that the request's
// payload size chooses, so a reply can never come back sooner than that; a success sooner, or
// from another address, was a reply to some other attempt. Four threads ping at once (three
// IPv4 addresses and ::1), on raw sockets and then on ping sockets. Wrong matches must be 0.

#include "Aims.h"
#include "echoping.h"
#include "support/TestNet.h"

#include <arpa/inet.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <queue>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t TimeoutMs = 40;
// An even payload is answered after PromptMs, an odd one after LateMs: past the time-out, so
// that its reply lands early in the next attempt. Every reply is sent again DuplicateMs later.
constexpr int PromptMs = 15;
constexpr int LateMs = TimeoutMs + 6;
constexpr int DuplicateMs = 3;
constexpr int AttemptsPerPinger = 150;
constexpr auto ResponderLimit = 120s;
const std::vector<std::string> Addresses{"127.0.0.1", "127.0.0.2", "127.0.0.3", "::1"};

std::uint16_t checksum(const unsigned char* p, size_t n) {
    std::uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
    if (n & 1)
        sum += static_cast<std::uint32_t>(p[n - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// Answers echo requests to Addresses from those addresses, each reply delayed by its class
// and sent twice. One raw socket per address, bound to it, so that replies go out from the
// address asked.
class Responder {
public:
    bool open() {
        for (const std::string& a : Addresses) {
            const bool v6 = a.find(':') != std::string::npos;
            const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_RAW | SOCK_CLOEXEC,
                                  v6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
            if (fd < 0)
                return false;
            sockaddr_storage at{};
            socklen_t size = 0;
            if (v6) {
                icmp6_filter filter;
                ICMP6_FILTER_SETBLOCKALL(&filter);
                ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
                setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
                auto* s6 = reinterpret_cast<sockaddr_in6*>(&at);
                s6->sin6_family = AF_INET6;
                inet_pton(AF_INET6, a.c_str(), &s6->sin6_addr);
                size = sizeof *s6;
            } else {
                std::uint32_t blocked = ~(1u << ICMP_ECHO);
                setsockopt(fd, SOL_RAW, 1 /* ICMP_FILTER */, &blocked, sizeof blocked);
                auto* s4 = reinterpret_cast<sockaddr_in*>(&at);
                s4->sin_family = AF_INET;
                inet_pton(AF_INET, a.c_str(), &s4->sin_addr);
                size = sizeof *s4;
            }
            fds_.push_back({fd, POLLIN, 0});
            if (bind(fd, reinterpret_cast<sockaddr*>(&at), size) != 0)
                return false;
        }
        return true;
    }
    ~Responder() {
        for (const pollfd& p : fds_)
            close(p.fd);
    }

    void serve(const std::atomic<bool>& stop) {
        const auto end = Clock::now() + ResponderLimit;
        while (!stop && Clock::now() < end) {
            int waitMs = 20;
            if (!due_.empty())
                waitMs = static_cast<int>(
                    std::clamp<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         due_.top().at - Clock::now())
                                         .count(),
                                     0, 20));
            if (poll(fds_.data(), fds_.size(), waitMs) > 0) {
                for (const pollfd& p : fds_) {
                    if (p.revents & POLLIN)
                        receive(p.fd);
                }
            }
            while (!due_.empty() && due_.top().at <= Clock::now()) {
                const Reply& r = due_.top();
                sendto(r.fd, r.packet.data(), r.packet.size(), 0,
                       reinterpret_cast<const sockaddr*>(&r.to), r.toSize);
                due_.pop();
            }
        }
    }

private:
    struct Reply {
        Clock::time_point at;
        int fd;
        std::vector<unsigned char> packet;
        sockaddr_storage to;
        socklen_t toSize;
        bool operator>(const Reply& o) const { return at > o.at; }
    };

    void receive(int fd) {
        unsigned char buf[2048];
        sockaddr_storage from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        const auto arrived = Clock::now();
        const bool v6 = from.ss_family == AF_INET6;
        // An IPv4 raw socket reads the IP header too; an IPv6 one does not.
        const size_t at = v6 ? 0 : static_cast<size_t>(buf[0] & 0x0F) * 4;
        if (n < 0 || static_cast<size_t>(n) < at + 8)
            return;
        std::vector<unsigned char> packet(buf + at, buf + n);
        if (packet[0] != (v6 ? int{ICMP6_ECHO_REQUEST} : int{ICMP_ECHO}))
            return;
        packet[0] = static_cast<unsigned char>(v6 ? int{ICMP6_ECHO_REPLY} : int{ICMP_ECHOREPLY});
        packet[2] = packet[3] = 0;
        if (!v6) { // the kernel sums ICMPv6 itself
            const std::uint16_t sum = checksum(packet.data(), packet.size());
            packet[2] = static_cast<unsigned char>(sum >> 8);
            packet[3] = static_cast<unsigned char>(sum);
        }
        const size_t payload = packet.size() - 8;
        const auto delay = std::chrono::milliseconds(payload % 2 ? LateMs : PromptMs);
        due_.push({arrived + delay, fd, packet, from, fromSize});
        due_.push(
            {arrived + delay + std::chrono::milliseconds(DuplicateMs), fd, packet, from, fromSize});
    }

    std::vector<pollfd> fds_;
    std::priority_queue<Reply, std::vector<Reply>, std::greater<>> due_;
};

struct Tally {
    std::atomic<long> attempts{0}, prompt{0}, matched{0}, promptLost{0}, lateOwn{0}, timedOut{0},
        wrong{0}, failed{0};
};

// One pinger: every third attempt is a late one, the rest prompt; the payload sizes differ
// from pinger to pinger and carry the class in their lowest bit.
void pinger(const std::string& address, int index, Tally& t) {
    char reply[ECHO_REPLY_BUFFER];
    for (int i = 0; i < AttemptsPerPinger; ++i) {
        const bool late = i % 3 == 2;
        const auto size = static_cast<std::int16_t>(16 + 4 * index + (late ? 1 : 0));
        std::int32_t rtt = -1;
        std::memset(reply, 0, sizeof reply);
        const int result = ping(address.c_str(), reply, size, &rtt, TimeoutMs, 0);
        const int expected = late ? LateMs : PromptMs;
        ++t.attempts;
        if (!late)
            ++t.prompt;
        if (result == ECHO_TIMEOUT)
            ++(late ? t.timedOut : t.promptLost);
        else if (result != ECHO_OK)
            ++t.failed;
        // A whole-millisecond round trip may be rounded down by one.
        else if (rtt < expected - 1 || address != reply)
            ++t.wrong;
        else
            ++(late ? t.lateOwn : t.matched);
    }
    echo_close_thread_sockets();
}

} // namespace

int main() {
    using namespace ew::bench;
    std::string why;
    auto ns = ew::test::NetNamespace::create(&why);
    if (!ns || !ns->setSysctl("net.ipv4.icmp_echo_ignore_all", "1") ||
        !ns->setSysctl("net.ipv6.icmp.echo_ignore_all", "1") ||
        !ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647")) {
        notMeasured("replies matched to the wrong attempt", ns ? "no sysctl" : why);
        return 0;
    }
    std::atomic<bool> stop{false};
    std::atomic<bool> opened{false};
    std::thread serving([&] {
        ns->run([&] {
            Responder r;
            opened = r.open();
            if (opened)
                r.serve(stop);
        });
    });
    std::this_thread::sleep_for(100ms);
    for (const auto& [mode, name] : std::map<int, const char*>{
             {ECHO_SOCKET_RAW_ONLY, "raw sockets"}, {ECHO_SOCKET_DGRAM_ONLY, "ping sockets"}}) {
        const std::string figure = std::string("replies matched to the wrong attempt, ") + name;
        if (!opened) {
            notMeasured(figure, "the responder could not open its raw sockets");
            continue;
        }
        const int previous = echo_set_socket_mode(mode);
        Tally t;
        std::vector<std::thread> pingers;
        for (size_t i = 0; i < Addresses.size(); ++i)
            pingers.emplace_back(
                [&, i] { ns->run([&] { pinger(Addresses[i], static_cast<int>(i), t); }); });
        for (std::thread& p : pingers)
            p.join();
        echo_set_socket_mode(previous);
        std::printf("  %s: %ld attempts by %zu pingers at once: %ld prompt replies matched, %ld "
                    "late attempts timed out, %ld late replies still in time, %ld errors\n",
                    name, t.attempts.load(), Addresses.size(), t.matched.load(), t.timedOut.load(),
                    t.lateOwn.load(), t.failed.load());
        aim(figure, format("%ld of %ld", t.wrong.load(), t.attempts.load()), "0", t.wrong == 0,
            Miss::Fails);
        aim(std::string("prompt replies lost, ") + name,
            format("%ld of %ld", t.promptLost.load(), t.prompt.load()), "at most 1%",
            t.promptLost * 100 <= t.prompt);
    }
    stop = true;
    serving.join();
    return exitStatus();
}
