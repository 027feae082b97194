#include "settings/Settings.h"

#include "core/AddressEntries.h"
#include "core/ProgramState.h"
#include "editors/LogFile.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "panel/RestoreDefaults.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"
#include "platform/SystemDirs.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsKeys.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"

#include <QFileInfo>
#include <QTimer>

namespace ew {

namespace {

// The help pop-up polls once a second while the window is idle (its design value is 3000 ms).
constexpr int TipPollingMs = 1000;

const QString SaveErrorTitle = QStringLiteral("Error saving settings");
const QString SaveErrorText = QStringLiteral("The settings could not be saved to %1.");
const QString SaveErrorReason = QStringLiteral("Reason: %1.");
constexpr QChar LineBreak = QLatin1Char('\r');
const QString ReadErrorTitle = QStringLiteral("Error reading settings");
const QString ReadErrorText = QStringLiteral("The settings could not be read from %1.");
const QString ReadErrorKeptAside = QStringLiteral("The file was kept as %1.");
const QString ReadErrorDefaults =
    QStringLiteral("The defaults are in use; saving the settings replaces the file.");
// A folder of the file's name cannot be replaced by a save; the operator has to move it.
const QString ReadErrorFolder = QStringLiteral(
    "The defaults are in use; the settings cannot be saved until the folder is moved away.");

// After loading, a numeric box still holding "0" or nothing gets these (the boxes' own change
// rules normally got there first, with their own replacements).
void replaceZeroOrEmpty(QLineEdit& box, const QString& replacement) {
    if (box.text() == QLatin1String("0") || box.text().isEmpty())
        box.setText(replacement);
}

QString listToString(const QListWidget& list) {
    QStringList items;
    items.reserve(list.count());
    for (int i = 0; i < list.count(); ++i)
        items << list.item(i)->text();
    return encodeList(items);
}

} // namespace

Settings::Settings(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state,
                   SettingsStore& store, ControlStates& controls, ToolTips& tips,
                   MessageBoxes& messages)
    : ui_(ui), window_(window), state_(state), store_(store), controls_(controls), tips_(tips),
      messages_(messages) {
    connect(ui_.cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(ui_.mnuRestore, &QAction::triggered, this, &Settings::mnuRestore_Click);
    connect(ui_.mnuSSave, &QAction::triggered, this, [this] {
        // Qt has flipped the check mark before triggered arrives; while the controls are being
        // filled the click changes nothing.
        if (state_.stateFlag == StateFlag::Dont)
            ui_.mnuSSave->setChecked(!ui_.mnuSSave->isChecked());
    });
}

std::optional<QString> Settings::get(const QString& key) {
    return store_.get(keys::App, keys::Section, key);
}

void Settings::save(const QString& key, const QString& value) {
    store_.save(keys::App, keys::Section, key, value);
}

void Settings::loadAddressList() {
    // Said once, before anything is read: silence would leave the operator wondering where
    // the settings went until the next save quietly replaced them.
    if (const auto reason = store_.readError(keys::App)) {
        // Kept aside before anything could save over it: the operator may want it back.
        QString text = ReadErrorText.arg(store_.location(keys::App)) + LineBreak +
                       SaveErrorReason.arg(*reason) + LineBreak;
        if (const auto aside = store_.keepUnreadable(keys::App))
            text += ReadErrorKeptAside.arg(*aside) + LineBreak;
        const bool folder = QFileInfo(store_.location(keys::App)).isDir();
        messages_.show(&window_, text + (folder ? ReadErrorFolder : ReadErrorDefaults),
                       ReadErrorTitle, MsgIcon::Critical, MsgButtons::Ok);
    }
    // A store written before entries were cleaned, or edited by hand, may hold items with line
    // breaks, blanks around commas or invisible characters.
    QStringList entries;
    for (const QString& item : decodeList(get(keys::IPList).value_or(QString())))
        entries << addressEntries(item);
    ui_.lstIPList->addItems(entries); // at once: a list of thousands is laid out once
}

void Settings::ReadSettings() {
    state_.windowsDir = systemProgramDir();

    // Every assignment raises the control's own change or click rule, as the operator's change
    // would; the numeric boxes are filled before the log check boxes, whose rules look at them.
    state_.unattendedToHour = readInt16(get(keys::UnattendedTo), missing::UnattendedTo);
    state_.unattendedFromHour = readInt16(get(keys::UnattendedFrom), missing::UnattendedFrom);
    ui_.txtLog->setText(get(keys::LogFilePath).value_or(state_.logPath));
    ui_.mnuSSave->setChecked(readBool(get(keys::SaveSettingsOnExit), missing::SaveSettingsOnExit));
    ui_.mnuUnattended->setChecked(readBool(get(keys::Unattended), missing::Unattended));
    ui_.mnuPingAtOnce->setChecked(readBool(get(keys::PingAtOnce), missing::PingAtOnce));
    ui_.mnuNotify->setChecked(readBool(get(keys::NotifyStateChanges), missing::NotifyStateChanges));
    // Neither is among the settings Restore Defaults watches or restores.
    ui_.mnuKeepHistory->setChecked(readBool(get(keys::KeepHistory), missing::KeepHistory));
    ui_.mnuSlowAbove->setData(
        std::max<int>(readInt16(get(keys::SlowAboveMs), missing::SlowAboveMs), 0));
    ui_.mnuServeMetrics->setChecked(readBool(get(keys::ServeMetrics), missing::ServeMetrics));
    ui_.txtNumBytes->setText(get(keys::PingWithBytes).value_or(missing::PingWithBytes));
    ui_.txtTimeout->setText(get(keys::Timeout).value_or(missing::Timeout));
    setOptionChecked(*ui_.optMinutes,
                     readBool(get(keys::IntervalMinutes), missing::IntervalMinutes));
    setOptionChecked(*ui_.optSeconds,
                     readBool(get(keys::IntervalSeconds), missing::IntervalSeconds));
    ui_.txtInterval->setText(get(keys::Interval).value_or(missing::Interval));
    setCheckValue(*ui_.chkBeep, readCheckValue(get(keys::Beep), missing::Beep));
    ui_.txtAttempts->setText(get(keys::Attempts).value_or(missing::Attempts));
    setCheckValue(*ui_.chkLogTotal,
                  readCheckValue(get(keys::EnableLoggingTotal), missing::EnableLoggingTotal));
    setCheckValue(*ui_.chkLogFailed,
                  readCheckValue(get(keys::EnableLoggingFailed), missing::EnableLoggingFailed));
    setOptionChecked(*ui_.optMilSeconds,
                     readBool(get(keys::IntervalTenths), missing::IntervalTenths));

    replaceZeroOrEmpty(*ui_.txtInterval, QStringLiteral("2"));
    replaceZeroOrEmpty(*ui_.txtNumBytes, QStringLiteral("16"));
    replaceZeroOrEmpty(*ui_.txtAttempts, QStringLiteral("1"));

    if (ui_.lstIPList->count() == 0) {
        ui_.cmdStartPing->setEnabled(false);
        ui_.cmdClear->setEnabled(false);
    }
    if (ui_.txtLog->text().isEmpty())
        ui_.txtLog->setText(LogFile::defaultLogPath());

    state_.lastScrollValue = static_cast<std::int16_t>(ui_.vsbTimeout->value());
    state_.askOverwrite = AskOverwrite::Yes;
    state_.stateFlag = StateFlag::Yes;
    controls_.UpdateRestoreMenu();

    // A re-read while the monitor runs (its timer Timer1 is active; the schedule dialog's O.K.)
    // keeps Stop usable: without it the operator could stop the monitor only by ending the program.
    const auto* timer1 =
        window_.findChild<QTimer*>(QStringLiteral("Timer1"), Qt::FindDirectChildrenOnly);
    if (!timer1 || !timer1->isActive())
        ui_.cmdStopPing->setEnabled(false);
    ui_.cmdSetLog->setEnabled(false);
    ui_.cmdRemove->setEnabled(false);
    ui_.cmdAdd->setEnabled(false);

    tips_.setTimerInterval(TipPollingMs);
    tips_.setTimerEnabled(true);
}

bool Settings::cmdSave_Click() {
    save(keys::SaveSettingsOnExit, boolText(ui_.mnuSSave->isChecked()));
    save(keys::Unattended, boolText(ui_.mnuUnattended->isChecked()));
    save(keys::PingWithBytes, ui_.txtNumBytes->text());
    save(keys::Timeout, ui_.txtTimeout->text());
    save(keys::IntervalMinutes, boolText(ui_.optMinutes->isChecked()));
    save(keys::IntervalSeconds, boolText(ui_.optSeconds->isChecked()));
    save(keys::Interval, ui_.txtInterval->text());
    save(keys::EnableLoggingTotal, QString::number(checkValue(*ui_.chkLogTotal)));
    save(keys::EnableLoggingFailed, QString::number(checkValue(*ui_.chkLogFailed)));
    save(keys::LogFilePath, ui_.txtLog->text());
    save(keys::Beep, QString::number(checkValue(*ui_.chkBeep)));
    save(keys::Attempts, ui_.txtAttempts->text());
    save(keys::IntervalTenths, boolText(ui_.optMilSeconds->isChecked()));
    save(keys::PingAtOnce, boolText(ui_.mnuPingAtOnce->isChecked()));
    save(keys::NotifyStateChanges, boolText(ui_.mnuNotify->isChecked()));
    save(keys::KeepHistory, boolText(ui_.mnuKeepHistory->isChecked()));
    save(keys::SlowAboveMs, QString::number(ui_.mnuSlowAbove->data().toInt()));
    save(keys::ServeMetrics, boolText(ui_.mnuServeMetrics->isChecked()));
    save(keys::IPList, listToString(*ui_.lstIPList));

    QString reason;
    if (store_.flush(keys::App, &reason)) {
        saveFailureReported_ = false;
        return true;
    }
    // Told once until a save succeeds again: Exit, the schedule dialog and About all save, and
    // a read-only store would otherwise greet each of them with the same box.
    if (!saveFailureReported_) {
        saveFailureReported_ = true;
        messages_.show(&window_,
                       SaveErrorText.arg(store_.location(keys::App)) + LineBreak +
                           SaveErrorReason.arg(reason),
                       SaveErrorTitle, MsgIcon::Critical, MsgButtons::Ok);
    }
    return false;
}

void Settings::mnuRestore_Click() {
    ui_.txtAttempts->setText(QString::number(restore::Attempts));
    ui_.txtInterval->setText(QString::number(restore::Interval));
    ui_.txtNumBytes->setText(QString::number(restore::NumBytes));
    setOptionChecked(*ui_.optMinutes, restore::Minutes);
    ui_.txtTimeout->setText(QString::number(restore::Timeout));
    setCheckValue(*ui_.chkBeep, restore::Beep);
    setCheckValue(*ui_.chkLogFailed, restore::LogFailed);
    ui_.mnuSSave->setChecked(restore::SaveOnExit);
    controls_.UpdateRestoreMenu();
}

} // namespace ew
