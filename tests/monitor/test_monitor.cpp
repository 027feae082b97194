#include "support/MainWindowFixture.h"

#include "monitor/AddressList.h"
#include "panel/ControlStates.h"
#include "settings/SettingsKeys.h"
#include "settings/UsedNumber.h"

#include <QClipboard>

namespace ew::test {
namespace {

enum class Unit { Minutes, Seconds, Tenths };

// One address, one attempt per pass: every echo call is one pass.
class MonitorTest : public PassTest {
protected:
    void SetUp() override {
        PassTest::SetUp();
        addAddress(QStringLiteral("host-a"));
    }
    void unit(Unit u, const QString& n) {
        ui().txtInterval->setText(n);
        QRadioButton* const options[] = {ui().optMinutes, ui().optSeconds, ui().optMilSeconds};
        options[static_cast<int>(u)]->setChecked(true);
    }
    void tick() { monitor().Timer1_Timer(); }
};

struct Timeline {
    const char* name;
    Unit unit;
    const char* n;          // txtInterval
    int from, to, passSecs; // the unattended range (none: equal); each pass's length on the clock
    const char* steps;      // "hh:mm:ss[+1] passes [intervalMs]; ...": Start, then ticks
};

// Each interval mode: which ticks run a pass (counted so far after each step) and Timer1's
// interval, with a pass's own end as the reference time of the minute and long-second counts.
class IntervalMode : public MonitorTest, public ::testing::WithParamInterface<Timeline> {};

TEST_P(IntervalMode, PassesRunWhenTheModeSays) {
    const Timeline& r = GetParam();
    ui().mnuUnattended->setChecked(r.from != r.to);
    state().unattendedFromHour = std::int16_t(r.from);
    state().unattendedToHour = std::int16_t(r.to);
    unit(r.unit, QString::fromLatin1(r.n));
    fakes.echo.onCall = [&](const FakeEcho::Call&) { fakes.clock.advanceSecs(r.passSecs); };
    const QStringList steps = QString::fromLatin1(r.steps).split(u';');
    for (const QString& step : steps) {
        SCOPED_TRACE(step.toStdString());
        const QStringList f = step.split(u' ', Qt::SkipEmptyParts);
        fakes.clock.set(QDateTime(QDate(2026, 12, f[0].endsWith(u"+1") ? 8 : 7),
                                  QTime::fromString(f[0].left(8))));
        &step == &steps.front() ? monitorControls().cmdStartPing_Click() : tick();
        settle();
        EXPECT_EQ(passesSoFar(), f[1].toInt());
        EXPECT_TRUE(monitor().timer1().isActive() &&
                    (f.size() < 3 || monitor().timer1().interval() == f[2].toInt()))
            << monitor().timer1().interval();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IntervalMode,
    ::testing::Values(
        Timeline{"Seconds31CountFromTheLastPass", Unit::Seconds, "31", 0, 0, 0,
                 "10:00:00 1 5000; 10:00:30 1 5000; 10:00:31 2; 10:01:01 2"},
        Timeline{"MinuteChangesAfterThePassEnds", Unit::Minutes, "1", 0, 0, 5,
                 "10:00:45 1 5000; 10:00:55 1 5000; 10:01:00 2"},
        // N x 100 ms without 16-bit overflow, a pass on every tick, the unattended range ignored.
        Timeline{"Tenths999", Unit::Tenths, "999", 9, 17, 0, "10:00:00 1 99900; 10:01:40 2"},
        Timeline{"UnattendedRangeSuspendsMinutes", Unit::Minutes, "1", 9, 17, 0,
                 "08:58:00 1; 09:00:00 1 60000; 16:59:59 1 60000; 17:00:00 2"},
        Timeline{"StartInsideTheRangeShortSecondsPingOneTickAfterIt", Unit::Seconds, "10", 9, 17, 0,
                 "16:59:00 0 60000; 17:00:00 0 10000; 17:00:10 1 10000"},
        Timeline{"MinutesAcrossMidnight", Unit::Minutes, "2", 0, 0, 0,
                 "23:59:30 1; 00:00:59+1 1 5000; 00:01:00+1 2"}),
    [](const auto& info) { return std::string(info.param.name); });

// Logging to a path that failed its check: Start says so, shows the notice in place of the
// results and starts nothing. Monitoring that pings nothing says why over the results: the
// unattended hours, then a list that Clear emptied; an added entry, the end of the hours and
// Stop take the notice away. Stored texts the pass cannot use are replaced and named there
// until the boxes hold usable values.
TEST_F(MonitorTest, StartRefusedOnAnInvalidPathAndWhyNothingIsPingedAreSaid) {
    fakes.store.put(keys::Attempts, QStringLiteral("-3"));
    fakes.store.put(keys::PingWithBytes, QStringLiteral("-1"));
    restart();
    addAddress(QStringLiteral("host-a"));
    ui().chkLogFailed->setChecked(true);
    state().logPathInvalid = true;
    monitorControls().cmdStartPing_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Invalid directory"));
    EXPECT_TRUE(ui().lstPingResults->isHidden() && !ui().txtPathError->isHidden());
    EXPECT_TRUE(passesSoFar() == 0 && !monitor().timer1().isActive());

    ui().chkLogFailed->setChecked(false);
    state().logPathInvalid = false;
    ui().mnuUnattended->setChecked(true);
    state().unattendedFromHour = 9;
    state().unattendedToHour = 17;
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
    monitorControls().cmdStartPing_Click();
    const auto notice = [this] { return ui().lstPingResults->notice(); };
    const QString replaced = QStringLiteral("\nAttempts: \"-3\" is not a count; 1 is used\n"
                                            "Bytes: \"-1\" is not a size; 16 is used");
    EXPECT_EQ(notice(), "Pinging rests until " + shortTimeText(QTime(17, 0)) +
                            QStringLiteral(": unattended hours.") + replaced);
    window->addressList().cmdClear_Click();
    EXPECT_EQ(notice(), QStringLiteral("Nothing to ping: the address list is empty. Add an "
                                       "address, or press Stop.") +
                            replaced);
    addAddress(QStringLiteral("host-b"));
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(17, 0)));
    tick();
    settle();
    EXPECT_TRUE(passesSoFar() == 1 && fakes.echo.calls[0].packetSize == 16);
    EXPECT_EQ(notice(), replaced.mid(1));
    ui().txtAttempts->setText(QStringLiteral("2"));
    ui().txtNumBytes->setText(QStringLiteral("32"));
    EXPECT_EQ(notice(), QString());
    window->addressList().cmdClear_Click();
    monitorControls().cmdStopPing_Click();
    EXPECT_EQ(notice(), QString());
}

struct Live {
    const char* name;
    Unit unit;
    const char* act; // a button's name, the menu item mnuExit, or the close box
};

// A pass whose second attempt waits on a silent host: the window serves the operator meanwhile
// (the panel hidden, an entry added), and Stop or Exit drops the attempt in flight at once;
// nothing pings again. Exit saves as when idle: by the button or the menu when asked to, never
// by the close box.
class DuringAPass : public MonitorTest, public ::testing::WithParamInterface<Live> {};

TEST_P(DuringAPass, TheWindowServesAndStopOrExitEndItAtOnce) {
    const Live& l = GetParam();
    addAddress(QStringLiteral("silent"));
    unit(l.unit, QStringLiteral("1"));
    fakes.echo.onCall = [this](auto& c) { fakes.echo.delayMs = c.address == "silent" ? 60000 : 0; };
    monitorControls().cmdStartPing_Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return results().size() == 1; }, 5000));

    QTest::mouseClick(ui().cmdSettings, Qt::LeftButton);
    EXPECT_FALSE(window->controlStates().panelShown());
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("added"));
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
    EXPECT_EQ(ipList(), QStringList({"host-a", "silent", "added"}));
    EXPECT_FALSE(ui().cmdStartPing->isEnabled()); // an entry added never enables Ping

    fakes.store.writes.clear();
    if (auto* button = window->findChild<QPushButton*>(QString::fromLatin1(l.act)))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        l.act == std::string("mnuExit") ? ui().mnuExit->trigger() : (void)window->close();
    EXPECT_TRUE(fakes.echo.inFlight() == 0 && fakes.echo.cancels() == 1 &&
                !monitor().timer1().isActive());
    EXPECT_FALSE(QTest::qWaitFor([this] { return passesSoFar() > 2; }, 400)); // no more pings
    const std::string act = l.act;
    EXPECT_EQ(endRequests, act == "cmdStopPing" ? 0 : 1);
    EXPECT_EQ(fakes.store.writes.contains(QStringLiteral("IPList=host-a,silent,added,")),
              act.ends_with("Exit")); // Save Settings on exit is checked
}

INSTANTIATE_TEST_SUITE_P(Actions, DuringAPass,
                         ::testing::Values(Live{"StopSeconds", Unit::Seconds, "cmdStopPing"},
                                           Live{"ExitButtonSaves", Unit::Tenths, "cmdExit"},
                                           Live{"ExitMenuSaves", Unit::Seconds, "mnuExit"},
                                           Live{"CloseBoxNeverSaves", Unit::Tenths, "closeBox"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The bound as designed, spelled out so that a changed constant shows here.
constexpr int ResultsBound = 30000;

// Also: a list is emptied before an address once above its bound (not at it), and counters go
// past 16 bits.
TEST_F(PassTest, EachAttemptGivesItsLineInOrderWithItsTimeAndCounts) {
    const QString a = QStringLiteral("  127.0.0.1 "); // blanks go out and show unchanged
    addAddress(a);
    addAddress(QStringLiteral("b"));
    for (int i = 2; i < ResultsBound; ++i)
        ui().lstPingResults->addLine(QStringLiteral("old"));
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
    EXPECT_EQ(fakes.echo.calls.at(0).address, "  127.0.0.1 ");
    pass(); // above the bound now: emptied before the first address
    EXPECT_EQ(results().size(), 4);
}

// A check box counts as checked only with the value 1: a greyed box neither beeps nor logs.
TEST_F(PassTest, BeepsAndLogsWhatTheBoxesAsk) {
    addAddress(QStringLiteral("h"));
    setAttempts(2);
    ui().txtLog->setText(logPath());
    const QStringList all = {replyText(at(10, 0, 0), QStringLiteral("h"), 4),
                             failureText(at(10, 0, 0), QStringLiteral("h"))};
    const struct {
        int beep, logTotal, logFailed;
        int beeps, logged; // of one reply and one failure
    } rows[] = {{0, 0, 0, 0, 0}, {1, 0, 1, 1, 1}, {2, 1, 1, 0, 2}, {1, 2, 2, 1, 0}};
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
                {Attempts, "2.5", "Attempts: \"2.5\" is not a whole number; 2 is used", 2},
                {Bytes, "65500", "Bytes: \"65500\" is not a size; 16 is used", 16},
                {Interval, "00", "Interval: \"00\" is not an interval; 3 is used", 3},
                {Timeout, "0.0004", "Timeout: \"0.0004\" is not a time-out; 3 is used", 3000},
                {Bytes, " 0032", "", 32},
                {Bytes, "00", "", 0},
                {Timeout, "2.5", "", 2500},
                {Timeout, "0.001", "", 1}};
    for (const auto& r : rows) {
        const UsedNumber used = usedNumber(r.box, QString::fromLatin1(r.text));
        EXPECT_TRUE(used.value == r.value && used.notice == QLatin1String(r.notice)) << r.text;
    }
}

// Add keeps the buttons in step; Enter adds as Add does, and a paste gives one clean entry per
// line or comma.
TEST_F(PassTest, AddKeepsTheButtonsInStepAndAPasteGivesOneCleanEntryPerLineOrComma) {
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("x"));
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Backspace);
    ui().cmdAdd->click(); // an empty box adds nothing
    EXPECT_TRUE(ui().cmdAdd->isEnabled() && ipList().isEmpty());
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("a"));
    ui().cmdAdd->click();
    EXPECT_TRUE(ui().cmdStartPing->isEnabled() && ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    const struct {
        const char* pasted;
        QStringList entries;
    } rows[] = {{" host a ", {" host a "}}, // a single line is kept as it is, like typed text
                {"127.0.0.1\r\n127.0.0.2\r\n", {"127.0.0.1", "127.0.0.2"}},
                {"a\n\n  b \rc", {"a", "b", "c"}},
                // A comma would split the entry at the next start, when the store is read.
                {"\t127.0.0.3\t\r\nhost\tname, b,,c,", {"127.0.0.3", "host name", "b", "c"}},
                {"\u202e\u200bevil\u00ad.host\ufeff", {"evil.host"}},
                {"\r\n\n\t", {}},
                {"   ", {}}}; // blanks alone name no host
    window->show();
    const auto paste = [this](const QString& text) {
        ui().lstIPList->clear();
        QApplication::clipboard()->setText(text);
        QTest::keyClick(ui().txtIPAddress, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
        return ipList();
    };
    for (const auto& row : rows) {
        EXPECT_EQ(paste(QString::fromUtf8(row.pasted)), row.entries) << row.pasted;
        EXPECT_EQ(ui().txtIPAddress->text(), QString());
    }
    // 10,000 lines in 200,000 characters: every one whole, in one step.
    QStringList many;
    for (int i = 0; i < 10000; ++i)
        many << QStringLiteral("h%1.example.test").arg(i, 5, 10, QLatin1Char('0'));
    EXPECT_EQ(paste(many.join('\n') + '\n'), many);
    // Enter while Add is disabled adds nothing.
    ui().txtIPAddress->setText(QStringLiteral("x"));
    ui().cmdAdd->setEnabled(false);
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Enter);
    EXPECT_EQ(ipList(), many);
}

} // namespace
} // namespace ew::test
