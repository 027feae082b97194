#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class QCheckBox;

namespace ew {

// Number conversions as the setting boxes need them: blanks around the text are ignored, a
// fraction is rounded half to even, and anything that is not a number (or does not fit)
// gives nullopt so the caller can choose its fallback.
std::optional<double> toNumber(const QString& text);
std::optional<std::int16_t> toInt16(const QString& text);

// A number written back in its shortest decimal form ("4", "528", "2.5").
QString numberText(double value);

// Check box values as the settings store knows them: 0 unchecked, 1 checked, 2 greyed.
int checkValue(const QCheckBox& box);
void setCheckValue(QCheckBox& box, int value);
inline bool isChecked(const QCheckBox& box) {
    return checkValue(box) == 1;
}

} // namespace ew
