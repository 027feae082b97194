#include "engine/HostStates.h"

#include <QStringList>
#include <algorithm>
#include <utility>

namespace ew {

namespace {

// Times of day in the notifications and figures: 24-hour, to the second.
const QString TimeFormat = QStringLiteral("HH:mm:ss");
// The state change column of the copied figures, in a form spreadsheets read as a date.
const QString StampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
constexpr int SecondsPerMinute = 60;
constexpr int SecondsPerHour = 3600;

const QString DownText = QStringLiteral("%1 is down: no reply since %2");
const QString UpText = QStringLiteral("%1 answers again after %2 down");
const QString SlowText = QStringLiteral("%1 is slow: %2 ms median over the last %3 replies");
const QString ManyChanges = QStringLiteral("%1 hosts changed: %2");

const QStringList TsvHeader{
    QStringLiteral("Entry"),      QStringLiteral("State"),     QStringLiteral("Attempts"),
    QStringLiteral("Replies"),    QStringLiteral("Loss %"),    QStringLiteral("Loss 10 min %"),
    QStringLiteral("Last ms"),    QStringLiteral("Lowest ms"), QStringLiteral("Average ms"),
    QStringLiteral("Highest ms"), QStringLiteral("Jitter ms"), QStringLiteral("State changed")};
// Line feeds between the rows, as Copy All of the results does; none after the last.
constexpr QChar RowEnd = QLatin1Char('\n');
constexpr QChar Tab = QLatin1Char('\t');

// To the microsecond, the precision of the kernel's receive timestamps: "0.046".
QString msNumber(std::chrono::nanoseconds ns) {
    return QString::number(static_cast<double>(ns.count()) / 1e6, 'f', 3);
}

constexpr qint64 MsPerMinute = 60 * 1000;

qint64 medianMs(std::array<std::chrono::nanoseconds, 3> v) {
    std::sort(v.begin(), v.end());
    return std::chrono::round<std::chrono::milliseconds>(v[v.size() / 2]).count();
}

} // namespace

double HostFigures::recentLossPercent() const {
    int n = 0, lost = 0;
    for (const Minute& m : recent)
        if (m.minute > lastMinute - static_cast<qint64>(recent.size())) {
            n += m.attempts;
            lost += m.losses;
        }
    return n ? 100.0 * lost / n : 0;
}

void HostStates::reset() {
    hosts_.clear();
    changes_.clear();
}

bool HostStates::record(const Attempt& attempt) {
    HostFigures& h = hosts_[attempt.entryId];
    h.address = attempt.address;
    ++h.attempts;
    h.lastMinute = attempt.endedAt.toMSecsSinceEpoch() / MsPerMinute;
    HostFigures::Minute& minute =
        h.recent[static_cast<std::size_t>(h.lastMinute) % h.recent.size()];
    if (minute.minute != h.lastMinute)
        minute = {h.lastMinute};
    ++minute.attempts;
    const HostState before = h.state;
    if (attempt.reply) {
        const auto rt = attempt.roundTrip;
        if (h.replies)
            h.jitterTotal += rt > h.last ? rt - h.last : h.last - rt;
        std::rotate(h.lastReplies.begin(), h.lastReplies.begin() + 1, h.lastReplies.end());
        h.lastReplies.back() = rt;
        const bool slow = slowAboveMs_ > 0 && rt > std::chrono::milliseconds(slowAboveMs_);
        h.slowInRow = slow ? h.slowInRow + 1 : 0;
        h.fastInRow = slow ? 0 : h.fastInRow + 1;
        h.lowest = h.replies ? std::min(h.lowest, rt) : rt;
        h.highest = h.replies ? std::max(h.highest, rt) : rt;
        ++h.replies;
        h.last = rt;
        h.total += rt;
        h.failuresInRow = 0;
        if (h.state == HostState::Slow)
            h.state = h.fastInRow >= RepliesForSlow ? HostState::Up : HostState::Slow;
        else
            h.state = h.slowInRow >= RepliesForSlow ? HostState::Slow : HostState::Up;
    } else {
        ++minute.losses;
        h.slowInRow = h.fastInRow = 0; // a failure breaks either row
        if (h.failuresInRow++ == 0)
            h.noReplySince = attempt.endedAt;
        if (h.failuresInRow >= FailuresForDown)
            h.state = HostState::Down;
    }
    if (h.state == before)
        return false;
    // A host's first reply is no news; its going down and its coming back are.
    if (h.state == HostState::Down)
        changes_.emplace_back(h.state,
                              DownText.arg(h.address, h.noReplySince.toString(TimeFormat)));
    else if (h.state == HostState::Slow)
        changes_.emplace_back(
            h.state, SlowText.arg(h.address).arg(medianMs(h.lastReplies)).arg(RepliesForSlow));
    else if (before == HostState::Down)
        changes_.emplace_back(
            h.state, UpText.arg(h.address, durationText(h.changedAt.secsTo(attempt.endedAt))));
    h.changedAt = attempt.endedAt;
    return true;
}

const HostFigures* HostStates::find(std::uint64_t entryId) const {
    const auto it = hosts_.constFind(entryId);
    return it == hosts_.constEnd() ? nullptr : &*it;
}

HostState HostStates::state(std::uint64_t entryId) const {
    const HostFigures* h = find(entryId);
    return h ? h->state : HostState::Unknown;
}

std::vector<Notice> HostStates::takeNotices() {
    std::vector<Notice> notices;
    if (changes_.size() > static_cast<std::size_t>(MaxSeparateNotices)) {
        QStringList lines;
        int down = 0, slow = 0;
        for (const auto& [state, text] : changes_) {
            lines << text;
            down += state == HostState::Down;
            slow += state == HostState::Slow;
        }
        const int back = static_cast<int>(changes_.size()) - down - slow;
        QStringList counts;
        const std::pair<int, const char*> kinds[]{
            {down, "down"}, {back, "up again"}, {slow, "slow"}};
        for (const auto& [n, what] : kinds)
            if (n)
                counts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(what));
        notices.push_back({ManyChanges.arg(changes_.size()).arg(counts.join(QStringLiteral(", "))),
                           lines.join(RowEnd)});
    } else {
        for (const auto& change : changes_)
            notices.push_back({change.second, QString()});
    }
    changes_.clear();
    return notices;
}

QString HostStates::stateName(HostState state) {
    static const char* const names[] = {"not yet known", "up", "down", "slow"};
    return QString::fromLatin1(names[static_cast<int>(state)]);
}

QString HostStates::durationText(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < SecondsPerMinute)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < SecondsPerHour)
        return QStringLiteral("%1 min %2 s")
            .arg(seconds / SecondsPerMinute)
            .arg(seconds % SecondsPerMinute);
    return QStringLiteral("%1 h %2 min")
        .arg(seconds / SecondsPerHour)
        .arg(seconds % SecondsPerHour / SecondsPerMinute);
}

QString HostStates::downSummary(const QStringList& down, int entries, int slow) {
    QString count = QStringLiteral("%1 of %2 down").arg(down.size()).arg(entries);
    if (slow)
        count += QStringLiteral(", %1 slow").arg(slow);
    return down.isEmpty() ? count : count + QStringLiteral(": ") + down.join(QStringLiteral(", "));
}

QString HostStates::statisticsTsv(const std::vector<ListEntry>& list) const {
    QStringList rows{TsvHeader.join(Tab)};
    for (const ListEntry& e : list) {
        const HostFigures* h = find(e.id);
        QStringList row{e.text, stateName(state(e.id)), QString::number(h ? h->attempts : 0),
                        QString::number(h ? h->replies : 0)};
        if (h) {
            row << QString::number(h->lossPercent(), 'f', 1)
                << QString::number(h->recentLossPercent(), 'f', 1);
            if (h->replies)
                row << msNumber(h->last) << msNumber(h->lowest) << msNumber(h->average())
                    << msNumber(h->highest) << msNumber(h->jitter());
            row.resize(TsvHeader.size() - 1); // no round trips before the first reply
            row << (h->changedAt.isValid() ? h->changedAt.toString(StampFormat) : QString());
        }
        row.resize(TsvHeader.size()); // an entry not pinged yet has its counts only
        rows << row.join(Tab);
    }
    return rows.join(RowEnd);
}

QString HostStates::figuresText(const ListEntry& entry) const {
    const HostFigures* h = find(entry.id);
    if (!h)
        return entry.text + QStringLiteral(": not pinged yet");
    QString text = entry.text + QStringLiteral(": ") + stateName(h->state);
    if (h->changedAt.isValid())
        text += QStringLiteral(" since ") + h->changedAt.toString(TimeFormat);
    text += QStringLiteral("\nAttempts: %1, replies: %2, loss: %3 %")
                .arg(h->attempts)
                .arg(h->replies)
                .arg(h->lossPercent(), 0, 'f', 1);
    text += QStringLiteral("\nLoss over the last 10 minutes: %1 %")
                .arg(h->recentLossPercent(), 0, 'f', 1);
    if (h->replies)
        text +=
            QStringLiteral("\nRound trip: last %1 ms, lowest %2 ms, average %3 ms, highest %4 ms"
                           "\nJitter: %5 ms")
                .arg(msNumber(h->last), msNumber(h->lowest), msNumber(h->average()),
                     msNumber(h->highest), msNumber(h->jitter()));
    return text;
}

} // namespace ew
