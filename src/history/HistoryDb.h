#pragma once

#include "history/HistoryRows.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <optional>
#include <vector>

namespace ew {

// One connection to the history file. The writer thread holds one and each history window one
// of its own: the file is in WAL mode, so that reading never waits for a write.
//
// Kept like round-robin files: every attempt for two hours, a row per minute for a week and a
// row per hour for 90 days. A write recomputes the minute and hour rows its attempts fall in,
// so the coarser steps are always current, and drops what has aged out for a few hosts in
// turn, so that no write does much more than the last.
class HistoryDb {
public:
    // What went wrong, as far as the operator can do something about it.
    enum class Trouble { None, Locked, Damaged, DiskFull, Other };
    struct Error {
        Trouble trouble = Trouble::None;
        QString text;
    };

    explicit HistoryDb(QString path);
    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    const QString& path() const { return path_; }
    // Opens the file, making it and its tables when needed.
    Error openFile();
    bool isOpen() const { return open_; }
    void closeFile();

    // One pass's attempts in one transaction; newRun starts a stretch of monitoring at the
    // first of them, otherwise the last stretch is stretched to nowMs.
    Error write(const std::vector<Sample>& samples, bool newRun, qint64 nowMs);

    std::vector<Row> rows(const QString& key, Resolution resolution, qint64 fromMs,
                          qint64 toMs) const;
    std::vector<Run> runs(qint64 fromMs, qint64 toMs) const;
    QStringList keys() const;

private:
    Error lastError(const QString& what) const;
    std::optional<qint64> hostId(const QString& key, bool make);
    bool refold(qint64 host, qint64 atMs);
    bool dropAged(qint64 host, qint64 nowMs);
    // The statements a write runs for every host, prepared once per connection.
    QSqlQuery& run(const QString& sql, std::initializer_list<QVariant> values);

    QString path_;
    QString connection_;
    bool open_ = false;
    QHash<QString, qint64> hostIds_;
    QHash<QString, QSqlQuery> statements_;
    QSqlError failed_; // of the last statement that failed in this write
    // The last attempt time written per host: two attempts of one key (two entries of the same
    // text) that end in the same millisecond are kept a millisecond apart.
    QHash<qint64, qint64> lastAt_;
    qint64 sweepAfter_ = 0; // the last host whose aged rows a write dropped
};

} // namespace ew
