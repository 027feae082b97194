#include "settings/SettingsKeys.h"
#include "settings/UsedNumber.h"
#include "support/MainWindowFixture.h"

#include <QTest>

namespace ew::test {
namespace {

using PingPassTest = PassTest;

// The bound as designed, spelled out so that a changed constant shows here.
constexpr int ResultsBound = 30000;

// Also: a list is emptied before an address once above its bound (not at it), and counters go
// past 16 bits.
TEST_F(PingPassTest, EachAttemptGivesItsLineInOrderWithItsTimeAndCounts) {
    const QString a = QStringLiteral("  127.0.0.1 "); // blanks go out and show unchanged
    addAddress(a);
    addAddress(QStringLiteral("b"));
    for (int i = 2; i < ResultsBound; ++i)
        ui().lstPingResults->addLine(QStringLiteral("old"));
    setCheckValue(*ui().chkBeep, 1);
    setAttempts(2);
    fakes.echo.reply(7);
    fakes.echo.fail(2);
    fakes.echo.onCall = [this](const FakeEcho::Call&) { fakes.clock.advanceSecs(1); };
    state().failedCount = INT16_MAX;
    pass();
    const QString b = QStringLiteral("b");
    EXPECT_EQ(results().mid(ResultsBound - 2),
              QStringList({replyText(at(10, 0, 1), a, 7), failureText(at(10, 0, 2), a),
                           failureText(at(10, 0, 3), b), replyText(at(10, 0, 4), b, 1)}));
    EXPECT_EQ(ui().StatusBar1->panelText(1), QStringLiteral("Pings: 4"));
    EXPECT_EQ(ui().StatusBar1->panelText(2), QStringLiteral("Failed: 32769"));
    EXPECT_EQ(fakes.beeper.beeps, 2);
    EXPECT_EQ(ui().lstPingResults->currentRow(), ResultsBound + 1);
    EXPECT_EQ(fakes.echo.calls.at(0).address, "  127.0.0.1 ");
    pass(); // above the bound now: emptied before the first address
    EXPECT_EQ(results().size(), 4);
}

// A check box counts as checked only with the value 1: a greyed box neither beeps nor logs.
TEST_F(PingPassTest, BeepsAndLogsWhatTheBoxesAsk) {
    addAddress(QStringLiteral("h"));
    setAttempts(2);
    ui().txtLog->setText(logPath());
    const QStringList all = {replyText(at(10, 0, 0), QStringLiteral("h"), 4),
                             failureText(at(10, 0, 0), QStringLiteral("h"))};
    const struct {
        int beep, logTotal, logFailed;
        int beeps, logged; // of one reply and one failure
    } rows[] = {
        {0, 0, 0, 0, 0}, {1, 0, 1, 1, 1}, {2, 1, 1, 0, 2}, {1, 1, 0, 1, 2}, {1, 2, 2, 1, 0}};
    for (const auto& b : rows) {
        SCOPED_TRACE(b.beep * 100 + b.logTotal * 10 + b.logFailed);
        setCheckValue(*ui().chkLogTotal, b.logTotal);
        setCheckValue(*ui().chkLogFailed, b.logFailed);
        setCheckValue(*ui().chkBeep, b.beep);
        QFile::remove(logPath());
        fakes.beeper.beeps = 0;
        fakes.echo.reply(4);
        fakes.echo.fail(1);
        monitorControls().cmdStartPing_Click(); // each run counts its own lines
        settle();
        monitorControls().cmdStopPing_Click();
        EXPECT_EQ(loggedResults(), all.mid(all.size() - b.logged));
        EXPECT_EQ(state().logLineCount, b.logged);
        EXPECT_EQ(fakes.beeper.beeps, b.beeps);
    }
}

// A text with a meaning keeps it; one without gives way to the box's own replacement. The
// notice names the box whenever the pass pings nothing or uses other than what it shows.
TEST(UsedNumberTest, ATextWithoutAMeaningGivesWayAndSaysSo) {
    using enum NumberBox;
    const struct {
        NumberBox box;
        const char *text, *notice;
        int value;
    } rows[] = {{Attempts, "00", "Attempts: \"00\" is 0; nothing is pinged", 0},
                {Attempts, "-3", "Attempts: \"-3\" is not a count; 1 is used", 1},
                {Attempts, "2.5", "Attempts: \"2.5\" is not a whole number; 2 is used", 2},
                {Bytes, "-1", "Bytes: \"-1\" is not a size; 16 is used", 16},
                {Bytes, "65500", "Bytes: \"65500\" is not a size; 16 is used", 16},
                {Interval, "00", "Interval: \"00\" is not an interval; 3 is used", 3},
                {Timeout, "0.0004", "Timeout: \"0.0004\" is not a time-out; 3 is used", 3000},
                {Timeout, "x", "Timeout: \"x\" is not a time-out; 3 is used", 3000},
                {Timeout, "40000", "Timeout: \"40000\" is not a time-out; 3 is used", 3000},
                {Bytes, " 0032", "", 32},
                {Bytes, "00", "", 0},
                {Interval, "1000", "", 1000},
                {Timeout, "2.5", "", 2500},
                {Timeout, "300", "", 300000},
                {Timeout, "0.001", "", 1}};
    for (const auto& r : rows) {
        const UsedNumber used = usedNumber(r.box, QString::fromLatin1(r.text));
        EXPECT_TRUE(used.value == r.value && used.notice == QLatin1String(r.notice)) << r.text;
    }
}

// Stored texts the pass cannot use: it pings with the replacements, and the notice over the
// results (no line) stays until the boxes hold usable values.
TEST_F(PingPassTest, StoredTextsThePassCannotUseAreReplacedWithANotice) {
    fakes.store.put(keys::Attempts, QStringLiteral("-3"));
    fakes.store.put(keys::PingWithBytes, QStringLiteral("-1"));
    restart();
    addAddress(QStringLiteral("a"));
    addAddress(QStringLiteral("b"));
    monitorControls().cmdStartPing_Click();
    ASSERT_TRUE(settle());
    ASSERT_EQ(fakes.echo.calls.size(), 2u); // once per entry, with 16 bytes
    EXPECT_TRUE(fakes.echo.calls[0].packetSize == 16 && fakes.echo.calls[1].packetSize == 16);
    EXPECT_EQ(results().size(), 2);
    EXPECT_EQ(ui().lstPingResults->notice(),
              QStringLiteral("Attempts: \"-3\" is not a count; 1 is used\n"
                             "Bytes: \"-1\" is not a size; 16 is used"));
    ui().txtAttempts->setText(QStringLiteral("2"));
    ui().txtNumBytes->setText(QStringLiteral("32"));
    EXPECT_EQ(ui().lstPingResults->notice(), QString());
    monitorControls().cmdStopPing_Click();
}

// Every entry at once, from the menu item: the pass lasts as long as its slowest entry, an entry
// listed twice gets outcomes of its own, and the lines and log lines come in list order.
TEST_F(PingPassTest, AtOnceAPassLastsAsLongAsItsSlowestEntryAndReadsInListOrder) {
    ui().mnuPingAtOnce->setChecked(true);
    for (const char* host : {"a", "b", "b"})
        addAddress(QString::fromLatin1(host));
    ui().txtLog->setText(logPath());
    setCheckValue(*ui().chkLogTotal, 1);
    fakes.echo.onCall = [this](auto& c) { fakes.echo.delayMs = c.address == "a" ? 300 : 100; };
    fakes.echo.reply(3, 2);
    fakes.echo.fail();
    QElapsedTimer took;
    took.start();
    pass();
    EXPECT_TRUE(took.elapsed() >= 300 && took.elapsed() < 450) << took.elapsed();
    const QString t = at(10, 0, 0);
    const QStringList lines = {replyText(t, "a", 3), replyText(t, "b", 3), failureText(t, "b")};
    EXPECT_EQ(results(), lines);
    EXPECT_EQ(loggedResults(), lines);
}

} // namespace
} // namespace ew::test
