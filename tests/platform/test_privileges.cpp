// The real program, from a copy with or without CAP_NET_RAW, as nobody in a namespace of its own.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

long count(const std::string& text, const char* pattern) {
    const std::regex re(pattern);
    return std::distance(std::sregex_iterator(text.begin(), text.end(), re), {});
}

struct Start {
    const char* name;
    bool capability, pingSockets;
    const char* line; // what each of the two attempts logs
    int rawSockets, hints;
};

class Privileges : public ::testing::TestWithParam<Start> {};

TEST_P(Privileges, ThePingsWorkAndNoCapabilityIsHeldFromBeforeQtStarts) {
    const Start& s = GetParam();
    if (geteuid() != 0)
        GTEST_SKIP() << "granting capabilities and switching to nobody needs root";
    const std::string d = testing::TempDir() + "ew-" + std::to_string(getpid()) + s.name,
                      probe = d + "/probe";
    // As root: a copy of the program, its settings and the probe, then a network namespace,
    // which refuses ping sockets ("1 0") unless told otherwise; then nobody starts the copy.
    // Qt reads the logging rules that the environment names as it starts, before any plugin.
    const std::string script =
        "mkdir -p " + d + "/cfg/8R1 " + d + "/rt && cp " EW_BINARY " " + d + "/ew && mkfifo " +
        probe + " && printf '[EchoWarden]\\nIPList=127.0.0.1,\\nAttempts=2\\nEnableLoggingTotal=1" +
        "\\nLogFilePath=" + d + "/log\\n' >" + d + "/cfg/8R1/8R1.ini && chmod -R a+rwX " + d +
        " && chmod 700 " + d + "/rt && chown nobody " + d + "/rt && " +
        (s.capability ? "setcap cap_net_raw+ep " + d + "/ew && " : "") + "ip link set lo up && " +
        (s.pingSockets ? "sysctl -qw net.ipv4.ping_group_range='0 2147483647' && " : "") +
        "exec setpriv --reuid=nobody --regid=nogroup --clear-groups env -i XDG_CONFIG_HOME=" + d +
        "/cfg XDG_RUNTIME_DIR=" + d + "/rt QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=" + d +
        " QT_LOGGING_CONF=" + probe + " " + d + "/ew --start 2>" + d + "/err";
    const char* argv[] = {"unshare", "-n", "sh", "-c", script.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    const struct Reaper {
        pid_t pid;
        ~Reaper() { kill(pid, SIGKILL), waitpid(pid, nullptr, 0); }
    } reaper{pid};
    const std::string proc = "/proc/" + std::to_string(pid);
    const auto holdsNothing = [&] {
        return count(slurp(proc + "/status"), "Cap(Inh|Prm|Eff):\t0{16}\n") == 3;
    };
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
    int fd = -1; // opens once the program waits on the other end
    for (int i = 0; i < 300 && fd < 0; ++i, pause())
        fd = open(probe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << "the program never read its logging rules";
    EXPECT_TRUE(holdsNothing());
    close(fd);
    std::string log;
    for (int i = 0; i < 300 && count(log = slurp(d + "/log"), s.line) < 2; ++i)
        pause();
    EXPECT_EQ(count(log, s.line), 2) << log << slurp(d + "/err");
    EXPECT_TRUE(holdsNothing()) << slurp(proc + "/status");
    EXPECT_EQ(count(slurp(proc + "/net/raw") + slurp(proc + "/net/raw6"), "\n") - 2, s.rawSockets);
    EXPECT_EQ(count(slurp(d + "/err"), "setcap cap_net_raw\\+ep"), s.hints);
    std::filesystem::remove_all(d);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, Privileges,
    ::testing::Values(Start{"RawSocketsOpenedThenAllDropped", true, false, "Reply from", 2, 0},
                      Start{"PingSocketsAllowedNothingRaw", true, true, "Reply from", 0, 0},
                      Start{"NoCapabilityFailsAndSaysSoOnce", false, false, "F A I L E D", 0, 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
