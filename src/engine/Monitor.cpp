#include "engine/Monitor.h"

#include "core/ProgramState.h"
#include "core/TimeText.h"
#include "engine/PingPass.h"
#include "platform/Clock.h"

#include <QTimer>
#include <limits>
#include <utility>

namespace ew {

namespace {

constexpr int MsPerSecond = 1000;
constexpr int MsPerTenth = 100;
constexpr int SecondsPerDay = 24 * 60 * 60;

int minuteChangesBetween(const QTime& from, const QTime& to) {
    return Monitor::secondsBetween(QTime(from.hour(), from.minute()),
                                   QTime(to.hour(), to.minute())) /
           60;
}

} // namespace

Monitor::Monitor(QObject& timerOwner, ProgramState& state, PingPass& pass, Clock& clock,
                 ReadTick readTick)
    : state_(state), pass_(pass), clock_(clock), readTick_(std::move(readTick)),
      timer1_(new QTimer(&timerOwner)) {
    timer1_->setObjectName(QStringLiteral("Timer1"));
    // Coarse timers fire up to 5% early, which would shorten the operator's intervals.
    timer1_->setTimerType(Qt::PreciseTimer);
    timer1_->setInterval(Timer1DesignIntervalMs);
    connect(timer1_, &QTimer::timeout, this, &Monitor::Timer1_Timer);
    connect(&pass_, &PingPass::passEnded, this, &Monitor::passEnded);
}

void Monitor::start() {
    state_.lastPassTime = timeOfDayText(timeOfDayNow());
    timer1_->start();
    tickDue_ = false;
    state_.stateFlag = StateFlag::NoTimer;
    Q_EMIT monitoringStarted();
    Timer1_Timer();
}

void Monitor::stop() {
    tickDue_ = false;
    afterPass_ = AfterPass::Nothing;
    pass_.stop();
    timer1_->stop();
    resting_ = false;
    Q_EMIT monitoringStopped();
}

// A pass is a run of events: the tick starts it, and what the tick does after the pass (the
// count of a long interval, the reference time) follows when the pass ends, in afterPass.
void Monitor::Timer1_Timer() {
    // A tick that falls due while a pass runs (or while its overwrite question is open) would
    // start a pass under the running one. It comes right after the pass instead, at most one,
    // as it would for a window whose thread was busy.
    if (pass_.running()) {
        tickDue_ = true;
        return;
    }
    if (ended_)
        return;
    tickDue_ = false;
    const TickSettings tick = readTick_();
    const bool tenths = tick.unit == TickSettings::Unit::Tenths;
    // The start hour belongs to the unattended range, the end hour does not; a range whose start
    // is not below its end never holds, so pinging goes on around the clock.
    const int hour = timeOfDayNow().hour();
    resting_ = !tenths && tick.unattended && hour >= state_.unattendedFromHour &&
               hour < state_.unattendedToHour;
    Q_EMIT tickBegun();

    if (tenths) {
        // Left running, the precise timer keeps its schedule from tick to tick; setting the
        // interval again would restart the count from now and add this tick's lateness to
        // every interval.
        const int ms = tick.interval * MsPerTenth;
        if (timer1_->interval() != ms)
            setTimer1Interval(ms);
        state_.stateFlag = StateFlag::Timer;
        return runPass(AfterPass::Nothing);
    }

    if (resting_) {
        setTimer1Interval(UnattendedRecheckMs);
        state_.stateFlag = StateFlag::Timer;
        return;
    }

    if (state_.stateFlag != StateFlag::Timer)
        return runPass(AfterPass::CountInterval);
    countInterval(false);
}

// The rest of a tick, once its first pass (if any) has ended.
void Monitor::countInterval(bool passed) {
    const TickSettings tick = readTick_();
    const int n = tick.interval;
    const bool seconds = tick.unit == TickSettings::Unit::Seconds;
    if (seconds && n <= LongestTickedSeconds) {
        setTimer1Interval(n * MsPerSecond);
        state_.stateFlag = StateFlag::NoTimer;
    } else if (seconds || tick.unit == TickSettings::Unit::Minutes) {
        if (sinceLastPass(seconds ? secondsBetween : minuteChangesBetween) >= n)
            return runPass(AfterPass::NoteTime);
        setTimer1Interval(RecheckIntervalMs);
        state_.stateFlag = StateFlag::Timer;
    }
    if (passed)
        state_.lastPassTime = timeOfDayText(timeOfDayNow());
}

void Monitor::shutdown() {
    ended_ = true;
    pass_.abandon();
    stop();
}

int Monitor::secondsBetween(const QTime& from, const QTime& to) {
    const int secs = from.secsTo(to);
    return secs < 0 ? secs + SecondsPerDay : secs;
}

void Monitor::runPass(AfterPass then) {
    afterPass_ = then;
    pass_.PingAddresses();
}

void Monitor::passEnded() {
    const AfterPass then = std::exchange(afterPass_, AfterPass::Nothing);
    if (ended_ || !timer1_->isActive())
        return;
    if (then == AfterPass::CountInterval)
        countInterval(true);
    else if (then == AfterPass::NoteTime)
        state_.lastPassTime = timeOfDayText(timeOfDayNow());
    // The tick that fell due during the pass, once the event loop is back; the next one comes
    // an interval after it.
    if (tickDue_ && !pass_.running())
        QMetaObject::invokeMethod(this, &Monitor::lateTick, Qt::QueuedConnection);
}

void Monitor::lateTick() {
    if (!tickDue_ || pass_.running() || ended_ || !timer1_->isActive())
        return;
    tickDue_ = false;
    timer1_->start();
    Timer1_Timer();
}

// QTimer restarts a running timer's count whenever its interval is set, equal or not, so the
// interval set here is the time to the next tick, and a tick that fell due before is gone. A
// stopped timer stays stopped.
void Monitor::setTimer1Interval(int ms) {
    timer1_->setInterval(ms);
    tickDue_ = false;
}

QTime Monitor::timeOfDayNow() const {
    const QTime t = clock_.now().time();
    return QTime(t.hour(), t.minute(), t.second());
}

// Counted from the reference time as the operator would read it; one that cannot be read back
// counts as long ago, so the tick pings.
int Monitor::sinceLastPass(int (*count)(const QTime&, const QTime&)) const {
    const auto last = parseTimeOfDay(state_.lastPassTime);
    return last ? count(*last, timeOfDayNow()) : std::numeric_limits<int>::max();
}

} // namespace ew
