#pragma once

// The processes of an end-to-end test: a private X server (Xvfb), the operator's hands on it
// (xdotool), and the real echowarden in a sandbox folder: its home, configuration, working
// folder and a hard link of the program, so that the default log beside it lands there too.

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace ew::e2e {

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

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
};

// Xvfb on the first free display, which it names once it takes clients; and the operator's
// hands on it, working the windows through xdotool as a person at the screen would.
class XServer {
public:
    bool start(const QString& logFile) {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            return false;
        xvfb_.setStandardErrorFile(logFile);
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
        Process p;
        p.setProcessEnvironment(env_);
        p.start("xdotool", args);
        if (!p.waitForFinished(ToolLimitMs) || p.exitCode())
            return std::nullopt;
        return QString::fromLocal8Bit(p.readAllStandardOutput())
            .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    }

private:
    Process xvfb_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
};

// Starts the program, linked into the sandbox folder, on the X server and inside the network
// namespace at netns when given; its configuration goes to config/, its output to output.txt.
inline bool startProgram(Process& p, const QDir& box, const XServer& x, const std::string& netns) {
    // A hard link: the program finds its own folder through it.
    if (::link(EW_BINARY, box.filePath("echowarden").toLocal8Bit().constData()) != 0)
        QFile::copy(EW_BINARY, box.filePath("echowarden"));
    QProcessEnvironment env = x.environment();
    // A fixed locale gives fixed date and time texts and a UTF-8 log.
    for (const auto& [name, value] : {std::pair{"XDG_CONFIG_HOME", box.filePath("config")},
                                      {"HOME", box.path()},
                                      {"XDG_RUNTIME_DIR", box.path()},
                                      {"QT_QPA_PLATFORM", "xcb"},
                                      {"LC_ALL", "C.UTF-8"}})
        env.insert(name, value);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(box.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(box.filePath("output.txt"), QIODevice::Append);
    const int ns = netns.empty() ? -1 : ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
    // Between fork and exec: the system call alone, which moves the child only.
    p.setChildProcessModifier([ns] {
        if (ns >= 0 && ::setns(ns, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    p.start(box.filePath("echowarden"), {});
    const bool started = p.waitForStarted(ToolLimitMs);
    if (ns >= 0)
        ::close(ns);
    return started && (netns.empty() || ns >= 0);
}

} // namespace ew::e2e
