#include "history/HistoryRows.h"

#include <algorithm>

namespace ew {

namespace {

// As many lost attempts in a row as make a host down for the monitor.
constexpr int LossesForDown = 3;
constexpr qint64 UsPerMs = 1000;

qint64 median(std::vector<qint64>& values) {
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    if (values.size() % 2)
        return *mid;
    // Even: the mean of the two middle values, the lower being the largest below mid.
    const qint64 lower = *std::max_element(values.begin(), mid);
    return (lower + *mid) / 2;
}

} // namespace

qint64 stepMs(Resolution resolution) {
    switch (resolution) {
    case Resolution::Attempts:
        return 0;
    case Resolution::Minutes:
        return MinuteMs;
    case Resolution::Hours:
        break;
    }
    return HourMs;
}

qint64 keptMs(Resolution resolution) {
    switch (resolution) {
    case Resolution::Attempts:
        return 2 * HourMs;
    case Resolution::Minutes:
        return 7 * DayMs;
    case Resolution::Hours:
        break;
    }
    return 90 * DayMs;
}

Row foldRow(qint64 atMs, std::vector<qint64> roundTripsUs) {
    Row row{atMs, static_cast<int>(roundTripsUs.size()), 0};
    const auto lost = std::remove(roundTripsUs.begin(), roundTripsUs.end(), LostRoundTrip);
    row.losses = static_cast<int>(roundTripsUs.end() - lost);
    roundTripsUs.erase(lost, roundTripsUs.end());
    if (roundTripsUs.empty())
        return row;
    const auto [lo, hi] = std::minmax_element(roundTripsUs.begin(), roundTripsUs.end());
    row.lowestUs = *lo;
    row.highestUs = *hi;
    row.medianUs = median(roundTripsUs);
    return row;
}

Row foldRows(qint64 atMs, const std::vector<Row>& rows) {
    Row row{atMs};
    std::vector<qint64> medians;
    for (const Row& r : rows) {
        row.count += r.count;
        row.losses += r.losses;
        if (r.medianUs == LostRoundTrip)
            continue;
        row.lowestUs = medians.empty() ? r.lowestUs : std::min(row.lowestUs, r.lowestUs);
        row.highestUs = std::max(row.highestUs, r.highestUs);
        medians.push_back(r.medianUs);
    }
    if (!medians.empty())
        row.medianUs = median(medians);
    return row;
}

std::vector<std::vector<Row>> stretches(const std::vector<Row>& rows, const std::vector<Run>& runs,
                                        Resolution resolution) {
    const qint64 span = std::max<qint64>(stepMs(resolution), 1);
    std::vector<std::vector<Row>> out;
    std::ptrdiff_t lastRun = -2;
    for (const Row& row : rows) {
        // Runs and rows both come in time order.
        const auto run = std::find_if(runs.begin(), runs.end(), [&](const Run& r) {
            return r.startMs < row.atMs + span && row.atMs <= r.endMs;
        });
        // Rows outside every run (a file from before runs were kept) stay together.
        const std::ptrdiff_t index = run == runs.end() ? -1 : run - runs.begin();
        if (out.empty() || index != lastRun)
            out.emplace_back();
        out.back().push_back(row);
        lastRun = index;
    }
    return out;
}

std::vector<Span> downSpans(const std::vector<Row>& rows, Resolution resolution) {
    std::vector<Span> spans;
    const int needed = resolution == Resolution::Attempts ? LossesForDown : 1;
    const qint64 span = stepMs(resolution);
    int inRow = 0;
    qint64 from = 0;
    for (const Row& row : rows) {
        if (row.count > 0 && row.losses == row.count) {
            if (inRow++ == 0)
                from = row.atMs;
            continue;
        }
        if (inRow >= needed)
            spans.push_back({from, row.atMs});
        inRow = 0;
    }
    if (inRow >= needed)
        spans.push_back({from, rows.back().atMs + span});
    return spans;
}

QString msText(qint64 roundTripUs) {
    if (roundTripUs == LostRoundTrip)
        return QString();
    return QString::number(static_cast<double>(roundTripUs) / UsPerMs, 'f', 3);
}

} // namespace ew
