#include "core/Convert.h"

#include <cmath>
#include <limits>

namespace ew {

std::optional<double> toNumber(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional(v) : std::nullopt;
}

std::optional<std::int16_t> toInt16(const QString& text) {
    const auto v = toNumber(text);
    if (!v)
        return std::nullopt;
    const double r = std::nearbyint(*v); // the default rounding mode is half to even
    if (r < std::numeric_limits<std::int16_t>::min() ||
        r > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(r);
}

QString numberText(double value) {
    return QString::number(value, 'g', 15);
}

} // namespace ew
