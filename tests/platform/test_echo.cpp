#include "echoping.h"
#include "platform/Echo.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/capability.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using ew::test::TestHost;
using ew::test::TestNet;
using Clock = std::chrono::steady_clock;

constexpr std::int16_t kTimeoutMs = 1000;

struct Outcome {
    std::int16_t result;
    std::int32_t rtt;
    std::string reply;
    long long elapsedMs;
};

Outcome echo(const std::string& address, std::int16_t timeoutMs = kTimeoutMs,
             std::int16_t size = 32) {
    char reply[ECHO_REPLY_BUFFER] = "                ";
    std::int32_t rtt = -1;
    const auto start = Clock::now();
    const std::int16_t result = ping(address.c_str(), reply, size, &rtt, timeoutMs, 0);
    const auto elapsed = Clock::now() - start;
    return {result, rtt, reply,
            std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()};
}

class ScopedSocketMode {
public:
    explicit ScopedSocketMode(int mode) : previous_(echo_set_socket_mode(mode)) {}
    ~ScopedSocketMode() { echo_set_socket_mode(previous_); }

private:
    int previous_;
};

bool hasIpv6Loopback() {
    std::ifstream addresses("/proc/net/if_inet6");
    return std::string(std::istreambuf_iterator<char>(addresses), {})
               .find("00000000000000000000000000000001 ") != std::string::npos;
}

// Asked of the kernel directly rather than of the code under test.
bool icmpAllowedHere() {
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        if (int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP); fd >= 0) {
            close(fd);
            return true;
        }
    }
    return false;
}

#define EW_REQUIRE_ICMP()                                                                          \
    if (!icmpAllowedHere())                                                                        \
    GTEST_SKIP() << "this user may open neither ICMP ping sockets nor raw sockets here"

long openFileCount() {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
}

// Capabilities belong to threads, so a test thread can stand in for an unprivileged user.
bool dropNetRawInThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << (CAP_NET_RAW % 32);
    data[CAP_NET_RAW / 32].effective &= ~bit;
    data[CAP_NET_RAW / 32].permitted &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

// --- Loopback, in this machine's own namespace, with whatever socket AUTO picks -------------

TEST(LoopbackEcho, RepliesWithASaneRoundTripAndClosesTheThreadsSockets) {
    EW_REQUIRE_ICMP();
    const bool v6 = hasIpv6Loopback();
    const struct {
        const char* address;
        std::string reply; // empty: either loopback address
    } cases[] = {{"127.0.0.1", "127.0.0.1"}, {" \t127.0.0.1  ", "127.0.0.1"},
                 {"127.1", "127.0.0.1"},     {"::1", "::1"},
                 {"\t::1 ", "::1"},          {"::ffff:127.0.0.1", "127.0.0.1"},
                 {"localhost", ""},          {"  localhost\t", ""}};
    // On a thread of its own: the sockets it opened must close when it ends.
    const long before = openFileCount();
    std::thread([&] {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.address);
            if (c.reply == "::1" && !v6)
                continue; // this machine has no IPv6 loopback address
            const Outcome o = echo(c.address);
            ASSERT_EQ(o.result, ECHO_OK);
            EXPECT_GE(o.rtt, 0);
            EXPECT_LT(o.rtt, kTimeoutMs);
            if (!c.reply.empty())
                EXPECT_EQ(o.reply, c.reply);
            else
                EXPECT_TRUE(o.reply == "127.0.0.1" || o.reply == "::1") << o.reply;
        }
    }).join();
    EXPECT_EQ(openFileCount(), before);
}

// --- Invalid arguments: refused before anything is sent -------------------------------------

TEST(InvalidArgument, IsRefusedWithItsCode) {
    const struct {
        bool nullAddress, nullRoundTrip;
        std::int16_t size, timeoutMs;
    } cases[] = {{true, false, 32, 1000},      {false, true, 32, 1000}, {false, false, -1, 1000},
                 {false, false, -32768, 1000}, {false, false, 32, 0},   {false, false, 32, -5}};
    for (const auto& a : cases) {
        SCOPED_TRACE(testing::Message() << a.nullAddress << a.nullRoundTrip << " size " << a.size
                                        << " timeout " << a.timeoutMs);
        char reply[ECHO_REPLY_BUFFER] = "                ";
        std::int32_t rtt = -7;
        // The address would answer, so only the argument check can make this fail.
        EXPECT_EQ(ping(a.nullAddress ? nullptr : "127.0.0.1", reply, a.size,
                       a.nullRoundTrip ? nullptr : &rtt, a.timeoutMs, 0),
                  ECHO_INVALID_ARGUMENT);
        EXPECT_EQ(rtt, -7);
        EXPECT_STREQ(reply, "                ");
    }
}

// --- Private network: both socket kinds, silent and late hosts ------------------------------

constexpr int kDelayMs = 300;

// Hosts that answer, never answer and answer late; ping sockets allowed; and on lo an address
// longer than the reply buffer, for the cut-off check.
struct Network {
    TestNet net;
    std::optional<TestHost> answering = net.addAnsweringHost(), silent = net.addSilentHost(),
                            delayed = net.addDelayedHost(std::chrono::milliseconds(kDelayMs));
    bool ready = answering && silent && delayed && net.allowPingSockets() &&
                 net.client().exec({"ip", "-6", "addr", "add", "fd42:1234:5678:9abc::1/128", "dev",
                                    "lo", "nodad"});
};

struct SocketMode {
    const char* name;
    int mode;
};

class SocketPaths : public ::testing::TestWithParam<SocketMode> {
protected:
    static void SetUpTestSuite() { network_ = std::make_unique<Network>(); }
    static void TearDownTestSuite() { network_.reset(); }
    void SetUp() override {
        if (!network_->ready)
            GTEST_SKIP() << network_->net.whyNot();
    }

    // Runs fn in the client namespace with this test's socket mode.
    void inClient(const std::function<void()>& fn) {
        ScopedSocketMode mode(GetParam().mode);
        network_->net.runInClient(fn);
    }

    static inline std::unique_ptr<Network> network_;
};

// Odd sizes catch a wrong checksum; sizes above the veth MTU need fragments.
TEST_P(SocketPaths, EveryAddressAndPayloadSizeIsAnswered) {
    inClient([] {
        const TestHost& host = *network_->answering;
        for (const std::string& address :
             {std::string("127.0.0.1"), std::string("::1"), host.ipv4, host.ipv6}) {
            for (std::int16_t size : {0, 1, 31, 32, 1452, 1473, 9001, 32767}) {
                SCOPED_TRACE(address + " size " + std::to_string(size));
                const Outcome o = echo(address, kTimeoutMs, size);
                EXPECT_EQ(o.result, ECHO_OK);
                EXPECT_EQ(o.reply, address);
                EXPECT_GE(o.rtt, 0);
                EXPECT_LT(o.rtt, kTimeoutMs);
            }
        }
    });
}

TEST_P(SocketPaths, ReplyTextIsCutToFifteenCharacters) {
    inClient([] {
        // Exactly 16 bytes, so that the sanitizer catches a write past the 15 characters and
        // their NUL.
        auto reply = std::make_unique<char[]>(16);
        std::int32_t rtt = -1;
        ASSERT_EQ(ping("fd42:1234:5678:9abc::1", reply.get(), 32, &rtt, kTimeoutMs, 0), ECHO_OK);
        EXPECT_EQ(std::string(reply.get()), "fd42:1234:5678:");
    });
}

// A silent host times out on time; an unreachable route fails at once.
TEST_P(SocketPaths, FailuresComeWithTheirCodeOnTime) {
    inClient([] {
        const struct {
            std::string address;
            std::int16_t timeoutMs, expected;
            long long atLeastMs, underMs;
        } cases[] = {{network_->silent->ipv4, 300, ECHO_TIMEOUT, 290, 1500},
                     {network_->silent->ipv6, 300, ECHO_TIMEOUT, 290, 1500},
                     {TestNet::unreachableIpv4, kTimeoutMs, ECHO_SEND_ERROR, 0, 500},
                     {TestNet::unreachableIpv6, kTimeoutMs, ECHO_SEND_ERROR, 0, 500}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.address);
            const Outcome o = echo(c.address, c.timeoutMs);
            EXPECT_EQ(o.result, c.expected);
            EXPECT_EQ(o.rtt, -1);
            EXPECT_GE(o.elapsedMs, c.atLeastMs);
            EXPECT_LT(o.elapsedMs, c.underMs);
        }
    });
}

TEST_P(SocketPaths, LateReplyIsNotTakenForTheNextAttempt) {
    inClient([] {
        for (const std::string& address : {network_->delayed->ipv4, network_->delayed->ipv6}) {
            ASSERT_EQ(echo(address, kDelayMs / 2).result, ECHO_TIMEOUT) << address;
            // The first reply turns up half-way through this attempt; only the second one,
            // a whole delay after this send, is its own.
            const Outcome o = echo(address, 2 * kDelayMs);
            ASSERT_EQ(o.result, ECHO_OK) << address;
            EXPECT_GE(o.rtt, kDelayMs - 10) << address;
            EXPECT_LT(o.rtt, 2 * kDelayMs) << address;
        }
    });
}

TEST_P(SocketPaths, ConcurrentThreadsGetTheirOwnRepliesAndCloseTheirSockets) {
    inClient([] {
        const long before = openFileCount();
        std::atomic<int> answered{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&answered, t] {
                const TestHost& host = *network_->answering;
                for (int i = 0; i < 300; ++i)
                    // A generous time-out: a loaded machine may be slow, but a reply that
                    // went to another thread's socket never arrives at all.
                    answered += echo((i + t) % 2 ? host.ipv4 : host.ipv6, 3000).result == ECHO_OK;
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(answered.load(), 4 * 300);
        EXPECT_EQ(openFileCount(), before) << "threads that end close their sockets";
    });
}

TEST_P(SocketPaths, ThousandsOfCallsKeepTheFileCount) {
    inClient([] {
        ASSERT_EQ(echo("127.0.0.1").result, ECHO_OK);
        ASSERT_EQ(echo("::1").result, ECHO_OK);
        const long before = openFileCount();
        int answered = 0;
        for (int i = 0; i < 5000; ++i)
            answered += echo("127.0.0.1").result == ECHO_OK;
        EXPECT_EQ(answered, 5000);
        const std::string failing[] = {TestNet::unreachableIpv4, TestNet::unreachableIpv6, "",
                                       "999.1.1.1", network_->silent->ipv4};
        int failed = 0;
        for (int i = 0; i < 500; ++i) {
            const std::string& address = failing[i % std::size(failing)];
            failed += echo(address, address == network_->silent->ipv4 ? 1 : 100).result != 0;
        }
        EXPECT_EQ(failed, 500);
        EXPECT_EQ(openFileCount(), before);
        // One socket per address family is all that stays open between calls.
        echo_close_thread_sockets();
        EXPECT_EQ(openFileCount(), before - 2);
    });
}

INSTANTIATE_TEST_SUITE_P(Modes, SocketPaths,
                         ::testing::Values(SocketMode{"PingSocket", ECHO_SOCKET_DGRAM_ONLY},
                                           SocketMode{"RawSocket", ECHO_SOCKET_RAW_ONLY}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Odd address texts: never a crash, never an answer --------------------------------------

TEST(OddAddresses, AreUnresolvedAndLeaveTheRoundTripAlone) {
    TestNet net; // no route out, so names that reach the resolver cannot leave the machine
    EW_REQUIRE_TESTNET(net);
    std::vector<std::string> texts = {"", "   ", " \t \t", "-", ":::", "1::2::3", "999.1.1.1"};
    texts.insert(texts.end(),
                 {"256.0.0.1", "1.2.3.4.5", "a b.invalid", "fe80::1%nosuchinterface0"});
    texts.insert(texts.end(), {"\xc3\xa9t\xc3\xa9.invalid", "\xff\xfe\x80\x01"});
    // After 2000 blanks, x: a copy cut short would look like 127.0.0.1.
    texts.insert(texts.end(), {std::string(100 * 1024, 'a'), std::string(100 * 1024, '1'),
                               "127.0.0.1" + std::string(2000, ' ') + "x"});
    net.runInClient([&] {
        for (const std::string& text : texts) {
            const Outcome o = echo(text);
            EXPECT_EQ(o.result, ECHO_UNRESOLVED) << text.substr(0, 40);
            EXPECT_EQ(o.rtt, -1);
            EXPECT_LT(o.elapsedMs, 5000) << text.substr(0, 40);
        }
    });
}

// --- Permission: which socket is tried, and what is said when none is allowed ---------------

// A refused ping socket leaves AUTO the raw one; without raw rights AUTO takes the ping socket.
TEST(EchoPermissions, AutoFallsBackToTheAllowedSocket) {
    for (const bool pingSocketsOnly : {false, true}) {
        SCOPED_TRACE(pingSocketsOnly ? "ping sockets only" : "raw sockets only");
        TestNet net; // its client starts with ping sockets refused ("1 0")
        EW_REQUIRE_TESTNET(net);
        if (pingSocketsOnly) {
            ASSERT_TRUE(net.allowPingSockets());
        }
        net.runInClient([&] {
            if (pingSocketsOnly) {
                ASSERT_TRUE(dropNetRawInThisThread());
            }
            {
                ScopedSocketMode mode(pingSocketsOnly ? ECHO_SOCKET_RAW_ONLY
                                                      : ECHO_SOCKET_DGRAM_ONLY);
                EXPECT_EQ(echo("127.0.0.1").result, ECHO_NO_PERMISSION);
            }
            ScopedSocketMode mode(ECHO_SOCKET_AUTO);
            EXPECT_EQ(echo("127.0.0.1").result, ECHO_OK);
            EXPECT_EQ(echo("::1").result, ECHO_OK);
        });
    }
}

TEST(EchoPermissions, NeitherSocketAllowedSaysHowToAllowItOnce) {
    TestNet net;
    EW_REQUIRE_TESTNET(net);
    std::string said;
    net.runInClient([&] {
        ASSERT_TRUE(dropNetRawInThisThread());
        ScopedSocketMode mode(ECHO_SOCKET_AUTO);
        echo_reset_permission_hint();
        ::testing::internal::CaptureStderr();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(echo(i % 2 ? "::1" : "127.0.0.1").result, ECHO_NO_PERMISSION);
        said = ::testing::internal::GetCapturedStderr();
    });
    for (const std::string what : {"ping_group_range", "cap_net_raw"}) {
        const auto first = said.find(what);
        EXPECT_NE(first, std::string::npos) << said;
        EXPECT_EQ(said.find(what, first + 1), std::string::npos) << said;
    }
}

// --- The adapter the monitor uses -----------------------------------------------------------

TEST(IcmpEcho, WritesTheRoundTripOnlyOnAReply) {
    EW_REQUIRE_ICMP();
    ew::IcmpEcho echoer;
    std::int32_t rtt = -7;
    ASSERT_EQ(echoer.ping(" 127.0.0.1 ", 32, rtt, kTimeoutMs), ECHO_OK);
    EXPECT_GE(rtt, 0);
    EXPECT_LT(rtt, kTimeoutMs);

    rtt = -7;
    EXPECT_EQ(echoer.ping("", 32, rtt, kTimeoutMs), ECHO_UNRESOLVED);
    EXPECT_EQ(echoer.ping("127.0.0.1", 32, rtt, 0), ECHO_INVALID_ARGUMENT);
    EXPECT_EQ(rtt, -7);
}

} // namespace
