#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace ew {

// Number conversions as the setting boxes need them: blanks around the text are ignored, a
// fraction is rounded half to even, and anything that is not a number (or does not fit)
// gives nullopt so the caller can choose its fallback.
std::optional<double> toNumber(const QString& text);
std::optional<std::int16_t> toInt16(const QString& text);

// A number written back in its shortest decimal form ("4", "528", "2.5").
QString numberText(double value);

} // namespace ew
