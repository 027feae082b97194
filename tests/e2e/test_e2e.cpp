// The whole program as an operator uses it: the real echowarden under a private X server
// (Xvfb), worked with the mouse and the keyboard (xdotool), in a sandbox of its own (inside a
// private network when a test asks for one), judged by what it leaves on disk as another
// program reads it. A failed test leaves its sandbox behind and names it. The rules that the
// unit tests pin with the fakes are not tested again here; this is what only the real program
// shows: real echoes (loopback and a host that never answers), the program killed while it
// logs, and the desktop's word on a host that goes down and comes back, through a real session
// bus to a notification server of the test's own.

#include "echo.h"
#include "support/TestNet.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
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
constexpr DesignRect cmdStartPing{120, 120, 855, 315}, cmdExit{3720, 120, 975, 315},
    lstFirstEntry{120, 3960, 2175, 300};
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
} // namespace controls

class E2eTest : public ::testing::Test {
protected:
    // The program's own folders in a temporary one, with a copy of it there: the program finds
    // its own folder, where the default log goes, through it. Then Xvfb on the first free
    // display, which it names once it takes clients.
    void SetUp() override {
        // The program runs with this process's rights: without ICMP permission no reply comes.
        echo_socket s;
        const int opened = echo_open(&s, AF_INET, ECHO_SOCKET_AUTO);
        echo_close(&s);
        if (opened == ECHO_NO_PERMISSION)
            GTEST_SKIP() << "no permission to send ICMP echo requests here (see the README)";
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

namespace {

constexpr const char* Loopback = "127.0.0.1";

using OperatorRuns = E2eTest;

// Ten passes a second log in list order under the header of their run: a reply from loopback
// within the 1 s time-out, a failure from the host that never answers. The log present is asked
// about while ticks fall due, No appends, and a kill while it logs leaves only whole lines.
TEST_F(OperatorRuns, AppendsInListOrderAndAKillWhileLoggingLeavesWholeLines) {
    std::vector<std::string> addresses{Loopback};
    net_ = std::make_unique<test::TestNet>();
    if (const auto silent = net_->usable() ? net_->addSilentHost() : std::nullopt)
        addresses.push_back(silent->ipv4);
    else
        std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
    // clang-format off
    Settings stored{{"LogFilePath", defaultLog().string()}, {"Timeout", "1"}, {"Interval", "1"},
        {"IntervalMinutes", "False"}, {"IntervalTenths", "True"}, {"EnableLoggingTotal", "1"}};
    // clang-format on
    for (const std::string& a : addresses)
        stored["IPList"] += a + ",";
    writeSettings(settingsFile(), stored);
    const std::string old = "\r\nStarted log on 12/7/26 at 10:00:00 Logging Total pings\r\n"
                            "\x1a 10:00:01 Reply from 127.0.0.1, Time:1 ms\r\n";
    std::ofstream(defaultLog(), std::ios::binary) << old;
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    const auto box = findWindow("Log File", WindowLimit);
    ASSERT_TRUE(box) << "no question about the log present";
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(xdo({"windowfocus", *box}) && xdo({"key", "n"}) &&
                waitUntil([&] { return !findWindow("Log File"); }, WindowLimit))
        << "the question stayed, or came twice";
    ASSERT_TRUE(logGrows(20)) << output();
    program_->kill();

    const std::string bytes = readFile(defaultLog());
    ASSERT_TRUE(bytes.starts_with(old)) << "No keeps the old lines";
    ASSERT_TRUE(bytes.ends_with("\r\n")) << "a line cut short";
    // What the run added: an empty line, its header, then its result lines.
    const std::string time = "[0-9]{1,2}:[0-9]{2}:[0-9]{2}(?: ?[AaPp]\\.?[Mm]\\.?)?";
    const std::regex header("Started log on +.+? +at +" + time + " +Logging Total pings\r"),
        reply("\x1a " + time + " Reply from (.*), Time:([0-9]+) ms\r"),
        failure("\xe2\x80\xa0 " + time + " Ping to  (.*) --== F A I L E D ==-- \r");
    std::istringstream added(bytes.substr(old.size()));
    std::string line;
    ASSERT_TRUE(std::getline(added, line) && line == "\r");
    ASSERT_TRUE(std::getline(added, line) && std::regex_match(line, header)) << line;
    for (std::size_t i = 0; std::getline(added, line); ++i) {
        const std::string& address = addresses[i % addresses.size()];
        const bool loopback = address == Loopback;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, loopback ? reply : failure) && m[1] == address &&
                    (!loopback || std::stol(m[2]) <= 1000))
            << "entry " << i << ": " << line;
    }
}

// Records every Notify call, served on a thread of its own: the test's thread sleeps as it polls.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString summary;
        QString body;
    };
    std::atomic<bool> markup = false; // whether it says that it reads the body as markup
    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

public Q_SLOTS:
    QStringList GetCapabilities() {
        return markup ? QStringList{"body", "body-markup"} : QStringList{"body"};
    }
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        std::lock_guard lock(mutex_);
        calls_.push_back({summary, body});
        return uint(calls_.size());
    }

private:
    std::mutex mutex_;
    std::vector<Call> calls_;
};

class Notifications : public E2eTest {
protected:
    void TearDown() override {
        QDBusConnection::disconnectFromBus(BusName);
        thread_.quit();
        thread_.wait();
        E2eTest::TearDown();
    }
    // A private network (where the names are looked up in vain) and a private session bus with
    // the server on it, which the program is told of.
    void SetUp() override {
        E2eTest::SetUp();
        if (IsSkipped() || QStandardPaths::findExecutable("dbus-daemon").isEmpty() ||
            !(net_ = std::make_unique<test::TestNet>())->usable())
            GTEST_SKIP() << "no X server, no dbus-daemon or no private network here";
        bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                   "--address=unix:path=" + qpath(root() / "bus")});
        ASSERT_TRUE(waitUntil([&] { return bus_.canReadLine() || bus_.waitForReadyRead(50); }, 10s))
            << "the private session bus did not start";
        const QString address = QString::fromLatin1(bus_.readLine()).trimmed();
        QDBusConnection connection = QDBusConnection::connectToBus(address, BusName);
        server_.moveToThread(&thread_);
        thread_.start();
        ASSERT_TRUE(connection.registerObject("/org/freedesktop/Notifications", &server_,
                                              QDBusConnection::ExportAllSlots) &&
                    connection.registerService("org.freedesktop.Notifications"));
        env_.insert("DBUS_SESSION_BUS_ADDRESS", address);
    }

    static inline const QString BusName = QStringLiteral("notification-server");
    Process bus_;
    QThread thread_;
    NotificationServer server_;
};

// The test host answers, is silent for 30 s, late for 30 s, then in time again: a word when it
// goes down, comes back and turns slow, none when fast again. After a restart its history draws
// it from the file (pictures kept with EW_E2E_KEEP); Export History... writes the file's minutes.
TEST_F(Notifications, DownBackAndSlowAreSaidAndTheHistoryKeepsThemOverARestart) {
    const auto host = net_->addAnsweringHost();
    const fs::path responder = root() / "responder";
    const std::string db = root() / "data/8R1/EchoWarden/history.sqlite";
    if (!host || !test::runProgram({"cc", "-O2", "-o", responder.string(),
                                    EW_SOURCE_DIR "/scripts/icmp_delay_responder.c"}))
        GTEST_SKIP() << "no host in the private network, or no C compiler: " << net_->whyNot();
    // clang-format off
    writeSettings(settingsFile(), {{"IPList", host->ipv4 + ","}, {"IntervalMinutes", "False"},
        {"IntervalSeconds", "True"}, {"Interval", "1"}, {"Timeout", "1"}, {"SlowAboveMs", "100"}});
    // clang-format on
    const auto shot = [&](const QString& window, const char* name) {
        std::this_thread::sleep_for(2s); // drawn
        return test::runProgram({"env", "DISPLAY=" + env_.value("DISPLAY").toStdString(), "import",
                                 "-window", window.toStdString(), (root() / name).string()});
    };
    const auto sql = [&](const QString& q) {
        std::string out; // or why not
        test::runProgram({"sqlite3", "-csv", "-newline", "\r\n", db, q.toStdString()}, &out);
        return out;
    };
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    const auto begun = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(begun + 30s);
    ASSERT_TRUE(net_->host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    std::this_thread::sleep_until(begun + 60s);
    Process late; // the kernel stays silent; this answers after 300 ms
    late.start("nsenter", {"--net=" + QString::fromStdString(net_->host(1).path()), "--",
                           qpath(responder), "-d", "300", "-L", "60"});
    std::this_thread::sleep_until(begun + 80s);
    EXPECT_TRUE(shot(window_, "slow-mark.png"));
    std::this_thread::sleep_until(begun + 90s);
    late.kill();
    ASSERT_TRUE(net_->host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "0"));
    std::this_thread::sleep_until(begun + 120s);
    ASSERT_TRUE(exitProgram());

    QStringList said;
    for (const auto& call : server_.calls())
        said << call.summary;
    const QString name = QString::fromStdString(host->ipv4);
    const QRegularExpressionMatch m =
        QRegularExpression("^" + name + " is down: no reply since [0-9:]+\n" + name +
                           " answers again after 2\\d s down\n" + name +
                           " is slow: 3\\d\\d ms median over the last 3 replies$")
            .match(said.join('\n'));
    ASSERT_TRUE(m.hasMatch()) << said.join("; ").toStdString();
    // The file as another program reads it: lost attempts before late ones, minutes of them all.
    EXPECT_EQ(sql("SELECT sum(rtt IS NULL) >= 10, sum(rtt >= 300000) >= 20, (SELECT max(t) FROM "
                  "attempts WHERE rtt IS NULL) < (SELECT min(t) FROM attempts WHERE rtt >= "
                  "300000), (SELECT sum(lost) FROM minutes) = sum(rtt IS NULL), (SELECT sum(n) "
                  "FROM minutes) = count(*) FROM attempts"),
              "1,1,1,1,1\r\n");
    // Restarted, not monitoring: a double-click on the entry opens its history.
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::lstFirstEntry) && xdo({"click", "1"}));
    const auto history = findWindow("History of " + name, WindowLimit);
    ASSERT_TRUE(history);
    EXPECT_TRUE(shot(*history, "history-10-minutes.png"));
    ASSERT_TRUE(xdo({"windowfocus", *history}) && xdo({"key", "Down", "Down"})); // 24 hours
    EXPECT_TRUE(shot(*history, "history-24-hours.png"));
    const fs::path csv = root() / "exported.csv";
    const auto dialog =
        xdo({"key", "alt+e"}) ? findWindow("Export History", WindowLimit) : std::nullopt;
    ASSERT_TRUE(dialog && xdo({"windowfocus", *dialog}) && xdo({"key", "ctrl+a"}) &&
                xdo({"type", qpath(csv)}) && xdo({"key", "Return"}));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(csv); }, WindowLimit));
    const QString ms = "iif(%1 IS NULL, '', printf('%.3f', %1 / 1000.0))";
    const std::string minutes =
        sql("SELECT key, strftime('%Y-%m-%dT%H:%M:%fZ', t / 1000.0, 'unixepoch'), n, lost, " +
            ms.arg("lo") + ", " + ms.arg("med") + ", " + ms.arg("hi") +
            " FROM minutes JOIN hosts ON id = host ORDER BY t");
    EXPECT_EQ(readFile(csv),
              "Entry,Time,Attempts,Lost,Lowest ms,Median ms,Highest ms\r\n" + minutes);
}

// Four names that nothing answers go down in one pass: their lines make one body, which is text.
TEST_F(Notifications, ABodyIsEscapedOnlyForAServerThatReadsMarkup) {
    writeSettings(settingsFile(), {{"IPList", "<b>x</b>,a&b,c.invalid,d.invalid,"},
                                   {"IntervalMinutes", "False"},
                                   {"IntervalSeconds", "True"},
                                   {"Interval", "1"}});
    for (const bool markup : {true, false}) {
        server_.markup = markup;
        ASSERT_TRUE(startProgram());
        ASSERT_TRUE(click(controls::cmdStartPing));
        const std::size_t calls = markup ? 1 : 2;
        ASSERT_TRUE(waitUntil([&] { return server_.calls().size() >= calls; }, 20s)) << output();
        ASSERT_TRUE(exitProgram());
        const QString body = server_.calls().back().body;
        EXPECT_TRUE(body.startsWith(markup ? "&lt;b&gt;x&lt;/b&gt; is down" : "<b>x</b> is down") &&
                    body.contains(markup ? "\na&amp;b is down" : "\na&b is down"))
            << body.toStdString();
    }
}

} // namespace
} // namespace ew::e2e

#include "test_e2e.moc"
