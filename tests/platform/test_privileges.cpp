// The real program started as nobody in a network namespace of its own, with or without
// CAP_NET_RAW on a copy of it: it pings 127.0.0.1 and holds no capability while it runs.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

bool holdsNoCapability(pid_t pid) {
    const std::string status = slurp("/proc/" + std::to_string(pid) + "/status");
    for (const std::string set : {"CapInh:\t", "CapPrm:\t", "CapEff:\t"})
        if (status.find(set + "0000000000000000\n") == std::string::npos)
            return false;
    return !status.empty();
}

// Raw sockets open in the program's namespace: the lines of /proc/net/raw{,6} below their heads.
int rawSockets(pid_t pid) {
    const std::string net = "/proc/" + std::to_string(pid) + "/net/";
    return count(slurp(net + "raw") + slurp(net + "raw6"), "\n") - 2;
}

struct Start {
    const char* name;
    bool capability, pingSockets, probe;
    const char* line; // what each of the two attempts logs
    int rawSockets, hints;
};

void PrintTo(const Start& s, std::ostream* os) {
    *os << s.name;
}

class Privileges : public ::testing::TestWithParam<Start> {};

TEST_P(Privileges, ThePingsWorkAndNoCapabilityIsHeld) {
    const Start& s = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "granting capabilities and switching to nobody needs root";
    const fs::path dir = fs::path(testing::TempDir()) / ("ew-" + std::to_string(getpid()) + s.name);
    const std::string d = dir.string(), exe = d + "/echowarden";
    fs::create_directories(dir / "cfg/8R1");
    fs::create_directories(dir / "rt");
    fs::copy_file(EW_BINARY, exe);
    std::ofstream(dir / "cfg/8R1/8R1.ini")
        << "[EchoWarden]\nIPList=127.0.0.1,\nAttempts=2\nTimeout=1\nEnableLoggingTotal=1\n"
        << "LogFilePath=" << d << "/ping.log\n";
    ASSERT_TRUE(!s.probe || mkfifo((d + "/probe").c_str(), 0666) == 0);
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        fs::permissions(entry.path(), fs::perms::all);
    fs::permissions(dir, fs::perms::all);
    ASSERT_EQ(chown((d + "/rt").c_str(), 65534, 65534) | chmod((d + "/rt").c_str(), 0700), 0);
    ASSERT_TRUE(!s.capability || std::system(("setcap cap_net_raw+ep " + exe).c_str()) == 0);

    // A fresh network namespace refuses ping sockets ("1 0") unless told otherwise.
    const std::string script =
        std::string("ip link set lo up && ") +
        (s.pingSockets ? "sysctl -qw net.ipv4.ping_group_range='0 2147483647' && " : "") +
        "exec setpriv --reuid=nobody --regid=nogroup --clear-groups env -i HOME=" + d +
        " XDG_CONFIG_HOME=" + d + "/cfg XDG_RUNTIME_DIR=" + d + "/rt QT_QPA_PLATFORM=offscreen" +
        " ASAN_OPTIONS=detect_leaks=0 " +
        (s.probe ? "QT_PLUGIN_PATH=" + d + " QT_LOGGING_CONF=" + d + "/probe " : "") + exe +
        " --start 2>" + d + "/err";
    const char* argv[] = {"unshare", "-n", "sh", "-c", script.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, "unshare", nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    const struct Reaper {
        pid_t pid;
        ~Reaper() { kill(pid, SIGKILL), waitpid(pid, nullptr, 0); }
    } reaper{pid};
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };

    if (s.probe) {
        // Qt opens the logging rules that the environment names as it starts, before any
        // plugin: the open waits on this pipe until a writer comes.
        int fd = -1;
        for (int i = 0; i < 300 && fd < 0; ++i, pause())
            fd = open((d + "/probe").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << "the program never read its logging rules";
        EXPECT_TRUE(holdsNoCapability(pid));
        close(fd);
    }
    std::string log;
    for (int i = 0; i < 300 && count(log = slurp(dir / "ping.log"), s.line) < 2; ++i)
        pause();
    EXPECT_EQ(count(log, s.line), 2) << log << slurp(dir / "err");
    EXPECT_TRUE(holdsNoCapability(pid));
    EXPECT_EQ(rawSockets(pid), s.rawSockets);
    EXPECT_EQ(count(slurp(dir / "err"), "setcap cap_net_raw+ep"), s.hints);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, Privileges,
    ::testing::Values(
        Start{"RawSocketsOpenedThenAllDropped", true, false, false, "Reply from", 2, 0},
        Start{"NothingHeldWhenQtReadsTheEnvironment", true, false, true, "Reply from", 2, 0},
        Start{"PingSocketsAllowedNothingRaw", true, true, false, "Reply from", 0, 0},
        Start{"NoCapabilityFailsAndSaysSoOnce", false, false, false, "F A I L E D", 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
