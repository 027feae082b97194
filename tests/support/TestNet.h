#pragma once

// Private test networks made of network namespaces, so that tests can ping hosts that answer,
// never answer or answer late without sending a single packet off this machine.
//
// The namespaces are anonymous and held only by file descriptors of the test process: they
// vanish with it even when it crashes, and parallel test processes cannot collide. Building
// them needs root, ip (iproute2) and nsenter (util-linux); where that is missing, usable() is
// false and whyNot() says why, so the test can skip:
//
//     ew::test::TestNet net;
//     EW_REQUIRE_TESTNET(net);
//     auto quiet = net.addSilentHost();
//     net.runInClient([&] { /* sockets opened here live in the client namespace */ });

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ew::test {

class NetNamespace {
public:
    // A new namespace with only lo, which is up. Null (and *whyNot set) where refused.
    static std::unique_ptr<NetNamespace> create(std::string* whyNot = nullptr);
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    // Names the namespace for other programs ("nsenter --net=PATH"), while this object lives.
    std::string path() const;
    // Runs fn on a new thread that has entered the namespace, and waits for it.
    void run(const std::function<void()>& fn) const;
    // Runs a program inside the namespace; true when it exits with 0. Its output and errors
    // go to *output. Killed after 10 s.
    bool exec(const std::vector<std::string>& argv, std::string* output = nullptr) const;
    // A sysctl of this namespace, e.g. ("net.ipv4.ping_group_range", "0 2147483647").
    bool setSysctl(const std::string& key, const std::string& value) const;
    std::string sysctl(const std::string& key) const;

private:
    explicit NetNamespace(int fd) : fd_(fd) {}
    int fd_;
};

struct TestHost {
    std::string ipv4;
    std::string ipv6;
};

// A client namespace and, behind a veth pair each, test hosts:
//   client side 10.77.N.1, fd42:77:N::1   <->   host N  10.77.N.2, fd42:77:N::2
// Nothing has a route out. The client's ping sockets start refused, as on a default system.
class TestNet {
public:
    TestNet();
    ~TestNet();
    TestNet(const TestNet&) = delete;
    TestNet& operator=(const TestNet&) = delete;

    bool usable() const { return client_ != nullptr; }
    const std::string& whyNot() const { return whyNot_; }

    // The kernel answers at once.
    std::optional<TestHost> addAnsweringHost();
    // Echo requests are ignored: every ping times out.
    std::optional<TestHost> addSilentHost();
    // Replies come after delay, from a responder program in the host's namespace.
    std::optional<TestHost> addDelayedHost(std::chrono::milliseconds delay);
    // Replies come at once with the request's identifier and sequence, but from another
    // address of the host (10.77.N.3, fd42:77:N::3): no reply of the host pinged.
    std::optional<TestHost> addImpostorHost();

    // Addresses inside the client whose route is "unreachable": sending fails at once.
    static constexpr const char* unreachableIpv4 = "10.77.250.1";
    static constexpr const char* unreachableIpv6 = "fd42:77:250::1";

    // Lets every group of the client open unprivileged ICMP ping sockets, or none again.
    bool allowPingSockets(bool allow = true);

    void runInClient(const std::function<void()>& fn) const { client_->run(fn); }
    const NetNamespace& client() const { return *client_; }

private:
    std::optional<TestHost> addHost(const std::string& mode,
                                    const std::vector<std::string>& responder = {});

    std::string whyNot_;
    std::unique_ptr<NetNamespace> client_;
    std::vector<std::unique_ptr<NetNamespace>> hosts_;
    std::vector<int> responders_; // process ids, ended with the network
};

} // namespace ew::test

// Skips the current gtest test when no private network can be built here.
#define EW_REQUIRE_TESTNET(net)                                                                    \
    if (!(net).usable())                                                                           \
    GTEST_SKIP() << (net).whyNot()
