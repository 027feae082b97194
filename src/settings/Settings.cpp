#include "settings/Settings.h"

#include "app/ControlStates.h"
#include "app/ProgramState.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"

namespace ew {

Settings::Settings(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state,
                   SettingsStore& store, ControlStates& controls, ToolTips& tips,
                   MessageBoxes& messages)
    : ui_(ui), window_(window), state_(state), store_(store), controls_(controls), tips_(tips),
      messages_(messages) {}

void Settings::loadAddressList() {}

// Minimal until the settings issue lands: the defaults of a first run.
void Settings::ReadSettings() {
    ui_.txtNumBytes->setText(QStringLiteral("16"));
    ui_.txtTimeout->setText(QStringLiteral("3"));
    ui_.txtInterval->setText(QStringLiteral("5"));
    ui_.txtAttempts->setText(QStringLiteral("1"));
    ui_.optMinutes->setChecked(true);
    ui_.mnuSSave->setChecked(true);
    state_.askOverwrite = AskOverwrite::Yes;
    state_.stateFlag = StateFlag::Yes;
    ui_.cmdStopPing->setEnabled(false);
    ui_.cmdAdd->setEnabled(false);
    ui_.cmdRemove->setEnabled(false);
}

bool Settings::cmdSave_Click() { return true; }
void Settings::mnuRestore_Click() {}
void Settings::mnuSSave_Click() {}
QString Settings::ListToString(const QListWidget&) { return {}; }
void Settings::StringToList(const QString&, QListWidget&) {}

} // namespace ew
