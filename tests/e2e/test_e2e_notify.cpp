// The desktop's word on a host that goes down and comes back, from the real program through a
// real session bus to a notification server of the test's own.

#include "e2e/E2e.h"

#include <QDBusConnection>
#include <QThread>
#include <atomic>
#include <mutex>

namespace ew::e2e {
namespace {

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
    bool calls(std::size_t n) {
        return waitUntil([&] { return server_.calls().size() >= n; }, 20s);
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
        ASSERT_TRUE(calls(markup ? 1 : 2)) << output();
        ASSERT_TRUE(exitProgram());
        const QString body = server_.calls().back().body;
        EXPECT_TRUE(body.startsWith(markup ? "&lt;b&gt;x&lt;/b&gt; is down" : "<b>x</b> is down") &&
                    body.contains(markup ? "\na&amp;b is down" : "\na&b is down"))
            << body.toStdString();
    }
}

} // namespace
} // namespace ew::e2e

#include "test_e2e_notify.moc"
