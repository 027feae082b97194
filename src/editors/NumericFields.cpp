#include "editors/NumericFields.h"

#include "core/Convert.h"
#include "core/ProgramState.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ClickLabel.h"

#include <QValidator>

namespace ew {

namespace {

// Step, bounds and the text that replaces "0" or an empty box, per field.
constexpr int AttemptsStep = 1;
constexpr int AttemptsLower = 1;
constexpr int AttemptsUpper = 5;
const QString AttemptsReplacement = QStringLiteral("1");
constexpr int IntervalStep = 1;
constexpr int IntervalLower = 1;
constexpr int IntervalUpper = 999;
const QString IntervalReplacement = QStringLiteral("3");
constexpr int NumBytesStep = 16;
constexpr int NumBytesLower = 16;
constexpr int NumBytesUpper = 1024;
const QString NumBytesReplacement = QStringLiteral("16");
constexpr int TimeoutStep = 1;
constexpr int TimeoutLower = 1;
constexpr int TimeoutUpper = 300;
const QString TimeoutReplacement = QStringLiteral("3");

const QString ZeroText = QStringLiteral("0");
// QLineEdit's own "no limit".
constexpr int NoLengthLimit = 32767;

// The typing limit binds the operator only. QLineEdit::maxLength would also cut the texts the
// program writes (the spinner's "1024" in a three-character box, a stored value read back),
// so the limit is checked here, on the operator's edits alone: setText leaves the box
// unmodified, every keystroke, paste or drop marks it modified.
class TypingLimit final : public QValidator {
public:
    TypingLimit(QLineEdit& box, int limit) : QValidator(&box), box_(box), limit_(limit) {}

    State validate(QString& input, int& /*pos*/) const override {
        return box_.isModified() && input.size() > limit_ ? Invalid : Acceptable;
    }

private:
    const QLineEdit& box_;
    int limit_;
};

} // namespace

NumericFields::NumericFields(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls)
    : ui_(ui), state_(state),
      controls_(controls), attempts_{ui.txtAttempts, ui.vsbAttempts, AttemptsStep,
                                     AttemptsLower,  AttemptsUpper,  AttemptsReplacement},
      interval_{ui.txtInterval, ui.vsbInterval, IntervalStep,
                IntervalLower,  IntervalUpper,  IntervalReplacement},
      numBytes_{ui.txtNumBytes, ui.vsbNumBytes, NumBytesStep,
                NumBytesLower,  NumBytesUpper,  NumBytesReplacement},
      timeout_{ui.txtTimeout, ui.vsbTimeout, TimeoutStep,
               TimeoutLower,  TimeoutUpper,  TimeoutReplacement} {
    for (const Field* f : {&attempts_, &interval_, &numBytes_, &timeout_})
        limitTyping(*f->text);

    connect(ui_.txtAttempts, &QLineEdit::textChanged, this, &NumericFields::txtAttempts_Change);
    connect(ui_.txtInterval, &QLineEdit::textChanged, this, &NumericFields::txtInterval_Change);
    connect(ui_.txtNumBytes, &QLineEdit::textChanged, this, &NumericFields::txtNumBytes_Change);
    connect(ui_.txtTimeout, &QLineEdit::textChanged, this, &NumericFields::txtTimeout_Change);
    connect(ui_.vsbAttempts, &QScrollBar::valueChanged, this, &NumericFields::vsbAttempts_Change);
    connect(ui_.vsbInterval, &QScrollBar::valueChanged, this, &NumericFields::vsbInterval_Change);
    connect(ui_.vsbNumBytes, &QScrollBar::valueChanged, this, &NumericFields::vsbNumBytes_Change);
    connect(ui_.vsbTimeout, &QScrollBar::valueChanged, this, &NumericFields::vsbTimeout_Change);

    // An option's rule runs when it becomes selected, not when it is deselected.
    connect(ui_.optMinutes, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optMinutes_Click();
    });
    connect(ui_.optSeconds, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optSeconds_Click();
    });
    connect(ui_.optMilSeconds, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optMilSeconds_Click();
    });

    connect(ui_.Label1, &ClickLabel::clicked, this, &NumericFields::Label1_Click);
    connect(ui_.Label2, &ClickLabel::clicked, this, &NumericFields::Label2_Click);
    connect(ui_.lblBeep, &ClickLabel::clicked, this, &NumericFields::lblBeep_Click);
    connect(ui_.lblLogTotal, &ClickLabel::clicked, this, &NumericFields::lblLogTotal_Click);
    connect(ui_.lblLogFailed, &ClickLabel::clicked, this, &NumericFields::lblLogFailed_Click);
}

void NumericFields::limitTyping(QLineEdit& box) {
    const int limit = box.maxLength();
    box.setMaxLength(NoLengthLimit);
    box.setValidator(new TypingLimit(box, limit));
}

void NumericFields::textChange(const Field& field) {
    // Each replacement runs this rule again, nested, for the new text. It is left selected, so
    // the digit typed next replaces it instead of joining it ("5", Backspace, "1" is 1, not 31).
    if (field.text->text() == ZeroText || field.text->text().isEmpty()) {
        field.text->setText(field.replacement);
        field.text->selectAll();
    }
    if (state_.stateFlag != StateFlag::Dont)
        controls_.UpdateRestoreMenu();
}

void NumericFields::spin(const Field& field) {
    // The position means nothing by itself; only a move of exactly one step from the last
    // position seen on any of the four spinners counts as an arrow click. The lower arrow
    // moves towards larger positions and lowers the value.
    const int moved = field.spinner->value() - state_.lastScrollValue;
    if (moved == field.step || moved == -field.step) {
        const bool down = moved == field.step;
        const int bound = down ? field.lower : field.upper;
        const int wrapTo = down ? field.upper : field.lower;
        const QString text = field.text->text();
        if (toInt16(text) == bound) {
            // Moving the spinner runs this rule once more; the text written next wins.
            field.spinner->setValue(wrapTo);
            field.text->setText(QString::number(wrapTo));
        } else if (const auto value = toNumber(text)) {
            field.text->setText(numberText(*value + (down ? -field.step : field.step)));
        }
        // A text that is not a number is left alone.
    }
    state_.lastScrollValue = static_cast<std::int16_t>(field.spinner->value());
}

void NumericFields::txtAttempts_Change() {
    textChange(attempts_);
}
void NumericFields::txtInterval_Change() {
    textChange(interval_);
}
void NumericFields::txtNumBytes_Change() {
    textChange(numBytes_);
}
void NumericFields::txtTimeout_Change() {
    textChange(timeout_);
}
void NumericFields::vsbAttempts_Change() {
    spin(attempts_);
}
void NumericFields::vsbInterval_Change() {
    spin(interval_);
}
void NumericFields::vsbNumBytes_Change() {
    spin(numBytes_);
}
void NumericFields::vsbTimeout_Change() {
    spin(timeout_);
}

void NumericFields::setOptionChecked(QRadioButton& option, bool checked) {
    if (!checked && option.isChecked() && option.autoExclusive()) {
        // Qt keeps the selected button of an auto-exclusive group selected; the units may
        // be left with none selected, so the group is lifted for the change.
        option.setAutoExclusive(false);
        option.setChecked(false);
        option.setAutoExclusive(true);
        return;
    }
    option.setChecked(checked);
}

// Minutes and seconds deselect each other as a group; tenth-seconds stands apart and is kept
// exclusive of both by these rules.
void NumericFields::optMinutes_Click() {
    if (state_.stateFlag != StateFlag::Dont)
        controls_.UpdateRestoreMenu();
    setOptionChecked(*ui_.optMilSeconds, false);
}

void NumericFields::optSeconds_Click() {
    if (state_.stateFlag != StateFlag::Dont)
        controls_.UpdateRestoreMenu();
    setOptionChecked(*ui_.optMilSeconds, false);
}

void NumericFields::optMilSeconds_Click() {
    // Leaves the Restore Defaults item alone: it catches up at the next rule that refreshes it.
    setOptionChecked(*ui_.optMinutes, false);
    setOptionChecked(*ui_.optSeconds, false);
}

void NumericFields::toggleOption(QRadioButton& option) {
    setOptionChecked(option, !option.isChecked());
}

void NumericFields::toggleBox(QCheckBox& box) {
    // Works on a disabled box too: the label is the only way to change chkLogFailed while
    // "Log all pings" holds it.
    setCheckValue(box, isChecked(box) ? 0 : 1);
}

void NumericFields::Label1_Click() {
    controls_.UpdateRestoreMenu();
    toggleOption(*ui_.optMinutes);
}

void NumericFields::Label2_Click() {
    controls_.UpdateRestoreMenu();
    toggleOption(*ui_.optSeconds);
}

void NumericFields::lblBeep_Click() {
    toggleBox(*ui_.chkBeep);
    controls_.UpdateRestoreMenu();
}

void NumericFields::lblLogTotal_Click() {
    toggleBox(*ui_.chkLogTotal);
    controls_.UpdateRestoreMenu();
}

void NumericFields::lblLogFailed_Click() {
    toggleBox(*ui_.chkLogFailed);
    controls_.UpdateRestoreMenu();
}

} // namespace ew
