#pragma once

#include "history/HistoryRows.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QDateTime;

namespace ew {

class Clock;
class HistoryDb;

// Keeps every attempt the monitor reports in the history file. The pass stays on the window's
// thread; the file is written by a thread of its own with its own connection, so that a slow
// disk never holds the window. Whole passes are handed over together, every few seconds while a
// history window follows them and every half minute while none does (or at once when many
// attempts wait, and at Stop and exit), and written in one transaction: a transaction and its
// folding cost about as much for one pass as for thirty. Nothing the file does
// stops the monitor: a second program holding it, a damaged file or a full disk is said once
// (trouble), a damaged file is kept aside and a new one begun, and attempts that could not be
// written wait (up to a bound) for the next pass.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    // $XDG_DATA_HOME/8R1/EchoWarden/history.sqlite
    static QString defaultPath();

    HistoryStore(Clock& clock, QString path, QObject* parent = nullptr);
    ~HistoryStore() override;

    const QString& path() const { return path_; }
    void setEnabled(bool keep) {
        enabled_ = keep;
        if (!keep)
            handOver();
    }
    bool enabled() const { return enabled_; }

    // Attempts wait this long at most before they are handed to the writer, or until this many
    // wait: briefly while a history window follows them, longer while none does (each
    // transaction folds its minutes again, the most of what keeping a history costs).
    static constexpr qint64 HandOverMs = 5000;
    static constexpr qint64 HandOverUnwatchedMs = 30000;
    static constexpr std::size_t HandOverCount = 500;

    void monitoringStarted();
    void add(const QString& key, const QDateTime& endedAt, bool reply,
             std::chrono::nanoseconds roundTrip);
    // Ends the pass's attempts; they are handed to the writer with the passes before them when
    // it is time.
    void passEnded();
    // Hands every ended pass to the writer now (at Stop, and before the program ends).
    void handOver();
    // Returns once everything ended is written (or failed).
    void sync();

Q_SIGNALS:
    // What went wrong with the file and where it is, in words for the operator; once a run.
    void trouble(const QString& text);
    // The entries whose attempts were just written.
    void written(const QStringList& keys);

private:
    using Job = std::function<void(HistoryDb&)>;
    void post(Job job);
    void work();
    // On the writer's thread.
    void writeBatch(HistoryDb& db, std::vector<Sample> samples, bool newRun, qint64 nowMs);
    bool ensureOpen(HistoryDb& db);
    bool keepAside(HistoryDb& db, const QString& why);
    void report(const QString& text);

    Clock& clock_;
    QString path_;
    bool enabled_ = true;
    bool newRun_ = true;
    bool troubleSaid_ = false;
    std::vector<Sample> batch_;   // the running pass's
    std::vector<Sample> waiting_; // ended passes, not yet handed over
    qint64 handedOverMs_ = 0;
    QTimer handOverLater_; // for the last passes before a pause (resting hours)

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    // The writer's own: attempts that wait for the file, and whether it gave up on it.
    std::vector<Sample> backlog_;
    bool backlogNewRun_ = false;
    bool givenUp_ = false;
    std::thread writer_;
};

} // namespace ew
