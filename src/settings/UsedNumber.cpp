#include "settings/UsedNumber.h"

#include "core/Convert.h"

#include <cmath>

namespace ew {

namespace {

struct BoxRule {
    const char* name;
    const char* kind;
    int least;       // the smallest value with a meaning
    int replacement; // the box's own text for an empty entry
};

constexpr BoxRule Rules[] = {{"Attempts", "a count", 0, 1},
                             {"Interval", "an interval", 1, 3},
                             {"Bytes", "a size", 0, 16},
                             {"Timeout", "a time-out", 0, 3}};

constexpr double MsPerSecond = 1000.0;

} // namespace

UsedNumber usedNumber(NumberBox box, const QString& text) {
    const BoxRule& rule = Rules[static_cast<int>(box)];
    const QString said = QStringLiteral("%1: \"%2\" ").arg(QLatin1String(rule.name), text);
    const auto whole = toInt16(text);
    const auto replaced = [&] {
        const int value = box == NumberBox::Timeout
                              ? static_cast<int>(rule.replacement * MsPerSecond)
                              : rule.replacement;
        return UsedNumber{value, said + QStringLiteral("is not %1; %2 is used")
                                            .arg(QLatin1String(rule.kind))
                                            .arg(rule.replacement)};
    };
    if (!whole || *whole < rule.least)
        return replaced();
    const double number = *toNumber(text);
    if (box == NumberBox::Timeout) {
        // A time-out that rounds to no millisecond could never see a reply.
        const double ms = std::nearbyint(number * MsPerSecond);
        return ms < 1 ? replaced() : UsedNumber{static_cast<int>(ms), {}};
    }
    if (*whole == 0 && box == NumberBox::Attempts)
        return {0, said + QStringLiteral("is 0; nothing is pinged")};
    if (*whole != number)
        return {*whole, said + QStringLiteral("is not a whole number; %1 is used").arg(*whole)};
    return {*whole, {}};
}

} // namespace ew
