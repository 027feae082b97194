#include "history/HistoryStore.h"

#include "history/HistoryDb.h"
#include "platform/Clock.h"
#include "platform/SystemDirs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QStandardPaths>
#include <utility>

namespace ew {

namespace {

const QString Folder = QStringLiteral("8R1/EchoWarden");
const QString FileName = QStringLiteral("history.sqlite");
const QString DamagedSuffix = QStringLiteral(".damaged-");
// SQLite's companions of the file: a new history must not pick up a damaged one's journal.
const QStringList Companions{QStringLiteral("-wal"), QStringLiteral("-shm")};

// Attempts that wait for a locked or full file: an hour of 100 hosts a second, some 3 MB.
constexpr std::size_t MaxBacklog = 360000;

const QString LockedText = QStringLiteral(
    "The history file %1 is held by another program (%2). Monitoring goes on; its attempts "
    "are written once the file is free.");
const QString DamagedText = QStringLiteral(
    "The history file %1 was damaged (%2). It was kept as %3 and a new history was begun.");
const QString DamagedNotKeptText = QStringLiteral(
    "The history file %1 is damaged (%2) and could not be moved aside. Monitoring goes on "
    "without a history.");
const QString FullText = QStringLiteral(
    "The history could not be written to %1: the disk is full. Monitoring goes on; its attempts "
    "are written once there is room.");
const QString OtherText = QStringLiteral(
    "The history could not be written to %1 (%2). Monitoring goes on without a history.");

} // namespace

QString HistoryStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + '/' + Folder +
           '/' + FileName;
}

HistoryStore::HistoryStore(Clock& clock, QString path, QObject* parent)
    : QObject(parent), clock_(clock), path_(std::move(path)) {
    handOverLater_.setSingleShot(true);
    connect(&handOverLater_, &QTimer::timeout, this, &HistoryStore::handOver);
    writer_ = std::thread([this] { work(); });
}

HistoryStore::~HistoryStore() {
    passEnded(); // a pass cut short by Exit keeps what it did
    handOver();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void HistoryStore::add(const QString& key, const QDateTime& endedAt, bool reply,
                       std::chrono::nanoseconds roundTrip) {
    if (!enabled_)
        return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(roundTrip).count();
    batch_.push_back({key, endedAt.toMSecsSinceEpoch(), reply ? us : LostRoundTrip});
}

void HistoryStore::monitoringStarted() {
    handOver(); // the last run's attempts are not the new run's
    newRun_ = true;
}

void HistoryStore::passEnded() {
    if (batch_.empty())
        return;
    if (waiting_.empty())
        waiting_ = std::exchange(batch_, {});
    else
        waiting_.insert(waiting_.end(), std::make_move_iterator(batch_.begin()),
                        std::make_move_iterator(batch_.end()));
    batch_.clear();
    const qint64 now = clock_.now().toMSecsSinceEpoch();
    const qint64 wait = isSignalConnected(QMetaMethod::fromSignal(&HistoryStore::written))
                            ? HandOverMs
                            : HandOverUnwatchedMs;
    // A clock set back hands over at once rather than after the time it went back.
    if (waiting_.size() >= HandOverCount || now - handedOverMs_ >= wait || now < handedOverMs_)
        handOver();
    else if (!handOverLater_.isActive()) // while passes come, the next one hands over first
        handOverLater_.start(static_cast<int>(wait));
}

void HistoryStore::handOver() {
    handOverLater_.stop();
    if (waiting_.empty())
        return;
    const qint64 now = clock_.now().toMSecsSinceEpoch();
    handedOverMs_ = now;
    post([this, samples = std::exchange(waiting_, {}), newRun = std::exchange(newRun_, false),
          now](HistoryDb& db) mutable { writeBatch(db, std::move(samples), newRun, now); });
}

void HistoryStore::sync() {
    handOver();
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void HistoryStore::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void HistoryStore::work() {
    HistoryDb db(path_);
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            busy_ = false;
            idle_.notify_all();
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        job(db);
    }
}

void HistoryStore::report(const QString& text) {
    QMetaObject::invokeMethod(this, [this, text] {
        if (!std::exchange(troubleSaid_, true))
            Q_EMIT trouble(text);
    });
}

bool HistoryStore::keepAside(HistoryDb& db, const QString& why) {
    db.closeFile();
    const QString aside = moveAside(path_, DamagedSuffix);
    if (aside.isEmpty()) {
        givenUp_ = true;
        backlog_.clear();
        report(DamagedNotKeptText.arg(path_, why));
        return false;
    }
    for (const QString& c : Companions)
        QFile::remove(path_ + c);
    report(DamagedText.arg(path_, why, aside));
    return true;
}

bool HistoryStore::ensureOpen(HistoryDb& db) {
    if (db.isOpen())
        return true;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    HistoryDb::Error e = db.openFile();
    if (e.trouble == HistoryDb::Trouble::Damaged) {
        if (!keepAside(db, e.text))
            return false;
        e = db.openFile();
    }
    if (e.trouble == HistoryDb::Trouble::None)
        return true;
    db.closeFile();
    switch (e.trouble) {
    case HistoryDb::Trouble::Locked:
        report(LockedText.arg(path_, e.text));
        break;
    case HistoryDb::Trouble::DiskFull:
        report(FullText.arg(path_));
        break;
    default:
        givenUp_ = true;
        report(OtherText.arg(path_, e.text));
    }
    return false;
}

void HistoryStore::writeBatch(HistoryDb& db, std::vector<Sample> samples, bool newRun,
                              qint64 nowMs) {
    if (givenUp_)
        return;
    backlog_.insert(backlog_.end(), std::make_move_iterator(samples.begin()),
                    std::make_move_iterator(samples.end()));
    backlogNewRun_ = backlogNewRun_ || newRun;
    if (backlog_.size() > MaxBacklog)
        backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(
                                                                backlog_.size() - MaxBacklog));
    if (!ensureOpen(db))
        return;
    HistoryDb::Error e = db.write(backlog_, backlogNewRun_, nowMs);
    if (e.trouble == HistoryDb::Trouble::Damaged) {
        // Found damaged while writing: set aside and begun anew, as at opening.
        if (!keepAside(db, e.text) || !ensureOpen(db))
            return;
        e = db.write(backlog_, true, nowMs);
    }
    switch (e.trouble) {
    case HistoryDb::Trouble::None: {
        QStringList keys;
        for (const Sample& s : backlog_)
            if (keys.isEmpty() || keys.constLast() != s.key)
                keys << s.key;
        keys.removeDuplicates();
        backlog_.clear();
        backlogNewRun_ = false;
        QMetaObject::invokeMethod(this, [this, keys] { Q_EMIT written(keys); });
        return;
    }
    case HistoryDb::Trouble::Locked:
        report(LockedText.arg(path_, e.text));
        return;
    case HistoryDb::Trouble::DiskFull:
        report(FullText.arg(path_));
        return;
    default:
        givenUp_ = true;
        backlog_.clear();
        report(OtherText.arg(path_, e.text));
    }
}

} // namespace ew
