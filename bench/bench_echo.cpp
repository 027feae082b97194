// The cost of one echo attempt next to the floor: a bare echo loop written here, with nothing
// but a send and a blocking receive of the matching reply. The real echo (IcmpEcho) is driven
// as a pass drives it, one attempt after another, each started from the last one's answer
// through the event loop; both echo 127.0.0.1 one request at a time, interleaved attempt by
// attempt, so that both see the same load on the machine and the ratio means something. Where a
// private network can be built (root), also the same through an unprivileged ping socket, and
// how late 50 attempts to a host that never answers end after their time-out.

#include "Aims.h"
#include "EchoChain.h"
#include "echo.h"
#include "platform/Echo.h"
#include "support/TestNet.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <numeric>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double callsPerSecond = 0;
    double meanUs = 0;
    double medianUs = 0;
    double p99Us = 0;
    size_t over1ms = 0; // calls that were most likely preempted; they dominate the mean
    bool valid = false;
};

Figures g_ping, g_floor, g_pingSocket, g_pingSocketFloor;
constexpr int kRounds = 30000;

Figures summarise(std::vector<double> ns) {
    Figures f;
    if (ns.empty())
        return f;
    std::sort(ns.begin(), ns.end());
    const double total = std::accumulate(ns.begin(), ns.end(), 0.0);
    f.meanUs = total / static_cast<double>(ns.size()) / 1000.0;
    f.medianUs = ns[ns.size() / 2] / 1000.0;
    f.p99Us = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0;
    f.callsPerSecond = 1e9 * static_cast<double>(ns.size()) / total;
    f.over1ms = static_cast<size_t>(ns.end() - std::upper_bound(ns.begin(), ns.end(), 1e6));
    f.valid = true;
    return f;
}

uint16_t checksum(const unsigned char* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n & 1)
        sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// One socket, one request, one blocking read until the reply with our identifier and
// sequence number: what any echo must at least cost. On a raw socket the reply comes with its
// IPv4 header and the ICMP type filter keeps our own requests out; on a ping socket there is
// neither, and the kernel picks the identifier.
class BareEcho {
public:
    explicit BareEcho(bool raw) : raw_(raw) {
        fd_ = socket(AF_INET, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd_ < 0)
            return;
        if (raw) {
            uint32_t blocked = ~(1u << ICMP_ECHOREPLY);
            setsockopt(fd_, SOL_RAW, 1 /* ICMP_FILTER */, &blocked, sizeof blocked);
            // Keep the echo's replies out, as it keeps ours out: without this, the interleaved
            // run would charge the floor for reading and skipping them.
            sock_filter code[] = {
                BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),
                BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kIdent, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu),
                BPF_STMT(BPF_RET | BPF_K, 0),
            };
            sock_fprog prog{static_cast<unsigned short>(std::size(code)), code};
            setsockopt(fd_, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog);
        }
        timeval limit{1, 0}; // bounded even if a reply never comes
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        to_.sin_family = AF_INET;
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (size_t i = 8; i < sizeof packet_; ++i)
            packet_[i] = static_cast<unsigned char>('a' + i % 23);
    }
    ~BareEcho() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    bool echo() {
        const uint16_t seq = ++sequence_;
        packet_[0] = ICMP_ECHO;
        packet_[2] = packet_[3] = 0;
        packet_[4] = static_cast<unsigned char>(kIdent >> 8);
        packet_[5] = static_cast<unsigned char>(kIdent);
        packet_[6] = static_cast<unsigned char>(seq >> 8);
        packet_[7] = static_cast<unsigned char>(seq);
        if (raw_) {
            const uint16_t sum = checksum(packet_, sizeof packet_);
            packet_[2] = static_cast<unsigned char>(sum >> 8);
            packet_[3] = static_cast<unsigned char>(sum);
        }
        if (sendto(fd_, packet_, sizeof packet_, 0, reinterpret_cast<sockaddr*>(&to_), sizeof to_) <
            0)
            return false;
        for (int i = 0; i < 100; ++i) {
            unsigned char buf[128];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0)
                return false;
            const size_t at = raw_ ? static_cast<size_t>(buf[0] & 0x0F) * 4 : 0;
            if (static_cast<size_t>(n) >= at + 8 && buf[at] == ICMP_ECHOREPLY &&
                (!raw_ || (buf[at + 4] << 8 | buf[at + 5]) == kIdent) &&
                (buf[at + 6] << 8 | buf[at + 7]) == seq)
                return true;
        }
        return false;
    }

private:
    static constexpr uint16_t kIdent = 0x4E57;
    bool raw_;
    int fd_ = -1;
    uint16_t sequence_ = 0;
    sockaddr_in to_{};
    unsigned char packet_[8 + 32]{};
};

// The echo and the bare loop in turn, each attempt timed on its own: the echo's from start()
// to its answer coming out of the event loop, the bare echo right after, from that answer, so
// that both see the same load on the machine. False when either fails.
bool interleaved(int rounds, int mode, Figures& call, Figures& floor) {
    ew::IcmpEcho echo(mode);
    BareEcho bare(mode == ECHO_SOCKET_RAW_ONLY);
    if (!bare.ok())
        return false;
    constexpr int WarmUp = 1000;
    std::vector<double> callNs, floorNs;
    callNs.reserve(static_cast<size_t>(rounds));
    floorNs.reserve(static_cast<size_t>(rounds));
    bool ok = true;
    Clock::time_point started;
    const long ended = ew::bench::chainEchoes(
        echo, rounds + WarmUp,
        [&](long) {
            started = Clock::now();
            return ew::bench::EchoRequest{QStringLiteral("127.0.0.1"), 32, 1000};
        },
        [&](long i, const ew::EchoOutcome& o) {
            const auto answered = Clock::now();
            ok = ok && o.result == ECHO_OK && bare.echo();
            if (i >= WarmUp) {
                callNs.push_back(static_cast<double>((answered - started).count()));
                floorNs.push_back(static_cast<double>((Clock::now() - answered).count()));
            }
        },
        std::chrono::minutes(2));
    if (!ok || ended != rounds + WarmUp)
        return false;
    call = summarise(std::move(callNs));
    floor = summarise(std::move(floorNs));
    return true;
}

void printRow(const char* name, const Figures& f) {
    if (f.valid)
        std::printf("  %-30s %10.0f %9.2f %9.2f %9.2f %9zu\n", name, f.callsPerSecond, f.meanUs,
                    f.medianUs, f.p99Us, f.over1ms);
    else
        std::printf("  %-30s (not measured)\n", name);
}

void printRatio(const char* name, const Figures& call, const Figures& floor) {
    if (call.valid && floor.valid)
        std::printf("  %-30s mean %.2fx, median %.2fx, p99 %.2fx\n", name,
                    call.meanUs / floor.meanUs, call.medianUs / floor.medianUs,
                    call.p99Us / floor.p99Us);
}

void pingSocketFigures(ew::test::TestNet& net) {
    net.allowPingSockets();
    net.runInClient(
        [] { interleaved(kRounds, ECHO_SOCKET_DGRAM_ONLY, g_pingSocket, g_pingSocketFloor); });
}

// How late a call to a host that never answers returns after its time-out, next to the floor:
// how late the kernel wakes a bare ppoll() of the same length, timed at the same moments on
// another thread, so that both see the same load on the machine.
constexpr int kTimeoutMs = 250;
constexpr int kTimeoutSamples = 50;

struct Overshoot {
    std::vector<double> ms;
    long early = 0; // a call that gave up before its time-out had passed
    long otherResults = 0;
    double median() { return percentile(0.5); }
    double percentile(double p) {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[std::min(ms.size() - 1, static_cast<size_t>(p * ms.size()))];
    }
};

Overshoot ppollOvershoot() {
    Overshoot o;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    for (int i = 0; fd >= 0 && i < kTimeoutSamples; ++i) {
        pollfd p{fd, POLLIN, 0};
        timespec wait{0, kTimeoutMs * 1000000L};
        const auto start = Clock::now();
        ppoll(&p, 1, &wait, nullptr);
        o.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count() -
                       kTimeoutMs);
    }
    if (fd >= 0)
        close(fd);
    return o;
}

void overshootFigures(ew::test::TestNet& net) {
    using namespace ew::bench;
    const auto silent = net.addSilentHost();
    if (!silent) {
        notMeasured("time-out overshoot", net.whyNot());
        return;
    }
    net.allowPingSockets();
    for (int mode : {ECHO_SOCKET_RAW_ONLY, ECHO_SOCKET_DGRAM_ONLY}) {
        Overshoot calls, floor;
        std::thread floorThread([&] { floor = ppollOvershoot(); });
        net.runInClient([&] {
            ew::IcmpEcho echo(mode);
            Clock::time_point started;
            chainEchoes(
                echo, kTimeoutSamples,
                [&](long) {
                    started = Clock::now();
                    return EchoRequest{QString::fromStdString(silent->ipv4), 32, kTimeoutMs};
                },
                [&](long, const ew::EchoOutcome& o) {
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - started).count();
                    if (o.result != ECHO_TIMEOUT)
                        ++calls.otherResults;
                    else if (ms < kTimeoutMs)
                        ++calls.early;
                    calls.ms.push_back(ms - kTimeoutMs);
                },
                std::chrono::minutes(1));
        });
        floorThread.join();
        const std::string kind = mode == ECHO_SOCKET_RAW_ONLY ? "raw socket" : "ping socket";
        const long wrong = calls.early + calls.otherResults +
                           (kTimeoutSamples - static_cast<long>(calls.ms.size()));
        const double median = calls.median(), p99 = calls.percentile(0.99);
        aim(format("%d ms time-out overshoot, %s, %d samples", kTimeoutMs, kind.c_str(),
                   kTimeoutSamples),
            format("median %.3f ms, p99 %.3f ms (bare ppoll() at the same time: median %.3f "
                   "ms, p99 %.3f ms)",
                   median, p99, floor.median(), floor.percentile(0.99)),
            "median within 1 ms of ppoll()'s", median <= floor.median() + 1.0);
        aim(format("%d ms time-out, %s, attempts that ended before it or not in a time-out",
                   kTimeoutMs, kind.c_str()),
            format("%ld of %d", wrong, kTimeoutSamples), "0", wrong == 0, Miss::Fails);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    interleaved(kRounds, ECHO_SOCKET_RAW_ONLY, g_ping, g_floor);
    ew::test::TestNet net;
    if (net.usable())
        pingSocketFigures(net);

    std::printf("\nOne echo to 127.0.0.1 at a time, %d of each, interleaved:\n", kRounds);
    std::printf("  %-30s %10s %9s %9s %9s %9s\n", "", "calls/s", "mean us", "median us", "p99 us",
                "> 1 ms");
    printRow("IcmpEcho, raw socket", g_ping);
    printRow("bare raw-socket loop", g_floor);
    printRow("IcmpEcho, ping socket", g_pingSocket);
    printRow("bare ping-socket loop", g_pingSocketFloor);
    printRatio("IcmpEcho / floor, raw", g_ping, g_floor);
    printRatio("IcmpEcho / floor, ping socket", g_pingSocket, g_pingSocketFloor);
    using namespace ew::bench;
    const auto echoAim = [](const char* kind, const Figures& call, const Figures& floor) {
        const std::string name =
            std::string("echo to 127.0.0.1, IcmpEcho through the event loop over the bare loop, ") +
            kind;
        if (!call.valid || !floor.valid)
            return notMeasured(name, "no reply or no socket");
        const double ratio = call.medianUs / floor.medianUs;
        aim(name,
            format("%.2fx (median %.2f us, floor %.2f us)", ratio, call.medianUs, floor.medianUs),
            "at most 1.5x", ratio <= 1.5);
    };
    echoAim("raw socket", g_ping, g_floor);
    echoAim("ping socket", g_pingSocket, g_pingSocketFloor);

    std::printf("\nTime-outs (host that never answers, in a private network namespace):\n");
    if (net.usable())
        overshootFigures(net);
    else
        notMeasured("time-out overshoot", net.whyNot());
    return exitStatus();
}
