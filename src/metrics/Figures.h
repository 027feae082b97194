#pragma once

#include "engine/Attempt.h"
#include "engine/HostStates.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ew {

// A histogram with fixed upper bounds: counts per bucket (not yet cumulative), their sum and
// their count. The bucket past the last bound is +Inf.
template <std::size_t Bounds> struct Histogram {
    std::array<std::uint64_t, Bounds + 1> buckets{};
    double sum = 0;
    std::uint64_t count = 0;
    void observe(const std::array<double, Bounds>& bounds, double value) {
        std::size_t i = 0;
        while (i < Bounds && value > bounds[i])
            ++i;
        ++buckets[i];
        sum += value;
        ++count;
    }
};

// The figures a fleet's Prometheus scrapes from this program: per entry text, what
// smokeping_prober counts (under its names and labels, so that its dashboards and rules work
// unchanged), and what only this program knows (a host's state by the window's rule, the passes
// and their rest in the unattended hours). Entries with the same text share one series.
//
// A scrape is written in pieces (Writer), a bounded number of series each, so that one of many
// thousand hosts leaves the event loop free for the pass between the pieces. Series are only
// ever appended, so a writer's place stays valid while the figures move on.
class Figures {
public:
    static constexpr std::size_t ResponseBounds = 20;
    static constexpr std::size_t PassBounds = 15;
    // smokeping_prober's default buckets: 50 us doubling to 26.2144 s.
    static const std::array<double, ResponseBounds> ResponseBuckets;
    // A pass takes milliseconds on loopback and minutes over a long list one after another.
    static const std::array<double, PassBounds> PassBuckets;

    enum class Format { Text, OpenMetrics };
    // OpenMetrics only when the scraper's Accept header names it.
    static Format formatFor(const QByteArray& accept);
    static QByteArray contentType(Format format);

    // source: the label smokeping_prober fills with its source address (empty when the kernel
    // picks one, as this program always lets it).
    explicit Figures(QString source = QString());

    // The entries as they stand: a new text gets its series at zero; a text no longer listed
    // is left out of the scrapes, its counts kept should it come back.
    void setEntries(const QStringList& hosts);
    // An attempt's ip label is the address it went to; one that went nowhere leaves the last.
    void record(const Attempt& attempt);
    // A reply that came again for an attempt at a listed host; a failed read of the sockets.
    void duplicate(const QString& host);
    void receiveError();
    void passEnded(std::chrono::nanoseconds duration);
    void setResting(bool resting);

    // One scrape, written a few series at a time.
    class Writer {
    public:
        Writer(const Figures& figures, Format format) : figures_(figures), format_(format) {}
        // Appends the next piece, at most maxSeries series (their number in *written); false
        // once all is written.
        bool next(QByteArray& out, int maxSeries, int* written = nullptr);

    private:
        const Figures& figures_;
        Format format_;
        int family_ = 0;
        std::size_t series_ = 0;
        bool begun_ = false; // the family's HELP and TYPE are out
    };
    QByteArray exposition(Format format) const;

    // As the exposition format says: backslash, double quote and line feed.
    static QByteArray escapeLabel(const QString& value);

private:
    struct Series {
        QString host;
        QString ip;
        QByteArray labels;    // host, ip and source, escaped
        QByteArray hostLabel; // host alone
        bool listed = true;
        std::uint64_t requests = 0;
        std::uint64_t duplicates = 0;
        std::uint64_t sendErrors = 0;
        std::uint64_t stateChanges = 0;
        Histogram<ResponseBounds> roundTrips;
    };
    Series& series(const QString& host);
    void relabel(Series& s) const;
    void writeSeries(QByteArray& out, int family, const Series& s, std::size_t index) const;
    void writeSingle(QByteArray& out, int family) const;

    QString source_;
    std::vector<Series> series_;
    QHash<QString, std::size_t> index_;
    // The window's up and down rule, kept per series (its index + 1 is the entry id).
    HostStates states_;
    std::uint64_t receiveErrors_ = 0;
    std::uint64_t passes_ = 0;
    Histogram<PassBounds> passDurations_;
    bool resting_ = false;
};

} // namespace ew
