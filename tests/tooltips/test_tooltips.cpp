#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"
#include "tooltips/frmToolTips.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>

namespace ew::test {
namespace {

constexpr QPoint kPointer(100, 100);

class ToolTipsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
        fakes.windows.active = window.get();
    }
    ToolTips& tips() { return window->toolTips(); }
    QWidget* control(const char* name) {
        return window->findChild<QWidget*>(QString::fromLatin1(name));
    }
    // One poll with the pointer at pos over w.
    void pollOver(QWidget* w, QPoint pos = kPointer) {
        fakes.windows.pos = pos;
        fakes.windows.under = QPointer<QWidget>(w);
        tips().Timer2_Timer();
    }
    void moveOverAddressBox() {
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(ui().txtIPAddress, &move);
    }
    static QString help(const char* name) { return ToolTips::helpText(QString::fromLatin1(name)); }
};

struct HelpRow {
    const char* control;
    QStringList lines;
};

class ToolTipsHelpTable : public ToolTipsTest, public ::testing::WithParamInterface<HelpRow> {};

TEST_P(ToolTipsHelpTable, ListedControlShowsItsExactTextAfterOnePoll) {
    const HelpRow& row = GetParam();
    const QString text = row.lines.join(QLatin1Char('\r'));
    pollOver(control(row.control));
    ASSERT_TRUE(tips().popupVisible());
    EXPECT_EQ(tips().popupText(), text);
    EXPECT_EQ(help(row.control), text); // the other tests take their expectations from it
    frmToolTips* popup = tips().window();
    EXPECT_EQ(popup->Label1->text(), row.lines.join(QLatin1Char('\n'))) << "separate lines";
    EXPECT_EQ(tips().timerInterval(), 1000);
    EXPECT_TRUE(tips().timerEnabled());
    // 18 pixels below and 4 left of the pointer; the window wraps the label with 4 and 2
    // pixels to spare.
    EXPECT_EQ(popup->pos(), kPointer + QPoint(-4, 18));
    EXPECT_EQ(popup->size(), popup->Label1->size() + QSize(4, 2));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ToolTipsHelpTable,
    ::testing::Values(
        HelpRow{"cmdExit",
                {"Exit the application. If you enabled ", "SAVE SETTINGS ON EXIT in File menu,",
                 "pushing this button will also save all",
                 "the changes you've made to the settings"}},
        HelpRow{"cmdOpenLog",
                {"Opens the log file if one exists", "Grayed out if ping is in progress "}},
        HelpRow{"cmdStopPing", {"Stops ping and makes OPEN LOG", "button available"}},
        HelpRow{"cmdStartPing",
                {"Starts ping. If you have logging", "enabled, this command will also",
                 "validate the path to the log file. If you", "activated UNATTENDED mode on the",
                 "File menu, ping will be suspended", "for the time period specified"}},
        HelpRow{"cmdRemove", {"Remove highlighted item", "from the list of IP addresses"}},
        HelpRow{"cmdClear", {"Clear the IP address list"}},
        HelpRow{"txtIPAddress", {"Type new address or computer", "name to add to IP address list"}},
        HelpRow{"cmdAdd", {"Add IP address to the", "IP address list"}},
        HelpRow{"lstIPList", {"IP address list"}},
        HelpRow{"txtLog",
                {"Path to the logfile. If you", "type just the filename here,",
                 "the logfile will be saved in", "the application directory"}},
        HelpRow{"cmdSetLog", {"Push this button if you made", "changes to the logfile path"}},
        HelpRow{"txtInterval", {"Specify interval between pings", "in minutes or in seconds"}},
        HelpRow{"txtTimeout",
                {"Specifies retry period in case", "the IP address is not responding"}},
        HelpRow{"txtNumBytes", {"Number of bytes to send", "to the remote machine(s)"}},
        HelpRow{"txtAttempts",
                {"Number of times to ping every", "machine in the IP address list"}}),
    [](const auto& info) { return std::string(info.param.control); });

TEST_F(ToolTipsTest, TableOrderSilentButtonsAndMovingStraightOn) {
    EXPECT_EQ(ToolTips::helpControls().join(' '),
              QStringLiteral("cmdExit cmdOpenLog cmdStopPing cmdStartPing cmdRemove cmdClear "
                             "cmdSettings cmdSave txtIPAddress cmdAdd lstIPList txtLog cmdSetLog "
                             "txtInterval txtTimeout txtNumBytes txtAttempts"));
    for (const char* silent : {"cmdSettings", "cmdSave"}) {
        pollOver(control("cmdStartPing"));
        ASSERT_TRUE(tips().popupVisible());
        pollOver(control(silent));
        EXPECT_FALSE(tips().popupVisible()) << silent;
        EXPECT_EQ(tips().timerInterval(), 5) << silent;
    }
    // Moving straight to another listed control replaces the text; a part of a listed control
    // is that control.
    pollOver(control("cmdStartPing"));
    pollOver(control("cmdClear"));
    EXPECT_EQ(tips().popupText(), QStringLiteral("Clear the IP address list"));
    pollOver(ui().lstIPList->viewport());
    EXPECT_TRUE(tips().popupVisible());
    EXPECT_EQ(tips().popupText(), QStringLiteral("IP address list"));
}

class ToolTipsUnlisted : public ToolTipsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ToolTipsUnlisted, HidesTheTipAndSlowsThePolling) {
    pollOver(control("cmdAdd"));
    ASSERT_TRUE(tips().popupVisible());
    QWidget* over = control(GetParam());
    ASSERT_NE(over, nullptr) << GetParam();
    pollOver(over);
    EXPECT_FALSE(tips().popupVisible());
    EXPECT_EQ(tips().timerInterval(), 1000);
    // Every part of the window's own surface counts as one window: no new change.
    pollOver(window.get());
    EXPECT_EQ(tips().timerInterval(), 1000);
}

INSTANTIATE_TEST_SUITE_P(Surface, ToolTipsUnlisted,
                         ::testing::Values("Label4", "Label1", "lblTimeout", "Frame1", "Frame2",
                                           "optMinutes", "chkBeep", "vsbInterval", "lstPingResults",
                                           "StatusBar1", "centralwidget", "txtPathError"));

TEST_F(ToolTipsTest, StayingOnOneWindowChangesNothingAndThePopUpItselfHidesIt) {
    pollOver(control("cmdExit"));
    tips().hidePopup();
    tips().setTimerInterval(777);
    pollOver(control("cmdExit"));
    EXPECT_FALSE(tips().popupVisible());
    EXPECT_EQ(tips().timerInterval(), 777);

    pollOver(control("txtLog"));
    ASSERT_TRUE(tips().popupVisible());
    pollOver(tips().window()->Label1);
    EXPECT_FALSE(tips().popupVisible());
    EXPECT_EQ(tips().timerInterval(), 5);
}

TEST_F(ToolTipsTest, AnotherActiveWindowChangesNothing) {
    pollOver(control("txtTimeout"));
    QWidget other;
    for (QWidget* active : std::initializer_list<QWidget*>{nullptr, &other}) {
        fakes.windows.active = active;
        pollOver(control("Label4"));
        EXPECT_TRUE(tips().popupVisible());
        EXPECT_EQ(tips().popupText(), help("txtTimeout"));
        tips().hidePopup();
        pollOver(control("cmdExit"));
        EXPECT_FALSE(tips().popupVisible());
        tips().ShowTip(help("txtTimeout"));
    }
    // Once the main window is active again the next change counts.
    fakes.windows.active = window.get();
    pollOver(control("cmdExit"));
    EXPECT_EQ(tips().popupText(), help("cmdExit"));
}

TEST_F(ToolTipsTest, RightAndBottomEdgesOfTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int right = screen.x() + screen.width();
    const int bottom = screen.y() + screen.height();

    pollOver(control("cmdStartPing"), QPoint(right - 5, 100));
    QRect r = tips().window()->frameGeometry();
    EXPECT_EQ(r.x() + r.width(), right);
    EXPECT_EQ(r.y(), 118);

    pollOver(control("cmdExit"), QPoint(100, bottom - 5));
    r = tips().window()->frameGeometry();
    EXPECT_EQ(r.y() + r.height(), bottom);
    EXPECT_EQ(r.x(), 96);

    // The tests use the pointer itself: a pop-up that just fits below the pointer is still
    // placed 18 pixels down and may reach past the edge.
    const int height = tips().window()->height();
    pollOver(control("cmdClear"), QPoint(100, bottom - height));
    EXPECT_LT(tips().window()->height(), height);
    EXPECT_EQ(tips().window()->y(), bottom - height + 18);
}

TEST_F(ToolTipsTest, PopUpLooksAndBehavesAsDesigned) {
    frmToolTips* popup = tips().window();
    ASSERT_NE(popup, nullptr);
    EXPECT_FALSE(popup->isVisible()) << "loaded hidden";
    EXPECT_TRUE(
        popup->windowFlags().testFlags(Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(popup->windowType(), Qt::ToolTip);
    EXPECT_TRUE(popup->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(popup->windowTitle().isEmpty());
    EXPECT_EQ(popup->palette().color(QPalette::Window), QColor(255, 255, 128));
    EXPECT_EQ(popup->Label1->palette().color(QPalette::Window), QColor(128, 255, 128));
    EXPECT_TRUE(popup->Label1->autoFillBackground());
    EXPECT_EQ(popup->Label1->font().family(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(popup->Label1->font().pointSizeF(), 11.25);
    EXPECT_EQ(popup->Label1->pos(), QPoint(1, 0));
    EXPECT_EQ(popup->lineWidth(), 1);

    // Showing does not take the activation from the main window.
    pollOver(control("cmdClear"));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_NE(QApplication::activeWindow(), popup);
    const int oneLine = popup->Label1->height();
    pollOver(control("cmdAdd"));
    const int twoLines = popup->Label1->height();
    EXPECT_GT(twoLines, oneLine * 3 / 2);
    EXPECT_LT(oneLine, popup->Label1->fontMetrics().lineSpacing() * 3 / 2);
}

TEST_F(ToolTipsTest, PollingPaceLoadingAndPollingByItself) {
    // Loaded with the settings: one poll a second.
    EXPECT_TRUE(tips().isLoaded());
    EXPECT_EQ(tips().timerInterval(), 1000);
    EXPECT_TRUE(tips().timerEnabled());

    // Unloading discards the window and LastTipWindow; touching the timer loads it again at
    // the design interval of three seconds.
    pollOver(control("cmdExit"));
    tips().unload();
    EXPECT_FALSE(tips().isLoaded());
    EXPECT_FALSE(tips().timerEnabled());
    tips().setTimerEnabled(true);
    ASSERT_TRUE(tips().isLoaded());
    EXPECT_EQ(tips().timerInterval(), 3000);
    EXPECT_EQ(tips().window()->LastTipWindow, nullptr);
    pollOver(control("cmdExit"));
    EXPECT_TRUE(tips().popupVisible());

    // The timer polls by itself.
    tips().hidePopup();
    fakes.windows.under = QPointer<QWidget>(control("txtAttempts"));
    tips().setTimerInterval(10);
    QTRY_VERIFY_WITH_TIMEOUT(tips().popupVisible(), 10000);
    EXPECT_EQ(tips().popupText(), help("txtAttempts"));
}

TEST_F(ToolTipsTest, StartStopsThePollingAndStopOrTheAddressBoxRestartIt) {
    ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    ui().cmdStartPing->setEnabled(true);
    pollOver(control("cmdStartPing"));
    ui().cmdStartPing->click();
    EXPECT_FALSE(tips().timerEnabled());
    EXPECT_FALSE(tips().popupVisible());
    ui().cmdStopPing->click();
    EXPECT_TRUE(tips().timerEnabled());

    ui().cmdStartPing->click();
    ASSERT_FALSE(tips().timerEnabled());
    ui().txtIPAddress->setEnabled(false);
    moveOverAddressBox();
    EXPECT_FALSE(tips().timerEnabled()) << "a disabled box gets no mouse moves";
    ui().txtIPAddress->setEnabled(true);
    moveOverAddressBox();
    EXPECT_TRUE(tips().timerEnabled());
    ui().cmdStopPing->click();
}

TEST_F(ToolTipsTest, AfterAboutTheTipsStayOffUntilSwitchedOnAgain) {
    pollOver(control("cmdExit"));
    ui().mnuAbout->trigger();
    EXPECT_FALSE(tips().isLoaded());
    EXPECT_FALSE(tips().popupVisible());
    EXPECT_FALSE(tips().timerEnabled());
    moveOverAddressBox();
    EXPECT_TRUE(tips().timerEnabled());
    EXPECT_EQ(tips().timerInterval(), 3000);
}

// The real pointer seam on a shown window: disabled and hidden controls are passed over.
TEST_F(ToolTipsTest, RealProbeSkipsDisabledAndHiddenControls) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QtWindowProbe probe;
    auto centreOf = [](QWidget* w) { return w->mapToGlobal(w->rect().center()); };

    EXPECT_EQ(probe.widgetAt(centreOf(ui().cmdExit)), ui().cmdExit);
    ASSERT_FALSE(ui().cmdStopPing->isEnabled());
    QWidget* behindStop = probe.widgetAt(centreOf(ui().cmdStopPing));
    EXPECT_NE(behindStop, ui().cmdStopPing);
    EXPECT_EQ(behindStop, ui().centralwidget);
    ASSERT_TRUE(ui().txtPathError->isHidden());
    QWidget* overResults = probe.widgetAt(centreOf(ui().lstPingResults));
    EXPECT_TRUE(overResults == ui().lstPingResults ||
                ui().lstPingResults->isAncestorOf(overResults));
    QWidget* overList = probe.widgetAt(centreOf(ui().lstIPList));
    EXPECT_TRUE(ui().lstIPList->isAncestorOf(overList));

    // Fed to the pop-up: the disabled Stop button shows nothing, the list its text.
    pollOver(overList);
    EXPECT_EQ(tips().popupText(), QStringLiteral("IP address list"));
    pollOver(behindStop);
    EXPECT_FALSE(tips().popupVisible());
}

} // namespace
} // namespace ew::test
