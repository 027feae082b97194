#include "support/MonitorTestUtil.h"

#include "tooltips/ToolTips.h"

#include <QElapsedTimer>

namespace ew::test {
namespace {

// One address, one attempt per pass: every echo call is one pass.
class MonitorTest : public PassTest {
protected:
    void SetUp() override {
        PassTest::SetUp();
        addAddress(QStringLiteral("host-a"));
    }
    void unit(QRadioButton* option, int n) {
        ui().txtInterval->setText(QString::number(n));
        option->setChecked(true);
    }
    void clockAt(int h, int m, int s, int dayOffset = 0) {
        fakes.clock.set(QDateTime(QDate(2026, 12, 7).addDays(dayOffset), QTime(h, m, s)));
    }
    void tick() { monitor().Timer1_Timer(); }
    // Start on an existing log, logging every ping: the first pass asks whether to overwrite
    // it, and `meanwhile` runs while the question is open (then No appends).
    void startWithTheQuestionOpen(const std::function<void()>& meanwhile) {
        ASSERT_TRUE(logDir.isValid());
        logTo(true, true);
        QFile old(logPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("previous run\r\n");
        old.close();
        state().askOverwrite = AskOverwrite::Yes;
        fakes.messages.shown.clear();
        fakes.messages.answers.push_back(MsgAnswer::No);
        fakes.messages.whileOpen = [meanwhile](const FakeMessageBoxes::Box&) { meanwhile(); };
        monitor().cmdStartPing_Click();
    }
};

TEST_F(MonitorTest, Timer1IsAPreciseDisabledTimerAsDesigned) {
    auto* t = window->findChild<QTimer*>(QStringLiteral("Timer1"));
    ASSERT_EQ(t, &timer1());
    EXPECT_EQ(t->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(t->interval(), Monitor::Timer1DesignIntervalMs);
    EXPECT_FALSE(t->isActive());
}

TEST_F(MonitorTest, StartAndStopSwitchTheControlsAndTheTimer) {
    const auto expectRunning = [this](bool on) {
        EXPECT_EQ(ui().cmdStartPing->isEnabled(), !on);
        EXPECT_EQ(ui().cmdStopPing->isEnabled(), on);
        EXPECT_EQ(ui().cmdOpenLog->isEnabled(), !on);
        EXPECT_EQ(ui().txtLog->isEnabled(), !on);
        EXPECT_EQ(timer1().isActive(), on);
        EXPECT_EQ(window->toolTips().timerEnabled(), !on);
    };
    unit(ui().optSeconds, 10);
    state().logLineCount = 7;
    ui().cmdStartPing->setEnabled(true);
    ui().cmdStartPing->click();
    expectRunning(true);
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(state().logLineCount, 0);
    EXPECT_EQ(state().lastPassTime, at(10, 0, 0));
    state().askOverwrite = AskOverwrite::Dont;
    ui().cmdStopPing->click();
    expectRunning(false);
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Yes);
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(ui().lstPingResults->count(), 1); // Stop clears nothing
}

enum class Unit { Minutes, Seconds, Tenths };

struct Step {
    int h, m, s;
    int passes;     // passes so far, after this step
    int intervalMs; // Timer1's interval after this step; 0: not checked
    int day;        // 1: the next day
};
Step step(int h, int m, int s, int passes, int intervalMs = 0, int day = 0) {
    return {h, m, s, passes, intervalMs, day};
}

struct Timeline {
    const char* name;
    Unit unit;
    int n;
    int from, to;            // the unattended range
    int passSecs;            // how long each pass lasts on the clock
    std::vector<Step> steps; // the first presses Start, the others are ticks
};
Timeline run(const char* name, Unit unit, int n, int from, int to, int passSecs,
             std::vector<Step> steps) {
    return {name, unit, n, from, to, passSecs, std::move(steps)};
}
void PrintTo(const Timeline& t, std::ostream* os) {
    *os << t.name;
}
constexpr int Off = -1; // unattended mode off

// Each interval mode: Timer1's interval and which ticks run a pass, with a pass's own end as
// the reference time of the minute and long-second counts.
class IntervalMode : public MonitorTest, public ::testing::WithParamInterface<Timeline> {};

TEST_P(IntervalMode, PassesRunWhenTheModeSays) {
    const Timeline& r = GetParam();
    if (r.from != Off) {
        ui().mnuUnattended->setChecked(true);
        state().unattendedFromHour = static_cast<std::int16_t>(r.from);
        state().unattendedToHour = static_cast<std::int16_t>(r.to);
    }
    unit(r.unit == Unit::Minutes   ? ui().optMinutes
         : r.unit == Unit::Seconds ? ui().optSeconds
                                   : ui().optMilSeconds,
         r.n);
    fakes.echo.onCall = [&](const FakeEcho::Call&) { fakes.clock.advanceSecs(r.passSecs); };
    for (const Step& s : r.steps) {
        SCOPED_TRACE(QTime(s.h, s.m, s.s).toString().toStdString());
        clockAt(s.h, s.m, s.s, s.day);
        const int before = passesSoFar();
        if (&s == &r.steps.front())
            monitor().cmdStartPing_Click();
        else
            tick();
        EXPECT_EQ(passesSoFar(), s.passes);
        EXPECT_TRUE(timer1().isActive());
        if (s.intervalMs != 0) {
            EXPECT_EQ(timer1().interval(), s.intervalMs);
        }
        if (passesSoFar() > before && r.unit != Unit::Tenths) {
            EXPECT_EQ(state().lastPassTime, timeOfDayText(fakes.clock.now().time()));
        }
    }
}

constexpr int Recheck = Monitor::RecheckIntervalMs;
constexpr int Unattended = Monitor::UnattendedRecheckMs;

INSTANTIATE_TEST_SUITE_P(
    Modes, IntervalMode,
    ::testing::Values(
        run("Seconds1", Unit::Seconds, 1, Off, Off, 0,
            {step(10, 0, 0, 1, 1000), step(10, 0, 1, 2, 1000)}),
        run("Seconds30TickAndPing", Unit::Seconds, 30, Off, Off, 0,
            {step(10, 0, 0, 1, 30000), step(10, 0, 30, 2, 30000), step(10, 1, 0, 3, 30000)}),
        run("Seconds31CountFromTheLastPass", Unit::Seconds, 31, Off, Off, 0,
            {step(10, 0, 0, 1, Recheck), step(10, 0, 30, 1, Recheck), step(10, 0, 31, 2),
             step(10, 1, 1, 2)}),
        run("MinuteChangesAfterThePassEnds", Unit::Minutes, 1, Off, Off, 5,
            {step(10, 0, 45, 1, Recheck), step(10, 0, 55, 1, Recheck), step(10, 1, 0, 2)}),
        run("FiveMinuteChanges", Unit::Minutes, 5, Off, Off, 0,
            {step(10, 0, 50, 1, Recheck), step(10, 0, 55, 1, Recheck), step(10, 3, 0, 1, Recheck),
             step(10, 4, 59, 1, Recheck), step(10, 5, 0, 2)}),
        // Tenth-seconds: N x 100 ms without 16-bit overflow, a pass on every tick, the
        // unattended range ignored.
        run("Tenths5", Unit::Tenths, 5, 9, 17, 0,
            {step(10, 0, 0, 1, 500), step(10, 0, 0, 2, 500), step(10, 0, 1, 3, 500)}),
        run("Tenths328", Unit::Tenths, 328, 9, 17, 0,
            {step(10, 0, 0, 1, 32800), step(10, 0, 33, 2, 32800)}),
        run("Tenths999", Unit::Tenths, 999, 9, 17, 0,
            {step(10, 0, 0, 1, 99900), step(10, 1, 40, 2, 99900)}),
        run("UnattendedRangeSuspendsMinutes", Unit::Minutes, 1, 9, 17, 0,
            {step(8, 58, 0, 1), step(9, 0, 0, 1, Unattended), step(12, 30, 0, 1, Unattended),
             step(16, 59, 59, 1, Unattended), step(17, 0, 0, 2)}),
        run("StartInsideTheRangeShortSecondsPingOneTickAfterIt", Unit::Seconds, 10, 9, 17, 0,
            {step(16, 59, 0, 0, Unattended), step(17, 0, 0, 0, 10000), step(17, 0, 10, 1, 10000)}),
        run("RangeStartNotBelowItsEndNeverSuspends", Unit::Seconds, 10, 22, 6, 0,
            {step(23, 0, 0, 1, 10000), step(3, 0, 0, 2, 10000, 1)}),
        run("Seconds31AcrossMidnight", Unit::Seconds, 31, Off, Off, 0,
            {step(23, 59, 50, 1), step(0, 0, 10, 1, Recheck, 1), step(0, 0, 21, 2, 0, 1)}),
        run("MinutesAcrossMidnight", Unit::Minutes, 2, Off, Off, 0,
            {step(23, 59, 30, 1), step(0, 0, 59, 1, Recheck, 1), step(0, 1, 0, 2, 0, 1)})),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, StartRefusedWhileLoggingToAnInvalidPath) {
    ASSERT_TRUE(logDir.isValid());
    logTo(false, true);
    state().logPathInvalid = true;
    state().logLineCount = 3;
    fakes.messages.shown.clear();
    window->toolTips().setTimerEnabled(true);

    monitor().cmdStartPing_Click();

    const FakeMessageBoxes::Box refused{
        QStringLiteral("The log file path is invalid.\rPlease enter a valid path."),
        QStringLiteral("Invalid directory"), MsgIcon::Critical, MsgButtons::Ok};
    EXPECT_EQ(fakes.messages.shown, std::vector{refused});
    EXPECT_FALSE(ui().txtPathError->isHidden());
    EXPECT_TRUE(ui().lstPingResults->isHidden());
    EXPECT_FALSE(timer1().isActive());
    EXPECT_FALSE(ui().cmdStopPing->isEnabled());
    EXPECT_FALSE(window->toolTips().timerEnabled());
    EXPECT_EQ(state().logLineCount, 0);
    EXPECT_EQ(passesSoFar(), 0);
    // ToggleControls locked the window.
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdSettings->isEnabled());
}

class IntervalText : public MonitorTest,
                     public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(IntervalText, IsAWholeNumberOfAtLeastOne) {
    ui().txtInterval->setText(QString::fromLatin1(GetParam().first));
    ui().optSeconds->setChecked(true);
    monitor().cmdStartPing_Click();
    EXPECT_EQ(timer1().interval(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Texts, IntervalText,
                         ::testing::Values(std::pair{"7", 7000}, std::pair{"abc", 3000},
                                           std::pair{"-4", 3000}, std::pair{"00", 3000},
                                           std::pair{"2.5", 2000}));

TEST_F(MonitorTest, ATickDuringAPassStartsNoSecondPass) {
    unit(ui().optMilSeconds, 5);
    int ticksInside = 0;
    fakes.echo.onCall = [&](const FakeEcho::Call&) {
        ++ticksInside;
        tick();
    };
    monitor().cmdStartPing_Click();
    EXPECT_EQ(ticksInside, 1);
    EXPECT_EQ(passesSoFar(), 1);
    fakes.echo.onCall = nullptr;
    tick();
    EXPECT_EQ(passesSoFar(), 2); // the next tick pings again
}

TEST_F(MonitorTest, TicksWhileTheOverwriteQuestionIsOpenAreDropped) {
    unit(ui().optSeconds, 5);
    startWithTheQuestionOpen([this] {
        for (int i = 0; i < 2; ++i) {
            fakes.clock.advanceSecs(5);
            tick();
        }
    });
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Log File"));
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(loggedResults().size(), 1);
    EXPECT_TRUE(timer1().isActive());
    EXPECT_EQ(timer1().interval(), 5000);
}

TEST_F(MonitorTest, ExitWhileTheOverwriteQuestionIsOpenAbandonsThePass) {
    ui().mnuSSave->setChecked(false);
    startWithTheQuestionOpen([this] { ui().cmdExit->click(); });
    EXPECT_EQ(endRequests, 1);
    EXPECT_EQ(passesSoFar(), 0);
    QFile kept(logPath());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("previous run\r\n"));
}

TEST_F(MonitorTest, TheRunningTimerCallsTheTick) {
    unit(ui().optMilSeconds, 1);
    monitor().cmdStartPing_Click();
    QElapsedTimer waited;
    waited.start();
    while (passesSoFar() < 3 && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_GE(passesSoFar(), 3);
    monitor().cmdStopPing_Click();
}

} // namespace
} // namespace ew::test
