#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

namespace ew {

// What the history keeps, at the three steps it keeps it in. Times are milliseconds since the
// epoch (UTC), so that a change of the local clock's zone neither folds nor splits a row; round
// trips are microseconds, the precision of the kernel's receive timestamps.
enum class Resolution { Attempts, Minutes, Hours };

inline constexpr qint64 MinuteMs = 60 * 1000;
inline constexpr qint64 HourMs = 60 * MinuteMs;
inline constexpr qint64 DayMs = 24 * HourMs;
inline constexpr qint64 LostRoundTrip = -1;

// One attempt as the history takes it; the entry's text is its key.
struct Sample {
    QString key;
    qint64 atMs = 0;
    qint64 roundTripUs = LostRoundTrip;
};

// An attempt (count 1), a minute or an hour. The three round trips are of the replies only;
// with no reply they are LostRoundTrip.
struct Row {
    qint64 atMs = 0;
    int count = 0;
    int losses = 0;
    qint64 lowestUs = LostRoundTrip, medianUs = LostRoundTrip, highestUs = LostRoundTrip;
    bool operator==(const Row&) const = default;
};

// A stretch of time in which the program was monitoring.
struct Run {
    qint64 startMs = 0;
    qint64 endMs = 0;
};

// The span each step covers, and how long rows of each step are kept.
qint64 stepMs(Resolution resolution);
qint64 keptMs(Resolution resolution);

// Folds round trips (LostRoundTrip for a loss) into one row starting at atMs.
Row foldRow(qint64 atMs, std::vector<qint64> roundTripsUs);
// Folds finer rows into one: the counts add up; the median is the median of their medians
// (the attempts behind them are gone by the time an hour is kept).
Row foldRows(qint64 atMs, const std::vector<Row>& rows);

// The rows split where the program was not monitoring: a row belongs to the run it overlaps
// first, and consecutive rows of different runs go to different stretches.
std::vector<std::vector<Row>> stretches(const std::vector<Row>& rows, const std::vector<Run>& runs,
                                        Resolution resolution);

// Spans in which the host gave no reply: three lost attempts in a row and on to the next
// reply, or whole minutes and hours lost.
struct Span {
    qint64 fromMs = 0;
    qint64 toMs = 0;
    bool operator==(const Span&) const = default;
};
std::vector<Span> downSpans(const std::vector<Row>& rows, Resolution resolution);

// A round trip as text, in milliseconds with a point: "12.345".
QString msText(qint64 roundTripUs);

} // namespace ew
