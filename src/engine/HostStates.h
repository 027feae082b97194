#pragma once

#include "engine/Attempt.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ew {

// What the monitor knows of an entry since Ping.
enum class HostState { Unknown, Up, Down, Slow };

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
    // Replies in a row above the slow threshold, and at or below it; the last few round trips.
    int slowInRow = 0, fastInRow = 0;
    std::array<std::chrono::nanoseconds, 3> lastReplies{};
    // The sum of the differences between consecutive round trips, for the jitter.
    std::chrono::nanoseconds jitterTotal{0};
    // Attempts and losses per minute of the last ten, by minute since the epoch.
    struct Minute {
        qint64 minute = -1;
        int attempts = 0, losses = 0;
    };
    std::array<Minute, 10> recent{};
    qint64 lastMinute = 0;

    double lossPercent() const { return attempts ? 100.0 * (attempts - replies) / attempts : 0; }
    std::chrono::nanoseconds average() const { return replies ? total / replies : total; }
    double recentLossPercent() const;
    std::chrono::nanoseconds jitter() const {
        return replies > 1 ? jitterTotal / (replies - 1) : std::chrono::nanoseconds(0);
    }
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
    // Three replies above the threshold in a row make a host slow, three at or below make it
    // up again: one late echo on a busy link is no news.
    static constexpr int RepliesForSlow = 3;

    // Round trips above this many milliseconds count as slow; 0 turns the rule off.
    void setSlowAboveMs(int ms) { slowAboveMs_ = ms; }

    // Forgets every entry and every pending change (a new Ping).
    void reset();
    // Counts one attempt; true when it changed the entry's state.
    bool record(const Attempt& attempt);
    const HostFigures* find(std::uint64_t entryId) const;
    HostState state(std::uint64_t entryId) const;

    // The notifications for the changes worth a word since the last call (a host going down,
    // a host that was down answering again, and a host turning slow; a slow host fast again is
    // no news), grouped with their counts; the changes are then forgotten.
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
    // "42 s", "4 min 12 s", "3 h 5 min".
    static QString durationText(qint64 seconds);
    // The run in a line, for the tray: "2 of 12 down: 10.0.0.5, fileserver".
    static QString downSummary(const QStringList& down, int entries, int slow = 0);

private:
    QHash<std::uint64_t, HostFigures> hosts_;
    // The changes worth a word since the last takeNotices: the new state, and the words.
    std::vector<std::pair<HostState, QString>> changes_;
    int slowAboveMs_ = 0;
};

} // namespace ew
