#pragma once

#include "engine/Attempt.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ew {

// What the monitor knows of an entry since Ping.
enum class HostState { Unknown, Up, Down };

struct HostFigures {
    QString address;
    HostState state = HostState::Unknown;
    int attempts = 0;
    int replies = 0;
    std::chrono::nanoseconds last{0}, lowest{0}, highest{0}, total{0};
    // When the state last changed; null while it is still the Unknown it started as.
    QDateTime changedAt;
    // The failures since the last reply, and when the first of them ended: the host has given
    // no reply since then.
    int failuresInRow = 0;
    QDateTime noReplySince;

    double lossPercent() const { return attempts ? 100.0 * (attempts - replies) / attempts : 0; }
    std::chrono::nanoseconds average() const { return replies ? total / replies : total; }
};

// A notification as the desktop shows it.
struct Notice {
    QString summary;
    QString body;
    bool operator==(const Notice&) const = default;
};

// The state of every entry from the outcomes the pass reports, keyed by entry id: up at its
// first reply, down after FailuresForDown failures in a row, not yet known until either. Also
// the figures per entry and the words for the desktop. Knows no widgets.
class HostStates {
public:
    // One or two lost echoes are common on a busy network; three in a row are a host that is
    // gone, and keep a flapping link from raising a notification at every lost packet.
    static constexpr int FailuresForDown = 3;
    // Up to this many changes in one pass get a notification each; more get one together.
    static constexpr int MaxSeparateNotices = 3;

    // Forgets every entry and every pending change (a new Ping).
    void reset();
    // Counts one attempt; true when it changed the entry's state.
    bool record(const Attempt& attempt);
    const HostFigures* find(std::uint64_t entryId) const;
    HostState state(std::uint64_t entryId) const;

    // The notifications for the changes worth a word since the last call (a host going down,
    // and a host that was down answering again), grouped; the changes are then forgotten.
    std::vector<Notice> takeNotices();

    // An entry of the address list in its order; id 0 for one not pinged yet.
    struct ListEntry {
        std::uint64_t id;
        QString text;
    };
    // The figures of every entry as tab-separated text with a header row, for a spreadsheet.
    QString statisticsTsv(const std::vector<ListEntry>& list) const;
    // The figures of one entry as the pop-up shows them.
    QString figuresText(const ListEntry& entry) const;

    static QString stateName(HostState state);
    // To the microsecond, the precision of the kernel's receive timestamps: "0.046 ms".
    static QString roundTripMs(std::chrono::nanoseconds roundTrip);
    // "42 s", "4 min 12 s", "3 h 5 min".
    static QString durationText(qint64 seconds);
    // The run in a line, for the tray: "2 of 12 down: 10.0.0.5, fileserver".
    static QString downSummary(const QStringList& down, int entries);

private:
    struct Change {
        QString address;
        HostState state;
        QDateTime since; // down: no reply since then; up: went down then
        QDateTime at;
    };
    static QString changeText(const Change& change);

    QHash<std::uint64_t, HostFigures> hosts_;
    std::vector<Change> changes_;
};

} // namespace ew
