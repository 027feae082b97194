#include "support/MainWindowFixture.h"

#include "monitor/AddressList.h"
#include "panel/ControlStates.h"

#include <QClipboard>
#include <QTest>

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
        const int before = passesSoFar();
        &step == &steps.front() ? monitorControls().cmdStartPing_Click() : tick();
        settle();
        EXPECT_EQ(passesSoFar(), f[1].toInt());
        EXPECT_TRUE(monitor().timer1().isActive() &&
                    (f.size() < 3 || monitor().timer1().interval() == f[2].toInt()))
            << monitor().timer1().interval();
        if (passesSoFar() > before && r.unit != Unit::Tenths) {
            EXPECT_EQ(state().lastPassTime, timeOfDayText(fakes.clock.now().time()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IntervalMode,
    ::testing::Values(
        Timeline{"Seconds1", Unit::Seconds, "1", 0, 0, 0, "10:00:00 1 1000; 10:00:01 2 1000"},
        Timeline{"NoWholeNumberIs3", Unit::Seconds, "-4", 0, 0, 0, "10:00:00 1 3000"},
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
// Stop take the notice away.
TEST_F(MonitorTest, StartRefusedOnAnInvalidPathAndWhyNothingIsPingedAreSaid) {
    ui().chkLogFailed->setChecked(true);
    state().logPathInvalid = true;
    monitorControls().cmdStartPing_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Invalid directory"));
    EXPECT_TRUE(ui().lstPingResults->isHidden() && !ui().txtPathError->isHidden());
    EXPECT_TRUE(passesSoFar() == 0 && !monitor().timer1().isActive());
    EXPECT_FALSE(ui().cmdStopPing->isEnabled());

    ui().chkLogFailed->setChecked(false);
    state().logPathInvalid = false;
    ui().mnuUnattended->setChecked(true);
    state().unattendedFromHour = 9;
    state().unattendedToHour = 17;
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(9, 30)));
    monitorControls().cmdStartPing_Click();
    const auto notice = [this] { return ui().lstPingResults->notice(); };
    EXPECT_EQ(notice(), "Pinging rests until " + shortTimeText(QTime(17, 0)) +
                            QStringLiteral(": unattended hours."));
    window->addressList().cmdClear_Click();
    EXPECT_EQ(notice(), QStringLiteral("Nothing to ping: the address list is empty. Add an "
                                       "address, or press Stop."));
    addAddress(QStringLiteral("host-b"));
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(17, 0)));
    tick();
    EXPECT_EQ(notice(), QString());
    window->addressList().cmdClear_Click();
    monitorControls().cmdStopPing_Click();
    EXPECT_EQ(notice(), QString());
}

struct Live {
    const char* name;
    Unit unit;
    const char* act; // a button's name, the menu item mnuExit, or the close box
    bool saveOnExit;
};

// A pass whose second attempt waits on a silent host: the window serves the operator meanwhile
// (a line is selected and copied, the panel hidden, an entry added), a tick that falls due
// waits, and Stop or Exit drops the attempt in flight at once; nothing pings again. Exit saves
// as when idle: by the button or the menu when asked to, never by the close box.
class DuringAPass : public MonitorTest, public ::testing::WithParamInterface<Live> {};

TEST_P(DuringAPass, TheWindowServesAndStopOrExitEndItAtOnce) {
    const Live& l = GetParam();
    addAddress(QStringLiteral("silent"));
    unit(l.unit, QStringLiteral("1"));
    ui().mnuSSave->setChecked(l.saveOnExit);
    fakes.echo.onCall = [this](auto& c) { fakes.echo.delayMs = c.address == "silent" ? 60000 : 0; };
    monitorControls().cmdStartPing_Click();
    ASSERT_TRUE(QTest::qWaitFor([this] { return results().size() == 1; }, 5000));
    const QStringList shown = results();

    ui().lstPingResults->setCurrentRow(0);
    QTest::keyClick(ui().lstPingResults, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), shown[0]);
    QTest::mouseClick(ui().cmdSettings, Qt::LeftButton);
    EXPECT_FALSE(window->controlStates().panelShown());
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("added"));
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
    EXPECT_EQ(ipList(), QStringList({"host-a", "silent", "added"}));
    tick();
    EXPECT_EQ(passesSoFar(), 2) << "a tick started a pass under the running one";

    fakes.store.writes.clear();
    if (auto* button = window->findChild<QPushButton*>(QString::fromLatin1(l.act)))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        l.act == std::string("mnuExit") ? ui().mnuExit->trigger() : (void)window->close();
    EXPECT_TRUE(fakes.echo.inFlight() == 0 && fakes.echo.cancels() == 1 &&
                !monitor().timer1().isActive());
    EXPECT_FALSE(QTest::qWaitFor([this] { return passesSoFar() > 2; }, 400)); // no more pings
    EXPECT_EQ(results(), shown);
    const std::string act = l.act;
    EXPECT_EQ(endRequests, act == "cmdStopPing" ? 0 : 1);
    EXPECT_EQ(fakes.store.writes.contains(QStringLiteral("IPList=host-a,silent,added,")),
              l.saveOnExit && act.ends_with("Exit"));
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DuringAPass,
    ::testing::Values(Live{"StopSeconds", Unit::Seconds, "cmdStopPing", true},
                      Live{"StopTenths", Unit::Tenths, "cmdStopPing", true},
                      Live{"ExitButtonSaves", Unit::Tenths, "cmdExit", true},
                      Live{"ExitButtonUnsaved", Unit::Seconds, "cmdExit", false},
                      Live{"ExitMenuSaves", Unit::Seconds, "mnuExit", true},
                      Live{"CloseBoxNeverSaves", Unit::Tenths, "closeBox", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ew::test
