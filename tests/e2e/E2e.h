#pragma once

// The end-to-end harness: a private X server (Xvfb), the operator's hands on it (xdotool), the
// real echowarden in a sandbox of its own (inside a private network when a test asks for one),
// and what it leaves on disk read as another program would. A failed test leaves its sandbox
// behind and names it.

#include "support/TestNet.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <thread>

namespace ew::e2e {

namespace fs = std::filesystem;
using Settings = std::map<std::string, std::string>;
using namespace std::chrono_literals;

// How long a window may take to appear or go, and a helper program to answer, on a busy machine.
constexpr auto WindowLimit = 15s;
constexpr int ToolLimitMs = 10000;

// Polls cond until it holds or the time is up (at least one look); true when it held.
template <typename Cond> bool waitUntil(Cond cond, std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
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
    cmdExit{3720, 120, 975, 315}, lstFirstEntry{120, 3960, 2175, 300};
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
} // namespace controls

class E2eTest : public ::testing::Test {
protected:
    // The program's own folders in a temporary one, with a copy of it there: the program finds
    // its own folder, where the default log goes, through it. Then Xvfb on the first free
    // display, which it names once it takes clients.
    void SetUp() override {
        for (const fs::path& d : {root() / "config", root() / "work", root() / "app"})
            fs::create_directories(d);
        fs::copy_file(EW_BINARY, root() / "app/echowarden");
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
        dir_.setAutoRemove(!HasFailure() && qEnvironmentVariableIsEmpty("EW_E2E_KEEP"));
        if (!dir_.autoRemove())
            std::cout << "[ sandbox  ] " << root() << "\n";
    }

    fs::path root() const { return dir_.path().toStdString(); }
    fs::path defaultLog() const { return root() / "app/Ping.Log"; }
    QString settingsFile() const { return qpath(root() / "config/8R1/8R1.ini"); }

    // Starts the program (in the private network's client side when one was made) and waits
    // for its main window, whose height less the design's client area is the menu bar. A fixed
    // locale gives fixed date and time texts and a UTF-8 log.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Process>();
        QProcessEnvironment env = env_;
        env.insert("XDG_CONFIG_HOME", qpath(root() / "config"));
        env.insert("HOME", qpath(root()));
        env.insert("XDG_DATA_HOME", qpath(root() / "data"));
        env.insert("XDG_RUNTIME_DIR", qpath(root()));
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("LC_ALL", "C.UTF-8");
        program_->setProcessEnvironment(env);
        program_->setWorkingDirectory(qpath(root() / "work"));
        program_->setProcessChannelMode(QProcess::MergedChannels);
        program_->setStandardOutputFile(qpath(root() / "program-output.txt"), QIODevice::Append);
        // nsenter enters the private network, then becomes the program.
        const QString app = qpath(root() / "app/echowarden");
        if (net_ && net_->usable())
            program_->start("nsenter", {"--net=" + qpath(net_->client().path()), "--", app});
        else
            program_->start(app, {});
        if (program_->waitForStarted(ToolLimitMs))
            if (const auto id = findWindow("Echo Warden", 30s)) {
                window_ = *id;
                menuBar_ = shellValue({"getwindowgeometry", window_}, "HEIGHT").toInt() -
                           controls::FullClientHeightPx;
                return ::testing::AssertionSuccess();
            }
        return ::testing::AssertionFailure() << "no window \"Echo Warden\": " << output();
    }
    // Exit, and the program ends by itself with code 0 and no crash.
    ::testing::AssertionResult exitProgram() {
        if (click(controls::cmdExit) && waitUntil([&] { return !program_->running(); }, 20s) &&
            program_->exitStatus() == QProcess::NormalExit && !program_->exitCode())
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Exit did not end it cleanly: " << output();
    }

    // xdotool's output in words, or nullopt when it failed or hung.
    std::optional<QStringList> xdo(const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start("xdotool", args);
        if (!p.waitForFinished(ToolLimitMs))
            p.kill(), p.waitForFinished();
        if (p.exitStatus() != QProcess::NormalExit || p.exitCode())
            return std::nullopt;
        return QString::fromLocal8Bit(p.readAllStandardOutput())
            .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
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
    // Clicks the middle of a control, once no help pop-up left from the last place covers it.
    bool click(const DesignRect& r) {
        const int x = (r.left + r.width / 2) / controls::TwipsPerPixel,
                  y = (r.top + r.height / 2) / controls::TwipsPerPixel + menuBar_;
        return xdo({"mousemove", "--window", window_, QString::number(x), QString::number(y)}) &&
               waitUntil([&] { return shellValue({"getmouselocation"}, "WINDOW") == window_; },
                         4s) &&
               xdo({"click", "1"});
    }
    // Waits for a message box of this title and answers it with a key; true when it went.
    bool answerBox(const QString& title, const QString& key) {
        const auto box = findWindow(title, WindowLimit);
        return box && xdo({"windowfocus", *box}) && xdo({"key", key}) &&
               waitUntil([&] { return !findWindow(title); }, WindowLimit);
    }

    // Result lines in the default log so far (all runs), complete lines only.
    std::size_t loggedEntries() const {
        static const std::regex entry("(\x1a|\xe2\x80\xa0) [^\r\n]*\r\n");
        const std::string bytes = readFile(defaultLog());
        return std::distance(std::sregex_iterator(bytes.begin(), bytes.end(), entry), {});
    }
    bool logGrows(std::size_t more) {
        const std::size_t wanted = loggedEntries() + more;
        return waitUntil([&] { return loggedEntries() >= wanted; }, 60s);
    }
    std::string output() const { return readFile(root() / "program-output.txt"); }
    QTemporaryDir dir_;
    Process xvfb_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Process> program_;
    QString window_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
