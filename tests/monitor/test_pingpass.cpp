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
    // Attempts are read again for each address: b gets one.
    fakes.echo.onCall = [this](const FakeEcho::Call& c) {
        fakes.clock.advanceSecs(1);
        setAttempts(c.address == "b" ? 2 : 1);
    };
    state().failedCount = std::numeric_limits<std::int16_t>::max(); // counts go on past 16 bits
    pass();
    EXPECT_EQ(results(), QStringList({replyText(at(10, 0, 1), a, 7), failureText(at(10, 0, 2), a),
                                      failureText(at(10, 0, 3), b)}));
    EXPECT_EQ(panel(1), QStringLiteral("Pings: 3"));
    EXPECT_EQ(panel(2), QStringLiteral("Failed: 32769"));
    EXPECT_EQ(fakes.beeper.beeps, 2);
    EXPECT_EQ(ui().lstPingResults->currentRow(), 2);
    ASSERT_EQ(fakes.echo.calls.size(), 3u);
    EXPECT_EQ(fakes.echo.calls[0].address, "  127.0.0.1 ");
}

// A check box counts as checked only with the value 1: a greyed box neither beeps nor logs.
struct Boxes {
    int beep, logTotal, logFailed;
    int beeps, logged; // of one reply and one failure
};
class Choice : public PassTest, public ::testing::WithParamInterface<Boxes> {};

TEST_P(Choice, BeepsAndLogsWhatTheBoxesAsk) {
    const Boxes& b = GetParam();
    ASSERT_TRUE(logDir.isValid());
    addAddress(QStringLiteral("h"));
    setAttempts(2);
    logTo(b.logTotal == 1, false);
    setCheckValue(*ui().chkLogTotal, b.logTotal);
    setCheckValue(*ui().chkLogFailed, b.logFailed);
    setCheckValue(*ui().chkBeep, b.beep);
    state().logLineCount = 0;
    fakes.echo.reply(4);
    fakes.echo.fail(1);
    pass();
    const QStringList all = {replyText(at(10, 0, 0), QStringLiteral("h"), 4),
                             failureText(at(10, 0, 0), QStringLiteral("h"))};
    EXPECT_EQ(loggedResults(), all.mid(all.size() - b.logged));
    EXPECT_EQ(state().logLineCount, b.logged);
    EXPECT_EQ(fakes.beeper.beeps, b.beeps);
}

INSTANTIATE_TEST_SUITE_P(Values, Choice,
                         ::testing::Values(Boxes{0, 0, 0, 0, 0}, Boxes{1, 0, 1, 1, 1},
                                           Boxes{2, 1, 1, 0, 2}, Boxes{1, 1, 0, 1, 2},
                                           Boxes{1, 2, 2, 1, 0}));

// The list is emptied before an address only when it holds more than 30000 lines.
TEST_F(PingPassTest, ResultsAreClearedAboveTheBoundAndTheNewestLineSelected) {
    addAddress(QStringLiteral("h"));
    for (const auto& [before, after] :
         {std::pair{PingPass::MaxResultLines, 30001}, std::pair{PingPass::MaxResultLines + 1, 1}}) {
        ui().lstPingResults->clear();
        for (int i = 0; i < before; ++i)
            ui().lstPingResults->addLine(QStringLiteral("old"));
        pass();
        EXPECT_EQ(ui().lstPingResults->count(), after);
        EXPECT_EQ(ui().lstPingResults->currentRow(), after - 1);
    }
}

struct Inputs {
    const char *numBytes, *timeout, *attempts;
    int packetSize, timeoutMs, calls;
};

// Texts that are no number fall back to the box's own default; sizes and time-outs beyond
// what the echo call carries are clamped to the nearest it can; no attempts or no addresses
// make no call.
class PassInputs : public PassTest, public ::testing::WithParamInterface<Inputs> {};

TEST_P(PassInputs, ReachTheEchoAsSoundNumbers) {
    const Inputs& in = GetParam();
    addAddress(QStringLiteral("h"));
    ui().txtNumBytes->setText(QString::fromLatin1(in.numBytes));
    ui().txtTimeout->setText(QString::fromLatin1(in.timeout));
    ui().txtAttempts->setText(QString::fromLatin1(in.attempts));
    pass();
    ASSERT_EQ(static_cast<int>(fakes.echo.calls.size()), in.calls);
    EXPECT_EQ(ui().lstPingResults->count(), in.calls);
    for (const auto& call : fakes.echo.calls) {
        EXPECT_EQ(call.packetSize, in.packetSize);
        EXPECT_EQ(call.timeoutMs, in.timeoutMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, PassInputs,
                         ::testing::Values(Inputs{"1024", "2.5", "4", 1024, 2500, 4},
                                           Inputs{"abc", "x", "z", 16, 3000, 1},
                                           Inputs{"-8", "00", "2", 0, 3000, 2},
                                           Inputs{"65500", "300", "1", 32767, 32767, 1},
                                           Inputs{"00", "32.767", "1", 0, 32767, 1},
                                           Inputs{"64", "0.001", "1", 64, 1, 1},
                                           Inputs{"64", "0.0004", "1", 64, 3000, 1},
                                           Inputs{"64", "-2", "1", 64, 3000, 1},
                                           Inputs{"64", "1", "-1", 64, 1000, 0}));

} // namespace
} // namespace ew::test
