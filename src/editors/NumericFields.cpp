#include "editors/NumericFields.h"

#include "core/Convert.h"
#include "core/ProgramState.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ClickLabel.h"

#include <QValidator>
#include <utility>

namespace ew {

namespace {

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
    : ui_(ui), state_(state), controls_(controls),
      fields_{{{ui.txtAttempts, ui.vsbAttempts, 1, 1, 5, QStringLiteral("1")},
               {ui.txtInterval, ui.vsbInterval, 1, 1, 999, QStringLiteral("3")},
               {ui.txtNumBytes, ui.vsbNumBytes, 16, 16, 1024, QStringLiteral("16")},
               {ui.txtTimeout, ui.vsbTimeout, 1, 1, 300, QStringLiteral("3")}}} {
    for (const Field& f : fields_) {
        const int limit = f.text->maxLength();
        f.text->setMaxLength(NoLengthLimit);
        f.text->setValidator(new TypingLimit(*f.text, limit));
        connect(f.text, &QLineEdit::textChanged, this, [this, &f] { textChange(f); });
        connect(f.spinner, &QScrollBar::valueChanged, this, [this, &f] { spin(f); });
    }

    // An option's rule runs when it becomes selected, not when it is deselected. Minutes and
    // seconds deselect each other as a group; tenth-seconds stands apart and is kept exclusive
    // of both by these rules.
    for (QRadioButton* unit : {ui_.optMinutes, ui_.optSeconds})
        connect(unit, &QRadioButton::toggled, this, [this](bool on) {
            if (!on)
                return;
            updateRestoreMenuUnlessLoading();
            setOptionChecked(*ui_.optMilSeconds, false);
        });
    connect(ui_.optMilSeconds, &QRadioButton::toggled, this, [this](bool on) {
        // Leaves the Restore Defaults item alone: it catches up at the next rule that refreshes it.
        if (on) {
            setOptionChecked(*ui_.optMinutes, false);
            setOptionChecked(*ui_.optSeconds, false);
        }
    });

    for (auto [label, option] :
         {std::pair(ui_.Label1, ui_.optMinutes), {ui_.Label2, ui_.optSeconds}})
        connect(label, &ClickLabel::clicked, this, [this, option = option] {
            controls_.UpdateRestoreMenu();
            setOptionChecked(*option, !option->isChecked());
        });
    // Works on a disabled box too: the label is the only way to change chkLogFailed while
    // "Log all pings" holds it.
    for (auto [label, box] : {std::pair(ui_.lblBeep, ui_.chkBeep),
                              {ui_.lblLogTotal, ui_.chkLogTotal},
                              {ui_.lblLogFailed, ui_.chkLogFailed}})
        connect(label, &ClickLabel::clicked, this, [this, box = box] {
            toggleCheck(*box);
            controls_.UpdateRestoreMenu();
        });
}

void NumericFields::updateRestoreMenuUnlessLoading() {
    if (state_.stateFlag != StateFlag::Dont)
        controls_.UpdateRestoreMenu();
}

void NumericFields::textChange(const Field& field) {
    // Each replacement runs this rule again, nested, for the new text. It is left selected, so
    // the digit typed next replaces it instead of joining it ("5", Backspace, "1" is 1, not 31).
    if (field.text->text() == QLatin1String("0") || field.text->text().isEmpty()) {
        field.text->setText(field.replacement);
        field.text->selectAll();
    }
    updateRestoreMenuUnlessLoading();
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

} // namespace ew
