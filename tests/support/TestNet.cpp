#include "support/TestNet.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ew::test {
namespace {

// The host wiring lives in the scripts folder of this source tree.
const std::string ScriptsDir =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "scripts";

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a program under timeout(1) (killed after 10 s), with its output and errors collected.
// ctest may run us with a PATH lacking the sbin directories where ip lives.
bool runProgram(const std::vector<std::string>& argv, std::string* output) {
    std::string command = "export PATH=\"$PATH:/usr/sbin:/usr/bin:/sbin:/bin\"; timeout -s KILL 10";
    for (const std::string& a : argv)
        command += ' ' + quoted(a);
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
    std::string out;
    if (ns && ns->exec({"ip", "link", "set", "lo", "up"}, &out))
        return ns;
    if (whyNot)
        *whyNot = err ? "cannot create a network namespace (needs root or CAP_SYS_ADMIN): " +
                            std::string(std::strerror(err))
                      : "cannot use a network namespace (needs ip, nsenter, timeout): " + out;
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
    std::thread([&] {
        if (setns(fd_, CLONE_NEWNET) != 0)
            err = errno;
        else
            fn();
    }).join();
    if (err != 0)
        throw std::runtime_error("cannot enter the test namespace: " +
                                 std::string(std::strerror(err)));
}

bool NetNamespace::exec(const std::vector<std::string>& argv, std::string* output) const {
    std::vector<std::string> full{"nsenter", "--net=" + path(), "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return runProgram(full, output);
}

bool NetNamespace::setSysctl(const std::string& key, const std::string& value) const {
    return exec({"sysctl", "-qw", key + "=" + value});
}

std::string NetNamespace::sysctl(const std::string& key) const {
    std::string value;
    exec({"sysctl", "-n", key}, &value);
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

TestNet::TestNet() {
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
    for (const int pid : responders_)
        kill(pid, SIGKILL);
}

bool TestNet::allowPingSockets(bool allow) {
    return client_ &&
           client_->setSysctl("net.ipv4.ping_group_range", allow ? "0 2147483647" : "1 0");
}

// Host N, wired by the script, which may start a responder and name its process id.
std::optional<TestHost> TestNet::addHost(const std::string& mode,
                                         const std::vector<std::string>& responder) {
    std::unique_ptr<NetNamespace> host = client_ ? NetNamespace::create(&whyNot_) : nullptr;
    if (!host)
        return std::nullopt;
    const std::string n = std::to_string(hosts_.size() + 1);
    std::vector<std::string> argv{
        "sh", ScriptsDir + "/testnet-host.sh", client_->path(), host->path(), n, mode};
    argv.insert(argv.end(), responder.begin(), responder.end());
    std::string out;
    if (!runProgram(argv, &out)) {
        whyNot_ = "cannot wire up a test host: " + out;
        return std::nullopt;
    }
    // The responder's process id is the script's last line.
    const std::size_t lastLine = out.find_last_of('\n', out.size() < 2 ? 0 : out.size() - 2);
    if (const int pid = std::atoi(out.c_str() + (lastLine == std::string::npos ? 0 : lastLine + 1));
        mode == "responder" && pid > 0)
        responders_.push_back(pid);
    hosts_.push_back(std::move(host));
    return TestHost{"10.77." + n + ".2", "fd42:77:" + n + "::2"};
}

std::optional<TestHost> TestNet::addAnsweringHost() {
    return addHost("answering");
}

std::optional<TestHost> TestNet::addSilentHost() {
    return addHost("silent");
}

std::optional<TestHost> TestNet::addDelayedHost(std::chrono::milliseconds delay) {
    return addHost("responder", {"-d", std::to_string(delay.count())});
}

std::optional<TestHost> TestNet::addImpostorHost() {
    const std::string n = std::to_string(hosts_.size() + 1);
    return addHost("responder",
                   {"-d", "0", "-4", "10.77." + n + ".3", "-6", "fd42:77:" + n + "::3"});
}

} // namespace ew::test
