#include "echo.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "support/TestNet.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/mount.h>
#include <thread>

namespace {

using ew::EchoOutcome;
using ew::test::TestNet;
using namespace std::literals;
using Clock = std::chrono::steady_clock;

struct Outcome {
    int result = -1;
    double rttMs = -1;
    long long tookMs = 0;
};

struct Try {
    std::string address;
    int expected;
    int timeoutMs = 1000;
};

// Starts every attempt at once on echo and runs the calling thread's event loop until each has
// ended (30 s at most); the outcomes in the order of the attempts.
std::vector<Outcome> attempt(ew::Echo& echo, const std::vector<Try>& tries, int size = 32) {
    QEventLoop loop;
    std::vector<Outcome> out(tries.size());
    std::size_t left = tries.size();
    const auto begun = Clock::now();
    for (std::size_t i = 0; i < tries.size(); ++i)
        echo.start(QString::fromStdString(tries[i].address), size, tries[i].timeoutMs,
                   [&, i](const EchoOutcome& o) {
                       out[i] = {o.result, o.roundTrip.count() / 1e6, (Clock::now() - begun) / 1ms};
                       if (--left == 0)
                           loop.quit();
                   });
    QTimer::singleShot(30s, &loop, &QEventLoop::quit);
    if (left > 0)
        loop.exec();
    return out;
}

// The client of a private network with hosts that answer, never answer and answer late, and
// a name server, 127.0.0.1:53, that is a socket of the test's own and never answers.
class Echo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        net = std::make_unique<TestNet>();
        up = net->addAnsweringHost(), silent = net->addSilentHost();
        late = net->addDelayedHost(300ms), impostor = net->addImpostorHost();
        answersIn200 = net->addDelayedHost(200ms);
        ready = up && silent && late && impostor && answersIn200 && net->allowPingSockets();
        // One query per lookup, and none repeated while a test runs.
        std::ofstream(conf) << "nameserver 127.0.0.1\noptions single-request attempts:1 "
                               "timeout:5\n";
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
    // Runs fn in the client, its thread's resolver (and the lookup threads it starts) asking the
    // silent server.
    static void inClient(const std::function<void()>& fn) {
        net->runInClient([&] {
            ASSERT_EQ(unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            const QEventLoop dispatcher; // gives this thread what socket notifiers need
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
    static inline std::optional<ew::test::TestHost> up, silent, late, impostor, answersIn200;
    static inline bool ready = false;
    static inline int dns = -1;
    static inline std::string conf = testing::TempDir() + "ew-resolv-" + std::to_string(getpid());
};

class SocketPaths : public Echo, public ::testing::WithParamInterface<int> {};

// Host N's address with its last digit 2 made 99.
std::string unowned(const std::string& address) {
    return address.substr(0, address.size() - 1) + "99";
}

// All at once, each attempt gets its own outcome: white space of every kind around an address
// is dropped; odd sizes catch a bad checksum, big ones need fragments; a reply later than the
// time-out is a failure, and one in the pinged host's name from another of its addresses is no
// reply; an address of the link that nobody owns is unreachable before the time-out. The sockets
// close with the echo, and the start's probe for ping sockets leaves none.
TEST_P(SocketPaths, EachAttemptGetsItsOwnOutcome) {
    const auto sockets = [] {
        std::set<std::string> open;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
            if (const auto link = std::filesystem::read_symlink(fd.path()).string();
                link.starts_with("socket:"))
                open.insert(link);
        return open;
    };
    const auto before = sockets();
    inClient([] {
        EXPECT_EQ(echo_open_raw_sockets(), 0);
        ew::IcmpEcho echo(GetParam());
        // clang-format off
        const std::vector<Try> tries = {
            {" \t\r\n127.1\v\f", ECHO_OK}, {"::1\r\n", ECHO_OK}, {"::ffff:127.0.0.1", ECHO_OK},
            {up->ipv4, ECHO_OK}, {up->ipv6, ECHO_OK}, {"\nlocalhost\r\n", ECHO_OK},
            {up->ipv4, ECHO_OK},
            {silent->ipv4, ECHO_TIMEOUT, 150}, {silent->ipv6, ECHO_TIMEOUT, 150},
            {late->ipv4, ECHO_TIMEOUT, 150}, {late->ipv6, ECHO_TIMEOUT, 150},
            {impostor->ipv4, ECHO_TIMEOUT, 150}, {impostor->ipv6, ECHO_TIMEOUT, 150},
            {TestNet::unreachableIpv4, ECHO_SEND_ERROR}, {TestNet::unreachableIpv6, ECHO_SEND_ERROR},
            {unowned(up->ipv4), ECHO_UNREACHABLE}, {unowned(up->ipv6), ECHO_UNREACHABLE}};
        // clang-format on
        // A collect ends an attempt whose reply is in without the event loop turning.
        int collected = -1;
        echo.start(QStringLiteral("127.0.0.1"), 56, 1000,
                   [&](const EchoOutcome& o) { collected = o.result; });
        for (int waited = 0; collected < 0 && waited < 1000; ++waited) {
            echo.collect();
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(collected, ECHO_OK);
        // An ICMP error that waits unread fails no later send.
        echo.start(QString::fromStdString(unowned(up->ipv4)), 32, 1000,
                   [&](const EchoOutcome& o) { collected = o.result; });
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(attempt(echo, {{up->ipv4, ECHO_OK}})[0].result, ECHO_OK);
        QTest::qWait(50);
        EXPECT_EQ(collected, ECHO_UNREACHABLE);
        for (int size : {0, 1, 31, 1473, 32767}) {
            const auto out = attempt(echo, tries, size);
            for (std::size_t i = 0; i < tries.size(); ++i) {
                const Try& t = tries[i];
                EXPECT_EQ(out[i].result, t.expected) << t.address << " size " << size;
                if (t.expected == ECHO_TIMEOUT) { // never early, never much late
                    EXPECT_TRUE(out[i].tookMs >= t.timeoutMs && out[i].tookMs < t.timeoutMs + 100)
                        << t.address << " took " << out[i].tookMs;
                }
            }
        }
    });
    for (const std::string& s : sockets())
        EXPECT_TRUE(before.count(s)) << s << " left open";
}

INSTANTIATE_TEST_SUITE_P(Modes, SocketPaths,
                         ::testing::Values(ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY),
                         [](const auto& info) { return info.param == 1 ? "Ping" : "Raw"; });

// Attempts at a name that never resolves end at their time-out and share one lookup; texts
// that are no address but look numeric (or would be one, cut short) never reach the resolver.
TEST_F(Echo, NamesAreLookedUpOnceWithinTheTimeOutAndOddTextsAreUnresolved) {
    inClient([] {
        ew::IcmpEcho echo;
        std::vector<Try> odd;
        for (const std::string& text :
             {""s, " \t\r\n\v\f"s, ":::"s, "1::2::3"s, "127.0.0.999"s, "127.0.0.1.5"s,
              "fe80::1%nosuchinterface0"s, std::string(100 * 1024, '1'),
              "127.0.0.1" + std::string(2000, ' ') + "x"})
            odd.push_back({text, ECHO_UNRESOLVED, 100});
        for (const Outcome& o : attempt(echo, odd))
            EXPECT_TRUE(o.result == ECHO_UNRESOLVED && o.tookMs < 50) << o.result;
        EXPECT_EQ(queries(), 0);
        for (int i = 0; i < 3; ++i) {
            const Outcome o = attempt(echo, {{"  never.answers.test\r\n", 0, 1000}})[0];
            EXPECT_EQ(o.result, ECHO_UNRESOLVED);
            EXPECT_TRUE(o.tookMs >= 1000 && o.tookMs < 1100) << o.tookMs;
        }
        EXPECT_EQ(queries(), 1);

        // A cancelled attempt never reports; a failure known at once keeps its own cause however
        // long the thread is busy before its event loop turns, past the time-out too.
        bool reported = false;
        echo.cancel(echo.start(QString::fromStdString(up->ipv4), 32, 100,
                               [&](const EchoOutcome&) { reported = true; }));
        int unsent = -1;
        echo.start(QString::fromStdString(TestNet::unreachableIpv4), 32, 1,
                   [&](const EchoOutcome& o) { unsent = o.result; });
        std::this_thread::sleep_for(20ms);
        QTest::qWait(300);
        EXPECT_FALSE(reported);
        EXPECT_EQ(unsent, ECHO_SEND_ERROR);

        // The round trip is the network's: a thread kept busy while the reply comes does not
        // lengthen it.
        QTimer::singleShot(100ms, [] { std::this_thread::sleep_for(150ms); });
        const Outcome o = attempt(echo, {{answersIn200->ipv4, ECHO_OK, 2000}})[0];
        EXPECT_EQ(o.result, ECHO_OK);
        // A loaded machine may delay the responder's answer, never by the busy spell's 150 ms.
        EXPECT_TRUE(o.rttMs > 195 && o.rttMs < 240) << o.rttMs;
        EXPECT_GE(o.tookMs, 250); // it was read after the busy spell
    });
}

// The clock keeps its distance from UTC for a minute at a time; it must still read as the
// system's local time, west and east of UTC and at an offset of whole quarter hours.
TEST(SystemClock, ReadsAsTheSystemsLocalTime) {
    for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "NPT-5:45"}) {
        qputenv("TZ", zone);
        tzset();
        const ew::SystemClock clock;
        const QDateTime expected = QDateTime::currentDateTime();
        const QDateTime got = clock.now();
        EXPECT_EQ(got.offsetFromUtc(), expected.offsetFromUtc()) << zone;
        EXPECT_LE(std::abs(expected.msecsTo(got)), 1000) << zone;
    }
    qunsetenv("TZ");
    tzset();
}

} // namespace
