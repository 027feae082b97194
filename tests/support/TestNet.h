#pragma once

// Private test networks of anonymous network namespaces, held only by file descriptors of the
// test process (they go with it even when it crashes; parallel tests cannot collide), so that
// tests can ping hosts that answer, never answer, answer late or answer in another's name
// without a packet leaving this machine. They need root, ip and nsenter; where that fails,
// usable() is false and whyNot() says why.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ew::test {

// Runs a program under timeout(1), killed after 10 s, with its output and errors collected and
// the sbin folders on the path; true when it exits with 0.
inline bool runProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
    std::string command = "PATH=$PATH:/usr/sbin:/sbin exec timeout -s KILL 10";
    for (const std::string& a : argv) {
        command += " '";
        for (char c : a)
            command += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += "'";
    }
    FILE* p = popen((command + " </dev/null 2>&1").c_str(), "re");
    std::string collected = p ? "" : std::strerror(errno);
    char buf[512];
    for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        collected.append(buf, n);
    const int status = p ? pclose(p) : -1;
    if (output)
        *output = collected;
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class NetNamespace {
public:
    // A new namespace with only lo, which is up. Null (and *whyNot set) where refused.
    static std::unique_ptr<NetNamespace> create(std::string* whyNot) {
        int fd = -1, err = 0;
        // unshare() moves only the calling thread: a throw-away thread makes the namespace and
        // the descriptor keeps it alive.
        std::thread([&] {
            if (unshare(CLONE_NEWNET) != 0 ||
                (fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) < 0)
                err = errno;
        }).join();
        std::unique_ptr<NetNamespace> ns(err ? nullptr : new NetNamespace(fd));
        std::string out = std::strerror(err);
        if (ns && ns->exec({"ip", "link", "set", "lo", "up"}, &out))
            return ns;
        *whyNot = "cannot make a network namespace (needs root, ip, nsenter): " + out;
        return nullptr;
    }
    ~NetNamespace() { close(fd_); }

    // Names the namespace for other programs ("nsenter --net=PATH") while this object lives.
    std::string path() const {
        return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
    }
    // Runs fn on a new thread that has entered the namespace, and waits for it.
    void run(const std::function<void()>& fn) const {
        int err = 0;
        std::thread([&] { setns(fd_, CLONE_NEWNET) == 0 ? fn() : void(err = errno); }).join();
        if (err != 0)
            throw std::runtime_error("cannot enter the test namespace: " +
                                     std::string(std::strerror(err)));
    }
    bool exec(std::vector<std::string> argv, std::string* output = nullptr) const {
        argv.insert(argv.begin(), {"nsenter", "--net=" + path(), "--"});
        return runProgram(argv, output);
    }
    bool setSysctl(const std::string& key, const std::string& value) const {
        return exec({"sysctl", "-qw", key + "=" + value});
    }

private:
    explicit NetNamespace(int fd) : fd_(fd) {}
    int fd_;
};

struct TestHost {
    std::string ipv4, ipv6;
};

// A client namespace with no route out (its ping sockets refused, as on a default system)
// and, behind a veth pair each, test host N at 10.77.N.2 and fd42:77:N::2.
class TestNet {
public:
    TestNet() : client_(NetNamespace::create(&whyNot_)) {
        if (client_ &&
            !(client_->exec({"ip", "route", "add", "unreachable", "10.77.250.0/24"}) &&
              client_->exec({"ip", "-6", "route", "add", "unreachable", "fd42:77:250::/64"}))) {
            whyNot_ = "cannot set up routes in the test namespace";
            client_.reset();
        }
    }
    ~TestNet() {
        for (const int pid : responders_)
            kill(pid, SIGKILL);
    }

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

    // Lets every group of the client open unprivileged ICMP ping sockets.
    bool allowPingSockets() {
        return client_ && client_->setSysctl("net.ipv4.ping_group_range", "0 2147483647");
    }
    void runInClient(const std::function<void()>& fn) const { client_->run(fn); }
    const NetNamespace& client() const { return *client_; }
    // Test host N's side, e.g. to make it stop answering.
    const NetNamespace& host(std::size_t n) const { return *hosts_.at(n - 1); }

private:
    // Host N, wired by the script in this source tree's scripts folder, which names the process
    // id of the responder it starts on its last line.
    std::optional<TestHost> addHost(const std::string& mode,
                                    const std::vector<std::string>& responder = {}) {
        std::unique_ptr<NetNamespace> host = client_ ? NetNamespace::create(&whyNot_) : nullptr;
        if (!host)
            return std::nullopt;
        const std::string n = std::to_string(hosts_.size() + 1);
        std::vector<std::string> argv{
            "sh", EW_SOURCE_DIR "/scripts/testnet-host.sh", client_->path(), host->path(), n, mode};
        argv.insert(argv.end(), responder.begin(), responder.end());
        std::string out;
        if (!runProgram(argv, &out)) {
            whyNot_ = "cannot wire up a test host: " + out;
            return std::nullopt;
        }
        // npos + 1 is 0: the whole output is the last line.
        if (const int pid = std::atoi(out.c_str() + out.rfind('\n', out.size() - 2) + 1);
            mode != "answering" && mode != "silent" && pid > 0)
            responders_.push_back(pid);
        hosts_.push_back(std::move(host));
        return TestHost{"10.77." + n + ".2", "fd42:77:" + n + "::2"};
    }

    std::string whyNot_;
    std::unique_ptr<NetNamespace> client_;
    std::vector<std::unique_ptr<NetNamespace>> hosts_;
    std::vector<int> responders_; // process ids, ended with the network
};

} // namespace ew::test
