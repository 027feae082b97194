#include "support/MainWindowFixture.h"
#include "widgets/RowScrollBar.h"

#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWindow>

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

// Also after the operator scrolled back, and when a wide line brings in the horizontal scroll
// bar under the newest line. Screen readers see one item per line and the selected one.
TEST_F(ResultsListTest, ThePassSelectsTheNewestLineAndScrollsItIntoView) {
    fill(200);
    list().setCurrentRow(3);
    addAddress(QStringLiteral("127.0.0.1"));
    addAddress(QString(300, QLatin1Char('h')));
    pass();
    QCoreApplication::processEvents(); // the scroll bars come and go on a queued layout
    EXPECT_TRUE(inView(list().currentRow())) << "top row " << list().topRow();
    EXPECT_GE(list().horizontalScrollBar()->maximum() + list().viewport()->width(),
              list().contentWidth());
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&list());
    ASSERT_EQ(a->role(), QAccessible::List);
    EXPECT_EQ(a->tableInterface()->rowCount(), 202);
    EXPECT_EQ(a->tableInterface()->selectedRows(), QList<int>{201});
    EXPECT_EQ(a->child(201)->role(), QAccessible::ListItem);
    EXPECT_TRUE(a->child(201)->state().selected && !a->child(200)->state().selected);
    EXPECT_EQ(a->child(200)->text(QAccessible::Name), reply);
}

// A line that comes within a quarter of a second of the last that showed waits for the pace's
// timer, or for the operator's next key, which shows it at once.
TEST_F(ResultsListTest, LinesFasterThanThePaceShowTogetherLater) {
    fill(100);
    QCoreApplication::processEvents();
    QTest::qWait(PaintPace::PaceMs);
    QScrollBar* bar = list().verticalScrollBar();
    list().addLine(reply); // the last line that showed is a pace ago: shows at once
    list().setCurrentRow(100);
    QCoreApplication::processEvents();
    const int top = bar->value();
    EXPECT_GT(top, 0);
    for (int waited = 0; waited < 2; ++waited) {
        list().addLine(reply);
        list().setCurrentRow(list().count() - 1);
        QCoreApplication::processEvents();
        EXPECT_EQ(bar->value(), top + waited);
        if (!waited) {
            for (int ms = 0; ms < 2000 && bar->value() == top; ms += 10)
                QTest::qWait(10);
            EXPECT_EQ(bar->value(), top + 1);
        }
    }
    QTest::keyClick(&list(), Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->maximum(), top + 2);
    EXPECT_EQ(list().currentRow(), 101);
}

TEST_F(ResultsListTest, KeysMoveTheSelectionAndKeepItInView) {
    fill(100);
    const int page = list().viewport()->height() / list().rowHeight();
    const struct {
        Qt::Key key;
        int from, to;
    } rows[] = {{Qt::Key_Down, 5, 6},       {Qt::Key_Up, 5, 4},
                {Qt::Key_Up, 0, 0},         {Qt::Key_Down, 99, 99},
                {Qt::Key_Home, 99, 0},      {Qt::Key_End, 0, 99},
                {Qt::Key_PageUp, 2, 0},     {Qt::Key_PageUp, 60, 60 - page},
                {Qt::Key_PageDown, 97, 99}, {Qt::Key_PageDown, 5, 5 + page}};
    for (const auto& row : rows) {
        list().setCurrentRow(row.from);
        QTest::keyClick(&list(), row.key);
        EXPECT_EQ(list().currentRow(), row.to) << "key " << row.key << " from " << row.from;
        EXPECT_TRUE(inView(row.to)) << row.to;
    }
}

// Character 26, drawn as an arrow, is copied and saved as it is; saved lines end in CR LF.
TEST_F(ResultsListTest, CopyCopyAllAndSaveAsKeepTheLinesExactly) {
    list().addLine(reply);
    list().addLine(QStringLiteral("second"));
    list().setCurrentRow(0);
    const struct {
        QKeyCombination key;
        const char* item; // of the menu the key opened
        QString expected;
    } copies[] = {
        {Qt::CTRL | Qt::Key_C, nullptr, reply},
        {Qt::Key_Menu, "mnuResultsCopy", reply},
        {Qt::SHIFT | Qt::Key_F10, "mnuResultsCopyAll", reply + QStringLiteral("\nsecond")}};
    for (const auto& copy : copies) {
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&list(), copy.key.key(), copy.key.keyboardModifiers());
        EXPECT_EQ(list().contextMenu()->isVisible(), copy.item != nullptr);
        if (copy.item)
            menu(copy.item);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), copy.expected.toStdString());
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

// The notice shows over the lines and reaches screen readers, but copies and saves hold only
// the lines; clearing it brings back the plain list.
TEST_F(ResultsListTest, ANoticeIsShownButIsNoLine) {
    fill(3);
    const QImage plain = list().viewport()->grab().toImage();
    const QString notice = QStringLiteral("Nothing to ping: the address list is empty.");
    list().setNotice(notice);
    EXPECT_EQ(list().notice(), notice);
    EXPECT_NE(list().viewport()->grab().toImage(), plain);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&list())->text(QAccessible::Description),
              notice);
    list().addLine(QStringLiteral("3"));
    EXPECT_EQ(list().lines(), QStringList({"0", "1", "2", "3"}));
    list().copyAll();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("0\n1\n2\n3"));
    const QString path = logDir.filePath(QStringLiteral("saved.txt"));
    ASSERT_TRUE(list().saveTo(path));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "0\r\n1\r\n2\r\n3\r\n");
    list().truncate(3);
    list().setNotice(QString());
    EXPECT_EQ(list().viewport()->grab().toImage(), plain);
}

// The list repaints only what changed: the rows that came or lost the selection, the strip a
// scroll uncovered, the strip the slider left or took. After every line what is on screen is
// what a full repaint draws, while the slider shrinks, once it is as short as it gets, and
// after the operator scrolled back; the slider that lines alone shorten shows within its pace.
TEST_F(ResultsListTest, WhatEachLineRepaintsLeavesWhatAFullRepaintDraws) {
    window->show();
    QWindow* shown = window->windowHandle();
    const QRect area(list().mapTo(window.get(), QPoint()), list().size());
    const auto rows = [&] {
        return QRect(list().viewport()->mapTo(window.get(), QPoint()), list().viewport()->size());
    };
    const auto sameAsFull = [&](const QRect& part) {
        const QImage onScreen = shown->screen()->grabWindow(shown->winId()).toImage();
        return onScreen.copy(part).convertToFormat(QImage::Format_RGB32) ==
               window->grab().toImage().copy(part).convertToFormat(QImage::Format_RGB32);
    };
    for (int i = 0; i < 80; i += 2) {
        list().addLine(reply);
        list().addLine(QStringLiteral("X 10:00:%1 Ping to  silent%2  F A I L E D")
                           .arg(i % 60, 2, 10, QLatin1Char('0'))
                           .arg(QString(i % 3, QLatin1Char('s'))));
        list().setCurrentRow(i + 1);
        list().topRow(); // what waits for its pace now
        QCoreApplication::processEvents();
        ASSERT_TRUE(sameAsFull(rows())) << "after line " << i;
        if (i == 20) { // the slider is still shrinking
            QTest::qWait(RowScrollBar::GrowthPaceMs * 3 / 2 + 150);
            ASSERT_TRUE(sameAsFull(area)) << "after its pace";
        }
        if (i == 60) { // the operator looks a row back; the next lines bring the newest back
            list().verticalScrollBar()->setValue(list().verticalScrollBar()->value() - 1);
            list().setCurrentRow(list().topRow());
            QCoreApplication::processEvents();
            ASSERT_TRUE(sameAsFull(area)) << "scrolled back";
        }
    }
}

} // namespace
} // namespace ew::test

namespace ew::test {
namespace {

// The quick glyph path draws what drawText draws, and leaves to it what it cannot draw alone.
// Lines that came while the slider was as short as it gets leave nothing stale behind: the
// operator's first scroll back after them shows at once, whatever value it lands on.
TEST(RowScrollBarTest, AScrollAfterLinesAtTheShortestSliderShowsAtOnce) {
    RowScrollBar bar(Qt::Vertical);
    bar.resize(16, 200);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const auto follow = [&](int lines) {
        bar.hold();
        bar.setRange(0, lines);
        bar.setValue(lines);
        bar.release();
    };
    follow(5);
    follow(6); // lines alone: shown, and the next within the pace wait
    bar.setRange(0, 1000);
    bar.setValue(1000); // the operator's doing: shown at once, and as short as it gets
    QCoreApplication::processEvents();
    for (int lines = 1001; lines <= 1100; ++lines)
        follow(lines);
    QCoreApplication::processEvents();
    bar.setValue(1000);
    QCoreApplication::processEvents();
    QWindow* shown = bar.windowHandle();
    EXPECT_EQ(
        shown->screen()->grabWindow(shown->winId()).toImage().convertToFormat(QImage::Format_RGB32),
        bar.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

TEST(GlyphLineTest, DrawsWhatDrawTextDraws) {
    QFont font = QApplication::font();
    font.setStretch(QFont::SemiCondensed);
    const std::pair<QString, bool> lines[] = {
        {QStringLiteral("\u2192 10:00:00 Reply from 127.0.0.1, Time:12 ms"), true},
        {QStringLiteral("X 10:00:00 Ping to  fileserver.office --== F A I L E D ==-- "), false},
        {QStringLiteral("AV To Ty fd42:1234::1 WAVE \u00e7a"), true},
        {QStringLiteral("\u0441\u0435\u0440\u0432\u0435\u0440"), false},
        {QStringLiteral("e\u0301t\u00e9"), false}};
    for (const auto& [line, quickly] : lines) {
        SCOPED_TRACE(line.toStdString());
        QImage quick(600, 30, QImage::Format_ARGB32_Premultiplied), plain = quick;
        for (QImage* image : {&quick, &plain}) {
            image->fill(Qt::white);
            QPainter painter(image);
            painter.setFont(font);
            if (image == &quick)
                EXPECT_EQ(GlyphLine().draw(painter, QPointF(3, 20), line), quickly);
            else
                painter.drawText(QPointF(3, 20), line);
        }
        int differing = 0;
        for (int y = 0; y < quick.height(); ++y)
            for (int x = 0; x < quick.width(); ++x)
                differing += quick.pixel(x, y) != plain.pixel(x, y);
        EXPECT_EQ(differing, 0);
    }
}

} // namespace
} // namespace ew::test
