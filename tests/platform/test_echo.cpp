#include "echoping.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/syscall.h>

namespace {

using ew::test::TestNet;
using std::chrono::milliseconds;

struct Outcome {
    int result;
    std::int32_t rtt;
    std::string reply;
    long long ms;
};

Outcome echo(const std::string& address, std::int16_t timeoutMs = 1000, std::int16_t size = 32) {
    char reply[ECHO_REPLY_BUFFER] = "                ";
    std::int32_t rtt = -1;
    const auto start = std::chrono::steady_clock::now();
    const int result = ping(address.c_str(), reply, size, &rtt, timeoutMs, 0);
    const auto took = std::chrono::steady_clock::now() - start;
    return {result, rtt, reply, std::chrono::duration_cast<milliseconds>(took).count()};
}

struct ScopedSocketMode {
    explicit ScopedSocketMode(int mode) : previous(echo_set_socket_mode(mode)) {}
    ~ScopedSocketMode() { echo_set_socket_mode(previous); }
    int previous;
};

// The client of a private network with hosts that answer, never answer and answer late, and
// a name server, 127.0.0.1:53, that is a socket of the test's own and never answers.
class Echo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        net = std::make_unique<TestNet>();
        up = net->addAnsweringHost(), silent = net->addSilentHost();
        late = net->addDelayedHost(milliseconds(300));
        ready = up && silent && late && net->allowPingSockets() &&
                net->client().exec(
                    {"ip", "addr", "add", "fd42:1234:5678:9abc::1/128", "dev", "lo", "nodad"});
        std::ofstream(conf) << "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";
        net->runInClient([] {
            dns = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
            ready = ready && bind(dns, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
        });
    }
    static void TearDownTestSuite() {
        close(dns);
        std::filesystem::remove(conf);
        net.reset();
    }
    void SetUp() override {
        if (!ready)
            GTEST_SKIP() << net->whyNot();
    }
    // Runs fn in the client with the resolver of its thread (and of the lookups that thread
    // starts) pointed at the silent name server.
    static void inClient(const std::function<void()>& fn) {
        net->runInClient([&] {
            ASSERT_EQ(unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            fn();
        });
    }
    // The A queries that reached the name server so far: one per lookup.
    static int lookups() {
        unsigned char q[512];
        int count = 0;
        for (ssize_t n; (n = recv(dns, q, sizeof q, MSG_DONTWAIT)) > 12;) {
            ssize_t i = 12;
            while (i < n && q[i])
                i += q[i] + 1;
            count += i + 2 < n && q[i + 1] == 0 && q[i + 2] == 1;
        }
        return count;
    }
    static inline std::unique_ptr<TestNet> net;
    static inline std::optional<ew::test::TestHost> up, silent, late;
    static inline bool ready = false;
    static inline int dns = -1;
    static inline std::string conf = testing::TempDir() + "ew-resolv-" + std::to_string(getpid());
};

class SocketPaths : public Echo, public ::testing::WithParamInterface<int> {
protected:
    ScopedSocketMode mode{GetParam()};
};

// Every kind of white space around the address is dropped; odd sizes catch a wrong checksum,
// sizes above the MTU need fragments; the reply text is cut to its buffer (16 bytes exactly,
// so that the sanitizer sees a write past it).
TEST_P(SocketPaths, EveryAddressTextAndSizeIsAnswered) {
    inClient([] {
        const std::pair<std::string, std::string> texts[] = {
            {" \t\r\n127.1\v\f", "127.0.0.1"}, {"::1\r\n", "::1"},   {up->ipv4, up->ipv4},
            {"::ffff:127.0.0.1", "127.0.0.1"}, {up->ipv6, up->ipv6}, {"\nlocalhost\r\n", ""}};
        for (const auto& [text, peer] : texts)
            for (std::int16_t size : {0, 1, 31, 1473, 32767}) {
                const Outcome o = echo(text, 1000, size);
                ASSERT_EQ(o.result, ECHO_OK) << text << " size " << size;
                EXPECT_TRUE(o.reply == peer || (peer.empty() && o.reply.find('1') == 0)) << text;
                EXPECT_TRUE(o.rtt >= 0 && o.rtt < 1000);
            }
        auto reply = std::make_unique<char[]>(16);
        std::int32_t rtt = -1;
        ASSERT_EQ(ping("fd42:1234:5678:9abc::1", reply.get(), 32, &rtt, 1000, 0), ECHO_OK);
        EXPECT_STREQ(reply.get(), "fd42:1234:5678:");
    });
}

// Silent and unreachable hosts fail with their codes; a reply that turns up late, during the
// next attempt, is not taken for the next attempt's; a call with a bad argument sends nothing.
TEST_P(SocketPaths, FailuresComeWithTheirCodeAndLeaveTheRoundTripAlone) {
    inClient([] {
        const std::pair<std::string, int> cases[] = {{silent->ipv4, ECHO_TIMEOUT},
                                                     {silent->ipv6, ECHO_TIMEOUT},
                                                     {TestNet::unreachableIpv4, ECHO_SEND_ERROR},
                                                     {TestNet::unreachableIpv6, ECHO_SEND_ERROR},
                                                     {late->ipv4, ECHO_TIMEOUT},
                                                     {late->ipv6, ECHO_TIMEOUT}};
        for (const auto& [address, expected] : cases) {
            const Outcome o = echo(address, 150);
            EXPECT_EQ(o.result, expected) << address;
            EXPECT_EQ(o.rtt, -1);
        }
        for (const std::string& address : {late->ipv4, late->ipv6}) {
            const Outcome o = echo(address, 600);
            ASSERT_EQ(o.result, ECHO_OK) << address;
            EXPECT_GE(o.rtt, 290) << address;
        }
        std::int32_t rtt = -7;
        for (const auto& [size, timeout] : {std::pair{-1, 1000}, {32, 0}, {32, -5}})
            EXPECT_EQ(ping("127.0.0.1", nullptr, size, &rtt, timeout, 0), ECHO_INVALID_ARGUMENT);
        EXPECT_EQ(ping(nullptr, nullptr, 32, &rtt, 1000, 0), ECHO_INVALID_ARGUMENT);
        EXPECT_EQ(ping("127.0.0.1", nullptr, 32, nullptr, 1000, 0), ECHO_INVALID_ARGUMENT);
        EXPECT_EQ(rtt, -7);
    });
}

// A reply that went to another thread's socket never arrives at all; each thread's sockets
// close when it ends, and repeated calls open nothing more.
TEST_P(SocketPaths, ThreadsGetTheirOwnRepliesAndKeepTheFileCount) {
    inClient([] {
        const auto openFiles = [] {
            const std::filesystem::directory_iterator fds("/proc/self/fd");
            return std::distance(fds, std::filesystem::directory_iterator{});
        };
        const long before = openFiles();
        std::atomic<int> answered{0}, failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 500; ++i)
                    answered += echo((i + t) % 2 ? up->ipv4 : up->ipv6, 3000).result == ECHO_OK;
                for (const char* bad : {TestNet::unreachableIpv4, "", "999.1.1.1"})
                    failed += echo(bad, 100).result != ECHO_OK;
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(answered.load(), 4 * 500);
        EXPECT_EQ(failed.load(), 4 * 3);
        EXPECT_EQ(openFiles(), before);
    });
}

// Sees the client's echo requests to `to` leave and answers each with a reply from `from`,
// its identifier and sequence right, until told to stop (5 s at most).
void replyAs(int in, int out, const std::string& to, const std::string& from,
             const std::atomic<bool>& stop) {
    unsigned char p[2048], target[4];
    inet_pton(AF_INET, to.c_str(), target);
    for (int i = 0; i < 100 && !stop; ++i) {
        pollfd ready{in, POLLIN, 0};
        const ssize_t n = poll(&ready, 1, 50) > 0 ? recv(in, p, sizeof p, 0) : 0;
        if (n < 28 || p[0] != 0x45 || p[9] != IPPROTO_ICMP || p[20] != 8 ||
            memcmp(p + 16, target, 4))
            continue;
        sockaddr_in back{AF_INET, 0, {}, {}};
        memcpy(&back.sin_addr, p + 12, 4);
        memcpy(p + 16, p + 12, 4);
        inet_pton(AF_INET, from.c_str(), p + 12);
        p[20] = p[22] = p[23] = 0; // an echo reply, its checksum to come
        std::uint32_t sum = 0;
        for (ssize_t k = 20; k < n; k += 2)
            sum += p[k] << 8 | (k + 1 < n ? p[k + 1] : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
        sum = ~(sum + (sum >> 16));
        p[22] = static_cast<unsigned char>(sum >> 8);
        p[23] = static_cast<unsigned char>(sum);
        sendto(out, p, n, 0, reinterpret_cast<sockaddr*>(&back), sizeof back);
    }
}

TEST_P(SocketPaths, OnlyTheReplyFromThePeerPingedCounts) {
    inClient([] {
        const int in = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
        const int out = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        for (const auto& [from, expected] :
             {std::pair<std::string, int>{silent->ipv4, ECHO_OK}, {up->ipv4, ECHO_TIMEOUT}}) {
            std::atomic<bool> stop{false};
            std::thread responder(replyAs, in, out, silent->ipv4, from, std::cref(stop));
            EXPECT_EQ(echo(silent->ipv4, 500).result, expected) << "reply from " << from;
            stop = true;
            responder.join();
        }
        close(in);
        close(out);
    });
}

INSTANTIATE_TEST_SUITE_P(Modes, SocketPaths,
                         ::testing::Values(ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY),
                         [](const auto& info) { return info.param == 1 ? "Ping" : "Raw"; });

// Attempts at a name that never resolves end at their time-out and share one lookup; other
// texts that are no address fail, and those that look numeric never reach the resolver.
TEST_F(Echo, NamesAreLookedUpOnceWithinTheTimeOutAndOddTextsAreUnresolved) {
    inClient([] {
        for (const std::string& text :
             {std::string(""), std::string(" \t\r\n\v\f"), std::string(":::"),
              std::string("1::2::3"), std::string("999.1.1.1"), std::string("1.2.3.4.5"),
              std::string("fe80::1%nosuchinterface0"), std::string(100 * 1024, '1'),
              std::string(100 * 1024, 'a')})
            EXPECT_EQ(echo(text, 100).result, ECHO_UNRESOLVED) << text.substr(0, 40);
        EXPECT_EQ(lookups(), 0);
        for (int i = 0; i < 3; ++i) {
            const Outcome o = echo("  never.answers.test\r\n", 1000);
            EXPECT_EQ(o.result, ECHO_UNRESOLVED);
            EXPECT_TRUE(o.ms >= 990 && o.ms < 1200) << o.ms;
        }
        EXPECT_EQ(lookups(), 1);
        for (const std::string& name : {std::string("a b.invalid"), std::string("\xff\xfe\x80"),
                                        "127.0.0.1" + std::string(2000, ' ') + "x"})
            EXPECT_EQ(echo(name, 100).rtt, -1) << name.substr(0, 40);
    });
}

// Stop and Exit: every call waiting now, for a reply or for a lookup, ends at once; a call
// that starts afterwards runs its course.
TEST_F(Echo, InterruptEndsEveryWaitingCallAndNoLaterOne) {
    inClient([] {
        std::vector<std::future<Outcome>> waiting;
        for (const std::string& address : {silent->ipv4, silent->ipv6, std::string("slow.test")})
            waiting.push_back(std::async(std::launch::async, [=] { return echo(address, 30000); }));
        std::this_thread::sleep_for(milliseconds(300));
        echo_interrupt();
        for (auto& w : waiting) {
            const Outcome o = w.get();
            EXPECT_EQ(o.result, ECHO_INTERRUPTED);
            EXPECT_LT(o.ms, 3000);
        }
        EXPECT_EQ(echo(up->ipv4).result, ECHO_OK);
    });
}

// Capabilities belong to threads, so a test thread can stand in for an unprivileged user.
bool dropNetRawInThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    data[CAP_NET_RAW / 32].permitted &= ~(1u << (CAP_NET_RAW % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

// Without ping sockets AUTO takes the raw one, without raw rights the ping socket; with
// neither, every attempt says so and the hint on how to allow ICMP comes once.
TEST_F(Echo, AutoTakesTheAllowedSocketAndSaysOnceWhenNoneIs) {
    for (const int allowed : {ECHO_SOCKET_RAW_ONLY, ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_AUTO}) {
        ASSERT_TRUE(net->allowPingSockets(allowed == ECHO_SOCKET_DGRAM_ONLY));
        std::string said;
        net->runInClient([&] {
            ASSERT_TRUE(allowed == ECHO_SOCKET_RAW_ONLY || dropNetRawInThisThread());
            echo_reset_permission_hint();
            testing::internal::CaptureStderr();
            {
                ScopedSocketMode other(allowed == ECHO_SOCKET_RAW_ONLY ? ECHO_SOCKET_DGRAM_ONLY
                                                                       : ECHO_SOCKET_RAW_ONLY);
                EXPECT_EQ(echo("127.0.0.1").result, ECHO_NO_PERMISSION);
            }
            const int expected = allowed == ECHO_SOCKET_AUTO ? ECHO_NO_PERMISSION : ECHO_OK;
            for (const char* address : {"127.0.0.1", "::1", up->ipv6.c_str()})
                EXPECT_EQ(echo(address).result, expected) << address << " " << allowed;
            said = testing::internal::GetCapturedStderr();
        });
        EXPECT_EQ(count(said.begin(), said.end(), '\n'), 3) << said; // the hint, once
    }
    ASSERT_TRUE(net->allowPingSockets());
}

} // namespace
