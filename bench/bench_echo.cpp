// The cost of one ping() call next to the floor: a bare raw-socket echo loop written here, with
// nothing but a send and a blocking receive of the matching reply. Both echo 127.0.0.1 one
// request at a time: first as two Google Benchmark runs, then in the summary interleaved call by
// call, so that both see the same load on the machine and the ratio means something. Where a
// private network can be built (root), also the same through an unprivileged ping socket, and
// how late 50 calls to a host that never answers return after their time-out.

#include "Aims.h"
#include "echoping.h"
#include "support/TestNet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <functional>
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

void report(benchmark::State& state, const Figures& f) {
    state.counters["calls/s"] = f.callsPerSecond;
    state.counters["median_us"] = f.medianUs;
    state.counters["p99_us"] = f.p99Us;
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
            // Keep ping()'s replies out, as ping() keeps ours out: without this, the interleaved
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

// Times each call of fn; false from fn stops the run.
template <typename Fn> bool timeCalls(benchmark::State& state, std::vector<double>& ns, Fn fn) {
    ns.clear();
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool ok = fn();
        ns.push_back(static_cast<double>((Clock::now() - start).count()));
        if (!ok) {
            state.SkipWithError("no reply from 127.0.0.1");
            return false;
        }
    }
    return true;
}

std::vector<double> g_samples;

// Forced onto a raw socket, to compare like with like where ping sockets are allowed too.
void BM_Ping(benchmark::State& state) {
    const int previous = echo_set_socket_mode(ECHO_SOCKET_RAW_ONLY);
    char reply[ECHO_REPLY_BUFFER];
    int32_t rtt = 0;
    if (const int16_t result = ping("127.0.0.1", reply, 32, &rtt, 1000, 0); result != ECHO_OK) {
        state.SkipWithError(("ping() of 127.0.0.1 on a raw socket gives " + std::to_string(result) +
                             " (needs root or CAP_NET_RAW)")
                                .c_str());
        echo_set_socket_mode(previous);
        return;
    }
    if (timeCalls(state, g_samples,
                  [&] { return ping("127.0.0.1", reply, 32, &rtt, 1000, 0) == ECHO_OK; }))
        report(state, summarise(g_samples));
    echo_set_socket_mode(previous);
}
BENCHMARK(BM_Ping)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

void BM_BareRawEcho(benchmark::State& state) {
    BareEcho bare(true);
    if (!bare.ok()) {
        state.SkipWithError("no raw socket (needs root or CAP_NET_RAW)");
        return;
    }
    if (timeCalls(state, g_samples, [&] { return bare.echo(); }))
        report(state, summarise(g_samples));
}
BENCHMARK(BM_BareRawEcho)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

// One ping() and one bare echo in turn, each timed on its own; false when either fails.
bool interleaved(int rounds, bool raw, Figures& call, Figures& floor) {
    const int previous = echo_set_socket_mode(raw ? ECHO_SOCKET_RAW_ONLY : ECHO_SOCKET_DGRAM_ONLY);
    char reply[ECHO_REPLY_BUFFER];
    int32_t rtt = 0;
    BareEcho bare(raw);
    std::vector<double> callNs, floorNs;
    callNs.reserve(static_cast<size_t>(rounds));
    floorNs.reserve(static_cast<size_t>(rounds));
    bool ok = bare.ok();
    for (int i = 0; ok && i < rounds + 1000; ++i) {
        auto start = Clock::now();
        ok = ping("127.0.0.1", reply, 32, &rtt, 1000, 0) == ECHO_OK;
        auto middle = Clock::now();
        ok = ok && bare.echo();
        auto end = Clock::now();
        if (i >= 1000) { // the first thousand only warm up
            callNs.push_back(static_cast<double>((middle - start).count()));
            floorNs.push_back(static_cast<double>((end - middle).count()));
        }
    }
    echo_set_socket_mode(previous);
    if (ok) {
        call = summarise(std::move(callNs));
        floor = summarise(std::move(floorNs));
    }
    return ok;
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
    net.runInClient([] { interleaved(kRounds, false, g_pingSocket, g_pingSocketFloor); });
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
    for (int mode : {ECHO_SOCKET_RAW_ONLY, ECHO_SOCKET_DGRAM_ONLY}) {
        Overshoot calls, floor;
        std::thread floorThread([&] { floor = ppollOvershoot(); });
        net.runInClient([&] {
            const int previous = echo_set_socket_mode(mode);
            char reply[ECHO_REPLY_BUFFER];
            int32_t rtt = 0;
            for (int i = 0; i < kTimeoutSamples; ++i) {
                const auto start = Clock::now();
                const int16_t result = ping(silent->ipv4.c_str(), reply, 32, &rtt, kTimeoutMs, 0);
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (result != ECHO_TIMEOUT)
                    ++calls.otherResults;
                else if (ms < kTimeoutMs)
                    ++calls.early;
                calls.ms.push_back(ms - kTimeoutMs);
            }
            echo_set_socket_mode(previous);
        });
        floorThread.join();
        const std::string kind = mode == ECHO_SOCKET_RAW_ONLY ? "raw socket" : "ping socket";
        const double median = calls.median(), p99 = calls.percentile(0.99);
        aim(format("%d ms time-out overshoot, %s, %d samples", kTimeoutMs, kind.c_str(),
                   kTimeoutSamples),
            format("median %.3f ms, p99 %.3f ms (bare ppoll() at the same time: median %.3f "
                   "ms, p99 %.3f ms)",
                   median, p99, floor.median(), floor.percentile(0.99)),
            "median within 1 ms of ppoll()'s", median <= floor.median() + 1.0);
        aim(format("%d ms time-out, %s, calls that ended before it or not in a time-out",
                   kTimeoutMs, kind.c_str()),
            format("%ld of %d", calls.early + calls.otherResults, kTimeoutSamples), "0",
            calls.early + calls.otherResults == 0, Miss::Fails);
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    interleaved(kRounds, true, g_ping, g_floor);
    ew::test::TestNet net;
    if (net.usable())
        pingSocketFigures(net);

    std::printf("\nOne echo to 127.0.0.1 at a time, %d of each, interleaved:\n", kRounds);
    std::printf("  %-30s %10s %9s %9s %9s %9s\n", "", "calls/s", "mean us", "median us", "p99 us",
                "> 1 ms");
    printRow("ping(), raw socket", g_ping);
    printRow("bare raw-socket loop", g_floor);
    printRow("ping(), ping socket", g_pingSocket);
    printRow("bare ping-socket loop", g_pingSocketFloor);
    printRatio("ping() / floor, raw", g_ping, g_floor);
    printRatio("ping() / floor, ping socket", g_pingSocket, g_pingSocketFloor);
    using namespace ew::bench;
    const auto echoAim = [](const char* kind, const Figures& call, const Figures& floor) {
        const std::string name =
            std::string("echo to 127.0.0.1, ping() over the bare loop, ") + kind;
        if (!call.valid || !floor.valid)
            return notMeasured(name, "no reply or no socket");
        const double ratio = call.medianUs / floor.medianUs;
        aim(name,
            format("%.2fx (median %.2f us, floor %.2f us)", ratio, call.medianUs, floor.medianUs),
            "at most 1.2x", ratio <= 1.2);
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
