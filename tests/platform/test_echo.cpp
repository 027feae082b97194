#include "echoping.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sys/mount.h>
#include <thread>

namespace {

using ew::test::TestNet;
using std::chrono::milliseconds;

struct Outcome {
    int result;
    std::int32_t rtt;
    long long ms;
};

// In halves, the attempt begins with a 1 ms first half here and is finished on another thread,
// as the window hands a slow host over to its worker.
Outcome echo(const std::string& address, std::int16_t timeoutMs = 1000, std::int16_t size = 32,
             bool halves = false) {
    std::int32_t rtt = -1;
    const auto start = std::chrono::steady_clock::now();
    int result = 0;
    if (!halves) {
        result = ping(address.c_str(), nullptr, size, &rtt, timeoutMs, 0);
    } else {
        auto call = std::make_unique<echo_call>();
        result = echo_start(call.get(), address.c_str(), nullptr, size, &rtt, timeoutMs, 1000);
        if (result == ECHO_PENDING)
            result = std::async(std::launch::async, [&] {
                         return echo_finish(call.get(), nullptr, &rtt);
                     }).get();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    return {result, rtt, std::chrono::duration_cast<milliseconds>(took).count()};
}

// The client of a private network with hosts that answer, never answer and answer late, and
// a name server, 127.0.0.1:53, that is a socket of the test's own and never answers.
class Echo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        net = std::make_unique<TestNet>();
        up = net->addAnsweringHost(), silent = net->addSilentHost();
        late = net->addDelayedHost(milliseconds(300)), impostor = net->addImpostorHost();
        ready = up && silent && late && impostor && net->allowPingSockets() &&
                net->client().exec({"ip", "addr", "add", "fd42:1234:5678:9abc::1", "dev", "lo"});
        // One query per lookup, and none repeated while a test runs.
        std::ofstream(conf) << "nameserver 127.0.0.1\noptions single-request timeout:30\n";
        net->runInClient([] {
            dns = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
            ready = ready && bind(dns, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
        });
    }
    static void TearDownTestSuite() {
        std::filesystem::remove(conf);
        net.reset();
    }
    void SetUp() override {
        if (!ready)
            GTEST_SKIP() << net->whyNot();
    }
    // Runs fn in the client, its thread's resolver (and its lookups') asking the silent server.
    static void inClient(const std::function<void()>& fn) {
        net->runInClient([&] {
            ASSERT_EQ(unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            fn();
        });
    }
    static int queries() {
        int n = 0;
        for (char q[512]; recv(dns, q, sizeof q, MSG_DONTWAIT) >= 0;)
            ++n;
        return n;
    }
    static inline std::unique_ptr<TestNet> net;
    static inline std::optional<ew::test::TestHost> up, silent, late, impostor;
    static inline bool ready = false;
    static inline int dns = -1;
    static inline std::string conf = testing::TempDir() + "ew-resolv-" + std::to_string(getpid());
};

class SocketPaths : public Echo, public ::testing::WithParamInterface<int> {
    const int previous = echo_set_socket_mode(GetParam());
    void TearDown() override { echo_set_socket_mode(previous); }
};

// White space of every kind around an address is dropped; odd sizes catch a bad checksum, big
// ones need fragments; a late reply is not taken for a later attempt's, nor one in the pinged
// host's name from another of its addresses; the reply text is cut
// to its buffer (16 bytes exactly, for the sanitizer); threads' sockets close when they end.
// Every other attempt is made in two halves.
TEST_P(SocketPaths, EachAddressGetsItsOutcome) {
    const auto files = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const long before = files();
    inClient([] {
        // clang-format off
        const std::pair<std::string, int> cases[] = {
            {" \t\r\n127.1\v\f", ECHO_OK}, {"::1\r\n", ECHO_OK}, {"::ffff:127.0.0.1", ECHO_OK},
            {up->ipv4, ECHO_OK}, {up->ipv6, ECHO_OK}, {"\nlocalhost\r\n", ECHO_OK},
            {silent->ipv4, ECHO_TIMEOUT}, {silent->ipv6, ECHO_TIMEOUT}, {late->ipv4, ECHO_TIMEOUT},
            {late->ipv6, ECHO_TIMEOUT}, {impostor->ipv4, ECHO_TIMEOUT},
            {impostor->ipv6, ECHO_TIMEOUT}, {TestNet::unreachableIpv4, ECHO_SEND_ERROR},
            {TestNet::unreachableIpv6, ECHO_SEND_ERROR}};
        // clang-format on
        bool halves = false;
        for (const auto& [text, expected] : cases)
            for (std::int16_t size : {0, 1, 31, 1473, 32767}) {
                halves = !halves;
                const Outcome o = echo(text, expected == ECHO_OK ? 3000 : 150, size, halves);
                ASSERT_EQ(o.result, expected) << text << " size " << size;
                EXPECT_EQ(o.rtt >= 0, expected == ECHO_OK) << o.rtt;
            }
        for (const std::string& address : {late->ipv4, late->ipv6})
            for (const bool inHalves : {false, true})
                EXPECT_GE(echo(address, 600, 32, inHalves).rtt, 290) << address;
        auto reply = std::make_unique<char[]>(16);
        std::int32_t rtt = -7;
        ASSERT_EQ(ping("fd42:1234:5678:9abc::1", reply.get(), 32, &rtt, 1000, 0), ECHO_OK);
        EXPECT_STREQ(reply.get(), "fd42:1234:5678:");
    });
    EXPECT_EQ(files(), before);
}

INSTANTIATE_TEST_SUITE_P(Modes, SocketPaths,
                         ::testing::Values(ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY),
                         [](const auto& info) { return info.param == 1 ? "Ping" : "Raw"; });

// Attempts at a name that never resolves end at their time-out and share one lookup; texts
// that are no address but look numeric (or would be one, cut short) never reach the resolver.
TEST_F(Echo, NamesAreLookedUpOnceWithinTheTimeOutAndOddTextsAreUnresolved) {
    inClient([] {
        for (const char* text : {"", " \t\r\n\v\f", ":::", "1::2::3", "999.1.1.1", "1.2.3.4.5",
                                 "fe80::1%nosuchinterface0"})
            EXPECT_EQ(echo(text, 100).result, ECHO_UNRESOLVED) << text;
        EXPECT_EQ(echo(std::string(100 * 1024, '1'), 100).result, ECHO_UNRESOLVED);
        EXPECT_EQ(queries(), 0);
        for (int i = 0; i < 3; ++i) {
            const Outcome o = echo("  never.answers.test\r\n", 1000, 32, i == 1);
            EXPECT_EQ(o.result, ECHO_UNRESOLVED);
            EXPECT_TRUE(o.ms >= 990 && o.ms < 1200) << o.ms;
        }
        EXPECT_EQ(queries(), 1);
        EXPECT_EQ(echo("127.0.0.1" + std::string(2000, ' ') + "x", 100).result, ECHO_UNRESOLVED);
    });
}

// Stop and Exit: every call waiting now, for a reply or a lookup, ends at once; no later one.
TEST_F(Echo, InterruptEndsEveryWaitingCallAndNoLaterOne) {
    inClient([] {
        std::vector<std::future<Outcome>> waiting;
        for (const std::string& address : {silent->ipv4, silent->ipv6, std::string("slow.test")})
            for (const bool halves : {false, true})
                waiting.push_back(std::async(std::launch::async, echo, address, 30000, 32, halves));
        std::this_thread::sleep_for(milliseconds(300));
        echo_interrupt();
        for (auto& w : waiting)
            EXPECT_EQ(w.get().result, ECHO_INTERRUPTED); // else a time-out 30 s later
        // An interruption between the halves ends the second one at once; a first half given
        // up leaves the socket free for the next attempt.
        std::int32_t rtt = 0;
        for (const bool giveUp : {false, true}) {
            echo_call call{};
            ASSERT_EQ(echo_start(&call, silent->ipv4.c_str(), nullptr, 32, &rtt, 30000, 1000),
                      ECHO_PENDING);
            if (giveUp) {
                echo_abandon(&call);
                continue;
            }
            echo_interrupt();
            EXPECT_EQ(echo_finish(&call, nullptr, &rtt), ECHO_INTERRUPTED);
        }
        EXPECT_EQ(echo(up->ipv4).result, ECHO_OK);
    });
}

} // namespace
