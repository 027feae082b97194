// The history file at its steady size, and what reading and writing it costs the window.
//
// A file of 100 and one of 1000 hosts pinged every second, with everything the store keeps at
// the end of 90 days: every attempt of the last two hours, a minute row of each host for a week,
// an hour row for 90 days. Days take no days here: the tables are made by the store's own code
// (HistoryDb::openFile), the rows older than the last minutes are put straight into them in the
// order the store writes them (time by time, every host at each time, so that the tables' pages
// split as they do in use), and the last minutes go through the store's own write, with its
// folding and its dropping of aged rows. Then, on the 1000-host file: opening one host's
// 24-hour and 90-day views as the window does (the query and the chart's series), and the main
// window's event latency while 1000 entries a second are written and folded, with one history
// window open and following them (probes as in bench_latency).

#include "BenchSupport.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "historyview/HistoryChart.h"
#include "historyview/HistoryWindow.h"

#include <QChart>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace ew;
using SteadyClock = std::chrono::steady_clock;

const QDateTime End(QDate(2026, 12, 9), QTime(0, 0), Qt::UTC);
constexpr double MiB = 1024.0 * 1024.0;
constexpr int WrittenSeconds = 120; // the last ones, through the store's own write
constexpr int ViewOpenings = 5;
constexpr int LatencyPasses = 20;
constexpr auto PostEvery = std::chrono::milliseconds(5);
constexpr int MaxPosts = 20000;

QString keyOf(int n) {
    return QStringLiteral("127.0.%1.%2").arg(n / 256).arg(n % 256);
}

double msSince(SteadyClock::time_point t) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool exec(QSqlQuery& q, const QString& sql) {
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(q.lastError().text()));
    return false;
}

// Rows of step stepMs from fromMs up to toMs for every host, a time at a time. A reply takes
// 1 to 21 ms, a minute or an hour's spread up to 55 ms more; one row in 50 has losses.
bool fill(QSqlDatabase& db, Resolution r, qint64 fromMs, qint64 toMs) {
    const qint64 step = r == Resolution::Attempts ? 1000 : stepMs(r);
    const int n = static_cast<int>(step / 1000);
    QSqlQuery q(db);
    const QString rtt = QStringLiteral("1000 + abs(random()) % 20000");
    const QString sql =
        r == Resolution::Attempts
            ? QStringLiteral("INSERT INTO attempts SELECT id, ? + id, CASE WHEN abs(random()) %"
                             " 100 = 0 THEN NULL ELSE %1 END FROM hosts ORDER BY id")
                  .arg(rtt)
            : QStringLiteral("INSERT INTO %1 SELECT id, ?, %2, lost, lo, lo + d1, lo + d1 + d2"
                             " FROM (SELECT id, CASE WHEN abs(random()) % 50 = 0 THEN 1 +"
                             " abs(random()) % %3 ELSE 0 END AS lost, %4 AS lo, abs(random()) %"
                             " 5000 AS d1, abs(random()) % 50000 AS d2 FROM hosts ORDER BY id)")
                  .arg(r == Resolution::Minutes ? QStringLiteral("minutes")
                                                : QStringLiteral("hours"))
                  .arg(n)
                  .arg(std::max(n - 1, 1))
                  .arg(rtt);
    if (!q.prepare(sql))
        return exec(q, sql);
    for (qint64 t = fromMs - ((fromMs % step) + step) % step; t < toMs; t += step) {
        q.bindValue(0, t);
        if (!q.exec())
            return exec(q, sql);
    }
    return true;
}

struct Made {
    qint64 bytes = 0;
    double makeSeconds = 0, writeMsPerPass = 0;
    qint64 attempts = 0, minutes = 0, hours = 0;
};

// The file of hosts hosts at End, at path.
std::optional<Made> makeHistory(const QString& path, int hosts) {
    Made made;
    const auto begin = SteadyClock::now();
    const qint64 end = End.toMSecsSinceEpoch(), written = end - WrittenSeconds * 1000;
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        HistoryDb store(path);
        if (store.openFile().trouble != HistoryDb::Trouble::None)
            return std::nullopt;
    }
    {
        // Put straight in by a connection of its own, without a journal: nothing here needs to
        // survive a crash, and the store's write ahead log would hold every row twice.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(path);
        QSqlQuery q(db);
        const bool ok =
            db.open() && exec(q, QStringLiteral("PRAGMA journal_mode=OFF")) &&
            exec(q, QStringLiteral("PRAGMA synchronous=OFF")) &&
            exec(q, QStringLiteral("PRAGMA cache_size=-131072")) && db.transaction() &&
            exec(q, QStringLiteral("WITH RECURSIVE i(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM"
                                   " i WHERE n < %1) INSERT INTO hosts(key) SELECT '127.0.' ||"
                                   " (n / 256) || '.' || (n % 256) FROM i")
                        .arg(hosts)) &&
            fill(db, Resolution::Hours, end - keptMs(Resolution::Hours), written) &&
            fill(db, Resolution::Minutes, end - keptMs(Resolution::Minutes), written) &&
            fill(db, Resolution::Attempts, end - keptMs(Resolution::Attempts), written) &&
            exec(q, QStringLiteral("INSERT INTO runs VALUES(%1, %2)")
                        .arg(end - keptMs(Resolution::Hours))
                        .arg(written)) &&
            db.commit() && exec(q, QStringLiteral("PRAGMA journal_mode=WAL"));
        db.close();
        if (!ok)
            return std::nullopt;
    }
    QSqlDatabase::removeDatabase("fill");
    // The last minutes as the store writes them: a pass a second, each host once, in the run
    // made above.
    HistoryDb store(path);
    if (store.openFile().trouble != HistoryDb::Trouble::None)
        return std::nullopt;
    const auto writing = SteadyClock::now();
    for (qint64 t = written; t < end; t += 1000) {
        std::vector<Sample> pass;
        for (int n = 1; n <= hosts; ++n)
            pass.push_back({keyOf(n), t + n - 1, n % 100 ? 1000 + (t / 1000 * 7 + n) % 20000 : -1});
        if (store.write(pass, false, t + hosts).trouble != HistoryDb::Trouble::None)
            return std::nullopt;
    }
    made.writeMsPerPass = msSince(writing) / WrittenSeconds;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "count");
        db.setDatabaseName(path);
        QSqlQuery c(db);
        if (!db.open() || !exec(c, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) ||
            !exec(c, QStringLiteral("SELECT (SELECT count(*) FROM attempts), (SELECT count(*)"
                                    " FROM minutes), (SELECT count(*) FROM hours)")) ||
            !c.next())
            return std::nullopt;
        made.attempts = c.value(0).toLongLong();
        made.minutes = c.value(1).toLongLong();
        made.hours = c.value(2).toLongLong();
    }
    QSqlDatabase::removeDatabase("count");
    store.closeFile();
    // The file and its companions, as they stand on the disk.
    for (const char* suffix : {"", "-wal", "-shm"})
        made.bytes += QFileInfo(path + QLatin1String(suffix)).size();
    made.makeSeconds = bench::secondsSince(begin);
    return made;
}

void sizeFigure(int hosts, const Made& m, double aimMiB) {
    std::printf("# %d hosts: %lld attempts, %lld minute rows, %lld hour rows; made in %.1f s,"
                " the store's write of a %d-host pass %.1f ms\n",
                hosts, static_cast<long long>(m.attempts), static_cast<long long>(m.minutes),
                static_cast<long long>(m.hours), m.makeSeconds, hosts, m.writeMsPerPass);
    const double mib = static_cast<double>(m.bytes) / MiB;
    bench::aim(bench::format("history file, %d hosts every second for 90 days", hosts),
               bench::format("%.1f MiB (%.1f bytes a row)", mib,
                             static_cast<double>(m.bytes) /
                                 static_cast<double>(m.attempts + m.minutes + m.hours)),
               bench::format("at most %.0f MiB", aimMiB), mib <= aimMiB, bench::Miss::Fails);
}

// Opening one host's view: a new window (its own connection, the 10-minute view first) set to
// the range, the query and the chart's series; the median of a few openings.
void viewFigures(const QString& path) {
    test::FakeClock clock;
    clock.set(End);
    HistoryStore store(clock, path);
    for (const auto& [range, aimMs] : {std::pair{2, 100.0}, std::pair{4, 300.0}}) {
        std::vector<double> ms;
        int series = 0;
        for (int i = 0; i < ViewOpenings; ++i) {
            const auto begin = SteadyClock::now();
            HistoryWindow window(keyOf(1 + i * 97), store, clock);
            window.setRange(range);
            ms.push_back(msSince(begin));
            series = static_cast<int>(window.chart().chart().series().size());
        }
        bench::aim(
            bench::format("opening one host's %s view (1000-host file)",
                          HistoryWindow::ranges()[range].name),
            bench::format("%.1f ms, median of %d (%d series)", median(ms), ViewOpenings, series),
            bench::format("at most %.0f ms", aimMs), median(ms) <= aimMs);
    }
}

const QEvent::Type Probe = static_cast<QEvent::Type>(QEvent::registerEventType());

struct ProbeEvent : QEvent {
    explicit ProbeEvent(SteadyClock::time_point t) : QEvent(Probe), posted(t) {}
    SteadyClock::time_point posted;
};

struct Receiver : QObject {
    std::vector<double> delaysMs;
    bool event(QEvent* e) override {
        if (e->type() != Probe)
            return QObject::event(e);
        delaysMs.push_back(msSince(static_cast<ProbeEvent*>(e)->posted));
        return true;
    }
};

// The main window, its store on the 1000-host file, a pass of 1000 entries every second (the
// fake echo answers at once) and the first entry's history window open.
bool latencyWhileWriting() {
    bench::BenchWindow w;
    w.fakes.store.put(keys::KeepHistory, QStringLiteral("True"));
    w.fakes.clock.set(End);
    w.fakes.clock.run();
    w.window.Form_Load();
    w.window.show();
    for (int n = 1; n <= 1000; ++n)
        w.window.ui().lstIPList->addItem(keyOf(n));
    w.window.ui().txtAttempts->setText(QStringLiteral("1"));
    w.window.historyWindows().show(keyOf(1));
    QCoreApplication::processEvents();

    Receiver receiver;
    std::atomic<bool> running{true};
    std::thread poster([&] {
        for (int i = 0; i < MaxPosts && running; ++i) {
            QCoreApplication::postEvent(&receiver, new ProbeEvent(SteadyClock::now()));
            std::this_thread::sleep_for(PostEvery);
        }
    });
    bool ok = true;
    const auto begin = SteadyClock::now();
    for (int i = 0; i < LatencyPasses && ok; ++i) {
        ok = w.pass(std::chrono::seconds(10));
        // The rest of the second in the event loop, as between two ticks.
        const QDeadlineTimer next(
            std::max<qint64>(0, 1000 * (i + 1) - static_cast<qint64>(msSince(begin))));
        QTimer wake;
        wake.start(static_cast<int>(next.remainingTime()));
        while (!next.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    running = false;
    poster.join();
    QCoreApplication::removePostedEvents(&receiver, Probe);
    w.window.history().sync();
    std::vector<double>& d = receiver.delaysMs;
    if (!ok || d.size() < 100) {
        std::fprintf(stderr, "a pass did not end, or too few probes (%zu)\n", d.size());
        return false;
    }
    std::sort(d.begin(), d.end());
    const double p99 = d[std::min(d.size() - 1, d.size() * 99 / 100)];
    std::printf("# %zu probes over %d passes of 1000 entries; median %.2f ms, max %.2f ms\n",
                d.size(), LatencyPasses, d[d.size() / 2], d.back());
    bench::aim("window event latency while the history writes and folds 1000 entries a second,"
               " p99",
               bench::format("%.2f ms", p99), "under 5 ms", p99 < 5.0);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    // The main window's store finds its file in the data folder: this one's.
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = true;
    const QString small = dir.filePath(QStringLiteral("small.sqlite"));
    if (const auto m = makeHistory(small, 100))
        sizeFigure(100, *m, 100);
    else
        ok = false;
    QFile::remove(small);
    const QString big = HistoryStore::defaultPath();
    if (const auto m = makeHistory(big, 1000)) {
        sizeFigure(1000, *m, 1024);
        viewFigures(big);
        ok = latencyWhileWriting() && ok;
    } else {
        ok = false;
    }
    if (!ok)
        std::fprintf(stderr, "a history file could not be made or written\n");
    return ok ? bench::exitStatus() : 1;
}
