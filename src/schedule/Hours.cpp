#include "schedule/Hours.h"

#include "settings/SettingsCodec.h"

namespace ew {

namespace {
constexpr int kNoon = 12;
constexpr int kMidnight = 0;
} // namespace

ShownHour shownHour(const std::optional<QString>& stored) {
    const QString text = stored.value_or(QString());
    const std::optional<std::int16_t> hour =
        text.isEmpty() ? std::optional<std::int16_t>(kMidnight) : parseInt16(text);
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
    const std::optional<std::int16_t> hour = parseInt16(shown);
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
