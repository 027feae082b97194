#pragma once

#include <QObject>
#include <array>

class QLineEdit;
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

private:
    // One numeric setting: its box, its spinner, the spinner's step and bounds, and the text
    // that replaces "0" or an empty box.
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
    void updateRestoreMenuUnlessLoading();

    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    std::array<Field, 4> fields_;
};

} // namespace ew
