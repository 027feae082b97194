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
        QTime at;
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
        calls_.push_back({summary, body, QTime::currentTime()});
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

// 127.0.0.1 answers throughout; the test host stops answering for a while, then answers again.
TEST_F(Notifications, OneWhenAHostGoesDownAndOneWhenItComesBack) {
    const auto host = net_->addAnsweringHost();
    if (!host)
        GTEST_SKIP() << "no host in the private network: " << net_->whyNot();
    writeSettings(settingsFile(), {{"IPList", "127.0.0.1," + host->ipv4 + ","},
                                   {"IntervalMinutes", "False"},
                                   {"IntervalSeconds", "True"},
                                   {"Interval", "1"},
                                   {"Timeout", "1"},
                                   {"EnableLoggingTotal", "1"},
                                   {"LogFilePath", defaultLog().string()}});
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(logGrows(4)) << output();

    const QTime silenced = QTime::currentTime();
    ASSERT_TRUE(net_->host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    ASSERT_TRUE(calls(1)) << output();
    const QTime answering = QTime::currentTime();
    ASSERT_TRUE(net_->host(1).setSysctl("net.ipv4.icmp_echo_ignore_all", "0"));
    ASSERT_TRUE(calls(2)) << output();
    ASSERT_TRUE(logGrows(6)); // three more passes: no more words
    ASSERT_TRUE(click(controls::cmdStopPing));
    ASSERT_TRUE(exitProgram());

    const auto got = server_.calls();
    ASSERT_EQ(got.size(), 2u);
    const QString name = QString::fromStdString(host->ipv4);
    const QRegularExpressionMatch down =
        QRegularExpression("^" + name + " is down: no reply since (.+)$").match(got[0].summary);
    const QRegularExpressionMatch up =
        QRegularExpression("^" + name + " answers again after (\\d+) s down$")
            .match(got[1].summary);
    ASSERT_TRUE(down.hasMatch() && up.hasMatch())
        << QString(got[0].summary + "; " + got[1].summary).toStdString();
    // The first failed attempt ended within its 1 s time-out after the silence began; the host
    // was down from the notice until it answered again, a pass or two after being let answer.
    const QTime since = QTime::fromString(down.captured(1), "HH:mm:ss");
    EXPECT_TRUE(since.isValid() && since >= silenced.addSecs(-1) && since <= got[0].at);
    EXPECT_NEAR(up.captured(1).toInt(), got[0].at.secsTo(answering), 3);
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
