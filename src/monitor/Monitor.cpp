#include "monitor/Monitor.h"

#include "core/Convert.h"
#include "core/ProgramState.h"
#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "monitor/PingPass.h"
#include "panel/ControlStates.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"

#include <QTimer>
#include <limits>

namespace ew {

namespace {

constexpr int MsPerSecond = 1000;
constexpr int MsPerTenth = 100;
constexpr int SecondsPerMinute = 60;
constexpr int SecondsPerDay = 24 * 60 * 60;
constexpr int MinutesPerDay = 24 * 60;

const QString InvalidPathText = QStringLiteral("The log file path is invalid.") + QChar(u'\r') +
                                QStringLiteral("Please enter a valid path.");
const QString InvalidPathTitle = QStringLiteral("Invalid directory");

// Clears the pass-running mark however the pass ends.
class PassScope {
public:
    explicit PassScope(bool& running) : running_(running) { running_ = true; }
    ~PassScope() { running_ = false; }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

private:
    bool& running_;
};

} // namespace

Monitor::Monitor(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, PingPass& pass,
                 ControlStates& controls, LogFile& log, ToolTips& tips, Clock& clock,
                 MessageBoxes& messages)
    : ui_(ui), window_(window), state_(state), pass_(pass), controls_(controls), log_(log),
      tips_(tips), clock_(clock), messages_(messages), timer1_(new QTimer(&window)) {
    timer1_->setObjectName(QStringLiteral("Timer1"));
    // Coarse timers fire up to 5% early, which would shorten the operator's intervals.
    timer1_->setTimerType(Qt::PreciseTimer);
    timer1_->setInterval(Timer1DesignIntervalMs);
    connect(timer1_, &QTimer::timeout, this, &Monitor::Timer1_Timer);
    connect(ui_.cmdStartPing, &QPushButton::clicked, this, &Monitor::cmdStartPing_Click);
    connect(ui_.cmdStopPing, &QPushButton::clicked, this, &Monitor::cmdStopPing_Click);
}

void Monitor::cmdStartPing_Click() {
    tips_.setTimerEnabled(false);
    tips_.hidePopup();
    state_.logLineCount = 0;
    log_.beginRun();

    const bool logging = isChecked(*ui_.chkLogTotal) || isChecked(*ui_.chkLogFailed);
    if (logging && state_.logPathInvalid) {
        messages_.show(&window_, InvalidPathText, InvalidPathTitle, MsgIcon::Critical,
                       MsgButtons::Ok);
        ui_.lstPingResults->hide();
        ui_.txtPathError->show();
        controls_.ToggleControls();
        return;
    }

    ui_.cmdStartPing->setEnabled(false);
    ui_.cmdStopPing->setEnabled(true);
    ui_.cmdOpenLog->setEnabled(false);
    ui_.txtLog->setEnabled(false);
    state_.lastPassTime = timeOfDayText(timeOfDayNow());
    timer1_->start();
    state_.stateFlag = StateFlag::NoTimer;
    Timer1_Timer();
}

void Monitor::cmdStopPing_Click() {
    tips_.setTimerEnabled(true);
    timer1_->stop();
    ui_.cmdStartPing->setEnabled(true);
    ui_.cmdStopPing->setEnabled(false);
    state_.askOverwrite = AskOverwrite::Yes;
    ui_.txtLog->setEnabled(true);
    ui_.cmdOpenLog->setEnabled(true);
}

void Monitor::Timer1_Timer() {
    // A tick that falls due while the pass waits in a message box of ApplyLogPath is dropped:
    // the pass it would start is the one already running, and that pass's own tick re-arms
    // the timer when it ends, so the next tick is timed from there.
    if (passRunning_ || ended_)
        return;

    if (ui_.optMilSeconds->isChecked()) {
        setTimer1Interval(interval() * MsPerTenth);
        state_.stateFlag = StateFlag::Timer;
        runPass();
        return;
    }

    if (insideUnattendedRange()) {
        setTimer1Interval(UnattendedRecheckMs);
        state_.stateFlag = StateFlag::Timer;
        return;
    }

    bool passed = false;
    if (state_.stateFlag != StateFlag::Timer) {
        runPass();
        passed = true;
    }
    if (ended_)
        return;

    const int n = interval();
    if (ui_.optSeconds->isChecked()) {
        if (n <= LongestTickedSeconds) {
            setTimer1Interval(n * MsPerSecond);
            state_.stateFlag = StateFlag::NoTimer;
        } else if (sinceLastPass(secondsBetween) >= n) {
            runPass();
            passed = true;
        } else {
            setTimer1Interval(RecheckIntervalMs);
            state_.stateFlag = StateFlag::Timer;
        }
    }
    if (ui_.optMinutes->isChecked()) {
        if (sinceLastPass(minuteChangesBetween) >= n) {
            runPass();
            passed = true;
        } else {
            setTimer1Interval(RecheckIntervalMs);
            state_.stateFlag = StateFlag::Timer;
        }
    }
    if (passed && !ended_)
        state_.lastPassTime = timeOfDayText(timeOfDayNow());
}

void Monitor::shutdown() {
    ended_ = true;
    pass_.abandon();
    timer1_->stop();
}

// N as a whole number from 1 up; anything else (no number, zero, negative, beyond 16 bits)
// would give a timer that fires without pause or never, so the box's default is used.
int Monitor::interval() const {
    const auto n = toInt16(ui_.txtInterval->text());
    return n && *n >= 1 ? *n : FallbackInterval;
}

int Monitor::secondsBetween(const QTime& from, const QTime& to) {
    const int secs = from.secsTo(to);
    return secs < 0 ? secs + SecondsPerDay : secs;
}

int Monitor::minuteChangesBetween(const QTime& from, const QTime& to) {
    const auto minuteOfDay = [](const QTime& t) {
        return t.msecsSinceStartOfDay() / (SecondsPerMinute * MsPerSecond);
    };
    const int changes = minuteOfDay(to) - minuteOfDay(from);
    return changes < 0 ? changes + MinutesPerDay : changes;
}

void Monitor::runPass() {
    const PassScope scope(passRunning_);
    pass_.PingAddresses();
}

// QTimer restarts a running timer's count whenever its interval is set, equal or not, so the
// interval set here is the time to the next tick. A stopped timer stays stopped.
void Monitor::setTimer1Interval(int ms) {
    timer1_->setInterval(ms);
}

// The start hour belongs to the range, the end hour does not; a range whose start is not below
// its end never holds, so pinging goes on around the clock.
bool Monitor::insideUnattendedRange() const {
    if (!ui_.mnuUnattended->isChecked())
        return false;
    const int hour = timeOfDayNow().hour();
    return hour >= state_.unattendedFromHour && hour < state_.unattendedToHour;
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
