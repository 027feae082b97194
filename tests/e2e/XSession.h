#pragma once

// The processes of an end-to-end test: a private X server (Xvfb), the operator's hands on it
// (xdotool), and the real echowarden in a sandbox of its own.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace ew::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a window may take to appear or go, and a helper program to answer, on a busy machine.
constexpr auto WindowLimit = 15s;
constexpr int ToolLimitMs = 10000;

// Polls cond until it holds or the time is up (at least one look); true when it held.
template <typename Cond> bool waitUntil(Cond cond, std::chrono::milliseconds limit) {
    for (const auto deadline = Clock::now() + limit; !cond(); std::this_thread::sleep_for(50ms))
        if (Clock::now() >= deadline)
            return false;
    return true;
}

inline std::string readFile(const fs::path& path) {
    QFile f(QString::fromStdString(path.string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

inline QString qpath(const fs::path& p) {
    return QString::fromStdString(p.string());
}

// A helper program's standard output, or nullopt when it failed or hung.
inline std::optional<QString> runTool(const QString& program, const QStringList& args,
                                      const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(ToolLimitMs))
        p.kill(), p.waitForFinished();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode())
        return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// A started process, killed when this goes, so that a failing test leaves nothing running.
struct Process : QProcess {
    ~Process() override { kill(); }
    // Whether it still runs (QProcess learns of an ending only when asked).
    bool running() { return state() == Running && !waitForFinished(0); }
    void kill() {
        if (running())
            ::kill(pid_t(processId()), SIGKILL), waitForFinished(ToolLimitMs);
    }
    // Waits for the program to end by itself, with exit code 0 and no crash.
    ::testing::AssertionResult endedCleanly() {
        if (waitUntil([&] { return !running(); }, 20s) && exitStatus() == NormalExit && !exitCode())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "it did not end, or crashed or failed";
    }
};

// Xvfb on the first free display, which it names once it takes clients; and the operator's
// hands on it, working the windows through xdotool as a person at the screen would.
class XServer {
public:
    bool start(const fs::path& logFile) {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            return false;
        xvfb_.setStandardErrorFile(qpath(logFile));
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                             "-noreset"});
        waitUntil([&] { return xvfb_.waitForReadyRead(50) || !xvfb_.running(); }, 10s);
        env_.insert("DISPLAY", ":" + QString::fromLatin1(xvfb_.readLine()).trimmed());
        env_.remove("XAUTHORITY");
        env_.remove("DBUS_SESSION_BUS_ADDRESS");
        return xvfb_.running();
    }
    QProcessEnvironment environment() const { return env_; }

    // The first visible window whose whole title is title: now, or within limit.
    std::optional<QString> findWindow(const QString& title, std::chrono::milliseconds limit = 0s) {
        QStringList found;
        const QStringList search{"search", "--onlyvisible", "--name", "^" + title + "$"};
        waitUntil([&] { return !(found = xdo(search).value_or(found)).isEmpty(); }, limit);
        return found.isEmpty() ? std::nullopt : std::optional(found.first());
    }
    // xdotool's output in words, or nullopt when it failed.
    std::optional<QStringList> xdo(const QStringList& args) {
        const auto out = runTool("xdotool", args, env_);
        return out ? std::optional(out->split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
                   : std::nullopt;
    }

private:
    Process xvfb_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

// The program's own folders in a temporary one, and a hard link of it: the program finds its
// own folder, where the default log goes, through it.
struct Sandbox {
    Sandbox() {
        for (const fs::path& d : {config(), work(), appDir()})
            fs::create_directories(d);
        std::error_code ec;
        fs::create_hard_link(EW_BINARY, program(), ec);
        if (ec)
            fs::copy_file(EW_BINARY, program(), fs::copy_options::overwrite_existing);
    }
    fs::path root() const { return dir.path().toStdString(); }
    fs::path config() const { return root() / "config"; }
    fs::path work() const { return root() / "work"; }
    fs::path appDir() const { return root() / "app"; }
    fs::path program() const { return appDir() / "echowarden"; }
    fs::path settingsFile() const { return config() / "8R1" / "8R1.ini"; }
    fs::path defaultLog() const { return appDir() / "Ping.Log"; }
    fs::path programOutput() const { return root() / "program-output.txt"; }

    QTemporaryDir dir;
};

// Starts the program on the X server, inside the network namespace at netns when given.
inline bool startProgram(Process& p, const Sandbox& box, const XServer& x,
                         const std::string& netns) {
    QProcessEnvironment env = x.environment();
    // A fixed locale gives fixed date and time texts and a UTF-8 log.
    for (const auto& [name, value] : {std::pair<QString, fs::path>{"XDG_CONFIG_HOME", box.config()},
                                      {"HOME", box.root()},
                                      {"XDG_RUNTIME_DIR", box.root()},
                                      {"QT_QPA_PLATFORM", "xcb"},
                                      {"LC_ALL", "C.UTF-8"}})
        env.insert(name, qpath(value));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(qpath(box.work()));
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(qpath(box.programOutput()), QIODevice::Append);
    const int ns = netns.empty() ? -1 : ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
    // Between fork and exec: the system call alone, which moves the child only.
    p.setChildProcessModifier([ns] {
        if (ns >= 0 && ::setns(ns, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    p.start(qpath(box.program()), {});
    const bool started = p.waitForStarted(ToolLimitMs);
    if (ns >= 0)
        ::close(ns);
    return started && (netns.empty() || ns >= 0);
}

} // namespace ew::e2e
