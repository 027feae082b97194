#pragma once

// The end-to-end harness: a private X server (Xvfb), the operator's hands on it (xdotool), the
// real echowarden in a sandbox of its own (inside a private network when a test asks for one),
// and what it leaves on disk read as another program would. A failed test leaves its sandbox
// behind and names it.

#include "support/TestNet.h"

#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace ew::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Settings = std::map<std::string, std::string>;
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

inline QString qpath(const fs::path& p) {
    return QString::fromStdString(p.string());
}
inline std::string readFile(const fs::path& path) {
    QFile f(qpath(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
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

struct LogEntry {
    bool reply = false; // else a failure
    std::string address;
    long roundTripMs = -1;
};
struct ParsedLog {
    std::vector<std::vector<LogEntry>> runs; // the entries under each header
    std::string problem;                     // the first line that is not well formed, and why
};

// Splits the log into runs, checking every line's form: a run begins with an empty line and
// the header line.
inline ParsedLog parseLog(const std::string& bytes) {
    static const std::string time = "([0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?)";
    static const std::regex header("Started log on +.+? +at +" + time + " +Logging Total pings"),
        reply("\x1a " + time + " Reply from (.*), Time:([0-9]+) ms"),
        failure("\xe2\x80\xa0 " + time + " Ping to  (.*) --== F A I L E D ==-- ");
    ParsedLog log;
    std::string line = "-";
    for (std::size_t pos = 0, end = 0; pos < bytes.size() && log.problem.empty(); pos = end + 2) {
        const bool headerNext = line.empty();
        end = bytes.find("\r\n", pos);
        line = bytes.substr(pos, end - pos);
        std::smatch m;
        if (end == std::string::npos || line.find_first_of("\r\n") != std::string::npos)
            log.problem = "not a whole line ending in CR LF";
        else if (headerNext && std::regex_match(line, header))
            log.runs.emplace_back();
        else if (headerNext || (line.empty() && end + 2 == bytes.size()))
            log.problem = "an empty line not followed by a header line";
        else if (line.empty())
            continue;
        else if (!std::regex_match(line, m, reply) && !std::regex_match(line, m, failure))
            log.problem = "neither a header nor a result line";
        else if (log.runs.empty())
            log.problem = "a result line before any header";
        else
            log.runs.back().push_back(
                {line[0] == '\x1a', m[2], m[3].matched ? std::stol(m[3]) : -1});
        if (!log.problem.empty())
            log.problem = "line \"" + line + "\": " + log.problem;
    }
    return log;
}

inline void writeSettings(const QString& file, const Settings& values) {
    QSettings ini(file, QSettings::IniFormat);
    for (const auto& [key, value] : values)
        ini.setValue(QString::fromStdString("EchoWarden/" + key), QString::fromStdString(value));
}

// A control's design rectangle in twips, in client-area coordinates.
struct DesignRect {
    int left, top, width, height;
};

namespace controls {
constexpr int TwipsPerPixel = 15;
constexpr DesignRect cmdStartPing{120, 120, 855, 315}, cmdStopPing{1080, 120, 855, 315},
    cmdExit{3720, 120, 975, 315};
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
} // namespace controls

class E2eTest : public ::testing::Test {
protected:
    // The program's own folders in a temporary one, and a hard link of it there: the program
    // finds its own folder, where the default log goes, through it. Then Xvfb on the first
    // free display, which it names once it takes clients.
    void SetUp() override {
        for (const fs::path& d : {root() / "config", root() / "work", root() / "app"})
            fs::create_directories(d);
        std::error_code ec;
        fs::create_hard_link(EW_BINARY, root() / "app/echowarden", ec);
        if (ec)
            fs::copy_file(EW_BINARY, root() / "app/echowarden",
                          fs::copy_options::overwrite_existing);
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "no X server for the end-to-end tests (Xvfb, xdotool)";
        xvfb_.setStandardErrorFile(qpath(root() / "xvfb.log"));
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                             "-noreset"});
        waitUntil([&] { return xvfb_.waitForReadyRead(50) || !xvfb_.running(); }, 10s);
        env_.insert("DISPLAY", ":" + QString::fromLatin1(xvfb_.readLine()).trimmed());
        env_.remove("XAUTHORITY");
        env_.remove("DBUS_SESSION_BUS_ADDRESS");
        if (!xvfb_.running())
            GTEST_SKIP() << "Xvfb did not start";
    }
    void TearDown() override {
        program_.reset();
        dir_.setAutoRemove(!HasFailure());
        if (HasFailure())
            std::cout << "[ sandbox  ] " << root() << "\n";
    }

    fs::path root() const { return dir_.path().toStdString(); }
    fs::path defaultLog() const { return root() / "app/Ping.Log"; }
    QString settingsFile() const { return qpath(root() / "config/8R1/8R1.ini"); }

    // Starts the program (in the private network's client side when one was made) and waits
    // for its main window, whose height less the design's client area is the menu bar.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Process>();
        QProcessEnvironment env = env_;
        // A fixed locale gives fixed date and time texts and a UTF-8 log.
        env.insert("XDG_CONFIG_HOME", qpath(root() / "config"));
        env.insert("HOME", qpath(root()));
        env.insert("XDG_RUNTIME_DIR", qpath(root()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("LC_ALL", "C.UTF-8");
        program_->setProcessEnvironment(env);
        program_->setWorkingDirectory(qpath(root() / "work"));
        program_->setProcessChannelMode(QProcess::MergedChannels);
        program_->setStandardOutputFile(qpath(root() / "program-output.txt"), QIODevice::Append);
        const std::string netns = net_ && net_->usable() ? net_->client().path() : "";
        const int ns = netns.empty() ? -1 : ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
        // Between fork and exec: the system call alone, which moves the child only.
        program_->setChildProcessModifier([ns] {
            if (ns >= 0 && ::setns(ns, CLONE_NEWNET) != 0)
                ::_exit(127);
        });
        program_->start(qpath(root() / "app/echowarden"), {});
        const bool started = program_->waitForStarted(ToolLimitMs);
        if (ns >= 0)
            ::close(ns);
        if (started && (netns.empty() || ns >= 0))
            if (const auto id = findWindow("Echo Warden", 30s)) {
                window_ = *id;
                menuBar_ = shellValue({"getwindowgeometry", window_}, "HEIGHT").toInt() -
                           controls::FullClientHeightPx;
                return ::testing::AssertionSuccess();
            }
        return ::testing::AssertionFailure() << "no window \"Echo Warden\": " << output();
    }
    // Exit, and the program ends by itself with code 0.
    ::testing::AssertionResult exitProgram() {
        if (!click(controls::cmdExit))
            return ::testing::AssertionFailure() << "could not click Exit";
        return program_->endedCleanly() << " after Exit: " << output();
    }
    // A host that never answers, or nullopt (the reason printed) where none can be made here;
    // the program then runs in that network's client side.
    std::optional<std::string> silentHost() {
        if (!net_)
            net_ = std::make_unique<test::TestNet>();
        const auto host = net_->usable() ? net_->addSilentHost() : std::nullopt;
        if (!host)
            std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
        return host ? std::optional(host->ipv4) : std::nullopt;
    }

    // xdotool's output in words, or nullopt when it failed.
    std::optional<QStringList> xdo(const QStringList& args) {
        const auto out = runTool("xdotool", args, env_);
        return out ? std::optional(out->split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
                   : std::nullopt;
    }
    // The first visible window whose whole title is title: now, or within limit.
    std::optional<QString> findWindow(const QString& title, std::chrono::milliseconds limit = 0s) {
        QStringList found;
        const QStringList search{"search", "--onlyvisible", "--name", "^" + title + "$"};
        waitUntil([&] { return !(found = xdo(search).value_or(found)).isEmpty(); }, limit);
        return found.isEmpty() ? std::nullopt : std::optional(found.first());
    }
    // A value of xdotool's --shell output, e.g. HEIGHT of getwindowgeometry.
    QString shellValue(QStringList command, const QString& name) {
        command.insert(1, "--shell");
        const QStringList values = xdo(command).value_or(QStringList());
        return values.filter(QRegularExpression("^" + name + "=")).value(0).section('=', 1);
    }
    bool pointAt(const DesignRect& r) {
        const QPoint at((r.left + r.width / 2) / controls::TwipsPerPixel,
                        (r.top + r.height / 2) / controls::TwipsPerPixel + menuBar_);
        return bool(xdo(
            {"mousemove", "--window", window_, QString::number(at.x()), QString::number(at.y())}));
    }
    // Clicks the middle of a control, once no help pop-up left from the last place covers it.
    bool click(const DesignRect& r) {
        return pointAt(r) &&
               waitUntil([&] { return shellValue({"getmouselocation"}, "WINDOW") == window_; },
                         4s) &&
               xdo({"click", "1"});
    }
    // Adds the addresses, checks "Log all pings", sets the log (to log when given, else as
    // shown) and pings every second with a time-out of 1 s.
    // Waits for a message box of this title and answers it with a key; true when it went.
    bool answerBox(const QString& title, const QString& key) {
        const auto box = findWindow(title, WindowLimit);
        return box && xdo({"windowfocus", *box}) && xdo({"key", key}) &&
               waitUntil([&] { return !findWindow(title); }, WindowLimit);
    }

    // Result lines in the log so far (all runs), counting complete lines only: their first
    // characters begin no other line.
    static std::size_t loggedEntries(const fs::path& log) {
        static const std::regex entry("(\x1a|\xe2\x80\xa0) [^\r\n]*\r\n");
        const std::string bytes = readFile(log);
        return std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), entry), {});
    }
    bool logGrows(std::size_t more) {
        const std::size_t wanted = loggedEntries(defaultLog()) + more;
        return waitUntil([&] { return loggedEntries(defaultLog()) >= wanted; }, 60s);
    }
    std::string output() const { return readFile(root() / "program-output.txt"); }
    // The send buffer of the program's connection to the display, read from a copy of its
    // socket; nullopt where the kernel gives no copies (before 5.6).
    std::optional<int> displaySendBuffer() const {
        const auto pid = static_cast<pid_t>(program_->processId());
        const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (process < 0)
            return std::nullopt;
        int size = 0;
        for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
            const int own = std::stoi(e.path().filename().string());
            const int fd = static_cast<int>(::syscall(SYS_pidfd_getfd, process, own, 0));
            sockaddr_un peer{};
            socklen_t length = sizeof peer, sizeLength = sizeof size;
            if (fd >= 0 && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
                peer.sun_family == AF_UNIX &&
                std::string(peer.sun_path, sizeof peer.sun_path).find(".X11-unix") !=
                    std::string::npos)
                ::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &sizeLength);
            if (fd >= 0)
                ::close(fd);
        }
        ::close(process);
        return size;
    }
    // The keys of the program's section, or one that says the file is no well-formed INI file.
    Settings storedSettings() const {
        QSettings ini(settingsFile(), QSettings::IniFormat);
        ini.beginGroup("EchoWarden");
        Settings values;
        for (const QString& key : ini.childKeys())
            values[key.toStdString()] = ini.value(key).toString().toStdString();
        return ini.status() == QSettings::NoError ? values : Settings{{"<unreadable>", ""}};
    }

    QTemporaryDir dir_;
    Process xvfb_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Process> program_;
    QString window_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
