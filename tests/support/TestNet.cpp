#include "support/TestNet.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace ew::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(int err) {
    return std::strerror(err);
}

// ctest may run us with a PATH lacking the sbin directories where ip lives.
std::string findProgram(const std::string& name) {
    std::string dirs = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* path = std::getenv("PATH"))
        dirs = std::string(path) + ":" + dirs;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Runs a program with its output collected; killed when it takes longer than 10 s.
bool runProgram(std::vector<std::string> argv, std::string* output) {
    std::string collected;
    std::string program = findProgram(argv.at(0));
    if (program.empty()) {
        if (output)
            *output = argv[0] + ": not found";
        return false;
    }
    argv[0] = program;
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return false;
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (devNull >= 0)
        posix_spawn_file_actions_adddup2(&actions, devNull, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (devNull >= 0)
        close(devNull);
    if (rc != 0) {
        close(out[0]);
        if (output)
            *output = program + ": " + errnoText(rc);
        return false;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool timedOut = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        char buf[512];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n == 0)
            break;
        if (n > 0 && collected.size() < 65536)
            collected.append(buf, static_cast<size_t>(n));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    if (timedOut)
        kill(pid, SIGKILL);
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output)
        *output = timedOut ? collected + " (killed after 10 s)" : collected;
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool bringUp(const char* interface) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq req{};
    std::strncpy(req.ifr_name, interface, IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &req) == 0;
    req.ifr_flags = static_cast<short>(req.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &req) == 0;
    close(fd);
    return ok;
}

bool isRunning(const char* interface) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq req{};
    std::strncpy(req.ifr_name, interface, IFNAMSIZ - 1);
    bool running = ioctl(fd, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_RUNNING);
    close(fd);
    return running;
}

// The kernel switches a new link on a moment after "ip link set up" returns, and drops what is
// sent before that: wait for it, or the first echo of a test would be lost.
bool waitUntilRunning(const NetNamespace& ns, const std::string& interface) {
    bool running = false;
    ns.run([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (!(running = isRunning(interface.c_str())) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    return running;
}

std::string sysctlPath(const std::string& key) {
    std::string path = "/proc/sys/" + key;
    for (size_t i = sizeof "/proc/sys/" - 1; i < path.size(); ++i)
        if (path[i] == '.')
            path[i] = '/';
    return path;
}

uint16_t checksum(const unsigned char* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n & 1)
        sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
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
        else if (!bringUp("lo"))
            err = errno ? errno : EIO;
    });
    maker.join();
    if (err != 0) {
        if (fd >= 0)
            close(fd);
        if (whyNot)
            *whyNot = "cannot create a network namespace (needs root or CAP_SYS_ADMIN): " +
                      errnoText(err);
        return nullptr;
    }
    return std::unique_ptr<NetNamespace>(new NetNamespace(fd));
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
        if (setns(fd_, CLONE_NEWNET) != 0) {
            err = errno;
            return;
        }
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
    bool ok = false;
    // /proc/sys/net shows the namespace of the thread that opens it.
    run([&] {
        int fd = open(sysctlPath(key).c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        ok = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
        close(fd);
    });
    return ok;
}

std::string NetNamespace::sysctl(const std::string& key) const {
    std::string value;
    run([&] {
        int fd = open(sysctlPath(key).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            value.assign(buf, static_cast<size_t>(n));
        close(fd);
    });
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

// --- DelayResponder -------------------------------------------------------------------------

// Answers echo requests addressed to its namespace after a fixed delay, in place of the
// kernel (which must be told to ignore them). Raw sockets; IPv4 and IPv6.
class TestNet::DelayResponder {
public:
    DelayResponder(int namespaceFd, std::chrono::milliseconds delay) : delay_(delay) {
        stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        std::promise<std::string> started;
        auto result = started.get_future();
        thread_ = std::thread(
            [this, namespaceFd, p = std::move(started)]() mutable { serve(namespaceFd, p); });
        error_ = result.get();
    }
    ~DelayResponder() {
        uint64_t one = 1;
        if (write(stop_, &one, sizeof one) < 0) {
            // The thread still ends by itself after its lifetime.
        }
        thread_.join();
        close(stop_);
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

    void serve(int namespaceFd, std::promise<std::string>& started) {
        if (stop_ < 0) {
            started.set_value("eventfd: " + errnoText(errno));
            return;
        }
        if (setns(namespaceFd, CLONE_NEWNET) != 0) {
            started.set_value("setns: " + errnoText(errno));
            return;
        }
        int s4 = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        int s6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (s4 < 0 || s6 < 0) {
            started.set_value("raw socket: " + errnoText(errno));
            if (s4 >= 0)
                close(s4);
            if (s6 >= 0)
                close(s6);
            return;
        }
        uint32_t blocked = ~(1u << ICMP_ECHO);
        setsockopt(s4, SOL_RAW, 1 /* ICMP_FILTER */, &blocked, sizeof blocked);
        icmp6_filter types;
        ICMP6_FILTER_SETBLOCKALL(&types);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &types);
        setsockopt(s6, IPPROTO_ICMPV6, ICMP6_FILTER, &types, sizeof types);
        started.set_value({});

        // Bounded even if nobody ever stops it.
        const auto end = Clock::now() + std::chrono::minutes(10);
        std::deque<Pending> queue;
        for (;;) {
            auto now = Clock::now();
            if (now >= end)
                break;
            while (!queue.empty() && queue.front().due <= now) {
                const Pending& p = queue.front();
                sendto(p.fd, p.message.data(), p.message.size(), 0,
                       reinterpret_cast<const sockaddr*>(&p.to), p.toLength);
                queue.pop_front();
            }
            auto wake = queue.empty() ? end : std::min(end, queue.front().due);
            auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now);
            if (waitNs.count() < 0)
                waitNs = std::chrono::nanoseconds(0);
            timespec ts{static_cast<time_t>(waitNs.count() / 1000000000),
                        static_cast<long>(waitNs.count() % 1000000000)};
            pollfd fds[3] = {{stop_, POLLIN, 0}, {s4, POLLIN, 0}, {s6, POLLIN, 0}};
            if (ppoll(fds, 3, &ts, nullptr) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN)
                break;
            if (fds[1].revents & POLLIN)
                receive(s4, false, queue);
            if (fds[2].revents & POLLIN)
                receive(s6, true, queue);
        }
        close(s4);
        close(s6);
    }

    void receive(int fd, bool v6, std::deque<Pending>& queue) {
        unsigned char buf[70000];
        Pending p{};
        p.fd = fd;
        p.toLength = sizeof p.to;
        ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&p.to),
                             &p.toLength);
        if (n <= 0 || queue.size() >= 4096)
            return;
        size_t offset = v6 ? 0 : static_cast<size_t>(buf[0] & 0x0F) * 4;
        if (static_cast<size_t>(n) < offset + 8)
            return;
        p.message.assign(buf + offset, buf + n);
        if (v6) {
            if (p.message[0] != ICMP6_ECHO_REQUEST)
                return;
            p.message[0] = ICMP6_ECHO_REPLY; // the kernel sums ICMPv6
        } else {
            if (p.message[0] != ICMP_ECHO || p.message[1] != 0)
                return;
            p.message[0] = ICMP_ECHOREPLY;
            p.message[2] = p.message[3] = 0;
            uint16_t sum = checksum(p.message.data(), p.message.size());
            p.message[2] = static_cast<unsigned char>(sum >> 8);
            p.message[3] = static_cast<unsigned char>(sum);
        }
        p.due = Clock::now() + delay_;
        queue.push_back(std::move(p));
    }

    std::chrono::milliseconds delay_;
    int stop_ = -1;
    std::thread thread_;
    std::string error_;
};

// --- TestNet --------------------------------------------------------------------------------

TestNet::TestNet() {
    for (const char* tool : {"ip", "nsenter"}) {
        if (findProgram(tool).empty()) {
            whyNot_ = std::string(tool) + " is not installed (iproute2, util-linux)";
            return;
        }
    }
    client_ = NetNamespace::create(&whyNot_);
    if (!client_)
        return;
    std::string out;
    if (!client_->exec({"ip", "route", "add", "unreachable", "10.77.250.0/24"}, &out) ||
        !client_->exec({"ip", "-6", "route", "add", "unreachable", "fd42:77:250::/64"}, &out)) {
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
    if (!client_)
        return std::nullopt;
    std::unique_ptr<NetNamespace> host = NetNamespace::create(&whyNot_);
    if (!host)
        return std::nullopt;
    const std::string n = std::to_string(hosts_.size() + 1);
    const std::string link = "h" + n;
    const TestHost addresses{"10.77." + n + ".2", "fd42:77:" + n + "::2"};
    const std::vector<std::vector<std::string>> clientSide = {
        {"ip", "addr", "add", "10.77." + n + ".1/24", "dev", link},
        {"ip", "-6", "addr", "add", "fd42:77:" + n + "::1/64", "dev", link, "nodad"},
        {"ip", "link", "set", link, "up"},
    };
    const std::vector<std::vector<std::string>> hostSide = {
        {"ip", "addr", "add", addresses.ipv4 + "/24", "dev", "eth0"},
        {"ip", "-6", "addr", "add", addresses.ipv6 + "/64", "dev", "eth0", "nodad"},
        {"ip", "link", "set", "eth0", "up"},
    };
    std::string out;
    bool ok = runProgram({"ip", "link", "add", link, "netns", client_->path(), "type", "veth",
                          "peer", "name", "eth0", "netns", host->path()},
                         &out);
    for (const auto& command : clientSide)
        ok = ok && client_->exec(command, &out);
    for (const auto& command : hostSide)
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

std::optional<TestHost> TestNet::addDelayedHost(std::chrono::milliseconds delay) {
    auto addresses = addSilentHost();
    if (!addresses)
        return std::nullopt;
    // NetNamespace keeps its descriptor private; open our own for the responder thread.
    std::string nsPath = hosts_.back()->path();
    int fd = open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        whyNot_ = "cannot open " + nsPath + ": " + errnoText(errno);
        return std::nullopt;
    }
    auto responder = std::make_unique<DelayResponder>(fd, delay);
    close(fd); // setns() has been done by the time the constructor returns
    if (!responder->error().empty()) {
        whyNot_ = "delay responder: " + responder->error();
        return std::nullopt;
    }
    responders_.push_back(std::move(responder));
    return addresses;
}

} // namespace ew::test
