#pragma once

class QCheckBox;
class QRadioButton;

namespace ew {

// Check box values as the settings store knows them: 0 unchecked, 1 checked, 2 greyed.
int checkValue(const QCheckBox& box);
void setCheckValue(QCheckBox& box, int value);
inline bool isChecked(const QCheckBox& box) {
    return checkValue(box) == 1;
}
// Unchecks a checked box and checks any other (a greyed one too), as a click on its caption does.
inline void toggleCheck(QCheckBox& box) {
    setCheckValue(box, isChecked(box) ? 0 : 1);
}
// Selects or deselects an option as code would: selecting raises its click rule through
// toggled(true); deselecting raises nothing. Qt refuses to clear the selected button of an
// auto-exclusive group, a rule meant for the operator's clicks, so the group is lifted for it.
void setOptionChecked(QRadioButton& option, bool checked);

} // namespace ew
