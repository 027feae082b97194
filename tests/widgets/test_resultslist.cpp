#include "support/MainWindowFixture.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QScrollBar>

namespace ew::test {
namespace {

class ResultsListTest : public PassTest {
protected:
    ResultsList& list() { return *ui().lstPingResults; }
    void fill(int n) {
        window->show(); // the viewport gets its size (and rows per page) when shown
        for (int i = 0; i < n; ++i)
            list().addLine(QString::number(i));
    }
    bool inView(int row) { return list().viewport()->rect().contains(list().visualRect(row)); }
    void menu(const char* item) {
        list().contextMenu()->findChild<QAction*>(QString::fromLatin1(item))->trigger();
        list().contextMenu()->hide();
    }
    const QString reply = replyText(at(10, 0, 0), QStringLiteral("127.0.0.1"), 1);
};

// Also after the operator scrolled back, and when a long line brings in the horizontal scroll
// bar under the newest line. Screen readers see one item per line and the selected one. Keys
// and clicks move the selection and keep it in view.
TEST_F(ResultsListTest, ThePassSelectsTheNewestLineAndKeysAndClicksKeepTheSelectionInView) {
    fill(200);
    list().setCurrentRow(3);
    addAddress(QStringLiteral("127.0.0.1"));
    addAddress(QString(300, QLatin1Char('h')));
    pass();
    // Lines are measured as they are drawn; the scroll bars come on a queued layout.
    EXPECT_TRUE(QTest::qWaitFor([&] { return list().horizontalScrollBar()->maximum() > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(list().currentRow(), 201);
    EXPECT_TRUE(inView(201)) << "top row " << list().topRow();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&list());
    EXPECT_EQ(a->childCount(), 202);
    EXPECT_TRUE(a->child(201)->state().selected && !a->child(200)->state().selected);
    EXPECT_EQ(a->child(200)->text(QAccessible::Name), reply);

    const int page = list().viewport()->height() / list().rowHeight();
    const std::tuple<Qt::Key, int, int> rows[] = {
        {Qt::Key_Down, 5, 6},         {Qt::Key_Up, 5, 4},
        {Qt::Key_Up, 0, 0},           {Qt::Key_Down, 201, 201},
        {Qt::Key_Home, 201, 0},       {Qt::Key_End, 0, 201},
        {Qt::Key_PageUp, 2, 0},       {Qt::Key_PageUp, 60, 60 - page},
        {Qt::Key_PageDown, 199, 201}, {Qt::Key_PageDown, 5, 5 + page}};
    for (const auto& [key, from, to] : rows) {
        list().setCurrentRow(from);
        QTest::keyClick(&list(), key);
        EXPECT_EQ(list().currentRow(), to) << "key " << key << " from " << from;
        EXPECT_TRUE(inView(to)) << to;
    }
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {},
                      list().visualRect(list().topRow() + 1).center());
    EXPECT_EQ(list().currentRow(), list().topRow() + 1);

    // After a quiet pace a line shows at once; one within a pace of it waits for the pace, or
    // for the operator's next key.
    for (int quiet = 0; quiet < 2; ++quiet) { // the lines drawn, then a pace without news
        list().topRow();
        QTest::qWait(ResultsList::PaceMs);
    }
    QScrollBar* bar = list().verticalScrollBar();
    const int shown = bar->maximum();
    const auto add = [&] {
        list().addLine(reply);
        QCoreApplication::processEvents();
        return bar->maximum();
    };
    EXPECT_EQ(add(), shown + 1);
    EXPECT_EQ(add(), shown + 1);
    QTest::keyClick(&list(), Qt::Key_Up);
    EXPECT_EQ(bar->maximum(), shown + 2);
    EXPECT_EQ(add(), shown + 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar->maximum() == shown + 3; }, 2000));
}

// Character 26, drawn as an arrow, is copied and saved as it is; saved lines end in CR LF. A
// notice shows over the lines and reaches screen readers, but is no line. The tester checks
// every change of the lines against the rules of models.
TEST_F(ResultsListTest, CopiesAndSavesHoldTheLinesExactly) {
    fill(0);
    QAbstractItemModelTester tester(&list().model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QImage plain = list().viewport()->grab().toImage();
    list().setNotice(QStringLiteral("Nothing to ping."));
    EXPECT_NE(list().viewport()->grab().toImage(), plain);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&list())->text(QAccessible::Description),
              QStringLiteral("Nothing to ping."));
    list().addLine(reply);
    list().addLine(QStringLiteral("second"));
    list().setCurrentRow(0);
    // The key, the item of the menu it opened, what the clipboard then holds.
    const std::tuple<QKeyCombination, const char*, QString> copies[] = {
        {Qt::CTRL | Qt::Key_C, nullptr, reply},
        {Qt::Key_Menu, "mnuResultsCopy", reply},
        {Qt::SHIFT | Qt::Key_F10, "mnuResultsCopyAll", reply + QStringLiteral("\nsecond")}};
    for (const auto& [key, item, expected] : copies) {
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&list(), key.key(), key.keyboardModifiers());
        EXPECT_EQ(list().contextMenu()->isVisible(), item != nullptr);
        if (item)
            menu(item);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), expected.toStdString());
    }
    const QString path = logDir.filePath(QStringLiteral("saved.txt"));
    for (const QString& answer : {QString(), logDir.filePath(QStringLiteral("no/dir")), path}) {
        list().setSaveFileNameAsker([&](QWidget*) { return answer; });
        menu("mnuResultsSaveAs");
    }
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), reply.toLatin1() + "\r\nsecond\r\n");
    ASSERT_EQ(fakes.messages.shown.size(), 1u) << "a cancelled save says nothing";
    EXPECT_TRUE(fakes.messages.shown[0].text.contains(QStringLiteral("no/dir")));
}

} // namespace
} // namespace ew::test
