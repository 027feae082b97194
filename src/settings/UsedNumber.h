#pragma once

#include <QString>

namespace ew {

// The four numeric setting boxes, as the pass and the interval timer read them.
enum class NumberBox { Attempts, Interval, Bytes, Timeout };

struct UsedNumber {
    int value = 0;  // attempts, interval N, bytes, or the time-out in milliseconds
    QString notice; // said over the results while monitoring; empty when the text is used as read
};

// What a box's text is used as. A text with a known meaning keeps it: "00" attempts are none, a
// time-out may have a fraction, and a value beyond the spinner's bounds counts as typed. A text
// with none (no number, a negative count, size or time-out, an interval under 1, a value beyond
// 16 bits) gives way to the text the box itself puts in place of an empty entry. Whenever the
// pass then pings nothing or uses other than what the box shows, the notice says so.
UsedNumber usedNumber(NumberBox box, const QString& text);

} // namespace ew
