#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ew {

// Each entry of the address list carries an id of its own under this item data role, given
// when a pass first reads it. It tells two entries with the same text apart and follows an
// entry that an edit moves to another row.
inline constexpr int EntryIdRole = 0x0100 + 1; // Qt::UserRole + 1

// Why an attempt got no reply: none came in time, the request never left, or an ICMP error
// answered it: "destination unreachable", or another (time exceeded, parameter problem).
enum class Failure { None, TimedOut, SendError, Unreachable, OtherIcmpError };

// One attempt as the pass reports it, right after its result line.
struct Attempt {
    std::uint64_t entryId = 0;
    QString address;    // the entry's text, as listed: the key of its history and figures
    bool reply = false; // false: the attempt failed, for the reason in failure
    // The round trip as the kernel timed it, to the nanosecond it gives (on a reply).
    std::chrono::nanoseconds roundTrip{0};
    // When the attempt ended, and when its request left, by the program's clock.
    QDateTime endedAt{};
    Failure failure = Failure::None;
    QDateTime sentAt{};
    // The address the entry's text resolved to, as numeric text, as the echo sent to it (empty
    // when it named none).
    QString ip{};
};

// What a pass reads at its start and works on to its end.
struct PassSettings {
    struct Entry {
        QString text;
        std::uint64_t id = 0;
    };
    std::vector<Entry> entries;
    int attempts = 0;
    int packetSize = 0;
    int timeoutMs = 0;
    bool atOnce = false;
    bool beep = false;
    bool logTotal = false;
    bool logFailed = false;
};

// What a tick of the interval timer reads.
struct TickSettings {
    enum class Unit { None, Minutes, Seconds, Tenths };
    int interval = 0; // N, in the unit
    Unit unit = Unit::None;
    bool unattended = false; // the unattended hours of the program state apply
};

} // namespace ew
