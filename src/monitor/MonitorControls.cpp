#include "monitor/MonitorControls.h"

#include "core/ProgramState.h"
#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "engine/LogWriter.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "platform/Beeper.h"
#include "settings/UsedNumber.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QTimer>
#include <utility>

namespace ew {

namespace {

// Said over the results while monitoring runs but pings nothing; never a result line, so never
// logged, copied or saved.
const QString NothingToPingText =
    QStringLiteral("Nothing to ping: the address list is empty. Add an address, or press Stop.");
const QString RestingText = QStringLiteral("Pinging rests until %1: unattended hours.");

} // namespace

MonitorControls::MonitorControls(Ui::frmEchoWarden& ui, ProgramState& state,
                                 ControlStates& controls, LogFile& log, ToolTips& tips,
                                 Beeper& beeper)
    : ui_(ui), state_(state), controls_(controls), log_(log), tips_(tips), beeper_(beeper) {
    const QAbstractItemModel* entries = ui_.lstIPList->model();
    connect(entries, &QAbstractItemModel::rowsInserted, this, &MonitorControls::showNotice);
    connect(entries, &QAbstractItemModel::rowsRemoved, this, &MonitorControls::showNotice);
    connect(entries, &QAbstractItemModel::modelReset, this, &MonitorControls::showNotice);
    // Each box is read when its text changes, not at every tick and pass.
    const std::pair<NumberBox, QLineEdit*> boxes[] = {{NumberBox::Attempts, ui_.txtAttempts},
                                                      {NumberBox::Interval, ui_.txtInterval},
                                                      {NumberBox::Bytes, ui_.txtNumBytes},
                                                      {NumberBox::Timeout, ui_.txtTimeout}};
    for (const auto& [box, edit] : boxes) {
        const auto read = [this, box = box, edit = edit] {
            used_[static_cast<std::size_t>(box)] = usedNumber(box, edit->text());
        };
        read();
        connect(edit, &QLineEdit::textChanged, this, [this, read] {
            read();
            showNotice();
        });
    }
    connect(ui_.cmdStartPing, &QPushButton::clicked, this, &MonitorControls::cmdStartPing_Click);
    connect(ui_.cmdStopPing, &QPushButton::clicked, this, &MonitorControls::cmdStopPing_Click);
    connect(ui_.chkBeep, &QCheckBox::stateChanged, this, [this] {
        if (state_.stateFlag != StateFlag::Dont)
            controls_.UpdateRestoreMenu();
    });
}

void MonitorControls::attach(PingPass& pass, Monitor& monitor, LogWriter& writer) {
    monitor_ = &monitor;
    writer_ = &writer;
    connect(&monitor, &Monitor::tickBegun, this, &MonitorControls::showNotice);
    connect(&pass, &PingPass::entryBegun, this, &MonitorControls::entryBegun);
    connect(&pass, &PingPass::resultLine, this,
            [this](const QString& line) { ui_.lstPingResults->addLine(line); });
    connect(&pass, &PingPass::beepDue, this, [this] { beeper_.beep(); });
    connect(&pass, &PingPass::countsChanged, this, &MonitorControls::countsChanged);
}

void MonitorControls::cmdStartPing_Click() {
    tips_.setTimerEnabled(false);
    tips_.hidePopup();
    state_.logLineCount = 0;
    writer_->beginRun();

    if (log_.loggingOn() && state_.logPathInvalid)
        return log_.refusePath(false);

    ui_.cmdStartPing->setEnabled(false);
    ui_.cmdStopPing->setEnabled(true);
    ui_.cmdOpenLog->setEnabled(false);
    ui_.txtLog->setEnabled(false);
    monitor_->start();
}

// The window is switched back before the monitor says it stopped, so that whoever listens finds
// it as Stop leaves it.
void MonitorControls::cmdStopPing_Click() {
    tips_.setTimerEnabled(true);
    ui_.cmdStartPing->setEnabled(true);
    ui_.cmdStopPing->setEnabled(false);
    state_.askOverwrite = AskOverwrite::Yes;
    ui_.txtLog->setEnabled(true);
    ui_.cmdOpenLog->setEnabled(true);
    monitor_->stop();
    showNotice();
}

PassSettings MonitorControls::passSettings() {
    log_.ApplyLogPath();
    PassSettings pass;
    pass.packetSize = used(NumberBox::Bytes).value;
    pass.timeoutMs = used(NumberBox::Timeout).value;
    pass.attempts = used(NumberBox::Attempts).value;
    pass.beep = isChecked(*ui_.chkBeep);
    pass.logTotal = isChecked(*ui_.chkLogTotal);
    pass.logFailed = isChecked(*ui_.chkLogFailed);
    pass.atOnce = ui_.mnuPingAtOnce->isChecked();
    for (int i = 0; i < ui_.lstIPList->count(); ++i) {
        QListWidgetItem* item = ui_.lstIPList->item(i);
        if (!item->data(EntryIdRole).isValid())
            item->setData(EntryIdRole, QVariant::fromValue<qulonglong>(++lastEntryId_));
        pass.entries.push_back({item->text(), item->data(EntryIdRole).toULongLong()});
    }
    return pass;
}

// An interval under 1 would give a timer that fires without pause (see usedNumber).
TickSettings MonitorControls::tickSettings() const {
    TickSettings tick;
    tick.interval = used(NumberBox::Interval).value;
    if (ui_.optMilSeconds->isChecked())
        tick.unit = TickSettings::Unit::Tenths;
    else if (ui_.optSeconds->isChecked())
        tick.unit = TickSettings::Unit::Seconds;
    else if (ui_.optMinutes->isChecked())
        tick.unit = TickSettings::Unit::Minutes;
    tick.unattended = ui_.mnuUnattended->isChecked();
    return tick;
}

// Emptied before an entry's lines, so a run of any length keeps a bounded list.
void MonitorControls::entryBegun() {
    if (ui_.lstPingResults->count() > PingPass::MaxResultLines)
        ui_.lstPingResults->clear();
}

void MonitorControls::countsChanged(std::int64_t pings, std::int64_t failed, bool failedNow) {
    if (failedNow)
        ui_.StatusBar1->setPanelText(2, QStringLiteral("Failed: %1").arg(failed));
    ui_.StatusBar1->setPanelText(1, QStringLiteral("Pings: %1").arg(pings));
    ui_.lstPingResults->setCurrentRow(ui_.lstPingResults->count() - 1);
}

void MonitorControls::showNotice() {
    QStringList lines;
    if (monitor_ && monitor_->timer1().isActive() && !monitor_->ended()) {
        if (ui_.lstIPList->count() == 0)
            lines << NothingToPingText;
        else if (monitor_->resting())
            lines << RestingText.arg(shortTimeText(QTime(state_.unattendedToHour, 0)));
        for (const UsedNumber& box : used_)
            if (!box.notice.isEmpty())
                lines << box.notice;
    }
    ui_.lstPingResults->setNotice(lines.join(QLatin1Char('\n')));
}

} // namespace ew
