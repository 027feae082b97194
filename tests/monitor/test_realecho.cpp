// The real window with the real echo: replies from loopback, failures from a host of the
// test's own private network that never answers. Nothing is sent anywhere else.

#include "support/MonitorTestUtil.h"
#include "support/TestNet.h"

#include "echoping.h"

namespace ew::test {
namespace {

// The real echo, with every attempt made from inside the test network's client namespace.
class ClientNamespaceEcho final : public Echo {
public:
    explicit ClientNamespaceEcho(const TestNet& net) : net_(net) {}
    std::int16_t ping(const std::string& address, std::int16_t packetSize,
                      std::int32_t& roundTripMs, std::int16_t timeoutMs) override {
        std::int16_t result = ECHO_SEND_ERROR;
        net_.runInClient([&] { result = real_.ping(address, packetSize, roundTripMs, timeoutMs); });
        return result;
    }

private:
    const TestNet& net_;
    IcmpEcho real_;
};

class RealEcho : public ::testing::Test {
protected:
    // A loaded window on the given echo and fakes for the rest; one pass of two attempts to
    // the address, beeping on failures.
    std::unique_ptr<frmEchoWarden> passTo(Echo& echo, const QString& address) {
        auto w =
            std::make_unique<frmEchoWarden>(Platform{echo, fakes.store, fakes.clock, fakes.messages,
                                                     fakes.launcher, fakes.beeper, fakes.windows});
        w->setEndProgram([] {});
        w->Form_Load();
        w->ui().txtTimeout->setText(QStringLiteral("1"));
        w->ui().txtAttempts->setText(QStringLiteral("2"));
        setCheckValue(*w->ui().chkBeep, 1);
        w->ui().lstIPList->addItem(address);
        w->pingPass().PingAddresses();
        return w;
    }
    QString now() const { return timeOfDayText(fakes.clock.now().time()); }
    FakePlatform fakes;
};

TEST_F(RealEcho, LoopbackAnswersWithReplyLines) {
    IcmpEcho echo;
    std::int32_t probeMs = 0;
    if (echo.ping("127.0.0.1", 16, probeMs, 1000) == ECHO_NO_PERMISSION)
        GTEST_SKIP() << "this user may open neither ICMP ping sockets nor raw sockets";
    const auto window = passTo(echo, QStringLiteral("127.0.0.1"));
    const QStringList lines = window->ui().lstPingResults->lines();
    ASSERT_EQ(lines.size(), 2);
    // The round trip is whatever loopback took: the line around it is exact.
    const QString head = replyText(now(), QStringLiteral("127.0.0.1"), 0).chopped(4);
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith(head) && line.endsWith(QStringLiteral(" ms")))
            << line.toStdString();
        bool isNumber = false;
        line.mid(head.size(), line.size() - head.size() - 3).toInt(&isNumber);
        EXPECT_TRUE(isNumber) << line.toStdString();
    }
    EXPECT_EQ(window->state().failedCount, 0);
    EXPECT_EQ(fakes.beeper.beeps, 0);
    EXPECT_EQ(window->ui().StatusBar1->panelText(1), QStringLiteral("Pings: 2"));
}

TEST_F(RealEcho, HostThatNeverAnswersGivesFailureLines) {
    TestNet net;
    EW_REQUIRE_TESTNET(net);
    const auto host = net.addSilentHost();
    ASSERT_TRUE(host) << net.whyNot();
    ClientNamespaceEcho echo(net);
    const QString address = QString::fromStdString(host->ipv4);
    const auto window = passTo(echo, address);
    const QString failed = failureText(now(), address);
    EXPECT_EQ(window->ui().lstPingResults->lines(), QStringList({failed, failed}));
    EXPECT_EQ(window->state().failedCount, 2);
    EXPECT_EQ(window->ui().StatusBar1->panelText(2), QStringLiteral("Failed: 2"));
    EXPECT_EQ(fakes.beeper.beeps, 2);
}

} // namespace
} // namespace ew::test
