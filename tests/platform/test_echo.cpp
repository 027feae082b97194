#include "echoping.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <thread>

namespace {

using ew::test::NetNamespace;
using ew::test::TestNet;
using Clock = std::chrono::steady_clock;
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
    const auto start = Clock::now();
    const int result = ping(address.c_str(), reply, size, &rtt, timeoutMs, 0);
    return {result, rtt, reply,
            std::chrono::duration_cast<milliseconds>(Clock::now() - start).count()};
}

struct ScopedSocketMode {
    explicit ScopedSocketMode(int mode) : previous(echo_set_socket_mode(mode)) {}
    ~ScopedSocketMode() { echo_set_socket_mode(previous); }
    int previous;
};

long openFiles() {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
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

// Answers, from the client namespace, hosts that answer, never answer and answer late.
struct Network {
    TestNet net;
    std::optional<ew::test::TestHost> up = net.addAnsweringHost(), silent = net.addSilentHost(),
                                      late = net.addDelayedHost(milliseconds(300));
    bool ready = up && silent && late && net.allowPingSockets() &&
                 net.client().exec(
                     {"ip", "addr", "add", "fd42:1234:5678:9abc::1/128", "dev", "lo", "nodad"});
};

class SocketPaths : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() { network = std::make_unique<Network>(); }
    static void TearDownTestSuite() { network.reset(); }
    void SetUp() override {
        if (!network->ready)
            GTEST_SKIP() << network->net.whyNot();
    }
    void inClient(const std::function<void()>& fn) {
        ScopedSocketMode mode(GetParam());
        network->net.runInClient(fn);
    }
    static inline std::unique_ptr<Network> network;
};

// Every white space around the address is dropped; odd sizes catch a wrong checksum, sizes
// above the veth MTU need fragments; the reply text is cut to its buffer (16 bytes exactly, so
// the sanitizer sees a write past it).
TEST_P(SocketPaths, EveryAddressTextAndSizeIsAnsweredByItsPeer) {
    inClient([] {
        const auto& host = *network->up;
        const std::pair<std::string, std::string> texts[] = {
            {"127.0.0.1", "127.0.0.1"}, {" \t\r\n127.1\v\f", "127.0.0.1"},
            {"::1\r\n", "::1"},         {"::ffff:127.0.0.1", "127.0.0.1"},
            {host.ipv4, host.ipv4},     {host.ipv6, host.ipv6},
            {"\r\nlocalhost\n", ""}};
        for (const auto& [text, peer] : texts)
            for (std::int16_t size : {0, 1, 31, 1473, 32767}) {
                const Outcome o = echo(text, 1000, size);
                ASSERT_EQ(o.result, ECHO_OK) << text << " size " << size;
                EXPECT_TRUE(o.reply == peer ||
                            (peer.empty() && (o.reply == "::1" || o.reply == "127.0.0.1")));
                EXPECT_TRUE(o.rtt >= 0 && o.rtt < 1000);
            }
        auto reply = std::make_unique<char[]>(16);
        std::int32_t rtt = -1;
        ASSERT_EQ(ping("fd42:1234:5678:9abc::1", reply.get(), 32, &rtt, 1000, 0), ECHO_OK);
        EXPECT_STREQ(reply.get(), "fd42:1234:5678:");
    });
}

TEST_P(SocketPaths, FailuresComeWithTheirCodeAndLeaveTheRoundTripAlone) {
    inClient([] {
        const std::pair<std::string, int> cases[] = {{network->silent->ipv4, ECHO_TIMEOUT},
                                                     {network->silent->ipv6, ECHO_TIMEOUT},
                                                     {TestNet::unreachableIpv4, ECHO_SEND_ERROR},
                                                     {TestNet::unreachableIpv6, ECHO_SEND_ERROR}};
        for (const auto& [address, expected] : cases) {
            const Outcome o = echo(address, 300);
            EXPECT_EQ(o.result, expected) << address;
            EXPECT_EQ(o.rtt, -1);
        }
        // The reply to a timed-out attempt turns up during the next: only the next's own counts.
        for (const std::string& address : {network->late->ipv4, network->late->ipv6}) {
            ASSERT_EQ(echo(address, 150).result, ECHO_TIMEOUT) << address;
            const Outcome o = echo(address, 600);
            ASSERT_EQ(o.result, ECHO_OK) << address;
            EXPECT_GE(o.rtt, 290) << address;
        }
    });
}

// A reply that went to another thread's socket never arrives at all; each thread's sockets
// close when it ends, and repeated calls open nothing more.
TEST_P(SocketPaths, ThreadsGetTheirOwnRepliesAndKeepTheFileCount) {
    inClient([] {
        const long before = openFiles();
        std::atomic<int> answered{0}, failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                const auto& host = *network->up;
                for (int i = 0; i < 500; ++i)
                    answered += echo((i + t) % 2 ? host.ipv4 : host.ipv6, 3000).result == ECHO_OK;
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

INSTANTIATE_TEST_SUITE_P(Modes, SocketPaths,
                         ::testing::Values(ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY),
                         [](const auto& info) {
                             return info.param == ECHO_SOCKET_RAW_ONLY ? "Raw" : "PingSocket";
                         });

// A namespace of the test's own where nothing answers by itself: the kernel ignores echo
// requests, and the name server, 127.0.0.1:53, is a socket of the test's that reads nothing.
class Quiet : public ::testing::Test {
protected:
    void SetUp() override {
        ns = NetNamespace::create(&why);
        if (!ns)
            GTEST_SKIP() << why;
        ASSERT_TRUE(ns->setSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
                    ns->setSysctl("net.ipv6.icmp.echo_ignore_all", "1") &&
                    ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647") &&
                    ns->exec({"ip", "addr", "add", "10.9.0.1/32", "dev", "lo"}) &&
                    ns->exec({"ip", "addr", "add", "10.9.0.2/32", "dev", "lo"}));
        std::ofstream(conf) << "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n";
        ns->run([&] {
            dns = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            const sockaddr_in at{AF_INET, htons(53), {htonl(INADDR_LOOPBACK)}, {}};
            ASSERT_EQ(bind(dns, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
        });
    }
    void TearDown() override {
        if (dns >= 0)
            close(dns);
        std::filesystem::remove(conf);
    }
    // Runs fn in the namespace with the resolver of its thread (and of the lookups that this
    // thread starts) pointed at the silent server.
    void run(const std::function<void()>& fn) {
        ns->run([&] {
            ASSERT_EQ(unshare(CLONE_NEWNS), 0);
            ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
            ASSERT_EQ(mount(conf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr), 0);
            fn();
        });
    }
    // The A queries that reached the server so far: one per lookup.
    int lookups() const {
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
    std::string why, conf = testing::TempDir() + "ew-resolv-" + std::to_string(getpid());
    std::unique_ptr<NetNamespace> ns;
    int dns = -1;
};

// Attempts at a name that never resolves end at their time-out and share one lookup; texts
// that are no address never get as far as a reply, and those that look numeric never reach
// the resolver.
TEST_F(Quiet, NamesAreLookedUpOnceWithinTheTimeOutAndOddTextsAreUnresolved) {
    const std::vector<std::string> numeric = {"",
                                              " \t\r\n\v\f",
                                              ":::",
                                              "1::2::3",
                                              "999.1.1.1",
                                              "256.0.0.1",
                                              "1.2.3.4.5",
                                              "fe80::1%nosuchinterface0",
                                              std::string(100 * 1024, '1'),
                                              std::string(100 * 1024, 'a')};
    const std::vector<std::string> names = {"-", "a b.invalid", "\xc3\xa9t\xc3\xa9.invalid",
                                            "\xff\xfe\x80\x01",
                                            "127.0.0.1" + std::string(2000, ' ') + "x"};
    run([&] {
        for (const auto& text : numeric)
            EXPECT_EQ(echo(text, 100).result, ECHO_UNRESOLVED) << text.substr(0, 40);
        EXPECT_EQ(lookups(), 0);
        for (int i = 0; i < 3; ++i) {
            const Outcome o = echo("  never.answers.test\r\n", 1000);
            EXPECT_EQ(o.result, ECHO_UNRESOLVED);
            EXPECT_TRUE(o.ms >= 990 && o.ms < 1200) << o.ms;
        }
        EXPECT_EQ(lookups(), 1);
        for (const auto& text : names) {
            const Outcome o = echo(text, 100);
            EXPECT_EQ(o.result, ECHO_UNRESOLVED) << text.substr(0, 40);
            EXPECT_EQ(o.rtt, -1);
        }
    });
}

// Stop and Exit: every call waiting now, for a reply or for a lookup, ends at once; a call
// that starts afterwards runs its course.
TEST_F(Quiet, InterruptEndsEveryWaitingCallAndNoLaterOne) {
    run([] {
        std::vector<std::future<Outcome>> waiting;
        for (const char* address : {"127.0.0.1", "::1", "slow.name.test"})
            waiting.push_back(std::async(std::launch::async, [=] { return echo(address, 30000); }));
        std::this_thread::sleep_for(milliseconds(300));
        echo_interrupt();
        for (auto& w : waiting) {
            const Outcome o = w.get();
            EXPECT_EQ(o.result, ECHO_INTERRUPTED);
            EXPECT_LT(o.ms, 3000);
        }
        EXPECT_EQ(echo("10.9.0.1", 200).result, ECHO_TIMEOUT);
    });
}

// Answers echo requests to 10.9.0.1 from 10.9.0.1, and those to 10.9.0.2 from 10.9.0.1 too:
// a reply with the right identifier and sequence, from the wrong peer.
void respond(int in, int out, const std::atomic<bool>& stop) {
    unsigned char p[2048];
    for (int i = 0; i < 100 && !stop; ++i) {
        pollfd ready{in, POLLIN, 0};
        const ssize_t n = poll(&ready, 1, 50) > 0 ? recv(in, p, sizeof p, 0) : 0;
        if (n < 28 || p[0] != 0x45 || p[20] != 8)
            continue;
        sockaddr_in to{AF_INET, 0, {}, {}};
        memcpy(&to.sin_addr, p + 12, 4);
        memcpy(p + 16, &to.sin_addr, 4);
        inet_pton(AF_INET, "10.9.0.1", p + 12);
        p[20] = p[22] = p[23] = 0; // an echo reply, its checksum yet to come
        std::uint32_t sum = 0;
        for (ssize_t k = 20; k < n; k += 2)
            sum += p[k] << 8 | (k + 1 < n ? p[k + 1] : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
        sum = ~(sum + (sum >> 16));
        p[22] = static_cast<unsigned char>(sum >> 8);
        p[23] = static_cast<unsigned char>(sum);
        sendto(out, p, n, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
}

TEST_F(Quiet, OnlyTheReplyFromThePeerPingedCounts) {
    run([] {
        std::atomic<bool> stop{false};
        const int in = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        const int out = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
        std::thread responder(respond, in, out, std::cref(stop));
        for (const int mode : {ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_RAW_ONLY}) {
            ScopedSocketMode scoped(mode);
            EXPECT_EQ(echo("10.9.0.1", 500).result, ECHO_OK) << mode;
            EXPECT_EQ(echo("10.9.0.2", 500).result, ECHO_TIMEOUT) << mode;
        }
        stop = true;
        responder.join();
        close(in);
        close(out);
    });
}

// Without ping sockets AUTO takes the raw one, without raw rights the ping socket; with
// neither, every attempt says so and the hint on how to allow ICMP comes once.
TEST(EchoPermissions, AutoTakesTheAllowedSocketAndSaysOnceWhenNoneIs) {
    for (const int allowed : {ECHO_SOCKET_RAW_ONLY, ECHO_SOCKET_DGRAM_ONLY, ECHO_SOCKET_AUTO}) {
        TestNet net; // ping sockets refused
        EW_REQUIRE_TESTNET(net);
        ASSERT_TRUE(allowed != ECHO_SOCKET_DGRAM_ONLY || net.allowPingSockets());
        std::string said;
        net.runInClient([&] {
            ASSERT_TRUE(allowed == ECHO_SOCKET_RAW_ONLY || dropNetRawInThisThread());
            const int other =
                allowed == ECHO_SOCKET_RAW_ONLY ? ECHO_SOCKET_DGRAM_ONLY : ECHO_SOCKET_RAW_ONLY;
            echo_reset_permission_hint();
            testing::internal::CaptureStderr();
            {
                ScopedSocketMode mode(other);
                EXPECT_EQ(echo("127.0.0.1").result, ECHO_NO_PERMISSION);
            }
            ScopedSocketMode mode(ECHO_SOCKET_AUTO);
            const int expected = allowed == ECHO_SOCKET_AUTO ? ECHO_NO_PERMISSION : ECHO_OK;
            for (const char* address : {"127.0.0.1", "::1", "localhost"})
                EXPECT_EQ(echo(address).result, expected) << address << " " << allowed;
            said = testing::internal::GetCapturedStderr();
        });
        for (const std::string what : {"ping_group_range", "cap_net_raw"})
            EXPECT_EQ(said.find(what), said.rfind(what)) << said;
        EXPECT_NE(said.find("cap_net_raw"), std::string::npos);
    }
}

} // namespace
