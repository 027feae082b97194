#include "schedule/Hours.h"

#include <cstdint>
#include <limits>

namespace ew {

namespace {
constexpr int kNoon = 12;
constexpr int kMidnight = 0;
} // namespace

std::optional<int> wholeHour(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const int n = t.toInt(&ok, 10);
    if (!ok || n < std::numeric_limits<std::int16_t>::min() ||
        n > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return n;
}

ShownHour shownHour(const std::optional<QString>& stored) {
    const QString text = stored.value_or(QString());
    const std::optional<int> hour =
        text.isEmpty() ? std::optional<int>(kMidnight) : wholeHour(text);
    if (!hour)
        return {text, false};
    if (*hour == kMidnight)
        return {QString::number(kNoon), false};
    if (*hour == kNoon)
        return {QString::number(kNoon), true};
    if (*hour > kNoon)
        return {QString::number(*hour - kNoon), true};
    return {text, false};
}

StoredHour storedHour(const QString& shown, bool pm) {
    const std::optional<int> hour = wholeHour(shown);
    if (!hour)
        return {shown, std::nullopt};
    if (pm) {
        const int h = *hour == kNoon ? kNoon : *hour + kNoon;
        return {QString::number(h), h};
    }
    if (*hour == kNoon)
        return {QString::number(kMidnight), kMidnight};
    return {shown, *hour};
}

} // namespace ew
