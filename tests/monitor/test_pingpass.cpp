#include "support/MonitorTestUtil.h"

#include <limits>

namespace ew::test {
namespace {

using PingPassTest = PassTest;

TEST_F(PingPassTest, EachAttemptGivesItsLineInOrderWithItsTimeAndCounts) {
    const QString a = QStringLiteral("  127.0.0.1 "); // blanks go out and show unchanged
    const QString b = QStringLiteral("b");
    addAddress(a);
    addAddress(b);
    setAttempts(2);
    setCheckValue(*ui().chkBeep, 1);
    fakes.echo.reply(7);
    fakes.echo.fail(2);
    fakes.echo.reply(250);
    fakes.echo.onCall = [this](const FakeEcho::Call&) { fakes.clock.advanceSecs(1); };
    pass();
    EXPECT_EQ(results(),
              QStringList({replyText(at(10, 0, 1), a, 7), failureText(at(10, 0, 2), a),
                           failureText(at(10, 0, 3), b), replyText(at(10, 0, 4), b, 250)}));
    EXPECT_EQ(window->pingPass().pingCount(), 4);
    EXPECT_EQ(panel(1), QStringLiteral("Pings: 4"));
    EXPECT_EQ(panel(2), QStringLiteral("Failed: 2"));
    EXPECT_EQ(fakes.beeper.beeps, 2);
    EXPECT_EQ(ui().lstPingResults->currentRow(), 3);
    ASSERT_EQ(fakes.echo.calls.size(), 4u);
    EXPECT_EQ(fakes.echo.calls[0].address, "  127.0.0.1 ");
}

// A check box counts as checked only with the value 1: a greyed box does not beep.
class Failures : public PassTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(Failures, CountAndBeepOnlyWhenTheBoxIsCheckedExactly) {
    addAddress(QStringLiteral("10.1.2.3"));
    setAttempts(3);
    setCheckValue(*ui().chkBeep, GetParam().first);
    fakes.echo.fail(3);
    pass();
    EXPECT_EQ(fakes.beeper.beeps, GetParam().second);
    EXPECT_EQ(state().failedCount, 3);
    EXPECT_EQ(panel(2), QStringLiteral("Failed: 3"));
}

INSTANTIATE_TEST_SUITE_P(CheckValues, Failures,
                         ::testing::Values(std::pair{0, 0}, std::pair{1, 3}, std::pair{2, 0}));

TEST_F(PingPassTest, NoAttemptsOrNoAddressesChangeNothing) {
    addAddress(QStringLiteral("host"));
    for (const char* attempts : {"-1", "00"}) {
        ui().txtAttempts->setText(QString::fromLatin1(attempts));
        pass();
    }
    ui().lstIPList->clear();
    setAttempts(3);
    pass();
    EXPECT_TRUE(fakes.echo.calls.empty());
    EXPECT_EQ(ui().lstPingResults->count(), 0);
    EXPECT_EQ(panel(1), QStringLiteral("Pings:"));
    EXPECT_EQ(panel(2), QStringLiteral("Failed: 0"));
}

TEST_F(PingPassTest, AttemptsAreReadAgainForEachAddress) {
    addAddress(QStringLiteral("a"));
    addAddress(QStringLiteral("b"));
    setAttempts(2);
    fakes.echo.onCall = [this](const FakeEcho::Call&) { setAttempts(1); };
    pass();
    ASSERT_EQ(fakes.echo.calls.size(), 3u);
    EXPECT_EQ(fakes.echo.calls[1].address, "a");
    EXPECT_EQ(fakes.echo.calls[2].address, "b");
}

// The list is emptied before an address only when it holds more than 30000 lines.
class ResultsBound : public PassTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ResultsBound, ClearsAboveTheBoundAndSelectsTheNewestLine) {
    const auto [before, after] = GetParam();
    for (int i = 0; i < before; ++i)
        ui().lstPingResults->addLine(QStringLiteral("old"));
    addAddress(QStringLiteral("h"));
    setAttempts(2);
    pass();
    EXPECT_EQ(ui().lstPingResults->count(), after);
    EXPECT_EQ(ui().lstPingResults->currentRow(), after - 1);
    EXPECT_EQ(ui().lstPingResults->line(after - 1),
              replyText(at(10, 0, 0), QStringLiteral("h"), 1));
}

INSTANTIATE_TEST_SUITE_P(Lines, ResultsBound,
                         ::testing::Values(std::pair{PingPass::MaxResultLines,
                                                     PingPass::MaxResultLines + 2},
                                           std::pair{PingPass::MaxResultLines + 1, 2}));

struct LogChoice {
    bool total;
    bool failed;
    int logged; // of one reply and one failure
};

// Two passes of one run: the lines the boxes ask for, under one header.
class LoggingChoice : public PassTest, public ::testing::WithParamInterface<LogChoice> {};

TEST_P(LoggingChoice, LogsWhatTheBoxesAskUnderOneHeaderPerRun) {
    ASSERT_TRUE(logDir.isValid());
    addAddress(QStringLiteral("h"));
    setAttempts(2);
    logTo(GetParam().total, GetParam().failed);
    state().logLineCount = 0;
    for (int i = 0; i < 2; ++i) {
        fakes.echo.reply(4);
        fakes.echo.fail(1);
        pass();
    }
    const QString t = at(10, 0, 0);
    const QStringList all = {replyText(t, QStringLiteral("h"), 4),
                             failureText(t, QStringLiteral("h"))};
    const QStringList once = all.mid(all.size() - GetParam().logged);
    EXPECT_EQ(loggedResults(), once + once);
    EXPECT_EQ(loggedHeaders(), GetParam().logged > 0 ? 1 : 0);
    EXPECT_EQ(state().logLineCount, 2 * GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(Boxes, LoggingChoice,
                         ::testing::Values(LogChoice{false, false, 0}, LogChoice{false, true, 1},
                                           LogChoice{true, true, 2}, LogChoice{true, false, 2}));

TEST_F(PingPassTest, CountersGoOnPastSixteenBits) {
    ASSERT_TRUE(logDir.isValid());
    addAddress(QStringLiteral("h"));
    logTo(false, true);
    state().failedCount = std::numeric_limits<std::int16_t>::max();
    state().logLineCount = std::numeric_limits<std::int32_t>::max();
    fakes.echo.fail(2);
    setAttempts(2);
    pass();
    EXPECT_EQ(state().failedCount, 32769);
    EXPECT_EQ(panel(2), QStringLiteral("Failed: 32769"));
    // Only "some lines logged" matters; the count must not wrap back to "none".
    EXPECT_EQ(state().logLineCount, std::numeric_limits<std::int32_t>::max());
}

struct Inputs {
    const char* numBytes;
    const char* timeout;
    const char* attempts;
    int packetSize;
    int timeoutMs;
    int calls;
};

// Texts that are no usable number fall back to the box's own default; long time-outs are
// clamped to what the echo call can carry.
class PassInputs : public PassTest, public ::testing::WithParamInterface<Inputs> {};

TEST_P(PassInputs, ReachTheEchoAsSoundNumbers) {
    const Inputs& in = GetParam();
    addAddress(QStringLiteral("h"));
    ui().txtNumBytes->setText(QString::fromLatin1(in.numBytes));
    ui().txtTimeout->setText(QString::fromLatin1(in.timeout));
    ui().txtAttempts->setText(QString::fromLatin1(in.attempts));
    pass();
    ASSERT_EQ(static_cast<int>(fakes.echo.calls.size()), in.calls);
    for (const auto& call : fakes.echo.calls) {
        EXPECT_EQ(call.packetSize, in.packetSize);
        EXPECT_EQ(call.timeoutMs, in.timeoutMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, PassInputs,
                         ::testing::Values(Inputs{"16", "3", "1", 16, 3000, 1},
                                           Inputs{"1024", "2.5", "4", 1024, 2500, 4},
                                           Inputs{"abc", "x", "z", 16, 3000, 1},
                                           Inputs{"-8", "00", "2", 16, 3000, 2},
                                           Inputs{"99999", "300", "1", 16, 32767, 1},
                                           Inputs{"00", "32.767", "1", 0, 32767, 1},
                                           Inputs{"64", "0.001", "1", 64, 1, 1},
                                           Inputs{"64", "0.0004", "1", 64, 3000, 1},
                                           Inputs{"64", "-2", "1", 64, 3000, 1}));

} // namespace
} // namespace ew::test
