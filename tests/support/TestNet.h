#pragma once

// Private test networks of anonymous network namespaces, held only by file descriptors of the
// test process (they go with it even when it crashes; parallel tests cannot collide), so that
// tests can ping hosts that answer, never answer, answer late or answer in another's name
// without a packet leaving this machine. They need root, ip and nsenter; where that fails,
// usable() is false and whyNot() says why.

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

    // Names the namespace for other programs ("nsenter --net=PATH") while this object lives.
    std::string path() const;
    // Runs fn on a new thread that has entered the namespace, and waits for it.
    void run(const std::function<void()>& fn) const;
    // Runs a program inside the namespace, killed after 10 s; true when it exits with 0.
    bool exec(const std::vector<std::string>& argv, std::string* output = nullptr) const;
    bool setSysctl(const std::string& key, const std::string& value) const;

private:
    explicit NetNamespace(int fd) : fd_(fd) {}
    int fd_;
};

struct TestHost {
    std::string ipv4;
    std::string ipv6;
};

// A client namespace with no route out (its ping sockets refused, as on a default system)
// and, behind a veth pair each, test host N at 10.77.N.2 and fd42:77:N::2.
class TestNet {
public:
    TestNet();
    ~TestNet();

    bool usable() const { return client_ != nullptr; }
    const std::string& whyNot() const { return whyNot_; }

    std::optional<TestHost> addAnsweringHost() { return addHost("answering"); }
    std::optional<TestHost> addSilentHost() { return addHost("silent"); }
    std::optional<TestHost> addDelayedHost(std::chrono::milliseconds delay) {
        return addHost("responder", {"-d", std::to_string(delay.count())});
    }
    // Answers at once with the request's identifier and sequence, but from another address
    // of the host (10.77.N.3, fd42:77:N::3).
    std::optional<TestHost> addImpostorHost() { return addHost("impostor", {"-d", "0"}); }

    // Addresses inside the client whose route is "unreachable": sending fails at once.
    static constexpr const char* unreachableIpv4 = "10.77.250.1";
    static constexpr const char* unreachableIpv6 = "fd42:77:250::1";

    // Lets every group of the client open unprivileged ICMP ping sockets, or none again.
    bool allowPingSockets(bool allow = true);
    void runInClient(const std::function<void()>& fn) const { client_->run(fn); }
    const NetNamespace& client() const { return *client_; }
    // Test host N's side, e.g. to make it stop answering.
    const NetNamespace& host(std::size_t n) const { return *hosts_.at(n - 1); }

private:
    std::optional<TestHost> addHost(const std::string& mode,
                                    const std::vector<std::string>& responder = {});

    std::string whyNot_;
    std::unique_ptr<NetNamespace> client_;
    std::vector<std::unique_ptr<NetNamespace>> hosts_;
    std::vector<int> responders_; // process ids, ended with the network
};

} // namespace ew::test
