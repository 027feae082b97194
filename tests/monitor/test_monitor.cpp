#include "support/MonitorTestUtil.h"

#include "tooltips/ToolTips.h"

#include <QElapsedTimer>
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
        (u == Unit::Minutes   ? ui().optMinutes
         : u == Unit::Seconds ? ui().optSeconds
                              : ui().optMilSeconds)
            ->setChecked(true);
    }
    void tick() { monitor().Timer1_Timer(); }
    // Runs the event loop until done() holds, for at most ms.
    bool spin(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }
};

struct Timeline {
    const char* name;
    Unit unit;
    const char* n;
    int from, to;      // the unattended range, or Off
    int passSecs;      // how long each pass lasts on the clock
    const char* steps; // "hh:mm:ss[+1] passes [intervalMs]; ...": Start, then ticks
};
constexpr int Off = -1;

// Each interval mode: which ticks run a pass (counted so far after each step) and Timer1's
// interval, with a pass's own end as the reference time of the minute and long-second counts.
class IntervalMode : public MonitorTest, public ::testing::WithParamInterface<Timeline> {};

TEST_P(IntervalMode, PassesRunWhenTheModeSays) {
    const Timeline& r = GetParam();
    ui().mnuUnattended->setChecked(r.from != Off);
    state().unattendedFromHour = static_cast<std::int16_t>(r.from);
    state().unattendedToHour = static_cast<std::int16_t>(r.to);
    unit(r.unit, QString::fromLatin1(r.n));
    fakes.echo.onCall = [&](const FakeEcho::Call&) { fakes.clock.advanceSecs(r.passSecs); };
    const QStringList steps = QString::fromLatin1(r.steps).split(u';');
    for (const QString& step : steps) {
        SCOPED_TRACE(step.toStdString());
        const QStringList f = step.split(u' ', Qt::SkipEmptyParts);
        const QDate day = QDate(2026, 12, 7).addDays(f[0].endsWith(QStringLiteral("+1")));
        fakes.clock.set(
            QDateTime(day, QTime::fromString(f[0].left(8), QStringLiteral("hh:mm:ss"))));
        const int before = passesSoFar();
        &step == &steps.front() ? monitor().cmdStartPing_Click() : tick();
        EXPECT_EQ(passesSoFar(), f[1].toInt());
        EXPECT_TRUE(timer1().isActive());
        EXPECT_TRUE(f.size() < 3 || timer1().interval() == f[2].toInt()) << timer1().interval();
        if (passesSoFar() > before && r.unit != Unit::Tenths) {
            EXPECT_EQ(state().lastPassTime, timeOfDayText(fakes.clock.now().time()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, IntervalMode,
    ::testing::Values(
        Timeline{"Seconds1", Unit::Seconds, "1", Off, Off, 0, "10:00:00 1 1000; 10:00:01 2 1000"},
        Timeline{"NoWholeNumberIs3", Unit::Seconds, "-4", Off, Off, 0, "10:00:00 1 3000"},
        Timeline{"Seconds30", Unit::Seconds, "30", Off, Off, 0, "10:00:00 1 30000; 10:00:30 2"},
        Timeline{"Seconds31CountFromTheLastPass", Unit::Seconds, "31", Off, Off, 0,
                 "10:00:00 1 5000; 10:00:30 1 5000; 10:00:31 2; 10:01:01 2"},
        Timeline{"MinuteChangesAfterThePassEnds", Unit::Minutes, "1", Off, Off, 5,
                 "10:00:45 1 5000; 10:00:55 1 5000; 10:01:00 2"},
        Timeline{"FiveMinuteChanges", Unit::Minutes, "5", Off, Off, 0,
                 "10:00:50 1 5000; 10:04:59 1 5000; 10:05:00 2"},
        // N x 100 ms without 16-bit overflow, a pass on every tick, the unattended range ignored.
        Timeline{"Tenths5", Unit::Tenths, "5", 9, 17, 0, "10:00:00 1 500; 10:00:00 2 500"},
        Timeline{"Tenths999", Unit::Tenths, "999", 9, 17, 0, "10:00:00 1 99900; 10:01:40 2"},
        Timeline{"UnattendedRangeSuspendsMinutes", Unit::Minutes, "1", 9, 17, 0,
                 "08:58:00 1; 09:00:00 1 60000; 16:59:59 1 60000; 17:00:00 2"},
        Timeline{"StartInsideTheRangeShortSecondsPingOneTickAfterIt", Unit::Seconds, "10", 9, 17, 0,
                 "16:59:00 0 60000; 17:00:00 0 10000; 17:00:10 1 10000"},
        Timeline{"RangeStartNotBelowItsEndNeverSuspends", Unit::Seconds, "10", 22, 6, 0,
                 "23:00:00 1 10000; 03:00:00+1 2 10000"},
        Timeline{"Seconds31AcrossMidnight", Unit::Seconds, "31", Off, Off, 0,
                 "23:59:50 1; 00:00:10+1 1 5000; 00:00:21+1 2"},
        Timeline{"MinutesAcrossMidnight", Unit::Minutes, "2", Off, Off, 0,
                 "23:59:30 1; 00:00:59+1 1 5000; 00:01:00+1 2"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, StartRefusedWhileLoggingToAnInvalidPath) {
    logTo(false, true);
    state().logPathInvalid = true;
    monitor().cmdStartPing_Click();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Invalid directory"));
    EXPECT_TRUE(ui().lstPingResults->isHidden() && !ui().txtPathError->isHidden());
    EXPECT_FALSE(timer1().isActive() || ui().cmdStopPing->isEnabled());
    EXPECT_FALSE(ui().cmdSettings->isEnabled() || window->toolTips().timerEnabled());
    EXPECT_EQ(passesSoFar(), 0);
}

// While the overwrite question of a pass is open, ticks start no pass; Exit abandons the pass.
TEST_F(MonitorTest, TheOverwriteQuestionHoldsThePass) {
    ASSERT_TRUE(logDir.isValid());
    unit(Unit::Seconds, QStringLiteral("5"));
    logTo(true, true);
    const auto startAsked = [this](const std::function<void()>& meanwhile) {
        QFile old(logPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("previous run\r\n") > 0);
        old.close();
        fakes.messages.answers.push_back(MsgAnswer::No);
        fakes.messages.whileOpen = [meanwhile](const FakeMessageBoxes::Box&) { meanwhile(); };
        monitor().cmdStartPing_Click();
        monitor().cmdStopPing_Click(); // asks again on the next Start
    };
    startAsked([this] {
        for (int i = 0; i < 2; ++i, fakes.clock.advanceSecs(5))
            tick();
    });
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(loggedResults().size(), 1);
    startAsked([this] { ui().cmdExit->click(); });
    EXPECT_EQ(endRequests, 1);
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_TRUE(loggedResults().isEmpty());
}

// Left running, the tenth-seconds timer keeps its schedule: a tick does not restart its count.
TEST_F(MonitorTest, TenthsTicksRunAndKeepTheirSchedule) {
    unit(Unit::Tenths, QStringLiteral("1"));
    monitor().cmdStartPing_Click();
    EXPECT_TRUE(spin([this] { return passesSoFar() >= 3; }, 10000));
    ui().txtInterval->setText(QStringLiteral("50"));
    tick();
    QTest::qWait(100);
    tick();
    EXPECT_LT(timer1().remainingTime(), 4950);
}

enum class Act { Stop, ExitButton, ExitMenu, CloseBox };
struct Live {
    const char* name;
    Unit unit;
    Act act;
    bool saveOnExit;
};

// A pass whose second attempt waits on a silent host: the window's loop runs meanwhile and
// shows the first line; other input and a tick are refused; Stop or Exit ends
// the pass at once, drops the attempt in progress and nothing pings again. Exit saves as when
// idle: by the button or the menu when asked to, never by the close box.
class DuringAPass : public MonitorTest, public ::testing::WithParamInterface<Live> {};

TEST_P(DuringAPass, OnlyStopAndExitGetThroughAndEndItAtOnce) {
    const Live& l = GetParam();
    addAddress(QStringLiteral("silent"));
    unit(l.unit, QStringLiteral("1"));
    ui().mnuSSave->setChecked(l.saveOnExit);
    ui().cmdClear->setEnabled(true);
    fakes.echo.onCall = [this](const FakeEcho::Call&) { fakes.echo.delayMs = 60000; };
    QStringList shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (results().size() != 1 || !window->pingPass().pinging())
            return;
        watch.stop();
        shown = results();
        QTest::mouseClick(ui().cmdClear, Qt::LeftButton);
        QTest::keyClicks(ui().txtIPAddress, QStringLiteral("x"));
        tick();
        fakes.store.writes.clear();
        if (l.act == Act::Stop)
            QTest::mouseClick(ui().cmdStopPing, Qt::LeftButton);
        else if (l.act == Act::ExitButton)
            QTest::mouseClick(ui().cmdExit, Qt::LeftButton);
        else if (l.act == Act::ExitMenu)
            ui().mnuExit->trigger();
        else
            window->close();
    });
    watch.start(5);
    monitor().cmdStartPing_Click();
    EXPECT_EQ(shown, QStringList{replyText(at(10, 0, 0), QStringLiteral("host-a"), 1)});
    EXPECT_EQ(ipList().size(), 2);
    EXPECT_TRUE(ui().txtIPAddress->text().isEmpty());
    EXPECT_EQ(passesSoFar(), 2);
    EXPECT_GE(fakes.echo.interrupts(), 1);
    EXPECT_FALSE(spin([this] { return passesSoFar() > 2; }, 400)); // nothing pings again
    EXPECT_EQ(results(), shown);
    EXPECT_EQ(endRequests, l.act == Act::Stop ? 0 : 1);
    EXPECT_FALSE(timer1().isActive());
    const bool saves = l.saveOnExit && (l.act == Act::ExitButton || l.act == Act::ExitMenu);
    EXPECT_EQ(fakes.store.writes.contains(QStringLiteral("IPList=host-a,silent,")), saves);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DuringAPass,
    ::testing::Values(Live{"StopSeconds", Unit::Seconds, Act::Stop, true},
                      Live{"StopTenths", Unit::Tenths, Act::Stop, true},
                      Live{"ExitButtonSaves", Unit::Tenths, Act::ExitButton, true},
                      Live{"ExitButtonUnsaved", Unit::Seconds, Act::ExitButton, false},
                      Live{"ExitMenuSaves", Unit::Seconds, Act::ExitMenu, true},
                      Live{"CloseBoxNeverSaves", Unit::Tenths, Act::CloseBox, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ew::test
