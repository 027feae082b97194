#pragma once

// The processes of an end-to-end test: a private X server (Xvfb), the operator's hands on it
// (xdotool for the mouse and the keyboard, ImageMagick for screenshots), and the real
// echowarden in a sandbox of its own: a temporary home, configuration and working directory,
// and a copy of the program (a hard link where possible) so that its default log, "Ping.Log"
// beside the program, lands in the sandbox too. Each gets its own environment; the test
// process's environment is left alone.

#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace ew::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a window may take to appear, to go or to change its size on a busy machine.
constexpr auto WindowLimit = 15s;
// A helper program (xdotool, import, chattr) that takes longer is stuck.
constexpr int ToolLimitMs = 10000;

constexpr auto PollInterval = 50ms;

// Polls cond until it holds or the time is up (at least one look); true when it held.
template <typename Cond> bool waitUntil(Cond cond, std::chrono::milliseconds limit) {
    for (const auto deadline = Clock::now() + limit;; std::this_thread::sleep_for(PollInterval)) {
        if (cond())
            return true;
        if (Clock::now() >= deadline)
            return false;
    }
}

// Runs a helper program to its end; its standard output, or nullopt when it failed or hung.
inline std::optional<QString>
runTool(const QString& program, const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(ToolLimitMs)) {
        p.kill();
        p.waitForFinished(ToolLimitMs);
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// Whether a started program still runs (QProcess learns of an ending only when asked).
inline bool stillRunning(QProcess& p) {
    return p.state() == QProcess::Running && !p.waitForFinished(0);
}

// Xvfb on a display it picks itself, started and stopped by this object only.
class XServer {
public:
    static constexpr auto StartLimit = 10s;
    static constexpr int StopLimitMs = 5000;

    ~XServer() { stop(); }

    // False (and *why set) when no server can be started here.
    bool start(const fs::path& logDir, std::string* why) {
        for (const char* tool : {"Xvfb", "xdotool", "import", "identify"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                *why =
                    std::string(tool) + " is not installed (scripts/install-deps.sh installs it)";
                return false;
            }
        }
        // With -displayfd the server takes the first free display and names it on its
        // standard output once it accepts clients.
        process_.setStandardErrorFile(QString::fromStdString((logDir / "xvfb.log").string()));
        process_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten",
                                "tcp", "-noreset"});
        process_.waitForStarted(StopLimitMs);
        waitUntil(
            [&] {
                process_.waitForReadyRead(int(PollInterval.count()));
                return process_.canReadLine() || process_.state() == QProcess::NotRunning;
            },
            StartLimit);
        bool ok = false;
        display_ = QString::fromLatin1(process_.readLine()).trimmed().toInt(&ok);
        if (!ok || !stillRunning(process_)) {
            *why = "Xvfb did not start (see xvfb.log)";
            stop();
            return false;
        }
        return true;
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(StopLimitMs)) {
            process_.kill();
            process_.waitForFinished(StopLimitMs);
        }
    }

    // The environment for the programs that talk to this server.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", QStringLiteral(":%1").arg(display_));
        env.remove("XAUTHORITY");
        return env;
    }

private:
    QProcess process_;
    int display_ = -1;
};

// The operator: finds windows by title and works them with the mouse and the keyboard,
// through the XTEST extension, as a person at the screen would.
class Operator {
public:
    // A real window has text, frames and buttons: far more than a blank capture's colours.
    static constexpr int MinScreenshotColours = 8;

    explicit Operator(const XServer& x) : env_(x.environment()) {}

    // The first visible window whose whole title is title: now, or within limit.
    std::optional<QString> findWindow(const QString& title, std::chrono::milliseconds limit = 0s) {
        QStringList found;
        waitUntil(
            [&] {
                found = lines(
                    xdo({"search", "--onlyvisible", "--name", QStringLiteral("^%1$").arg(title)}));
                return !found.isEmpty();
            },
            limit);
        return found.isEmpty() ? std::nullopt : std::optional<QString>(found.first());
    }

    // The visible top-level windows of a process.
    QStringList visibleWindowsOf(qint64 pid) {
        return lines(xdo({"search", "--onlyvisible", "--pid", QString::number(pid)}));
    }

    // The size of a window (with its menu bar, without the frame).
    std::optional<QSize> size(const QString& window) {
        const auto v = shellValues(xdo({"getwindowgeometry", "--shell", window}));
        if (!v.contains("WIDTH"))
            return std::nullopt;
        return QSize(v["WIDTH"].toInt(), v["HEIGHT"].toInt());
    }

    // The top-level window under the pointer.
    QString windowUnderPointer() {
        return shellValues(xdo({"getmouselocation", "--shell"}))["WINDOW"];
    }

    bool moveTo(const QString& window, QPoint at) {
        return run(
            {"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y())});
    }
    bool click(const QString& window, QPoint at) { return moveTo(window, at) && clickHere(); }
    bool clickHere() { return run({"click", "1"}); }
    // Gives a window the keyboard, as the window system does when it is clicked.
    bool focus(const QString& window) { return run({"windowfocus", window}); }
    // One key or combination in xdotool's names ("Return", "ctrl+a", "alt+f", "n").
    bool key(const QString& keys) { return run({"key", "--delay", "30", keys}); }
    bool type(const QString& text) { return run({"type", "--delay", "20", text}); }

    // A PNG of one window as it shows on the screen; true when it shows more than a blank.
    bool screenshot(const QString& window, const fs::path& file) {
        fs::create_directories(file.parent_path());
        const QString name = QString::fromStdString(file.string());
        if (!runTool("import", {"-window", window, name}, env_))
            return false;
        const auto colours = runTool("identify", {"-format", "%k", name}, env_);
        return colours && colours->trimmed().toInt() > MinScreenshotColours;
    }

private:
    std::optional<QString> xdo(const QStringList& args) { return runTool("xdotool", args, env_); }
    bool run(const QStringList& args) { return xdo(args).has_value(); }

    static QStringList lines(const std::optional<QString>& out) {
        QStringList l = out ? out->split('\n', Qt::SkipEmptyParts) : QStringList();
        for (QString& s : l)
            s = s.trimmed();
        return l;
    }
    // The KEY=value lines of xdotool's --shell output.
    static QMap<QString, QString> shellValues(const std::optional<QString>& out) {
        QMap<QString, QString> v;
        for (const QString& l : lines(out))
            v[l.section('=', 0, 0)] = l.section('=', 1);
        return v;
    }

    QProcessEnvironment env_;
};

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline QString qpath(const fs::path& p) {
    return QString::fromStdString(p.string());
}

class Sandbox {
public:
    Sandbox() : root_(dir_.path().toStdString()) {
        for (const fs::path& d : {config(), home(), work(), appDir(), runtime()})
            fs::create_directories(d);
        ::chmod(runtime().c_str(), 0700);
        std::error_code ec;
        fs::create_hard_link(EW_BINARY, program(), ec);
        if (ec)
            fs::copy_file(EW_BINARY, program(), fs::copy_options::overwrite_existing);
    }
    // The immutable attribute outlives the test unless undone, and the folder could not go.
    ~Sandbox() {
        for (const fs::path& p : std::set<fs::path>(immutable_))
            makeMutable(p);
    }

    bool valid() const { return dir_.isValid() && fs::exists(program()); }
    const fs::path& root() const { return root_; }
    fs::path config() const { return root_ / "config"; }
    fs::path home() const { return root_ / "home"; }
    fs::path work() const { return root_ / "work"; }
    fs::path appDir() const { return root_ / "app"; }
    fs::path runtime() const { return root_ / "runtime"; }
    fs::path program() const { return appDir() / "echowarden"; }
    fs::path settingsFile() const { return config() / "8R1" / "8R1.ini"; }
    fs::path defaultLog() const { return appDir() / "Ping.Log"; }
    fs::path programOutput() const { return root_ / "program-output.txt"; }

    // Read-only even for root, which file modes are not: chattr +i. False where the file
    // system has no such attribute.
    bool makeImmutable(const fs::path& p) {
        const bool ok = runTool("chattr", {"+i", qpath(p)}).has_value();
        if (ok)
            immutable_.insert(p);
        return ok;
    }
    void makeMutable(const fs::path& p) {
        runTool("chattr", {"-i", qpath(p)});
        immutable_.erase(p);
    }

private:
    QTemporaryDir dir_;
    fs::path root_;
    std::set<fs::path> immutable_;
};

// One start of the program, its output in the sandbox. It is killed when this object goes, so
// a failing test leaves nothing running.
class Program {
public:
    static constexpr auto ExitLimit = 20s;
    static constexpr int ProcessLimitMs = 10000;

    ~Program() { sigkill(); }

    // Starts the program on the X server, inside the network namespace at netns when given.
    bool start(const Sandbox& box, const XServer& x, const std::string& netns = {}) {
        QProcessEnvironment env = x.environment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_CONFIG_HOME", qpath(box.config()));
        env.insert("HOME", qpath(box.home()));
        env.insert("XDG_DATA_HOME", qpath(box.home() / ".local" / "share"));
        env.insert("XDG_RUNTIME_DIR", qpath(box.runtime()));
        // A fixed locale gives fixed date and time texts and a UTF-8 log.
        env.insert("LANG", "C.UTF-8");
        env.insert("LC_ALL", "C.UTF-8");
        // Under the sanitizers, what Qt keeps until exit is no finding of these tests; a crash
        // or a memory error still ends the program abnormally.
        const QString asan = env.value("ASAN_OPTIONS");
        if (!asan.contains("detect_leaks"))
            env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
        env.remove("SESSION_MANAGER");
        env.remove("DBUS_SESSION_BUS_ADDRESS");

        process_ = std::make_unique<QProcess>();
        process_->setProcessEnvironment(env);
        process_->setWorkingDirectory(qpath(box.work()));
        process_->setStandardOutputFile(qpath(box.programOutput()), QIODevice::Append);
        process_->setStandardErrorFile(qpath(box.programOutput()), QIODevice::Append);
        const int nsFd = netns.empty() ? -1 : ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
        if (!netns.empty() && nsFd < 0)
            return false;
        if (nsFd >= 0) {
            // Between fork and exec: only the system call, which moves the child alone.
            process_->setChildProcessModifier([nsFd] {
                if (::setns(nsFd, CLONE_NEWNET) != 0)
                    ::_exit(127);
            });
        }
        process_->start(qpath(box.program()), {});
        const bool started = process_->waitForStarted(ProcessLimitMs);
        if (nsFd >= 0)
            ::close(nsFd);
        return started;
    }

    qint64 pid() const { return process_ ? process_->processId() : -1; }
    bool running() { return process_ && stillRunning(*process_); }

    // Waits for the program to end by itself, with exit code 0 and no crash.
    ::testing::AssertionResult endedCleanly() {
        if (!process_ || !waitUntil([&] { return !stillRunning(*process_); }, ExitLimit))
            return ::testing::AssertionFailure() << "the program did not end";
        if (process_->exitStatus() == QProcess::CrashExit || process_->exitCode() != 0)
            return ::testing::AssertionFailure()
                   << "the program crashed or failed, exit code " << process_->exitCode();
        return ::testing::AssertionSuccess();
    }

    void sigkill() {
        if (process_ && stillRunning(*process_)) {
            ::kill(static_cast<pid_t>(process_->processId()), SIGKILL);
            process_->waitForFinished(ProcessLimitMs);
        }
    }

private:
    std::unique_ptr<QProcess> process_;
};

} // namespace ew::e2e
