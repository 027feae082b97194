#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <chrono>
#include <cstdint>

namespace ew {

// Each entry of the address list carries an id of its own under this item data role, given by
// the pass that first pings it. It tells two entries with the same text apart and follows an
// entry that an edit moves to another row.
inline constexpr int EntryIdRole = 0x0100 + 1; // Qt::UserRole + 1

// One attempt as the pass reports it, right after its result line.
struct Attempt {
    std::uint64_t entryId = 0;
    QString address;    // the entry's text, as listed
    bool reply = false; // false: the attempt failed
    // The round trip as the kernel timed it, to the nanosecond it gives (on a reply).
    std::chrono::nanoseconds roundTrip{0};
    // When the attempt ended, by the program's clock.
    QDateTime endedAt;
};

} // namespace ew
