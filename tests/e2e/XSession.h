#pragma once

// A private X server (Xvfb) and the operator's hands on it: xdotool for the mouse and the
// keyboard, ImageMagick's import for screenshots. Every program is started with its own
// DISPLAY; nothing here touches the test process's environment.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ew::e2e {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a window may take to appear, to go or to change its size on a busy machine.
constexpr auto WindowLimit = 15s;
// A helper program (xdotool, import, chattr) that takes longer is stuck.
constexpr auto ToolLimit = 10s;

// Polls cond every 50 ms until it holds or the time is up; true when it held.
template <typename Cond> bool waitUntil(Cond cond, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (cond())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
}

// Runs a short helper program to its end (killed after limit); its standard output, or
// nullopt when it failed or did not finish.
inline std::optional<QString> runTool(const QString& program, const QStringList& args,
                                      const QProcessEnvironment& env,
                                      std::chrono::milliseconds limit = ToolLimit) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(static_cast<int>(limit.count())))
        return std::nullopt;
    if (!p.waitForFinished(static_cast<int>(limit.count()))) {
        p.kill();
        p.waitForFinished(1000);
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

inline bool haveProgram(const char* name) {
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
        if (::access((std::string(dir) + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Xvfb on the first free display of a small range, started and stopped by this object only.
class XServer {
public:
    static constexpr int FirstDisplay = 90;
    static constexpr int LastDisplay = 110;
    static constexpr auto StartLimit = 10s;
    // For the server to start as a process, and to end.
    static constexpr int StopLimitMs = 5000;

    ~XServer() { stop(); }

    // False (and *why set) when no server could be started here.
    bool start(const std::filesystem::path& logDir, std::string* why) {
        if (!haveProgram("Xvfb") || !haveProgram("xdotool") || !haveProgram("import")) {
            *why = "Xvfb, xdotool or ImageMagick's import is not installed "
                   "(scripts/install-deps.sh installs them)";
            return false;
        }
        for (int n = FirstDisplay; n <= LastDisplay; ++n) {
            // A lock whose server is gone is stale: Xvfb takes such a display over itself.
            const qint64 owner = lockOwner(n);
            if (owner > 0 && ::kill(static_cast<pid_t>(owner), 0) == 0)
                continue;
            auto p = std::make_unique<QProcess>();
            const QString log = QString::fromStdString((logDir / "xvfb.log").string());
            p->setStandardOutputFile(log, QIODevice::Append);
            p->setStandardErrorFile(log, QIODevice::Append);
            p->start(QStringLiteral("Xvfb"),
                     {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                      QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"), QStringLiteral("-noreset")});
            if (!p->waitForStarted(StopLimitMs))
                continue;
            const qint64 pid = p->processId();
            // Ready when our own server holds the lock and answers on its socket; another
            // test that took the same number first makes ours exit at once.
            const bool ready = waitUntil(
                [&] { return stillRunning(*p) && lockOwner(n) == pid && connects(n); }, StartLimit);
            if (ready && stillRunning(*p)) {
                process_ = std::move(p);
                display_ = n;
                return true;
            }
            p->terminate();
            if (!p->waitForFinished(StopLimitMs))
                p->kill();
            p->waitForFinished(StopLimitMs);
        }
        *why = "no X server could be started on displays :" + std::to_string(FirstDisplay) +
               " to :" + std::to_string(LastDisplay) + " (see xvfb.log)";
        return false;
    }

    // Ends the server so that it removes its lock and socket; killed only if it will not go.
    void stop() {
        if (!process_)
            return;
        process_->terminate();
        if (!process_->waitForFinished(StopLimitMs)) {
            process_->kill();
            process_->waitForFinished(StopLimitMs);
            std::error_code ec;
            std::filesystem::remove(lockFile(display_), ec);
            std::filesystem::remove("/tmp/.X11-unix/X" + std::to_string(display_), ec);
        }
        process_.reset();
    }

    QString display() const { return QStringLiteral(":%1").arg(display_); }

    // The environment for the programs that talk to this server.
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display());
        env.remove(QStringLiteral("XAUTHORITY"));
        return env;
    }

private:
    static std::string lockFile(int n) { return "/tmp/.X" + std::to_string(n) + "-lock"; }

    static qint64 lockOwner(int n) {
        std::ifstream in(lockFile(n));
        qint64 pid = -1;
        in >> pid;
        return pid;
    }

    static bool connects(int n) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    }

    std::unique_ptr<QProcess> process_;
    int display_ = -1;
};

struct WindowGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The operator: finds windows by title and works them with the mouse and the keyboard,
// through the XTEST extension, as a person at the screen would.
class Operator {
public:
    explicit Operator(const XServer& x) : env_(x.environment()) {}

    // The first visible window whose whole title is title, within limit.
    std::optional<QString> findWindow(const QString& title, std::chrono::milliseconds limit) {
        std::optional<QString> found;
        waitUntil(
            [&] {
                found = windowNow(title);
                return found.has_value();
            },
            limit);
        return found;
    }

    // A visible window of that title at this moment.
    std::optional<QString> windowNow(const QString& title) {
        const auto out =
            xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
        if (!out)
            return std::nullopt;
        const QStringList ids = out->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (ids.isEmpty())
            return std::nullopt;
        return ids.first().trimmed();
    }

    std::optional<WindowGeometry> geometry(const QString& window) {
        const auto out =
            xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
        if (!out)
            return std::nullopt;
        WindowGeometry g;
        for (const QString& line : out->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString key = line.section(QLatin1Char('='), 0, 0);
            const int value = line.section(QLatin1Char('='), 1).toInt();
            if (key == QLatin1String("X"))
                g.x = value;
            else if (key == QLatin1String("Y"))
                g.y = value;
            else if (key == QLatin1String("WIDTH"))
                g.width = value;
            else if (key == QLatin1String("HEIGHT"))
                g.height = value;
        }
        return g;
    }

    // Moves the pointer to (x, y) of the window and presses the left button there.
    bool click(const QString& window, int x, int y) {
        return xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                    QString::number(x), QString::number(y), QStringLiteral("click"),
                    QStringLiteral("1")})
            .has_value();
    }

    // Moves the pointer without pressing anything.
    bool moveTo(const QString& window, int x, int y) {
        return xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                    QString::number(x), QString::number(y)})
            .has_value();
    }

    // Presses the left button where the pointer is.
    bool clickHere() { return xdo({QStringLiteral("click"), QStringLiteral("1")}).has_value(); }

    // The top-level window under the pointer.
    std::optional<QString> windowUnderPointer() {
        const auto out = xdo({QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
        if (!out)
            return std::nullopt;
        for (const QString& line : out->split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (line.startsWith(QLatin1String("WINDOW=")))
                return line.mid(7).trimmed();
        return std::nullopt;
    }

    // The visible top-level windows of a process.
    QStringList visibleWindowsOf(qint64 pid) {
        const auto out = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                              QStringLiteral("--pid"), QString::number(pid)});
        if (!out)
            return {};
        QStringList ids = out->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString& id : ids)
            id = id.trimmed();
        return ids;
    }

    // Gives a window the keyboard, as the window system does when it is clicked.
    bool focus(const QString& window) {
        return xdo({QStringLiteral("windowfocus"), window}).has_value();
    }

    // One key or combination in xdotool's names ("Return", "ctrl+a", "alt+f", "n").
    bool key(const QString& keys) {
        return xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30"), keys})
            .has_value();
    }

    bool type(const QString& text) {
        return xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text})
            .has_value();
    }

    // A PNG of one window as it shows on the screen.
    bool screenshot(const QString& window, const std::filesystem::path& file) {
        std::filesystem::create_directories(file.parent_path());
        return runTool(QStringLiteral("import"),
                       {QStringLiteral("-window"), window, QString::fromStdString(file.string())},
                       env_)
            .has_value();
    }

    // Number of distinct colours in a picture: a blank or black capture has one or two.
    std::optional<int> colourCount(const std::filesystem::path& file) {
        const auto out = runTool(QStringLiteral("identify"),
                                 {QStringLiteral("-format"), QStringLiteral("%k"),
                                  QString::fromStdString(file.string())},
                                 env_);
        if (!out)
            return std::nullopt;
        return out->trimmed().toInt();
    }

private:
    std::optional<QString> xdo(const QStringList& args) {
        return runTool(QStringLiteral("xdotool"), args, env_);
    }

    QProcessEnvironment env_;
};

} // namespace ew::e2e
