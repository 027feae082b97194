#include "editors/NumericFields.h"

#include "app/ControlStates.h"
#include "app/ProgramState.h"
#include "ui_frmEchoWarden.h"

namespace ew {

NumericFields::NumericFields(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls)
    : ui_(ui), state_(state), controls_(controls) {}

void NumericFields::txtAttempts_Change() {}
void NumericFields::txtInterval_Change() {}
void NumericFields::txtNumBytes_Change() {}
void NumericFields::txtTimeout_Change() {}
void NumericFields::vsbAttempts_Change() {}
void NumericFields::vsbInterval_Change() {}
void NumericFields::vsbNumBytes_Change() {}
void NumericFields::vsbTimeout_Change() {}
void NumericFields::optMinutes_Click() {}
void NumericFields::optSeconds_Click() {}
void NumericFields::optMilSeconds_Click() {}
void NumericFields::Label1_Click() {}
void NumericFields::Label2_Click() {}
void NumericFields::lblBeep_Click() {}
void NumericFields::lblLogTotal_Click() {}
void NumericFields::lblLogFailed_Click() {}

} // namespace ew
