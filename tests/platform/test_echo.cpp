#include "echoping.h"
#include "platform/Echo.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <dirent.h>
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
    int fd = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// Asked of the kernel directly rather than of the code under test.
bool icmpAllowedHere() {
    for (int type : {SOCK_DGRAM, SOCK_RAW}) {
        int fd = socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            close(fd);
            return true;
        }
    }
    return false;
}

#define EW_REQUIRE_ICMP()                                                                          \
    if (!icmpAllowedHere())                                                                        \
    GTEST_SKIP() << "this user may open neither ICMP ping sockets nor raw sockets here"

int openFileCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
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

struct LoopbackCase {
    const char* name;
    const char* address;
    const char* expectedReply; // null: either loopback address
    bool needsIpv6;
    friend void PrintTo(const LoopbackCase& c, std::ostream* os) { *os << '"' << c.address << '"'; }
};

class LoopbackEcho : public ::testing::TestWithParam<LoopbackCase> {};

TEST_P(LoopbackEcho, RepliesWithASaneRoundTrip) {
    EW_REQUIRE_ICMP();
    const LoopbackCase& c = GetParam();
    if (c.needsIpv6 && !hasIpv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback address";
    const Outcome o = echo(c.address);
    ASSERT_EQ(o.result, ECHO_OK);
    EXPECT_GE(o.rtt, 0);
    EXPECT_LT(o.rtt, kTimeoutMs);
    if (c.expectedReply)
        EXPECT_EQ(o.reply, c.expectedReply);
    else
        EXPECT_TRUE(o.reply == "127.0.0.1" || o.reply == "::1") << o.reply;
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, LoopbackEcho,
    ::testing::Values(LoopbackCase{"Ipv4", "127.0.0.1", "127.0.0.1", false},
                      LoopbackCase{"Ipv4InBlanks", " \t127.0.0.1  ", "127.0.0.1", false},
                      LoopbackCase{"Ipv4ShortForm", "127.1", "127.0.0.1", false},
                      LoopbackCase{"Ipv6", "::1", "::1", true},
                      LoopbackCase{"Ipv6InBlanks", "\t::1 ", "::1", true},
                      LoopbackCase{"Ipv4MappedIpv6", "::ffff:127.0.0.1", "127.0.0.1", false},
                      LoopbackCase{"HostName", "localhost", nullptr, false},
                      LoopbackCase{"HostNameInBlanks", "  localhost\t", nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Invalid arguments: rejected before anything is sent ------------------------------------

struct BadArguments {
    const char* name;
    bool nullAddress;
    bool nullRoundTrip;
    std::int16_t size;
    std::int16_t timeoutMs;
    friend void PrintTo(const BadArguments& a, std::ostream* os) { *os << a.name; }
};

class InvalidArgument : public ::testing::TestWithParam<BadArguments> {};

TEST_P(InvalidArgument, IsRefusedWithItsCode) {
    const BadArguments& a = GetParam();
    char reply[ECHO_REPLY_BUFFER] = "                ";
    std::int32_t rtt = -7;
    // The address would answer, so only the argument check can make this fail.
    EXPECT_EQ(ping(a.nullAddress ? nullptr : "127.0.0.1", reply, a.size,
                   a.nullRoundTrip ? nullptr : &rtt, a.timeoutMs, 0),
              ECHO_INVALID_ARGUMENT);
    EXPECT_EQ(rtt, -7);
    EXPECT_STREQ(reply, "                ");
}

INSTANTIATE_TEST_SUITE_P(Arguments, InvalidArgument,
                         ::testing::Values(BadArguments{"NullAddress", true, false, 32, 1000},
                                           BadArguments{"NullRoundTrip", false, true, 32, 1000},
                                           BadArguments{"NegativeSize", false, false, -1, 1000},
                                           BadArguments{"MostNegativeSize", false, false, -32768,
                                                        1000},
                                           BadArguments{"ZeroTimeout", false, false, 32, 0},
                                           BadArguments{"NegativeTimeout", false, false, 32, -5}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Private network: both socket kinds, silent and late hosts ------------------------------

struct Network {
    TestNet net;
    std::optional<TestHost> answering, silent, delayed;
};

class SocketPaths : public ::testing::TestWithParam<int> {
protected:
    static constexpr int kDelayMs = 300;

    static void SetUpTestSuite() {
        network_ = new Network;
        if (!network_->net.usable())
            return;
        network_->answering = network_->net.addAnsweringHost();
        network_->silent = network_->net.addSilentHost();
        network_->delayed = network_->net.addDelayedHost(std::chrono::milliseconds(kDelayMs));
        network_->net.allowPingSockets();
        // An address longer than the reply buffer, for the cut-off check.
        network_->net.client().exec(
            {"ip", "-6", "addr", "add", "fd42:1234:5678:9abc::1/128", "dev", "lo", "nodad"});
    }
    static void TearDownTestSuite() {
        delete network_;
        network_ = nullptr;
    }
    void SetUp() override {
        if (!network_->net.usable())
            GTEST_SKIP() << network_->net.whyNot();
        if (!network_->answering || !network_->silent || !network_->delayed)
            GTEST_SKIP() << network_->net.whyNot();
    }

    // Runs fn in the client namespace with this test's socket mode.
    void inClient(const std::function<void()>& fn) {
        ScopedSocketMode mode(GetParam());
        network_->net.runInClient(fn);
    }

    static Network* network_;
};

Network* SocketPaths::network_ = nullptr;

TEST_P(SocketPaths, RepliesFromLoopbackAndFromAHost) {
    inClient([] {
        const TestHost& host = *network_->answering;
        for (const std::string& address :
             {std::string("127.0.0.1"), std::string("::1"), host.ipv4, host.ipv6}) {
            const Outcome o = echo(address);
            EXPECT_EQ(o.result, ECHO_OK) << address;
            EXPECT_EQ(o.reply, address);
            EXPECT_GE(o.rtt, 0);
            EXPECT_LT(o.rtt, kTimeoutMs);
        }
    });
}

TEST_P(SocketPaths, EveryPayloadSizeIsAnswered) {
    // Odd sizes catch a wrong checksum; sizes above the veth MTU need fragments.
    inClient([] {
        for (const std::string& address : {network_->answering->ipv4, network_->answering->ipv6})
            for (std::int16_t size : {0, 1, 31, 32, 1452, 1473, 9001, 32767})
                EXPECT_EQ(echo(address, kTimeoutMs, size).result, ECHO_OK)
                    << address << " size " << size;
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

TEST_P(SocketPaths, SilentHostTimesOutOnTime) {
    inClient([] {
        for (const std::string& address : {network_->silent->ipv4, network_->silent->ipv6}) {
            const Outcome o = echo(address, 300);
            EXPECT_EQ(o.result, ECHO_TIMEOUT) << address;
            EXPECT_EQ(o.rtt, -1);
            EXPECT_GE(o.elapsedMs, 290) << address;
            EXPECT_LT(o.elapsedMs, 1500) << address;
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

TEST_P(SocketPaths, UnreachableRouteFailsToSend) {
    inClient([] {
        for (const char* address : {TestNet::unreachableIpv4, TestNet::unreachableIpv6}) {
            const Outcome o = echo(address);
            EXPECT_EQ(o.result, ECHO_SEND_ERROR) << address;
            EXPECT_LT(o.elapsedMs, 500) << address;
        }
    });
}

TEST_P(SocketPaths, ConcurrentThreadsEachGetTheirOwnReplies) {
    inClient([] {
        std::atomic<int> answered{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&answered, t] {
                const TestHost& host = *network_->answering;
                for (int i = 0; i < 300; ++i)
                    answered += echo((i + t) % 2 ? host.ipv4 : host.ipv6, 500).result == ECHO_OK;
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(answered.load(), 4 * 300);
    });
}

TEST_P(SocketPaths, ThousandsOfCallsKeepTheFileCount) {
    inClient([] {
        ASSERT_EQ(echo("127.0.0.1").result, ECHO_OK);
        ASSERT_EQ(echo("::1").result, ECHO_OK);
        const int before = openFileCount();
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
                         ::testing::Values(ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY),
                         [](const auto& info) {
                             return std::string(info.param == ECHO_SOCKET_DGRAM_ONLY ? "PingSocket"
                                                                                     : "RawSocket");
                         });

// --- Odd address texts: never a crash, never an answer --------------------------------------

class OddAddresses : public ::testing::Test {
protected:
    TestNet net; // no route out, so names that reach the resolver cannot leave the machine
};

TEST_F(OddAddresses, AreUnresolvedAndLeaveTheRoundTripAlone) {
    EW_REQUIRE_TESTNET(net);
    const std::vector<std::string> texts = {
        "",
        "   ",
        " \t \t",
        std::string(100 * 1024, 'a'),
        std::string(100 * 1024, '1'),
        "127.0.0.1" + std::string(2000, ' ') + "x", // a cut-off copy would look like 127.0.0.1
        "\xc3\xa9t\xc3\xa9.invalid",
        "\xff\xfe\x80\x01",
        "999.1.1.1",
        "256.0.0.1",
        "1.2.3.4.5",
        ":::",
        "1::2::3",
        "fe80::1%nosuchinterface0",
        "-",
        "a b.invalid",
    };
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

class Permissions : public ::testing::Test {
protected:
    TestNet net; // its client starts with ping sockets refused ("1 0")
};

TEST_F(Permissions, RefusedPingSocketFallsBackToRawOnlyInAuto) {
    EW_REQUIRE_TESTNET(net);
    net.runInClient([] {
        {
            ScopedSocketMode mode(ECHO_SOCKET_DGRAM_ONLY);
            EXPECT_EQ(echo("127.0.0.1").result, ECHO_NO_PERMISSION);
        }
        ScopedSocketMode mode(ECHO_SOCKET_AUTO);
        EXPECT_EQ(echo("127.0.0.1").result, ECHO_OK);
        EXPECT_EQ(echo("::1").result, ECHO_OK);
    });
}

TEST_F(Permissions, AutoUsesThePingSocketWithoutRawRights) {
    EW_REQUIRE_TESTNET(net);
    ASSERT_TRUE(net.allowPingSockets());
    net.runInClient([] {
        ASSERT_TRUE(dropNetRawInThisThread());
        {
            ScopedSocketMode mode(ECHO_SOCKET_RAW_ONLY);
            EXPECT_EQ(echo("127.0.0.1").result, ECHO_NO_PERMISSION);
        }
        ScopedSocketMode mode(ECHO_SOCKET_AUTO);
        EXPECT_EQ(echo("127.0.0.1").result, ECHO_OK);
        EXPECT_EQ(echo("::1").result, ECHO_OK);
    });
}

TEST_F(Permissions, NeitherSocketAllowedSaysHowToAllowItOnce) {
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
    auto count = [&](const std::string& what) {
        int n = 0;
        for (size_t at = said.find(what); at != std::string::npos; at = said.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("ping_group_range"), 1) << said;
    EXPECT_EQ(count("cap_net_raw"), 1) << said;
}

// --- Sockets of threads that end --------------------------------------------------------------

TEST(EchoResources, EndingThreadsCloseTheirSockets) {
    EW_REQUIRE_ICMP();
    const bool v6 = hasIpv6Loopback();
    const int before = openFileCount();
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            answered += echo("127.0.0.1").result == ECHO_OK;
            answered += !v6 || echo("::1").result == ECHO_OK;
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(answered.load(), 6);
    EXPECT_EQ(openFileCount(), before);
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
