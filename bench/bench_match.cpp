// Every reply matched to its own attempt, with several pingers at once. A responder in a
// network namespace of this benchmark's own (the kernel there told to ignore echo requests)
// answers each request twice, and some of them only after the pinger's time-out, so that late
// and duplicate replies keep arriving while later attempts wait. Each attempt's reply is told
// apart by its timing: the responder delays a reply by a time that the request's payload size
// chooses, so a reply can never come back sooner than that; a success sooner was a reply to some
// other attempt (the echo itself checks the peer). Four threads ping at once (three IPv4
// addresses and ::1), each with an echo of its own driven one attempt after another through its
// event loop, on raw sockets and then on ping sockets. Wrong matches must be 0.

#include "Aims.h"
#include "EchoChain.h"
#include "Responder.h"
#include "echo.h"
#include "platform/Echo.h"
#include "support/TestNet.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int TimeoutMs = 40;
// An even payload is answered after PromptMs, an odd one after LateMs: past the time-out, so
// that its reply lands early in the next attempt. Every reply is sent again DuplicateMs later.
constexpr int PromptMs = 15;
constexpr int LateMs = TimeoutMs + 6;
constexpr auto DuplicateAfter = 3ms;
constexpr int AttemptsPerPinger = 150;
constexpr auto ResponderLimit = 120s;
const std::vector<QString> Addresses{"127.0.0.1", "127.0.0.2", "127.0.0.3", "::1"};

struct Tally {
    std::atomic<long> attempts{0}, prompt{0}, matched{0}, promptLost{0}, lateOwn{0}, timedOut{0},
        wrong{0}, failed{0};
};

// One pinger: every third attempt is a late one, the rest prompt; the payload sizes differ
// from pinger to pinger and carry the class in their lowest bit.
void pinger(int mode, const QString& address, int index, Tally& t) {
    ew::IcmpEcho echo(mode);
    const auto late = [](long i) { return i % 3 == 2; };
    ew::bench::chainEchoes(
        echo, AttemptsPerPinger,
        [&](long i) {
            return ew::bench::EchoRequest{address, 16 + 4 * index + (late(i) ? 1 : 0), TimeoutMs};
        },
        [&](long i, const ew::EchoOutcome& o) {
            const double expectedMs = late(i) ? LateMs : PromptMs;
            const double ms = std::chrono::duration<double, std::milli>(o.roundTrip).count();
            ++t.attempts;
            if (!late(i))
                ++t.prompt;
            if (o.result == ECHO_TIMEOUT)
                ++(late(i) ? t.timedOut : t.promptLost);
            else if (o.result != ECHO_OK)
                ++t.failed;
            // The send's own timestamp is taken just after the request left.
            else if (ms < expectedMs - 1)
                ++t.wrong;
            else
                ++(late(i) ? t.lateOwn : t.matched);
        },
        std::chrono::milliseconds(AttemptsPerPinger * (TimeoutMs + 50)));
}

} // namespace

int main(int argc, char** argv) {
    using namespace ew::bench;
    QCoreApplication app(argc, argv);
    std::string why;
    auto ns = ew::test::NetNamespace::create(&why);
    if (!ns || !ns->setSysctl("net.ipv4.icmp_echo_ignore_all", "1") ||
        !ns->setSysctl("net.ipv6.icmp.echo_ignore_all", "1") ||
        !ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647")) {
        notMeasured("replies matched to the wrong attempt", ns ? "no sysctl" : why);
        return 0;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0}; // 1 open, -1 refused
    std::thread serving([&] {
        ns->run([&] {
            Responder r(
                [](const sockaddr_storage&, std::size_t payload) {
                    return std::optional(
                        std::chrono::milliseconds(payload % 2 ? LateMs : PromptMs));
                },
                DuplicateAfter);
            opened = r.open() ? 1 : -1;
            if (opened > 0)
                r.serve(stop, ResponderLimit);
        });
    });
    for (int i = 0; i < 500 && opened == 0; ++i)
        std::this_thread::sleep_for(10ms);
    for (const auto& [mode, name] : std::map<int, const char*>{
             {ECHO_SOCKET_RAW_ONLY, "raw sockets"}, {ECHO_SOCKET_DGRAM_ONLY, "ping sockets"}}) {
        const std::string figure = std::string("replies matched to the wrong attempt, ") + name;
        if (opened <= 0) {
            notMeasured(figure, "the responder could not open its raw sockets");
            continue;
        }
        Tally t;
        std::vector<std::thread> pingers;
        for (size_t i = 0; i < Addresses.size(); ++i)
            pingers.emplace_back([&, i, mode = mode] {
                ns->run([&] { pinger(mode, Addresses[i], static_cast<int>(i), t); });
            });
        for (std::thread& p : pingers)
            p.join();
        std::printf("  %s: %ld attempts by %zu pingers at once: %ld prompt replies matched, %ld "
                    "late attempts timed out, %ld late replies still in time, %ld errors\n",
                    name, t.attempts.load(), Addresses.size(), t.matched.load(), t.timedOut.load(),
                    t.lateOwn.load(), t.failed.load());
        const long missing = static_cast<long>(Addresses.size()) * AttemptsPerPinger - t.attempts;
        aim(figure, format("%ld of %ld", t.wrong.load(), t.attempts.load()), "0",
            t.wrong == 0 && missing == 0, Miss::Fails);
        aim(std::string("prompt replies lost, ") + name,
            format("%ld of %ld", t.promptLost.load(), t.prompt.load()), "at most 1%",
            t.promptLost * 100 <= t.prompt);
    }
    stop = true;
    serving.join();
    return exitStatus();
}
