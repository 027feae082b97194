#pragma once

#include <QString>
#include <optional>

namespace ew {

// Hours as the schedule dialog shows them (1 to 12 and a PM box) and as the store keeps them
// (the 24-hour clock, as decimal text). An hour is a whole number in 16 bits (parseInt16).

struct ShownHour {
    QString text;
    bool pm = false;
};

// What the dialog shows for a stored hour: missing or empty counts as midnight; 0 shows as 12
// AM, 12 as 12 PM, an hour above 12 as that hour less 12 PM, and anything else as it was
// stored.
ShownHour shownHour(const std::optional<QString>& stored);

struct StoredHour {
    // The text to store: a computed hour as that number, an hour that stays as shown (and
    // text that is no whole number) as the box's text unchanged.
    QString text;
    // The hour as a number, when the box held a whole number.
    std::optional<int> hour;
};

// The hour to store for a shown hour: with PM, 12 stays 12 and any other hour gains 12;
// without, 12 becomes 0 and any other hour stays as shown.
StoredHour storedHour(const QString& shown, bool pm);

} // namespace ew
