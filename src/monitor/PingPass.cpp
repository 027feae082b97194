#include "monitor/PingPass.h"

#include "core/Convert.h"
#include "core/ProgramState.h"
#include "core/ResultMarks.h"
#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "monitor/EchoWorker.h"
#include "monitor/PassInputGuard.h"
#include "panel/ControlStates.h"
#include "platform/Beeper.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QScopeGuard>
#include <algorithm>
#include <cmath>
#include <limits>

namespace ew {

namespace {

constexpr int PingsPanel = 1;
constexpr int FailedPanel = 2;
constexpr double MsPerSecond = 1000.0;

const QString PingsCaption = QStringLiteral("Pings: ");
const QString FailedCaption = QStringLiteral("Failed: ");

} // namespace

PingPass::PingPass(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls,
                   LogFile& log, Echo& echo, Clock& clock, Beeper& beeper)
    : ui_(ui), state_(state), controls_(controls), log_(log), clock_(clock), beeper_(beeper),
      worker_(std::make_unique<EchoWorker>(echo)), guard_(std::make_unique<PassInputGuard>(ui)) {
    connect(ui_.chkBeep, &QCheckBox::stateChanged, this, &PingPass::chkBeep_Click);
}

PingPass::~PingPass() = default;

void PingPass::stop() {
    if (!pinging_)
        return;
    stopped_ = true;
    worker_->cancel();
}

void PingPass::abandon() {
    abandoned_ = true;
    worker_->cancel();
}

QString PingPass::replyLine(const QString& timeOfDay, const QString& address,
                            std::int32_t roundTripMs) {
    return QChar(ReplyMark) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Reply from ") +
           address + QStringLiteral(", Time:") + QString::number(roundTripMs) +
           QStringLiteral(" ms");
}

QString PingPass::failureLine(const QString& timeOfDay, const QString& address) {
    return QChar(FailureMark) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Ping to  ") +
           address + QStringLiteral(" --== F A I L E D ==-- ");
}

// A packet size that is no number pings with the box's own default; one beyond what the echo
// call carries is clamped to the nearest size it can send (a stored 65500 sends 32767 bytes, a
// negative size none), as the operator asked for "as big" or "as small" as can be.
std::int16_t PingPass::packetSize() const {
    const auto size = toNumber(ui_.txtNumBytes->text());
    if (!size)
        return FallbackPacketSize;
    return static_cast<std::int16_t>(std::clamp(std::nearbyint(*size), 0.0, double{MaxPacketSize}));
}

// Seconds, fractions allowed. A time-out that is no number or not above zero falls back to the
// box's default (no reply could ever arrive within it); one beyond what 16 bits of
// milliseconds hold is clamped to the longest the echo call can carry.
std::int16_t PingPass::timeoutMs() const {
    const auto secs = toNumber(ui_.txtTimeout->text());
    if (!secs)
        return FallbackTimeoutMs;
    const double ms = std::nearbyint(*secs * MsPerSecond);
    if (ms < 1)
        return FallbackTimeoutMs;
    if (ms > MaxTimeoutMs)
        return MaxTimeoutMs;
    return static_cast<std::int16_t>(ms);
}

// Attempts that are no number (or do not fit) fall back to the box's default; zero or fewer
// make no attempt, as asked.
int PingPass::attempts() const {
    const auto n = toInt16(ui_.txtAttempts->text());
    return n ? *n : FallbackAttempts;
}

void PingPass::PingAddresses() {
    const std::int16_t size = packetSize();
    const std::int16_t timeout = timeoutMs();
    stopped_ = false;
    log_.ApplyLogPath();
    // ApplyLogPath may have waited for the operator; the program may have ended meanwhile.
    if (ending())
        return;

    // From here on the window's event loop runs under the pass; it takes only Stop and Exit.
    // (The overwrite question of ApplyLogPath above is a modal box of its own.)
    pinging_ = true;
    guard_->engage();
    const auto done = qScopeGuard([this] {
        guard_->release();
        pinging_ = false;
    });

    // One round-trip variable per pass: a reply always writes it before it is read.
    std::int32_t roundTripMs = 0;
    const int entries = ui_.lstIPList->count();
    for (int i = 0; i < entries && i < ui_.lstIPList->count() && !ending(); ++i) {
        // Emptied before an address, so a run of any length keeps a bounded list.
        if (ui_.lstPingResults->count() > MaxResultLines)
            ui_.lstPingResults->clear();
        QListWidgetItem* item = ui_.lstIPList->item(i);
        if (!item->data(EntryIdRole).isValid())
            item->setData(EntryIdRole, QVariant::fromValue<qulonglong>(++lastEntryId_));
        entryId_ = item->data(EntryIdRole).toULongLong();
        if (!pingAddress(item->text(), size, timeout, roundTripMs))
            return;
    }
    Q_EMIT passEnded();
}

bool PingPass::pingAddress(const QString& address, std::int16_t packetSize, std::int16_t timeoutMs,
                           std::int32_t& roundTripMs) {
    // The entry goes out exactly as listed, blanks included.
    const std::string target = address.toLocal8Bit().toStdString();
    const int count = attempts();
    for (int attempt = 1; attempt <= count && !ending(); ++attempt) {
        const auto outcome = worker_->ping(target, packetSize, roundTripMs, timeoutMs);
        // Stopped or ended during the attempt: its outcome is not reported.
        if (!outcome || ending())
            return false;
        const std::int16_t result = *outcome;
        const QString now = timeOfDayText(clock_.now().time());
        if (result == 0) {
            const QString line = replyLine(now, address, roundTripMs);
            ui_.lstPingResults->addLine(line);
            if (isChecked(*ui_.chkLogTotal))
                logLine(line);
        } else {
            if (isChecked(*ui_.chkBeep))
                beeper_.beep();
            const QString line = failureLine(now, address);
            ui_.lstPingResults->addLine(line);
            ++state_.failedCount;
            ui_.StatusBar1->setPanelText(FailedPanel,
                                         FailedCaption + QString::number(state_.failedCount));
            if (isChecked(*ui_.chkLogTotal) || isChecked(*ui_.chkLogFailed))
                logLine(line);
        }
        ++pingCount_;
        ui_.StatusBar1->setPanelText(PingsPanel, PingsCaption + QString::number(pingCount_));
        ui_.lstPingResults->setCurrentRow(ui_.lstPingResults->count() - 1);
        Q_EMIT attemptReported(Attempt{entryId_, address, result == 0,
                                       std::chrono::milliseconds(result == 0 ? roundTripMs : 0),
                                       clock_.now()});
    }
    return !ending();
}

void PingPass::logLine(const QString& line) {
    log_.AppendLogLine(line, state_.logLineCount);
    // Only "nothing logged yet in this run" matters, so the count stops at its top.
    if (state_.logLineCount < std::numeric_limits<decltype(state_.logLineCount)>::max())
        ++state_.logLineCount;
}

void PingPass::chkBeep_Click() {
    if (state_.stateFlag != StateFlag::Dont)
        controls_.UpdateRestoreMenu();
}

} // namespace ew
