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
    void unattended(int from, int to) {
        ui().mnuUnattended->setChecked(true);
        state().unattendedFromHour = static_cast<std::int16_t>(from);
        state().unattendedToHour = static_cast<std::int16_t>(to);
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
    unit(ui().optSeconds, 10);
    state().logLineCount = 7;
    ui().cmdStartPing->setEnabled(true);
    ui().cmdStartPing->click();

    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
    EXPECT_FALSE(ui().cmdOpenLog->isEnabled());
    EXPECT_FALSE(ui().txtLog->isEnabled());
    EXPECT_TRUE(timer1().isActive());
    EXPECT_FALSE(window->toolTips().timerEnabled());
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(state().logLineCount, 0);
    EXPECT_EQ(state().lastPassTime, at(10, 0, 0));

    state().askOverwrite = AskOverwrite::Dont;
    ui().cmdStopPing->click();
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdStopPing->isEnabled());
    EXPECT_TRUE(ui().cmdOpenLog->isEnabled());
    EXPECT_TRUE(ui().txtLog->isEnabled());
    EXPECT_FALSE(timer1().isActive());
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Yes);
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(ui().lstPingResults->count(), 1); // Stop clears nothing
}

// Seconds up to 30: the timer ticks every N seconds and every tick pings.
class ShortSeconds : public MonitorTest, public ::testing::WithParamInterface<int> {};

TEST_P(ShortSeconds, PingOnEveryTick) {
    unit(ui().optSeconds, GetParam());
    monitor().cmdStartPing_Click();
    EXPECT_EQ(timer1().interval(), GetParam() * 1000);
    EXPECT_EQ(passesSoFar(), 1);
    for (int i = 0; i < 3; ++i) {
        fakes.clock.advanceSecs(GetParam());
        tick();
    }
    EXPECT_EQ(passesSoFar(), 4);
    EXPECT_EQ(state().stateFlag, StateFlag::NoTimer);
}

INSTANTIATE_TEST_SUITE_P(N, ShortSeconds, ::testing::Values(1, 10, 30));

TEST_F(MonitorTest, SecondsAbove30CountFromTheEndOfThePass) {
    unit(ui().optSeconds, 31);
    monitor().cmdStartPing_Click();
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(timer1().interval(), Monitor::RecheckIntervalMs);
    clockAt(10, 0, 30);
    tick();
    EXPECT_EQ(passesSoFar(), 1);
    clockAt(10, 0, 31);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
    EXPECT_EQ(state().lastPassTime, at(10, 0, 31));
    clockAt(10, 1, 1);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
}

TEST_F(MonitorTest, MinutesCountChangesOfTheClocksMinute) {
    unit(ui().optMinutes, 1);
    clockAt(10, 0, 45);
    // The first pass lasts five seconds and ends at 10:00:50.
    fakes.echo.onCall = [this](const FakeEcho::Call&) { fakes.clock.advanceSecs(5); };
    monitor().cmdStartPing_Click();
    fakes.echo.onCall = nullptr;
    EXPECT_EQ(state().lastPassTime, at(10, 0, 50));
    clockAt(10, 0, 55);
    tick();
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(timer1().interval(), Monitor::RecheckIntervalMs);
    clockAt(10, 1, 0);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
}

TEST_F(MonitorTest, FiveMinutesWaitForFiveMinuteChangesInFiveSecondTicks) {
    unit(ui().optMinutes, 5);
    clockAt(10, 0, 50);
    monitor().cmdStartPing_Click();
    for (int s = 5; s < 250; s += 5) { // 10:00:55 .. 10:04:55
        fakes.clock.advanceSecs(5);
        tick();
        ASSERT_EQ(passesSoFar(), 1) << fakes.clock.now().toString().toStdString();
        ASSERT_EQ(timer1().interval(), Monitor::RecheckIntervalMs);
    }
    clockAt(10, 5, 0);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
}

// Tenth-seconds: N x 100 ms without 16-bit overflow, one pass per tick, unattended ignored.
class TenthSeconds : public MonitorTest, public ::testing::WithParamInterface<int> {};

TEST_P(TenthSeconds, PingOnEveryTickWhateverTheHour) {
    unattended(9, 17);
    unit(ui().optMilSeconds, GetParam());
    monitor().cmdStartPing_Click();
    EXPECT_EQ(timer1().interval(), GetParam() * 100);
    tick();
    tick();
    EXPECT_EQ(passesSoFar(), 3);
    EXPECT_EQ(state().lastPassTime, at(10, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(N, TenthSeconds, ::testing::Values(5, 327, 328, 999));

TEST_F(MonitorTest, UnattendedRangeSuspendsPingingInMinutesMode) {
    unattended(9, 17);
    unit(ui().optMinutes, 1);
    clockAt(8, 58, 0);
    monitor().cmdStartPing_Click();
    EXPECT_EQ(passesSoFar(), 1);
    for (const QTime t : {QTime(9, 0, 0), QTime(12, 30, 0), QTime(16, 59, 59)}) {
        fakes.clock.setTime(t);
        tick();
        EXPECT_EQ(passesSoFar(), 1) << t.toString().toStdString();
        EXPECT_EQ(timer1().interval(), Monitor::UnattendedRecheckMs);
    }
    clockAt(17, 0, 0);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
}

TEST_F(MonitorTest, AfterTheRangeShortSecondsPingOneTickLater) {
    unattended(9, 17);
    unit(ui().optSeconds, 10);
    clockAt(16, 59, 0);
    monitor().cmdStartPing_Click();
    EXPECT_EQ(passesSoFar(), 0);
    EXPECT_EQ(timer1().interval(), Monitor::UnattendedRecheckMs);
    EXPECT_TRUE(timer1().isActive());
    clockAt(17, 0, 0);
    tick();
    EXPECT_EQ(passesSoFar(), 0);
    EXPECT_EQ(timer1().interval(), 10000);
    clockAt(17, 0, 10);
    tick();
    EXPECT_EQ(passesSoFar(), 1);
}

TEST_F(MonitorTest, RangeWhoseStartIsNotBelowItsEndNeverSuspends) {
    unattended(22, 6);
    unit(ui().optSeconds, 10);
    clockAt(23, 0, 0);
    monitor().cmdStartPing_Click();
    clockAt(3, 0, 0, 1);
    tick();
    EXPECT_EQ(passesSoFar(), 2);
}

TEST_F(MonitorTest, StartRefusedWhileLoggingToAnInvalidPath) {
    ASSERT_TRUE(logDir.isValid());
    logTo(false, true);
    state().logPathInvalid = true;
    state().logLineCount = 3;
    fakes.messages.shown.clear();
    window->toolTips().setTimerEnabled(true);

    monitor().cmdStartPing_Click();

    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    const auto& box = fakes.messages.shown[0];
    EXPECT_EQ(box.text,
              QStringLiteral("The log file path is invalid.\rPlease enter a valid path."));
    EXPECT_EQ(box.title, QStringLiteral("Invalid directory"));
    EXPECT_EQ(box.icon, MsgIcon::Critical);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
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

TEST_F(MonitorTest, PingingGoesOnAcrossMidnight) {
    unit(ui().optSeconds, 31);
    clockAt(23, 59, 50);
    monitor().cmdStartPing_Click();
    clockAt(0, 0, 10, 1);
    tick();
    EXPECT_EQ(passesSoFar(), 1); // 20 s after the last pass
    clockAt(0, 0, 21, 1);
    tick();
    EXPECT_EQ(passesSoFar(), 2);

    unit(ui().optMinutes, 2);
    clockAt(23, 59, 30, 1);
    tick();
    EXPECT_EQ(passesSoFar(), 3);
    clockAt(0, 0, 59, 2);
    tick();
    EXPECT_EQ(passesSoFar(), 3); // one minute change
    clockAt(0, 1, 0, 2);
    tick();
    EXPECT_EQ(passesSoFar(), 4);
}

TEST(MonitorCounting, MinuteChangesAndSecondsBetweenTimesOfDay) {
    EXPECT_EQ(Monitor::minuteChangesBetween(QTime(10, 0, 50), QTime(10, 1, 0)), 1);
    EXPECT_EQ(Monitor::minuteChangesBetween(QTime(10, 0, 0), QTime(10, 1, 59)), 1);
    EXPECT_EQ(Monitor::minuteChangesBetween(QTime(23, 59, 0), QTime(0, 3, 0)), 4);
    EXPECT_EQ(Monitor::secondsBetween(QTime(23, 59, 59), QTime(0, 0, 1)), 2);
    EXPECT_EQ(Monitor::secondsBetween(QTime(8, 0, 0), QTime(8, 0, 0)), 0);
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
    ASSERT_TRUE(logDir.isValid());
    logTo(true, true);
    {
        QFile old(logPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("previous run\r\n");
    }
    unit(ui().optSeconds, 5);
    state().askOverwrite = AskOverwrite::Yes;
    fakes.messages.shown.clear();
    fakes.messages.answers.push_back(MsgAnswer::No);
    fakes.messages.whileOpen = [this](const FakeMessageBoxes::Box&) {
        fakes.clock.advanceSecs(5);
        tick();
        fakes.clock.advanceSecs(5);
        tick();
    };
    monitor().cmdStartPing_Click();

    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Log File"));
    EXPECT_EQ(passesSoFar(), 1);
    EXPECT_EQ(loggedResults().size(), 1);
    EXPECT_TRUE(timer1().isActive());
    EXPECT_EQ(timer1().interval(), 5000);
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
