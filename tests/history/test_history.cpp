#include "history/HistoryCsv.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "historyview/HistoryChart.h"
#include "historyview/HistoryWindow.h"
#include "support/Fakes.h"

#include <QChart>
#include <QFile>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace ew::test {
namespace {

using std::chrono::microseconds;
using ::testing::ElementsAre;

struct HistoryTest : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("h/history.sqlite"));
    FakeClock clock;
    const QDateTime start{QDate(2026, 12, 7), QTime(10, 0), Qt::UTC};

    // One pass a step of stepS seconds; rtt 0 is a loss.
    void passes(HistoryStore& store, std::initializer_list<int> rttsMs, int stepS = 10) {
        for (int ms : rttsMs) {
            store.add(QStringLiteral("127.0.0.5"), clock.now(), ms > 0, microseconds(ms * 1000));
            store.passEnded();
            clock.advanceSecs(stepS);
        }
        store.sync();
    }
    std::vector<Row> read(Resolution r, qint64 from = 0) {
        HistoryDb db(path);
        EXPECT_EQ(db.openFile().trouble, HistoryDb::Trouble::None);
        return db.rows(QStringLiteral("127.0.0.5"), r, from, std::numeric_limits<qint64>::max());
    }
    qint64 at(int minutes) const { return start.addSecs(minutes * 60).toMSecsSinceEpoch(); }
};

TEST_F(HistoryTest, AttemptsFoldIntoMinutesAndHoursAndAgeOut) {
    clock.set(start);
    HistoryStore store(clock, path);
    // Minute 0: 6 attempts, one lost; minute 1: an even count of replies.
    passes(store, {30, 10, 0, 20, 50, 40, 5, 7, 0, 0, 0, 0});
    EXPECT_THAT(read(Resolution::Minutes), ElementsAre(Row{at(0), 6, 1, 10000, 30000, 50000},
                                                       Row{at(1), 6, 4, 5000, 6000, 7000}));
    EXPECT_THAT(read(Resolution::Hours), ElementsAre(Row{at(0), 12, 5, 5000, 18000, 50000}));
    EXPECT_EQ(read(Resolution::Attempts).size(), 12u);
    EXPECT_THAT(
        historyCsvRows(QStringLiteral("a,\"b\""), {read(Resolution::Minutes)[1]}),
        QStringLiteral("\"a,\"\"b\"\"\",2026-12-07T10:01:00.000Z,6,4,5.000,6.000,7.000\r\n"));

    // Past two hours the attempts go; past a week the minutes; past 90 days the hours.
    clock.set(start.addSecs(2 * 3600 + 120));
    passes(store, {1});
    EXPECT_EQ(read(Resolution::Attempts).size(), 1u);
    EXPECT_EQ(read(Resolution::Minutes).size(), 3u);
    clock.set(start.addDays(7).addSecs(90));
    passes(store, {1});
    EXPECT_EQ(read(Resolution::Minutes).size(), 2u);
    // The 24-hour view reads only its day from the minutes.
    EXPECT_TRUE(read(Resolution::Minutes, clock.now().addDays(-1).toMSecsSinceEpoch()).size() == 1);
    EXPECT_EQ(read(Resolution::Hours).size(), 3u);
    clock.set(start.addDays(90).addSecs(3 * 3600));
    passes(store, {1});
    EXPECT_EQ(read(Resolution::Hours).size(), 2u);
}

TEST_F(HistoryTest, DamagedFileIsKeptAsideAndANewOneBegun) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(8192, 'x')) == 8192);
    junk.close();
    clock.set(start);
    HistoryStore store(clock, path);
    QSignalSpy trouble(&store, &HistoryStore::trouble);
    passes(store, {10, 20});
    ASSERT_TRUE(trouble.wait(2000) || trouble.size() == 1);
    EXPECT_THAT(trouble.at(0).at(0).toString().toStdString(),
                ::testing::MatchesRegex(".*history file .*history.sqlite was damaged.*kept as "
                                        ".*history.sqlite.damaged-.*new history was begun."));
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath())
                  .entryList({QStringLiteral("history.sqlite.damaged-*")})
                  .size(),
              1);
    EXPECT_EQ(read(Resolution::Attempts).size(), 2u);
}

TEST_F(HistoryTest, LockedFileIsSaidOnceAndItsAttemptsWaitForIt) {
    clock.set(start);
    HistoryStore store(clock, path);
    passes(store, {10});
    QSignalSpy trouble(&store, &HistoryStore::trouble);
    {
        // Another program holds the file for writing.
        auto other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(path);
        ASSERT_TRUE(other.open());
        QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE"));
        passes(store, {20, 30});
        QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    passes(store, {40});
    QCoreApplication::processEvents();
    ASSERT_EQ(trouble.size(), 1);
    EXPECT_THAT(trouble.at(0).at(0).toString().toStdString(),
                ::testing::HasSubstr("is held by another program"));
    EXPECT_EQ(read(Resolution::Attempts).size(), 4u);
}

// A scripted history as the window draws it, read from the chart's series.
TEST_F(HistoryTest, WindowDrawsMedianLossAndDownFromTheFileAndExportsWhatItShows) {
    clock.set(start);
    {
        HistoryStore store(clock, path);
        passes(store, {10, 12, 10, 12, 0, 0, 10, 14}, 30); // 10:00 to 10:03, 10:02 lost
    }
    clock.set(start.addSecs(20 * 60)); // the program was not running
    HistoryStore store(clock, path);
    passes(store, {0, 0, 0, 20}, 30); // down from 10:20 to the reply at 10:21:30
    HistoryWindow window(QStringLiteral("127.0.0.5"), store, clock);
    window.setRange(2); // 24 hours, from the minutes
    std::vector<std::vector<QPointF>> medians;
    std::map<QString, int> points;
    for (QAbstractSeries* s : window.chart().chart().series()) {
        if (auto* line = qobject_cast<QLineSeries*>(s); line && s->name() == "median") {
            const QList<QPointF> p = line->points();
            medians.emplace_back(p.begin(), p.end());
        } else if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            points[s->name()] += scatter->count();
        else
            points[s->name()] += 1;
    }
    const auto pt = [&](int minute, double ms) { return QPointF(double(at(minute)), ms); };
    EXPECT_THAT(medians, ElementsAre(ElementsAre(pt(0, 11), pt(1, 11)), ElementsAre(pt(3, 12)),
                                     ElementsAre(pt(21, 20)))); // a lost minute breaks the line
    EXPECT_EQ(points, (std::map<QString, int>{{"all lost", 2},
                                              {"down", 2},
                                              {"lowest to highest", 3},
                                              {"most lost", 0},
                                              {"some lost", 1}}));
    // In the attempts, down takes three lost in a row and lasts to the next reply.
    EXPECT_THAT(downSpans(read(Resolution::Attempts), Resolution::Attempts),
                ElementsAre(Span{at(20), at(20) + 90000}));
    EXPECT_EQ(window.chart().figuresAt(at(1)),
              QDateTime::fromMSecsSinceEpoch(at(1)).toString("yyyy-MM-dd HH:mm:ss") +
                  "  0 of 2 lost\nmedian 11.000 ms, lowest 10.000 ms, highest 12.000 ms");
    const QString csv = dir.filePath(QStringLiteral("all.csv"));
    ASSERT_TRUE(window.exportTo(csv, true));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(f.readAll()).section(QStringLiteral("\r\n"), 0, 2),
              "Entry,Time,Attempts,Lost,Lowest ms,Median ms,Highest ms\r\n"
              "127.0.0.5,2026-12-07T10:00:00.000Z,2,0,10.000,11.000,12.000\r\n"
              "127.0.0.5,2026-12-07T10:01:00.000Z,2,0,10.000,11.000,12.000");
}

} // namespace
} // namespace ew::test
