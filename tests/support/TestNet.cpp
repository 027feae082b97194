#include "support/TestNet.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ew::test {
namespace {

// Runs a program under timeout(1), killed after 10 s, with its output and errors collected and
// the sbin folders on the path.
bool runProgram(const std::vector<std::string>& argv, std::string* output = nullptr) {
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

} // namespace

std::unique_ptr<NetNamespace> NetNamespace::create(std::string* whyNot) {
    int fd = -1;
    int err = 0;
    // unshare() moves only the calling thread: a throw-away thread makes the namespace and the
    // descriptor keeps it alive.
    std::thread([&] {
        if (unshare(CLONE_NEWNET) != 0 ||
            (fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) < 0)
            err = errno;
    }).join();
    std::unique_ptr<NetNamespace> ns(err ? nullptr : new NetNamespace(fd));
    std::string out = std::strerror(err);
    if (ns && ns->exec({"ip", "link", "set", "lo", "up"}, &out))
        return ns;
    if (whyNot)
        *whyNot = "cannot make a network namespace (needs root, ip, nsenter): " + out;
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
    std::thread([&] { setns(fd_, CLONE_NEWNET) == 0 ? fn() : void(err = errno); }).join();
    if (err != 0)
        throw std::runtime_error(std::string("cannot enter the test namespace: ") +
                                 std::strerror(err));
}

bool NetNamespace::exec(const std::vector<std::string>& argv, std::string* output) const {
    std::vector<std::string> full{"nsenter", "--net=" + path(), "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return runProgram(full, output);
}

bool NetNamespace::setSysctl(const std::string& key, const std::string& value) const {
    return exec({"sysctl", "-qw", key + "=" + value});
}

TestNet::TestNet() : client_(NetNamespace::create(&whyNot_)) {
    if (client_ &&
        !(client_->exec({"ip", "route", "add", "unreachable", "10.77.250.0/24"}) &&
          client_->exec({"ip", "-6", "route", "add", "unreachable", "fd42:77:250::/64"}))) {
        whyNot_ = "cannot set up routes in the test namespace";
        client_.reset();
    }
}

TestNet::~TestNet() {
    for (const int pid : responders_)
        kill(pid, SIGKILL);
}

bool TestNet::allowPingSockets(bool allow) {
    return client_ &&
           client_->setSysctl("net.ipv4.ping_group_range", allow ? "0 2147483647" : "1 0");
}

// Host N, wired by the script in this source tree's scripts folder, which names the process
// id of the responder it starts on its last line.
std::optional<TestHost> TestNet::addHost(const std::string& mode,
                                         const std::vector<std::string>& responder) {
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
    const std::size_t lastLine = out.find_last_of('\n', out.size() < 2 ? 0 : out.size() - 2);
    if (const int pid = std::atoi(out.c_str() + (lastLine == std::string::npos ? 0 : lastLine + 1));
        mode != "answering" && mode != "silent" && pid > 0)
        responders_.push_back(pid);
    hosts_.push_back(std::move(host));
    return TestHost{"10.77." + n + ".2", "fd42:77:" + n + "::2"};
}

} // namespace ew::test
