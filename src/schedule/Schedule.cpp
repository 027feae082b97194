#include "schedule/Schedule.h"

#include "schedule/frmSchedule.h"
#include "ui_frmEchoWarden.h"

namespace ew {

Schedule::Schedule(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state,
                   SettingsStore& store, Settings& settings, ControlStates& controls,
                   MessageBoxes& messages)
    : ui_(ui), window_(window), state_(state), store_(store), settings_(settings),
      controls_(controls), messages_(messages) {}

void Schedule::mnuUnattended_Click() {}
frmSchedule* Schedule::dialog() const { return dialog_; }

} // namespace ew
