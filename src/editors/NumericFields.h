#pragma once

#include <QObject>

namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class ControlStates;

// The four numeric setting fields with their spinners, the interval unit options and the
// clickable caption labels.
class NumericFields : public QObject {
    Q_OBJECT
public:
    NumericFields(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls);

    void txtAttempts_Change();
    void txtInterval_Change();
    void txtNumBytes_Change();
    void txtTimeout_Change();
    void vsbAttempts_Change();
    void vsbInterval_Change();
    void vsbNumBytes_Change();
    void vsbTimeout_Change();
    void optMinutes_Click();
    void optSeconds_Click();
    void optMilSeconds_Click();
    void Label1_Click();
    void Label2_Click();
    void lblBeep_Click();
    void lblLogTotal_Click();
    void lblLogFailed_Click();

private:
    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
};

} // namespace ew
