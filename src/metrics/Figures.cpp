#include "metrics/Figures.h"

#include <charconv>
#include <climits>

namespace ew {

namespace {

enum Family {
    Requests,
    ResponseDuration,
    Duplicates,
    SendErrors,
    ReceiveErrors,
    HostUp,
    StateChanges,
    Passes,
    PassDuration,
    Resting,
    FamilyCount
};

struct FamilyInfo {
    const char* name; // OpenMetrics' family name: a counter's samples add "_total"
    const char* type;
    const char* help;
    bool perSeries;
};

constexpr std::array<FamilyInfo, FamilyCount> Families{{
    {"smokeping_requests", "counter", "Echo requests sent.", true},
    {"smokeping_response_duration_seconds", "histogram",
     "Round trips of the echo replies, in seconds.", true},
    {"smokeping_response_duplicates", "counter", "Echo replies that came more than once.", true},
    {"smokeping_send_errors", "counter", "Echo requests that could not be sent.", true},
    {"smokeping_receive_errors", "counter", "Errors reading replies from the echo sockets.", false},
    {"echowarden_host_up", "gauge",
     "1 while the host answers, 0 after 3 attempts in a row without a reply.", true},
    {"echowarden_host_state_changes", "counter", "Times the host went down or came back.", true},
    {"echowarden_passes", "counter", "Passes over the list that ended.", false},
    {"echowarden_pass_duration_seconds", "histogram", "How long a pass over the list took.", false},
    {"echowarden_resting", "gauge", "1 during the unattended hours, when no pass runs.", false},
}};

constexpr bool isCounter(const FamilyInfo& f) {
    return f.type[0] == 'c';
}

// The shortest text that reads back as the same double, as Go's exporters write it.
void appendNumber(QByteArray& out, double value) {
    char buffer[32];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general).ptr;
    out.append(buffer, end - buffer);
}

void appendNumber(QByteArray& out, std::uint64_t value) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end - buffer);
}

void appendSample(QByteArray& out, const char* name, const char* suffix, const QByteArray& labels,
                  std::uint64_t value) {
    out.append(name).append(suffix);
    if (!labels.isEmpty())
        out.append('{').append(labels).append('}');
    out.append(' ');
    appendNumber(out, value);
    out.append('\n');
}

template <std::size_t N>
void appendHistogram(QByteArray& out, const char* name, const QByteArray& labels,
                     const std::array<double, N>& bounds, const Histogram<N>& h) {
    const QByteArray prefix = labels.isEmpty() ? QByteArray() : labels + ',';
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= N; ++i) {
        cumulative += h.buckets[i];
        out.append(name).append("_bucket{").append(prefix).append("le=\"");
        if (i < N)
            appendNumber(out, bounds[i]);
        else
            out.append("+Inf");
        out.append("\"} ");
        appendNumber(out, cumulative);
        out.append('\n');
    }
    const QByteArray braced = labels.isEmpty() ? QByteArray() : '{' + labels + '}';
    out.append(name).append("_sum").append(braced).append(' ');
    appendNumber(out, h.sum);
    out.append('\n');
    out.append(name).append("_count").append(braced).append(' ');
    appendNumber(out, h.count);
    out.append('\n');
}

std::array<double, Figures::ResponseBounds> doubling(double first) {
    std::array<double, Figures::ResponseBounds> bounds{};
    for (double& b : bounds) {
        b = first;
        first *= 2;
    }
    return bounds;
}

const QByteArray OpenMetricsType = QByteArrayLiteral("application/openmetrics-text");

} // namespace

const std::array<double, Figures::ResponseBounds> Figures::ResponseBuckets = doubling(5e-05);
const std::array<double, Figures::PassBounds> Figures::PassBuckets{
    0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300};

Figures::Format Figures::formatFor(const QByteArray& accept) {
    return accept.contains(OpenMetricsType) ? Format::OpenMetrics : Format::Text;
}

QByteArray Figures::contentType(Format format) {
    return format == Format::OpenMetrics
               ? OpenMetricsType + "; version=1.0.0; charset=utf-8"
               : QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8");
}

Figures::Figures(QString source) : source_(std::move(source)) {}

QByteArray Figures::escapeLabel(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"')
            out.append('\\').append(c);
        else if (c == '\n')
            out.append("\\n");
        else
            out.append(c);
    }
    return out;
}

void Figures::relabel(Series& s) const {
    s.hostLabel = "host=\"" + escapeLabel(s.host) + '"';
    s.labels =
        s.hostLabel + ",ip=\"" + escapeLabel(s.ip) + "\",source=\"" + escapeLabel(source_) + '"';
}

Figures::Series& Figures::series(const QString& host) {
    const auto it = index_.constFind(host);
    if (it != index_.constEnd())
        return series_[*it];
    Series s;
    s.host = host;
    relabel(s);
    index_.insert(host, series_.size());
    series_.push_back(std::move(s));
    return series_.back();
}

void Figures::setEntries(const QStringList& hosts) {
    for (Series& s : series_)
        s.listed = false;
    for (const QString& host : hosts)
        series(host).listed = true;
}

void Figures::duplicate(const QString& host) {
    if (const auto it = index_.constFind(host); it != index_.constEnd())
        ++series_[*it].duplicates;
}

void Figures::receiveError() {
    ++receiveErrors_;
}

void Figures::record(const Attempt& attempt) {
    Series& s = series(attempt.address);
    if (!attempt.ip.isEmpty() && attempt.ip != s.ip) {
        s.ip = attempt.ip;
        relabel(s);
    }
    // A request that never left (no address, no route) is a send error, as smokeping_prober
    // counts it.
    if (attempt.failure == Failure::SendError)
        ++s.sendErrors;
    else
        ++s.requests;
    if (attempt.reply)
        s.roundTrips.observe(ResponseBuckets,
                             std::chrono::duration<double>(attempt.roundTrip).count());
    // Same text, same state: the rule counts the attempts of every entry of that text.
    Attempt keyed = attempt;
    keyed.entryId = index_.value(attempt.address) + 1;
    const HostState before = states_.state(keyed.entryId);
    if (states_.record(keyed)) {
        if (before != HostState::Unknown)
            ++s.stateChanges;
        states_.takeNotices(); // the desktop's words: not needed here, and not to pile up
    }
}

void Figures::passEnded(std::chrono::nanoseconds duration) {
    ++passes_;
    passDurations_.observe(PassBuckets, std::chrono::duration<double>(duration).count());
}

void Figures::setResting(bool resting) {
    resting_ = resting;
}

void Figures::writeSeries(QByteArray& out, int family, const Series& s, std::size_t index) const {
    const char* name = Families[family].name;
    switch (family) {
    case Requests:
        return appendSample(out, name, "_total", s.labels, s.requests);
    case ResponseDuration:
        return appendHistogram(out, name, s.labels, ResponseBuckets, s.roundTrips);
    case Duplicates:
        return appendSample(out, name, "_total", s.labels, s.duplicates);
    case SendErrors:
        return appendSample(out, name, "_total", s.labels, s.sendErrors);
    case HostUp: {
        const HostState state = states_.state(index + 1);
        if (state != HostState::Unknown)
            appendSample(out, name, "", s.hostLabel, state == HostState::Up ? 1 : 0);
        return;
    }
    case StateChanges:
        return appendSample(out, name, "_total", s.hostLabel, s.stateChanges);
    }
}

void Figures::writeSingle(QByteArray& out, int family) const {
    const char* name = Families[family].name;
    switch (family) {
    case ReceiveErrors:
        return appendSample(out, name, "_total", {}, receiveErrors_);
    case Passes:
        return appendSample(out, name, "_total", {}, passes_);
    case PassDuration:
        return appendHistogram(out, name, {}, PassBuckets, passDurations_);
    case Resting:
        return appendSample(out, name, "", {}, resting_ ? 1 : 0);
    }
}

bool Figures::Writer::next(QByteArray& out, int maxSeries, int* writtenOut) {
    int written = 0;
    const auto report = [&](bool more) {
        if (writtenOut)
            *writtenOut = written;
        return more;
    };
    while (family_ < FamilyCount) {
        const FamilyInfo& f = Families[family_];
        if (!begun_) {
            // The text format names a counter by its samples, OpenMetrics by its family.
            const char* suffix = format_ == Format::Text && isCounter(f) ? "_total" : "";
            out.append("# HELP ").append(f.name).append(suffix).append(' ').append(f.help);
            out.append("\n# TYPE ").append(f.name).append(suffix).append(' ').append(f.type);
            out.append('\n');
            begun_ = true;
            series_ = 0;
            if (!f.perSeries)
                figures_.writeSingle(out, family_);
        }
        const auto& all = figures_.series_;
        for (; f.perSeries && series_ < all.size() && written < maxSeries; ++series_) {
            if (!all[series_].listed)
                continue;
            figures_.writeSeries(out, family_, all[series_], series_);
            ++written;
        }
        if (f.perSeries && series_ < all.size())
            return report(true);
        ++family_;
        begun_ = false;
    }
    if (family_ == FamilyCount) {
        if (format_ == Format::OpenMetrics)
            out.append("# EOF\n");
        ++family_;
    }
    return report(false);
}

QByteArray Figures::exposition(Format format) const {
    Writer writer(*this, format);
    QByteArray out;
    while (writer.next(out, INT_MAX)) {
    }
    return out;
}

} // namespace ew
