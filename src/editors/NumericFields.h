#pragma once

#include <QObject>
#include <QString>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QScrollBar;
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

    // Selects or deselects a unit option. Deselecting works also on the selected button of
    // an auto-exclusive group, which Qt would otherwise refuse.
    static void setOptionChecked(QRadioButton& option, bool checked);

private:
    // One numeric setting: its box, its spinner and the spinner's step and bounds.
    struct Field {
        QLineEdit* text;
        QScrollBar* spinner;
        int step;
        int lower;
        int upper;
        QString replacement;
    };

    void textChange(const Field& field);
    void spin(const Field& field);
    void toggleBox(QCheckBox& box);
    void toggleOption(QRadioButton& option);
    void limitTyping(QLineEdit& box);

    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    Field attempts_;
    Field interval_;
    Field numBytes_;
    Field timeout_;
};

} // namespace ew
