#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"

#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>

namespace ew::test {
namespace {

constexpr QPoint kPointer(100, 100);

class ToolTipsTest : public PassTest {
protected:
    void SetUp() override {
        PassTest::SetUp();
        fakes.windows.active = window.get();
    }
    ToolTips& tips() { return window->toolTips(); }
    frmToolTips& popup() { return *tips().window(); }
    void pollOver(QWidget* w, QPoint pos = kPointer) {
        fakes.windows.pos = pos;
        fakes.windows.under = QPointer<QWidget>(w);
        tips().Timer2_Timer();
    }
    void pollOver(const QString& name, QPoint pos = kPointer) {
        pollOver(window->findChild<QWidget*>(name), pos);
    }
};

// A listed text shows 18 pixels below and 4 left of the pointer, one line per carriage return;
// the silent buttons hide it and poll quickly, the window's surface hides it and slows down.
TEST_F(ToolTipsTest, EachWindowUnderThePointerShowsItsTextOrHidesTheTip) {
    const QStringList surface = {"Label4", "Frame1", "chkBeep", "lstPingResults", "txtPathError"};
    for (const QString& name : ToolTips::helpControls() + surface) {
        SCOPED_TRACE(name.toStdString());
        pollOver(QStringLiteral("cmdAdd"));
        pollOver(name);
        const QString text = ToolTips::helpText(name);
        EXPECT_EQ(popup().isVisible(), !text.isEmpty());
        EXPECT_EQ(popup().Timer2->interval(), text.isEmpty() && !surface.contains(name) ? 5 : 1000);
        if (!text.isEmpty()) {
            EXPECT_EQ(popup().Label1->text(), QString(text).replace(QLatin1Char('\r'), '\n'));
            EXPECT_EQ(popup().geometry(),
                      QRect(kPointer + QPoint(-4, 18), popup().Label1->size() + QSize(4, 2)));
        }
    }
    pollOver(ui().lstIPList->viewport()); // a part of a listed control is that control
    EXPECT_EQ(popup().Label1->text(), QStringLiteral("IP address list"));
    // A menu hides the tip as it opens and keeps it hidden; once closed, the tip comes back.
    pollOver(QStringLiteral("cmdExit"));
    QMenu menu;
    menu.addAction(QStringLiteral("Copy"));
    menu.popup(kPointer);
    EXPECT_FALSE(popup().isVisible());
    pollOver(QStringLiteral("cmdExit"));
    EXPECT_FALSE(popup().isVisible());
    menu.close();
    pollOver(QStringLiteral("cmdExit"));
    EXPECT_TRUE(popup().isVisible());
    // At the screen's edges the tip stays on it.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    pollOver(QStringLiteral("cmdStartPing"), QPoint(screen.right() - 4, 100));
    EXPECT_EQ(popup().geometry().right(), screen.right());
    const int y = screen.bottom() + 1 - popup().height();
    pollOver(QStringLiteral("cmdExit"), QPoint(100, screen.bottom() - 4));
    EXPECT_EQ(popup().geometry().bottom(), screen.bottom());
    pollOver(QStringLiteral("cmdStartPing"), QPoint(100, y));
    EXPECT_EQ(popup().y(), y + 18); // the edge test is on the pointer: it just fits
}

// Loaded, it polls once a second; a move over the address box only switches the polling on.
// A resting pointer or another active window changes nothing.
TEST_F(ToolTipsTest, ThePollRunsAtItsPaceAndChangesNothingWhileThePointerRests) {
    EXPECT_EQ(popup().Timer2->interval(), 1000);
    fakes.windows.under = QPointer<QWidget>(ui().cmdExit);
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    for (const bool enabled : {false, true}) {
        tips().unload();
        ui().txtIPAddress->setEnabled(enabled);
        QApplication::sendEvent(ui().txtIPAddress, &move);
        EXPECT_EQ(tips().timerEnabled(), enabled);
        EXPECT_FALSE(tips().window() && popup().isVisible());
    }
    EXPECT_EQ(popup().Timer2->interval(), 3000);
    // A pointer that keeps moving over the box does not hold the poll off.
    QSignalSpy polls(popup().Timer2, &QTimer::timeout);
    tips().setTimerInterval(100);
    for (int i = 0; i < 50 && polls.isEmpty(); ++i) // at most about a second
        QApplication::sendEvent(ui().txtIPAddress, &move), QTest::qWait(20);
    EXPECT_TRUE(!polls.isEmpty() && popup().isVisible());
    for (QWidget* active : std::initializer_list<QWidget*>{nullptr, window.get()}) {
        pollOver(QStringLiteral("cmdExit"));
        tips().ShowTip(QStringLiteral("tip"));
        tips().setTimerInterval(777);
        fakes.windows.active = active;
        pollOver(active == window.get() ? QStringLiteral("cmdExit") : QStringLiteral("Label4"));
        EXPECT_EQ(popup().Label1->text(), QStringLiteral("tip"));
        EXPECT_EQ(popup().Timer2->interval(), 777);
    }
    pollOver(popup().Label1); // the pop-up itself hides it and keeps polling quickly
    EXPECT_TRUE(!popup().isVisible() && popup().Timer2->interval() == 5);

    // While another window is active the polling rests, without a tick, until the main window
    // is activated again; as far as the program is concerned it stays switched on.
    fakes.windows.active = nullptr;
    tips().Timer2_Timer();
    EXPECT_TRUE(!popup().Timer2->isActive() && tips().timerEnabled());
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    EXPECT_TRUE(popup().Timer2->isActive() && popup().Timer2->interval() == 5);
}

} // namespace
} // namespace ew::test
