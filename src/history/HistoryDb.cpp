#include "history/HistoryDb.h"

#include <QAtomicInteger>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <utility>

namespace ew {

namespace {

// SQLite's own result codes, as its driver gives them in the native error code.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteFull = 13;
constexpr int SqliteNotADatabase = 26;

// Another program (a second instance) writing: wait this long before calling it locked.
constexpr int BusyTimeoutMs = 2000;
constexpr int SchemaVersion = 1;
// A write comes every few seconds: a thousand hosts each lose their aged rows every two
// minutes, while a write stays small.
constexpr int HostsAgedPerWrite = 40;

const char* const Schema[] = {
    "CREATE TABLE IF NOT EXISTS hosts(id INTEGER PRIMARY KEY, key TEXT UNIQUE NOT NULL)",
    // rtt: microseconds, NULL for a lost attempt.
    "CREATE TABLE IF NOT EXISTS attempts(host INTEGER NOT NULL, t INTEGER NOT NULL, rtt INTEGER,"
    " PRIMARY KEY(host, t)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS minutes(host INTEGER NOT NULL, t INTEGER NOT NULL,"
    " n INTEGER NOT NULL, lost INTEGER NOT NULL, lo INTEGER, med INTEGER, hi INTEGER,"
    " PRIMARY KEY(host, t)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS hours(host INTEGER NOT NULL, t INTEGER NOT NULL,"
    " n INTEGER NOT NULL, lost INTEGER NOT NULL, lo INTEGER, med INTEGER, hi INTEGER,"
    " PRIMARY KEY(host, t)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS runs(start INTEGER PRIMARY KEY, end INTEGER NOT NULL)",
};

const char* table(Resolution resolution) {
    switch (resolution) {
    case Resolution::Attempts:
        return "attempts";
    case Resolution::Minutes:
        return "minutes";
    case Resolution::Hours:
        break;
    }
    return "hours";
}

qint64 floorTo(qint64 ms, qint64 step) {
    return ms - ((ms % step) + step) % step;
}

QVariant roundTrip(qint64 us) {
    return us == LostRoundTrip ? QVariant() : QVariant(us);
}

qint64 roundTrip(const QVariant& v) {
    return v.isNull() ? LostRoundTrip : v.toLongLong();
}

QString uniqueConnection() {
    static QAtomicInteger<int> next = 0;
    return QStringLiteral("ew-history-%1").arg(next.fetchAndAddRelaxed(1));
}

} // namespace

HistoryDb::HistoryDb(QString path) : path_(std::move(path)), connection_(uniqueConnection()) {}

HistoryDb::~HistoryDb() {
    closeFile();
}

QSqlQuery& HistoryDb::run(const QString& sql, std::initializer_list<QVariant> values) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        it = statements_.insert(sql, QSqlQuery(QSqlDatabase::database(connection_, false)));
        it->setForwardOnly(true);
        it->prepare(sql);
    }
    int i = 0;
    for (const QVariant& v : values)
        it->bindValue(i++, v);
    if (!it->exec())
        failed_ = it->lastError();
    return *it;
}

void HistoryDb::closeFile() {
    statements_.clear();
    if (!QSqlDatabase::contains(connection_))
        return;
    QSqlDatabase::database(connection_, false).close();
    QSqlDatabase::removeDatabase(connection_);
    open_ = false;
    hostIds_.clear();
    lastAt_.clear();
}

namespace {

HistoryDb::Trouble troubleOf(const QSqlError& e) {
    // The driver gives the extended code of the failing call; its low byte is the primary one.
    const int code = e.nativeErrorCode().toInt() & 0xff;
    switch (code) {
    case SqliteBusy:
    case SqliteLocked:
        return HistoryDb::Trouble::Locked;
    case SqliteCorrupt:
    case SqliteNotADatabase:
        return HistoryDb::Trouble::Damaged;
    case SqliteFull:
        return HistoryDb::Trouble::DiskFull;
    default:
        return HistoryDb::Trouble::Other;
    }
}

HistoryDb::Error failure(const QSqlQuery& q) {
    return {troubleOf(q.lastError()), q.lastError().text()};
}

} // namespace

HistoryDb::Error HistoryDb::lastError(const QString& what) const {
    const QSqlError e =
        failed_.isValid() ? failed_ : QSqlDatabase::database(connection_, false).lastError();
    return {troubleOf(e), what + QStringLiteral(": ") + e.text()};
}

HistoryDb::Error HistoryDb::openFile() {
    closeFile();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!db.open())
        return {troubleOf(db.lastError()), db.lastError().text()};
    QSqlQuery q(db);
    // A file that is not a database says so at its first statement.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
        !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")) ||
        !q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return failure(q);
    if (q.value(0).toInt() > SchemaVersion)
        return {Trouble::Damaged, QStringLiteral("written by a newer version")};
    for (const char* statement : Schema)
        if (!q.exec(QLatin1String(statement)))
            return failure(q);
    if (!q.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion)))
        return failure(q);
    open_ = true;
    return {};
}

std::optional<qint64> HistoryDb::hostId(const QString& key, bool make) {
    if (const auto it = hostIds_.constFind(key); it != hostIds_.constEnd())
        return *it;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT id FROM hosts WHERE key = ?"));
    q.addBindValue(key);
    if (q.exec() && q.next())
        return hostIds_.insert(key, q.value(0).toLongLong()).value();
    if (!make)
        return std::nullopt;
    q.prepare(QStringLiteral("INSERT INTO hosts(key) VALUES(?)"));
    q.addBindValue(key);
    if (!q.exec())
        return std::nullopt;
    return hostIds_.insert(key, q.lastInsertId().toLongLong()).value();
}

bool HistoryDb::refold(qint64 host, qint64 atMs) {
    const qint64 minute = floorTo(atMs, MinuteMs);
    QSqlQuery& attempts =
        run(QStringLiteral("SELECT rtt FROM attempts WHERE host = ? AND t >= ? AND t < ?"),
            {host, minute, minute + MinuteMs});
    if (!attempts.isActive())
        return false;
    std::vector<qint64> rtts;
    while (attempts.next())
        rtts.push_back(roundTrip(attempts.value(0)));
    attempts.finish();
    const auto store = [&](const QString& sql, const Row& r) {
        return run(sql, {host, r.atMs, r.count, r.losses, roundTrip(r.lowestUs),
                         roundTrip(r.medianUs), roundTrip(r.highestUs)})
            .isActive();
    };
    if (!store(QStringLiteral("INSERT OR REPLACE INTO minutes VALUES(?, ?, ?, ?, ?, ?, ?)"),
               foldRow(minute, std::move(rtts))))
        return false;
    const qint64 hour = floorTo(atMs, HourMs);
    QSqlQuery& minutes = run(QStringLiteral("SELECT n, lost, lo, med, hi FROM minutes"
                                            " WHERE host = ? AND t >= ? AND t < ?"),
                             {host, hour, hour + HourMs});
    if (!minutes.isActive())
        return false;
    std::vector<Row> rows;
    while (minutes.next())
        rows.push_back({0, minutes.value(0).toInt(), minutes.value(1).toInt(),
                        roundTrip(minutes.value(2)), roundTrip(minutes.value(3)),
                        roundTrip(minutes.value(4))});
    minutes.finish();
    return store(QStringLiteral("INSERT OR REPLACE INTO hours VALUES(?, ?, ?, ?, ?, ?, ?)"),
                 foldRows(hour, rows));
}

bool HistoryDb::dropAged(qint64 host, qint64 nowMs) {
    for (Resolution r : {Resolution::Attempts, Resolution::Minutes, Resolution::Hours})
        if (!run(QStringLiteral("DELETE FROM %1 WHERE host = ? AND t < ?")
                     .arg(QLatin1String(table(r))),
                 {host, nowMs - keptMs(r)})
                 .isActive())
            return false;
    return true;
}

HistoryDb::Error HistoryDb::write(const std::vector<Sample>& samples, bool newRun, qint64 nowMs) {
    failed_ = QSqlError();
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction())
        return {troubleOf(db.lastError()), db.lastError().text()};
    const auto fail = [&](Error e) {
        db.rollback();
        lastAt_.clear(); // what was rolled back was not written
        return e;
    };
    QSet<std::pair<qint64, qint64>> touched; // host, minute
    for (const Sample& s : samples) {
        const auto host = hostId(s.key, true);
        if (!host)
            return fail(lastError(QStringLiteral("host")));
        qint64& last = lastAt_[*host];
        const qint64 at = std::max(s.atMs, last + 1);
        last = at;
        QSqlQuery& insert = run(QStringLiteral("INSERT OR REPLACE INTO attempts VALUES(?, ?, ?)"),
                                {*host, at, roundTrip(s.roundTripUs)});
        if (!insert.isActive())
            return fail(failure(insert));
        touched.insert({*host, floorTo(at, MinuteMs)});
    }
    for (const auto& [host, minute] : std::as_const(touched))
        if (!refold(host, minute))
            return fail(lastError(QStringLiteral("fold")));
    // A few hosts in turn, whether written or not: an entry no longer pinged ages out too.
    QSqlQuery& sweep = run(QStringLiteral("SELECT id FROM hosts WHERE id > ? ORDER BY id LIMIT ?"),
                           {sweepAfter_, HostsAgedPerWrite});
    std::vector<qint64> aging;
    while (sweep.next())
        aging.push_back(sweep.value(0).toLongLong());
    sweep.finish();
    sweepAfter_ = aging.size() < static_cast<std::size_t>(HostsAgedPerWrite) ? 0 : aging.back();
    for (qint64 host : aging)
        if (!dropAged(host, nowMs))
            return fail(lastError(QStringLiteral("drop")));

    const qint64 start = samples.empty() ? nowMs : samples.front().atMs;
    QSqlQuery& stretch =
        newRun ? run(QStringLiteral("INSERT OR REPLACE INTO runs VALUES(?, ?)"), {start, nowMs})
               : run(QStringLiteral("UPDATE runs SET end = ?"
                                    " WHERE start = (SELECT MAX(start) FROM runs)"),
                     {nowMs});
    if (!stretch.isActive())
        return fail(failure(stretch));
    QSqlQuery& aged =
        run(QStringLiteral("DELETE FROM runs WHERE end < ?"), {nowMs - keptMs(Resolution::Hours)});
    if (!aged.isActive())
        return fail(failure(aged));
    if (!db.commit())
        return fail({troubleOf(db.lastError()), db.lastError().text()});
    return {};
}

std::vector<Row> HistoryDb::rows(const QString& key, Resolution resolution, qint64 fromMs,
                                 qint64 toMs) const {
    std::vector<Row> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    const bool attempts = resolution == Resolution::Attempts;
    q.prepare(QStringLiteral("SELECT t, %1 FROM %2 JOIN hosts ON hosts.id = host"
                             " WHERE hosts.key = ? AND t >= ? AND t <= ? ORDER BY t")
                  .arg(attempts ? QStringLiteral("rtt") : QStringLiteral("n, lost, lo, med, hi"),
                       QLatin1String(table(resolution))));
    q.addBindValue(key);
    q.addBindValue(fromMs);
    q.addBindValue(toMs);
    if (!q.exec())
        return out;
    while (q.next()) {
        if (attempts) {
            const qint64 rtt = roundTrip(q.value(1));
            out.push_back(
                {q.value(0).toLongLong(), 1, rtt == LostRoundTrip ? 1 : 0, rtt, rtt, rtt});
        } else {
            out.push_back({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toInt(),
                           roundTrip(q.value(3)), roundTrip(q.value(4)), roundTrip(q.value(5))});
        }
    }
    return out;
}

std::vector<Run> HistoryDb::runs(qint64 fromMs, qint64 toMs) const {
    std::vector<Run> out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(
        QStringLiteral("SELECT start, end FROM runs WHERE end >= ? AND start <= ? ORDER BY start"));
    q.addBindValue(fromMs);
    q.addBindValue(toMs);
    if (q.exec())
        while (q.next())
            out.push_back({q.value(0).toLongLong(), q.value(1).toLongLong()});
    return out;
}

QStringList HistoryDb::keys() const {
    QStringList out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (q.exec(QStringLiteral("SELECT key FROM hosts ORDER BY key")))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

} // namespace ew
