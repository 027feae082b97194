// The engine alone: passes and ticks on typed values, with the fake echo and no window system.
#include "core/ProgramState.h"
#include "echo.h"
#include "engine/LogWriter.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "support/EngineFakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

namespace ew::test {
namespace {

using std::chrono::milliseconds;

class Engine : public ::testing::Test {
protected:
    Engine() {
        state.logPath = dir.filePath(QStringLiteral("log"));
        QObject::connect(&pass, &PingPass::resultLine,
                         [this](const QString& l) { lines << l.section(QLatin1Char(' '), -5); });
        QObject::connect(&pass, &PingPass::attemptReported, [this](const Attempt& a) { last = a; });
    }
    void entries(std::initializer_list<const char*> texts) {
        for (const char* t : texts)
            settings.entries.push_back({QString::fromLatin1(t), settings.entries.size() + 1});
    }
    bool run() {
        pass.PingAddresses();
        return QTest::qWaitFor([this] { return !pass.running(); }, 5000);
    }
    QStringList shown() { return std::exchange(lines, {}); } // since the last call

    QTemporaryDir dir;
    ProgramState state;
    FakeEcho echo;
    FakeClock clock;
    LogWriter writer{state, clock};
    PassSettings settings{{}, 1, 32, 1000};
    PingPass pass{state, echo, clock, writer, [this] { return settings; }};
    QStringList lines; // from their text on: "Reply from a, Time:1 ms"
    Attempt last;
};

// Also: failures of any kind are logged; an attempt's record carries its entry, address, failure
// and timing; 100,000 instant replies come one after another from the event loop, never nested.
TEST_F(Engine, APassWorksToItsEndOnWhatItReadAtItsStart) {
    entries({"a", "b"});
    settings.attempts = 2;
    settings.logFailed = true;
    echo.reply(7);
    echo.fail(2);
    echo.fail(1, ECHO_UNREACHABLE);
    echo.onCall = [this](auto&) {
        clock.advanceSecs(1);
        settings.packetSize = settings.timeoutMs = settings.attempts = 1;
        settings.logFailed = false;
    };
    ASSERT_TRUE(run());
    for (const auto& call : echo.calls)
        EXPECT_TRUE(call.packetSize == 32 && call.timeoutMs == 1000);
    QFile log(state.logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(log.readAll()).count(QStringLiteral("F A I L E D")), 3);
    EXPECT_TRUE(last.address == "b" && last.entryId == 2 && last.ip == "ip of b" &&
                last.failure == Failure::Unreachable);
    EXPECT_EQ(last.sentAt.secsTo(last.endedAt), 1); // the fake clock moves as it sends
    EXPECT_TRUE(run());                             // the next pass reads again
    EXPECT_TRUE(echo.calls.size() == 6 && echo.calls.back().packetSize == 1);
    echo.onCall = nullptr;
    entries({"c", "d"});
    settings.attempts = 25000;
    ASSERT_TRUE(run());
    EXPECT_EQ(pass.pingCount(), 6 + 100000);
}

// At once: requests leave a millisecond apart, and lines come in list order, each entry's in
// the order of its attempts, although b's and c's attempts all end while a's first is still
// out. Stop shows nothing that was in flight nor what waited behind it, and the next pass starts
// afresh. An entry listed twice gets outcomes of its own.
TEST_F(Engine, AtOnceRequestsAreSpacedAndLinesKeepTheirOrder) {
    entries({"a", "b", "c"});
    settings.atOnce = true;
    settings.attempts = 3;
    std::map<std::string, int> made;
    std::string order;
    echo.onCall = [this, &made, &order](const FakeEcho::Call& c) {
        echo.script = {++made[c.address]};
        echo.delayMs = c.address == "a" ? 200 : 0;
        order += c.address;
    };
    QStringList expected;
    for (const char* host : {"a", "b", "c"})
        for (int ms = 1; ms <= 3; ++ms)
            expected << QStringLiteral("Reply from %1, Time:%2 ms").arg(host).arg(ms);
    ASSERT_TRUE(run());
    EXPECT_EQ(shown(), expected);
    for (std::size_t i = 1; i < echo.calls.size(); ++i)
        EXPECT_GE(echo.calls[i].at - echo.calls[i - 1].at, std::chrono::microseconds(900)) << i;
    EXPECT_EQ(order.find('a', 1), 7u) << order; // b's and c's all went while a's first was out
    pass.PingAddresses();
    QTest::qWait(30);
    pass.stop();
    EXPECT_TRUE(shown().isEmpty() && echo.inFlight() == 0);
    settings.entries.clear();
    entries({"a", "b", "b"});
    settings.attempts = 1;
    echo.onCall = [this](auto& c) { echo.delayMs = c.address == "a" ? 100 : 0; };
    echo.script = {5, 6, 7};
    ASSERT_TRUE(run());
    EXPECT_EQ(shown(), QStringList({"Reply from a, Time:5 ms", "Reply from b, Time:6 ms",
                                    "Reply from b, Time:7 ms"}));
    EXPECT_TRUE(last.entryId == 3 && last.roundTrip == milliseconds(7));
}

// Tenth-seconds, N = 5: the first pass lasts 700 ms. The tick that fell due during it comes
// right after it, and the next one half a second after that, not in the old phase.
TEST_F(Engine, ATickDueDuringAPassComesAfterItAndSetsTheNextPhase) {
    entries({"a"});
    Monitor monitor(pass, state, pass, clock, [] {
        return TickSettings{5, TickSettings::Unit::Tenths, false};
    });
    echo.onCall = [this](auto&) { echo.delayMs = echo.calls.size() == 1 ? 700 : 0; };
    monitor.start();
    ASSERT_TRUE(QTest::qWaitFor([this] { return echo.calls.size() >= 3; }, 3000));
    monitor.stop();
    const auto first = echo.calls[1].at - echo.calls[0].at;
    EXPECT_TRUE(first >= milliseconds(690) && first < milliseconds(950));
    EXPECT_GE(echo.calls[2].at - echo.calls[1].at, milliseconds(450));
    EXPECT_EQ(monitor.timer1().objectName(), QStringLiteral("Timer1"));
}

} // namespace
} // namespace ew::test
