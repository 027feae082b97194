#include "schedule/Schedule.h"

#include "core/ProgramState.h"
#include "panel/ControlStates.h"
#include "schedule/frmSchedule.h"
#include "settings/Settings.h"
#include "settings/SettingsCodec.h"

#include <QAction>

namespace ew {

Schedule::Schedule(QAction& mnuUnattended, QWidget& window, ProgramState& state,
                   SettingsStore& store, Settings& settings, ControlStates& controls,
                   MessageBoxes& messages)
    : mnuUnattended_(mnuUnattended), window_(window), state_(state), store_(store),
      settings_(settings), controls_(controls), messages_(messages) {
    connect(&mnuUnattended_, &QAction::triggered, this, [this] {
        // The action has already flipped its check mark; the mark only ever shows the stored
        // mode, so put it back before the handler reads it.
        mnuUnattended_.setChecked(!mnuUnattended_.isChecked());
        mnuUnattended_Click();
    });
}

void Schedule::mnuUnattended_Click() {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    if (state_.stateFlag != StateFlag::Dont)
        state_.unattendedState = boolText(mnuUnattended_.isChecked());
    controls_.UpdateRestoreMenu();
    settings_.cmdSave_Click();

    auto* dialog = new frmSchedule(state_, store_, settings_, messages_, window_, &window_);
    dialog_ = dialog;
    dialog->Form_Load();
    dialog->show();
    Q_EMIT dialogOpened(dialog);
    // Whoever watched the opening may already have closed the dialog.
    if (dialog_ && dialog->isVisible())
        dialog->exec();
    delete dialog_.data();
}

} // namespace ew
