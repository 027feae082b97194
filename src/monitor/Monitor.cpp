#include "monitor/Monitor.h"

#include "core/Convert.h"
#include "core/ProgramState.h"
#include "core/TimeText.h"
#include "core/UsedNumber.h"
#include "editors/LogFile.h"
#include "monitor/PingPass.h"
#include "panel/ControlStates.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ResultsList.h"

#include <QTimer>
#include <limits>
#include <utility>

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
// Said over the results while monitoring runs but pings nothing; never a result line, so never
// logged, copied or saved.
const QString NothingToPingText =
    QStringLiteral("Nothing to ping: the address list is empty. Add an address, or press Stop.");
const QString RestingText = QStringLiteral("Pinging rests until %1: unattended hours.");

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
    connect(&pass_, &PingPass::passEnded, this, &Monitor::passEnded);
    const QAbstractItemModel* entries = ui_.lstIPList->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, &Monitor::showNotice);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, &Monitor::showNotice);
    connect(entries, &QAbstractItemModel::modelReset, this, &Monitor::showNotice);
    for (QLineEdit* box : {ui_.txtAttempts, ui_.txtInterval, ui_.txtNumBytes, ui_.txtTimeout})
        connect(box, &QLineEdit::textChanged, this, &Monitor::showNotice);
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
    tickDue_ = false;
    state_.stateFlag = StateFlag::NoTimer;
    Q_EMIT monitoringStarted();
    Timer1_Timer();
}

// Also while a pass runs: its attempts in flight are dropped, and neither a further attempt nor
// a tick that fell due meanwhile follows.
void Monitor::cmdStopPing_Click() {
    tickDue_ = false;
    afterPass_ = AfterPass::Nothing;
    pass_.stop();
    tips_.setTimerEnabled(true);
    timer1_->stop();
    ui_.cmdStartPing->setEnabled(true);
    ui_.cmdStopPing->setEnabled(false);
    state_.askOverwrite = AskOverwrite::Yes;
    ui_.txtLog->setEnabled(true);
    ui_.cmdOpenLog->setEnabled(true);
    resting_ = false;
    showNotice();
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
    resting_ = !ui_.optMilSeconds->isChecked() && insideUnattendedRange();
    showNotice();

    if (ui_.optMilSeconds->isChecked()) {
        // Left running, the precise timer keeps its schedule from tick to tick; setting the
        // interval again would restart the count from now and add this tick's lateness to
        // every interval.
        const int ms = interval() * MsPerTenth;
        if (timer1_->interval() != ms)
            setTimer1Interval(ms);
        state_.stateFlag = StateFlag::Timer;
        runPass(AfterPass::Nothing);
        return;
    }

    if (insideUnattendedRange()) {
        setTimer1Interval(UnattendedRecheckMs);
        state_.stateFlag = StateFlag::Timer;
        return;
    }

    if (state_.stateFlag != StateFlag::Timer) {
        runPass(AfterPass::CountInterval);
        return;
    }
    countInterval(false);
}

// The rest of a tick, once its first pass (if any) has ended.
void Monitor::countInterval(bool passed) {
    const int n = interval();
    if (ui_.optSeconds->isChecked()) {
        if (n <= LongestTickedSeconds) {
            setTimer1Interval(n * MsPerSecond);
            state_.stateFlag = StateFlag::NoTimer;
        } else if (sinceLastPass(secondsBetween) >= n) {
            runPass(AfterPass::NoteTime);
            return;
        } else {
            setTimer1Interval(RecheckIntervalMs);
            state_.stateFlag = StateFlag::Timer;
        }
    }
    if (ui_.optMinutes->isChecked()) {
        if (sinceLastPass(minuteChangesBetween) >= n) {
            runPass(AfterPass::NoteTime);
            return;
        }
        setTimer1Interval(RecheckIntervalMs);
        state_.stateFlag = StateFlag::Timer;
    }
    if (passed)
        state_.lastPassTime = timeOfDayText(timeOfDayNow());
}

void Monitor::showNotice() {
    QStringList lines;
    if (timer1_->isActive() && !ended_) {
        if (ui_.lstIPList->count() == 0)
            lines << NothingToPingText;
        else if (resting_)
            lines << RestingText.arg(shortTimeText(QTime(state_.unattendedToHour, 0)));
        const std::pair<NumberBox, const QLineEdit*> boxes[] = {
            {NumberBox::Attempts, ui_.txtAttempts},
            {NumberBox::Interval, ui_.txtInterval},
            {NumberBox::Bytes, ui_.txtNumBytes},
            {NumberBox::Timeout, ui_.txtTimeout}};
        for (const auto& [box, edit] : boxes)
            if (QString notice = usedNumber(box, edit->text()).notice; !notice.isEmpty())
                lines << notice;
    }
    ui_.lstPingResults->setNotice(lines.join(QLatin1Char('\n')));
}

void Monitor::shutdown() {
    ended_ = true;
    pass_.abandon();
    timer1_->stop();
    Q_EMIT monitoringStopped();
}

// An interval under 1 would give a timer that fires without pause.
int Monitor::interval() const {
    return usedNumber(NumberBox::Interval, ui_.txtInterval->text()).value;
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
