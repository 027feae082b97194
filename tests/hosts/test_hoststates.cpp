#include "historyview/HistoryWindow.h"
#include "hosts/HostWatch.h"
#include "hosts/SlowAbove.h"
#include "support/MainWindowFixture.h"

#include <QClipboard>

namespace ew::test {
namespace {

using namespace std::chrono_literals;

const QDateTime Start(QDate(2026, 12, 7), QTime(14, 3, 12));

// One attempt of entry id, s seconds after Start; a reply when rt is given.
Attempt at(std::uint64_t id, int s, std::optional<std::chrono::nanoseconds> rt = {}) {
    return {id, QStringLiteral("127.0.0.%1").arg(id), rt.has_value(), rt.value_or(0ns),
            Start.addSecs(s)};
}

// States after each attempt and the pass's notices. Outcomes: r a reply at the slow
// threshold, s just above it, f a failure; states: u up, d down, s slow, ? not yet known.
TEST(HostStates, StatesNoticesFiguresAndStatistics) {
    const struct {
        const char *outcomes, *states;
        std::vector<const char*> notices;
    } rules[] = {
        {"ffff", "??dd", {"127.0.0.5 is down: no reply since 14:03:12"}},
        {"ffrffrffr", "??uuuuuuu", {}}, // a first reply is no news; flapping below the threshold
        {"fffrfff",
         "??duuud",
         {"127.0.0.5 is down: no reply since 14:03:12", "127.0.0.5 answers again after 1 s down",
          "127.0.0.5 is down: no reply since 14:03:16"}},
        {"ssfss", "uuuuu", {}}, // a failure breaks the row
        // Flapping at the threshold: three in a row either way to change.
        {"sssrrsrrrfff",
         "uussssssuuud",
         {"127.0.0.5 is slow: 201 ms median over the last 3 replies",
          "127.0.0.5 is down: no reply since 14:03:21"}}};
    for (const auto& rule : rules) {
        SCOPED_TRACE(rule.outcomes);
        HostStates hosts;
        hosts.setSlowAboveMs(200);
        std::string states;
        for (int i = 0; rule.outcomes[i]; ++i) {
            const char o = rule.outcomes[i];
            hosts.record(
                at(5, i, o == 'f' ? std::nullopt : std::optional(o == 'r' ? 200ms : 201ms)));
            states += "?uds"[int(hosts.state(5))]; // Unknown, Up, Down, Slow
        }
        EXPECT_EQ(states, rule.states);
        std::vector<Notice> expected;
        for (const char* n : rule.notices)
            expected.push_back({n, QString()});
        EXPECT_EQ(hosts.takeNotices(), expected);
    }

    // The figures of the pop-up and of Copy Statistics; Ping resets them.
    HostStates hosts;
    for (const Attempt& a : {at(1, -700), at(1, 0, 46us), at(1, 1), at(1, 2, 1500us),
                             at(1, 3, 120us), at(2, 4), at(2, 5), at(2, 6), at(1, 7, 1234567ns)})
        hosts.record(a);
    const std::vector<HostStates::ListEntry> list{{2, "127.0.0.2"}, {1, "127.0.0.1"}, {0, "new"}};
    EXPECT_EQ(hosts.statisticsTsv(list),
              "Entry\tState\tAttempts\tReplies\tLoss %\tLoss 10 min %\tLast ms\tLowest ms\t"
              "Average ms\tHighest ms\tJitter ms\tState changed\n"
              "127.0.0.2\tdown\t3\t0\t100.0\t100.0\t\t\t\t\t\t2026-12-07 14:03:18\n"
              "127.0.0.1\tup\t6\t4\t33.3\t20.0\t1.235\t0.046\t0.725\t1.500\t1.316\t"
              "2026-12-07 14:03:12\n"
              "new\tnot yet known\t0\t0\t\t\t\t\t\t\t\t");
    EXPECT_EQ(hosts.figuresText(list[1]),
              "127.0.0.1: up since 14:03:12\nAttempts: 6, replies: 4, loss: 33.3 %\nLoss over the "
              "last 10 minutes: 20.0 %\nRound trip: last 1.235 ms, lowest 0.046 ms, average 0.725 "
              "ms, highest 1.500 ms\nJitter: 1.316 ms");
    hosts.reset(); // what follows counts from nothing
    // Many changes in a pass make one notice that names and counts them.
    hosts.setSlowAboveMs(1);
    for (std::uint64_t id = 1; id <= 5; ++id)
        for (int s = 0; s < 3; ++s)
            hosts.record(at(id, s, id == 5 ? std::optional(2ms) : std::nullopt));
    hosts.record(at(1, 252, 1ms));
    EXPECT_EQ(hosts.takeNotices(),
              std::vector<Notice>({{"6 hosts changed: 4 down, 1 up again, 1 slow",
                                    "127.0.0.1 is down: no reply since 14:03:12\n"
                                    "127.0.0.2 is down: no reply since 14:03:12\n"
                                    "127.0.0.3 is down: no reply since 14:03:12\n"
                                    "127.0.0.4 is down: no reply since 14:03:12\n"
                                    "127.0.0.5 is slow: 2 ms median over the last 3 replies\n"
                                    "127.0.0.1 answers again after 4 min 10 s down"}}));
    EXPECT_EQ(QStringList({HostStates::durationText(59), HostStates::durationText(3 * 3600 + 301),
                           HostStates::downSummary({"127.0.0.5", "fileserver"}, 12, 1)}),
              QStringList({"59 s", "3 h 5 min", "2 of 12 down, 1 slow: 127.0.0.5, fileserver"}));
}

// The window feeds the states from its passes: marks a screen reader reads, a notification
// per change at the pass's end while the menu item is checked, Copy Statistics, the threshold
// of the Slow Above box, and the history from the list's menu.
using HostWatchInWindow = PassTest;

TEST_F(HostWatchInWindow, PassesMarkTheEntriesNotifyCopyTheFiguresAndShowHistory) {
    addAddress(QStringLiteral("127.0.0.5"));
    setAttempts(3);
    fakes.echo.fail(3);
    QListWidgetItem& item = *ui().lstIPList->item(0);
    monitorControls().cmdStartPing_Click(); // the first pass runs at once
    settle();
    const auto marked = [&](const char* text) {
        return QTest::qWaitFor([&] { return item.data(Qt::AccessibleTextRole) == text; }, 2000);
    };
    EXPECT_TRUE(marked("127.0.0.5, down"));
    ASSERT_EQ(fakes.notifier.notices.size(), 1u);
    EXPECT_EQ(fakes.notifier.notices[0].summary,
              "127.0.0.5 is down: no reply since " + fakes.clock.now().toString("HH:mm:ss"));
    ui().mnuNotify->trigger();
    fakes.clock.advanceSecs(30);
    pass();
    EXPECT_TRUE(marked("127.0.0.5, up"));
    EXPECT_EQ(fakes.notifier.notices.size(), 1u);
    ui().cmdStopPing->click();
    EXPECT_FALSE(item.data(Qt::AccessibleTextRole).isValid());

    ui().mnuSlowAbove->trigger();
    auto* box = window->findChild<QInputDialog*>("frmSlowAbove");
    ASSERT_TRUE(box && box->isVisible());
    box->setIntValue(150);
    box->accept();
    EXPECT_EQ(ui().mnuSlowAbove->text(), "Slow above 150 ms...");
    fakes.echo.reply(151, 3);
    ui().cmdStartPing->click(); // a new run counts from nothing
    settle();
    EXPECT_TRUE(marked("127.0.0.5, slow"));
    window->hostWatch().listMenu()->actions().at(0)->trigger(); // Copy Statistics
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("\n127.0.0.5\tslow\t3\t3\t"));
    ui().lstIPList->setCurrentItem(&item);
    window->hostWatch().listMenu()->actions().at(1)->trigger(); // Show History...
    EXPECT_TRUE(window->historyWindows().find("127.0.0.5")->isVisible());
}

} // namespace
} // namespace ew::test
