#pragma once

class QCheckBox;

namespace ew {

// Check box values as the settings store knows them: 0 unchecked, 1 checked, 2 greyed.
int checkValue(const QCheckBox& box);
void setCheckValue(QCheckBox& box, int value);
inline bool isChecked(const QCheckBox& box) {
    return checkValue(box) == 1;
}

} // namespace ew
