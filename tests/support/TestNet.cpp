#include "support/TestNet.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ew::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kProgramLimit = std::chrono::seconds(10);
constexpr size_t kOutputLimit = 65536;
constexpr auto kLinkUpLimit = std::chrono::seconds(3);
// A responder nobody stops still ends; and it holds at most this many replies back.
constexpr auto kResponderLifetime = std::chrono::minutes(10);
constexpr size_t kMaxPendingReplies = 4096;
constexpr milliseconds kStopCheck(50); // how soon a responder notices it is to stop

std::string errnoText(int err) {
    return std::strerror(err);
}

// ctest may run us with a PATH lacking the sbin directories where ip lives.
std::string findProgram(const std::string& name) {
    std::string dirs = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* path = std::getenv("PATH"))
        dirs = std::string(path) + ":" + dirs;
    std::istringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0)
            return dir + "/" + name;
    return {};
}

// Runs a program under timeout(1), so that one that hangs is killed after kProgramLimit, with its
// output and errors collected.
bool runProgram(std::vector<std::string> argv, std::string* output) {
    const std::string program = findProgram(argv.at(0));
    const std::string timeout = findProgram("timeout");
    if (program.empty() || timeout.empty()) {
        if (output)
            *output = (program.empty() ? argv[0] : "timeout") + ": not found";
        return false;
    }
    argv[0] = program;
    argv.insert(argv.begin(), {timeout, "-s", "KILL", std::to_string(kProgramLimit.count())});
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, timeout.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string collected = rc != 0 ? program + ": " + errnoText(rc) : "";
    char buf[512];
    for (ssize_t n; rc == 0 && (n = read(out[0], buf, sizeof buf)) != 0;) {
        if (n > 0 && collected.size() < kOutputLimit)
            collected.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno != EINTR)
            break;
    }
    close(out[0]);
    int status = -1;
    while (rc == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // timeout(1) kills its whole process group, itself included, or reports the kill in 137.
    const bool timedOut = rc == 0 && (WIFSIGNALED(status) ? WTERMSIG(status) == SIGKILL
                                                          : WEXITSTATUS(status) == 128 + SIGKILL);
    if (output)
        *output = timedOut ? collected + " (killed after the time limit)" : collected;
    return rc == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The flags of an interface of the calling thread's namespace, after switching it on when
// asked to; -1 where that fails.
int interfaceFlags(const std::string& interface, bool switchOn) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    ifreq req{};
    std::strncpy(req.ifr_name, interface.c_str(), IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    if (ok && switchOn) {
        req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
        ok = ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    }
    close(fd);
    return ok ? static_cast<unsigned short>(req.ifr_flags) : -1;
}

// The kernel switches a new link on a moment after "ip link set up" returns, and drops what is
// sent before that: wait for it, or the first echo of a test would be lost.
bool waitUntilRunning(const NetNamespace& ns, const std::string& interface) {
    bool running = false;
    ns.run([&] {
        const auto deadline = Clock::now() + kLinkUpLimit;
        auto isRunning = [&] {
            const int flags = interfaceFlags(interface, false);
            return flags >= 0 && (flags & IFF_RUNNING);
        };
        while (!(running = isRunning()) && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(1));
    });
    return running;
}

// Reads or writes a sysctl of ns: /proc/sys/net shows the namespace of the thread that opens it.
bool sysctlIo(const NetNamespace& ns, const std::string& key, std::string& value, bool write) {
    std::string path = "/proc/sys/" + key;
    std::replace(path.begin() + static_cast<long>(std::strlen("/proc/sys/")), path.end(), '.', '/');
    bool ok = false;
    ns.run([&] {
        const int fd = open(path.c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
        if (fd < 0)
            return;
        if (write) {
            ok = ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
        } else {
            char buf[256];
            const ssize_t n = read(fd, buf, sizeof buf);
            ok = n >= 0;
            value.assign(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        }
        close(fd);
    });
    return ok;
}

} // namespace

// --- NetNamespace ---------------------------------------------------------------------------

std::unique_ptr<NetNamespace> NetNamespace::create(std::string* whyNot) {
    int fd = -1;
    int err = 0;
    // unshare() moves only the calling thread, so a throw-away thread makes the namespace and
    // the descriptor keeps it alive.
    std::thread maker([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            err = errno;
            return;
        }
        fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            err = errno;
        else if (interfaceFlags("lo", true) < 0)
            err = errno ? errno : EIO;
    });
    maker.join();
    if (err == 0)
        return std::unique_ptr<NetNamespace>(new NetNamespace(fd));
    if (fd >= 0)
        close(fd);
    if (whyNot)
        *whyNot =
            "cannot create a network namespace (needs root or CAP_SYS_ADMIN): " + errnoText(err);
    return nullptr;
}

NetNamespace::~NetNamespace() {
    close(fd_);
}

std::string NetNamespace::path() const {
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
}

void NetNamespace::run(const std::function<void()>& fn) const {
    int err = 0;
    std::thread worker([&] {
        if (setns(fd_, CLONE_NEWNET) != 0)
            err = errno;
        else
            fn();
    });
    worker.join();
    if (err != 0)
        throw std::runtime_error("cannot enter the test namespace: " + errnoText(err));
}

bool NetNamespace::exec(const std::vector<std::string>& argv, std::string* output) const {
    std::vector<std::string> full{"nsenter", "--net=" + path(), "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return runProgram(std::move(full), output);
}

bool NetNamespace::setSysctl(const std::string& key, const std::string& value) const {
    std::string text = value;
    return sysctlIo(*this, key, text, true);
}

std::string NetNamespace::sysctl(const std::string& key) const {
    std::string value;
    sysctlIo(*this, key, value, false);
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

// --- DelayResponder -------------------------------------------------------------------------

// Answers echo requests addressed to its namespace after a fixed delay, in place of the
// kernel (which must be told to ignore them). Raw sockets; IPv4 and IPv6.
class TestNet::DelayResponder {
public:
    DelayResponder(const std::string& namespacePath, milliseconds delay) : delay_(delay) {
        std::promise<std::string> started;
        auto result = started.get_future();
        thread_ = std::thread(
            [this, namespacePath, p = std::move(started)]() mutable { serve(namespacePath, p); });
        error_ = result.get();
    }
    ~DelayResponder() {
        stop_ = true;
        thread_.join();
    }
    const std::string& error() const { return error_; }

private:
    struct Pending {
        Clock::time_point due;
        int fd;
        sockaddr_storage to;
        socklen_t toLength;
        std::vector<unsigned char> message;
    };

    // Enters the namespace and opens both raw sockets; the error text, or empty.
    static std::string open(const std::string& namespacePath, int& s4, int& s6) {
        const int ns = ::open(namespacePath.c_str(), O_RDONLY | O_CLOEXEC);
        const bool entered = ns >= 0 && setns(ns, CLONE_NEWNET) == 0;
        const int err = errno;
        if (ns >= 0)
            close(ns);
        if (!entered)
            return "entering " + namespacePath + ": " + errnoText(err);
        s4 = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        s6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (s4 < 0 || s6 < 0)
            return "raw socket: " + errnoText(errno);
        uint32_t blocked = ~(1u << ICMP_ECHO);
        setsockopt(s4, SOL_RAW, 1 /* ICMP_FILTER */, &blocked, sizeof blocked);
        icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &types);
        setsockopt(s6, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
        return {};
    }

    void serve(const std::string& namespacePath, std::promise<std::string>& started) {
        int s4 = -1;
        int s6 = -1;
        const std::string error = open(namespacePath, s4, s6);
        started.set_value(error);
        const auto end = Clock::now() + kResponderLifetime;
        std::deque<Pending> queue;
        while (error.empty() && !stop_ && Clock::now() < end) {
            for (; !queue.empty() && queue.front().due <= Clock::now(); queue.pop_front()) {
                const Pending& p = queue.front();
                sendto(p.fd, p.message.data(), p.message.size(), 0,
                       reinterpret_cast<const sockaddr*>(&p.to), p.toLength);
            }
            auto wait = kStopCheck;
            if (!queue.empty())
                wait = std::min(wait,
                                std::chrono::ceil<milliseconds>(queue.front().due - Clock::now()));
            pollfd fds[2] = {{s4, POLLIN, 0}, {s6, POLLIN, 0}};
            if (poll(fds, 2, static_cast<int>(std::max<long>(wait.count(), 0))) < 0 &&
                errno != EINTR)
                break;
            for (const pollfd& f : fds)
                if (f.revents & POLLIN)
                    receive(f.fd, f.fd == s6, queue);
        }
        for (int fd : {s4, s6})
            if (fd >= 0)
                close(fd);
    }

    void receive(int fd, bool v6, std::deque<Pending>& queue) {
        unsigned char buf[70000];
        Pending p{};
        p.fd = fd;
        p.toLength = sizeof p.to;
        const ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&p.to), &p.toLength);
        if (n <= 0 || queue.size() >= kMaxPendingReplies)
            return;
        const size_t offset = v6 ? 0 : static_cast<size_t>(buf[0] & 0x0F) * 4; // IPv4 header
        if (static_cast<size_t>(n) < offset + 8)
            return;
        p.message.assign(buf + offset, buf + n);
        if (p.message[0] != (v6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO) || (!v6 && p.message[1] != 0))
            return;
        if (v6) {
            p.message[0] = ICMP6_ECHO_REPLY; // the kernel sums ICMPv6
        } else {
            // The type word drops from 0x0800 to 0: the checksum rises by as much, carry wrapped.
            p.message[0] = ICMP_ECHOREPLY;
            uint32_t sum = (uint32_t{p.message[2]} << 8 | p.message[3]) + (ICMP_ECHO << 8);
            sum = (sum & 0xFFFF) + (sum >> 16);
            p.message[2] = static_cast<unsigned char>(sum >> 8);
            p.message[3] = static_cast<unsigned char>(sum);
        }
        p.due = Clock::now() + delay_;
        queue.push_back(std::move(p));
    }

    milliseconds delay_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string error_;
};

// --- TestNet --------------------------------------------------------------------------------

TestNet::TestNet() {
    for (const char* tool : {"ip", "nsenter", "timeout"}) {
        if (findProgram(tool).empty()) {
            whyNot_ = std::string(tool) + " is not installed (iproute2, util-linux, coreutils)";
            return;
        }
    }
    client_ = NetNamespace::create(&whyNot_);
    std::string out;
    if (client_ &&
        !(client_->exec({"ip", "route", "add", "unreachable", "10.77.250.0/24"}, &out) &&
          client_->exec({"ip", "-6", "route", "add", "unreachable", "fd42:77:250::/64"}, &out))) {
        whyNot_ = "cannot set up routes in the test namespace: " + out;
        client_.reset();
    }
}

TestNet::~TestNet() {
    responders_.clear(); // stop the threads before their namespaces go
    hosts_.clear();
    client_.reset();
}

bool TestNet::allowPingSockets(bool allow) {
    return client_ &&
           client_->setSysctl("net.ipv4.ping_group_range", allow ? "0 2147483647" : "1 0");
}

std::optional<TestHost> TestNet::addHost(NetNamespace** hostOut) {
    std::unique_ptr<NetNamespace> host = client_ ? NetNamespace::create(&whyNot_) : nullptr;
    if (!host)
        return std::nullopt;
    const std::string n = std::to_string(hosts_.size() + 1);
    const std::string link = "h" + n;
    const TestHost addresses{"10.77." + n + ".2", "fd42:77:" + n + "::2"};
    // Each side: its IPv4 and IPv6 address, then the link up.
    auto commands = [](const std::string& v4, const std::string& v6, const std::string& dev) {
        return std::vector<std::vector<std::string>>{
            {"ip", "addr", "add", v4 + "/24", "dev", dev},
            {"ip", "-6", "addr", "add", v6 + "/64", "dev", dev, "nodad"},
            {"ip", "link", "set", dev, "up"}};
    };
    std::string out;
    bool ok = runProgram({"ip", "link", "add", link, "netns", client_->path(), "type", "veth",
                          "peer", "name", "eth0", "netns", host->path()},
                         &out);
    for (const auto& command : commands("10.77." + n + ".1", "fd42:77:" + n + "::1", link))
        ok = ok && client_->exec(command, &out);
    for (const auto& command : commands(addresses.ipv4, addresses.ipv6, "eth0"))
        ok = ok && host->exec(command, &out);
    if (ok && !(waitUntilRunning(*client_, link) && waitUntilRunning(*host, "eth0"))) {
        out = "the link to test host " + n + " did not come up";
        ok = false;
    }
    if (!ok) {
        whyNot_ = "cannot wire up a test host: " + out;
        return std::nullopt;
    }
    *hostOut = host.get();
    hosts_.push_back(std::move(host));
    return addresses;
}

std::optional<TestHost> TestNet::addAnsweringHost() {
    NetNamespace* host = nullptr;
    return addHost(&host);
}

std::optional<TestHost> TestNet::addSilentHost() {
    NetNamespace* host = nullptr;
    auto addresses = addHost(&host);
    if (addresses && !(host->setSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
                       host->setSysctl("net.ipv6.icmp.echo_ignore_all", "1"))) {
        whyNot_ = "cannot make a test host ignore echo requests";
        return std::nullopt;
    }
    return addresses;
}

std::optional<TestHost> TestNet::addDelayedHost(milliseconds delay) {
    auto addresses = addSilentHost();
    if (!addresses)
        return std::nullopt;
    auto responder = std::make_unique<DelayResponder>(hosts_.back()->path(), delay);
    if (!responder->error().empty()) {
        whyNot_ = "delay responder: " + responder->error();
        return std::nullopt;
    }
    responders_.push_back(std::move(responder));
    return addresses;
}

} // namespace ew::test
