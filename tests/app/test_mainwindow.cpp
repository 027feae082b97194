#include "core/TimeText.h"
#include "monitor/Monitor.h"
#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QMenu>
#include <QTest>
#include <QTimer>

namespace ew::test {
namespace {

using MainWindowDesign = MainWindowTest;

TEST_F(MainWindowDesign, ControlsAndMenusCarryTheirDesignNamesCaptionsAndLimits) {
    const std::pair<const char*, const char*> buttons[] = {
        {"cmdStartPing", "Ping"}, {"cmdStopPing", "Stop"},      {"cmdOpenLog", "Open Log"},
        {"cmdExit", "Exit"},      {"cmdSave", "Save Settings"}, {"cmdSettings", "<< Hide Settings"},
        {"cmdAdd", "Add"},        {"cmdRemove", "Remove"},      {"cmdClear", "Clear"},
        {"cmdSetLog", "Set"}};
    for (const auto& [name, caption] : buttons) {
        auto* w = window->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->text(), QString::fromLatin1(caption)) << name;
    }
    // The typing limits bind the operator's keystrokes; the program may write longer texts.
    const std::pair<QLineEdit*, int> limits[] = {
        {ui().txtInterval, 3}, {ui().txtAttempts, 1}, {ui().txtNumBytes, 3}, {ui().txtTimeout, 3}};
    for (const auto& [box, limit] : limits) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("98765"));
        EXPECT_EQ(box->text(), QStringLiteral("98765").left(limit))
            << box->objectName().toStdString();
        box->setText(QStringLiteral("1024"));
        EXPECT_EQ(box->text(), QStringLiteral("1024")) << box->objectName().toStdString();
    }
    EXPECT_EQ(ui().optMilSeconds->text(), QStringLiteral("tenth-seconds"));
    EXPECT_EQ(ui().optMilSeconds->parentWidget(), ui().centralwidget);
    EXPECT_EQ(ui().optMinutes->parentWidget(), ui().Frame1);
    EXPECT_EQ(ui().txtNumBytes->parentWidget(), ui().centralwidget);
    EXPECT_EQ(ui().chkLogFailed->parentWidget(), ui().Frame2);
    EXPECT_EQ(ui().Frame1->title(), QStringLiteral("Ping settings"));
    EXPECT_EQ(ui().Frame2->title(), QStringLiteral("Log settings"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Echo Warden"));
    EXPECT_EQ(ui().mnuFile->title(), QStringLiteral("&File"));
    EXPECT_EQ(ui().mnuSettings->title(), QStringLiteral("&Settings"));
    EXPECT_EQ(ui().mnuHelp->title(), QStringLiteral("Help"));
    EXPECT_EQ(ui().mnuExit->text(), QStringLiteral("&Exit"));
    EXPECT_TRUE(ui().mnuSSave->isCheckable());
    EXPECT_TRUE(ui().mnuUnattended->isCheckable());
    EXPECT_FALSE(ui().mnuRestore->isCheckable());
}

TEST_F(MainWindowDesign, StatusBarPanelsAndPathNotice) {
    auto* bar = ui().StatusBar1;
    EXPECT_EQ(bar->panelText(1), QStringLiteral("Pings:"));
    EXPECT_EQ(bar->panelText(2), QStringLiteral("Failed: 0"));
    EXPECT_EQ(bar->panelToolTip(1),
              QStringLiteral("Number of the pings made since the program started"));
    EXPECT_EQ(bar->panelToolTip(2), QStringLiteral("Number of FAILED Pings"));
    EXPECT_EQ(bar->panelToolTip(3), QStringLiteral("Current date"));
    EXPECT_EQ(bar->panelToolTip(4), QStringLiteral("Current time"));
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58)));
    bar->refreshDateTime();
    EXPECT_EQ(bar->panelText(4), timeOfDayText(QTime(23, 59, 58)));
    EXPECT_EQ(bar->panelText(3), shortDateText(QDate(2026, 12, 7)));
    EXPECT_EQ(ui().txtPathError->toPlainText(),
              QStringLiteral("  The path to the logfile you \n  entered is invalid. Please \n"
                             "  type a valid path and press \n             SET button,\n"
                             "     or exit the application\n"));
    EXPECT_TRUE(ui().txtPathError->isHidden());
}

TEST(TimeText, LongTimeWithSecondsAndNoZone) {
    const QString t = timeOfDayText(QTime(7, 5, 9));
    EXPECT_TRUE(t.contains(QStringLiteral("05"))) << t.toStdString();
    EXPECT_TRUE(t.contains(QStringLiteral("09"))) << t.toStdString();
    EXPECT_FALSE(timeOfDayFormat().contains(QLatin1Char('t')));
    EXPECT_EQ(parseTimeOfDay(t), QTime(7, 5, 9));
    EXPECT_EQ(parseTimeOfDay(QStringLiteral("nonsense")), std::nullopt);
}

struct Placed {
    const char* name;
    int left, top, width, height; // twips, relative to the parent as designed
};

// Every control at its design place: twips divided by 15, to the nearest pixel.
class DesignPlace : public MainWindowTest, public ::testing::WithParamInterface<Placed> {};

TEST_P(DesignPlace, ControlSitsWhereDesigned) {
    const Placed& p = GetParam();
    auto* w = window->findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(w, nullptr) << p.name;
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    EXPECT_EQ(w->geometry(), QRect(px(p.left), px(p.top), px(p.width), px(p.height))) << p.name;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, DesignPlace,
    ::testing::Values(
        Placed{"cmdStartPing", 120, 120, 855, 315}, Placed{"cmdStopPing", 1080, 120, 855, 315},
        Placed{"cmdOpenLog", 2040, 120, 1095, 315}, Placed{"cmdExit", 3720, 120, 975, 315},
        Placed{"lstPingResults", 120, 480, 4575, 2010},
        Placed{"txtPathError", 120, 480, 4575, 2010}, Placed{"Label4", 120, 2640, 1245, 300},
        Placed{"cmdSave", 1680, 2640, 1335, 315}, Placed{"cmdSettings", 3120, 2640, 1575, 315},
        Placed{"txtIPAddress", 120, 3240, 2175, 285}, Placed{"cmdAdd", 120, 3600, 555, 315},
        Placed{"cmdRemove", 720, 3600, 915, 315}, Placed{"cmdClear", 1680, 3600, 615, 315},
        Placed{"lstIPList", 120, 3960, 2175, 1425}, Placed{"Frame1", 2400, 3120, 2295, 2535},
        Placed{"txtInterval", 120, 240, 375, 285}, Placed{"vsbInterval", 480, 240, 255, 285},
        Placed{"Label5", 840, 240, 1215, 255}, Placed{"optSeconds", 720, 840, 255, 255},
        Placed{"Label2", 1080, 840, 735, 255}, Placed{"optMinutes", 720, 1080, 255, 255},
        Placed{"Label1", 1080, 1080, 735, 255},
        Placed{"optMilSeconds", 3120, 3720, 1530, 255} /* widened: the caption fits whole */,
        Placed{"txtAttempts", 120, 1440, 375, 285}, Placed{"vsbAttempts", 480, 1440, 255, 285},
        Placed{"Label3", 840, 1440, 1215, 255} /* widened: the caption fits whole */,
        Placed{"txtNumBytes", 2520, 4920, 375, 285}, Placed{"vsbNumBytes", 480, 1800, 255, 285},
        Placed{"lblNumBytes", 840, 1800, 1335, 255}, Placed{"txtTimeout", 2520, 5280, 375, 285},
        Placed{"vsbTimeout", 480, 2160, 255, 285}, Placed{"lblTimeout", 840, 2160, 1095, 255},
        Placed{"Frame2", 120, 5400, 2175, 1095}, Placed{"chkBeep", 120, 240, 255, 255},
        Placed{"lblBeep", 480, 240, 1095, 255}, Placed{"chkLogTotal", 120, 480, 255, 255},
        Placed{"lblLogTotal", 480, 480, 975, 255}, Placed{"chkLogFailed", 120, 720, 255, 255},
        Placed{"lblLogFailed", 480, 720, 1215, 255}, Placed{"txtLog", 2520, 5880, 2175, 285},
        Placed{"cmdSetLog", 2520, 6240, 735, 250}));

// Its placement on the screen is checked with the settings panel's heights.
TEST_F(MainWindowDesign, FixedFullWindowWithTheStatusBarDockedAtItsBottom) {
    load();
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    // The full window shows every control above the status bar docked at its bottom.
    const QRect client = ui().centralwidget->rect();
    const QRect bar = ui().StatusBar1->geometry();
    EXPECT_EQ(bar.bottom(), client.bottom());
    EXPECT_EQ(bar.width(), client.width());
    for (QWidget* w : ui().centralwidget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == ui().StatusBar1)
            continue;
        EXPECT_TRUE(client.contains(w->geometry())) << w->objectName().toStdString();
        EXPECT_LE(w->geometry().bottom(), bar.top()) << w->objectName().toStdString();
    }
}

enum class EndBy { Button, Menu, CloseBox };

// Exit by the button or the menu item saves when asked to; the close box never saves. Each
// ends at once, also while monitoring, and leaves nothing running.
class Ending : public MainWindowTest,
               public ::testing::WithParamInterface<std::tuple<EndBy, bool>> {};

TEST_P(Ending, SavesOnlyByExitWhenAskedAndLeavesNothingRunning) {
    const auto [by, save] = GetParam();
    load();
    ui().mnuSSave->setChecked(save);
    ui().lstIPList->addItem(QStringLiteral("10.0.0.1"));
    ui().txtInterval->setText(QStringLiteral("10"));
    ui().optSeconds->setChecked(true);
    window->monitor().cmdStartPing_Click();
    ASSERT_TRUE(window->monitor().timer1().isActive());
    fakes.store.writes.clear();
    if (by == EndBy::Button)
        ui().cmdExit->click();
    else if (by == EndBy::Menu)
        ui().mnuExit->trigger();
    else
        window->close();
    EXPECT_EQ(endRequests, 1);
    EXPECT_FALSE(window->monitor().timer1().isActive());
    EXPECT_FALSE(window->toolTips().timerEnabled());
    window->monitor().Timer1_Timer(); // a tick that was already due
    EXPECT_EQ(fakes.echo.calls.size(), 1u);
    if (save && by != EndBy::CloseBox) {
        EXPECT_TRUE(fakes.store.writes.contains(QStringLiteral("IPList=10.0.0.1,")))
            << fakes.store.writes.join(u' ').toStdString();
        EXPECT_TRUE(fakes.store.writes.filter(QStringLiteral("UnattendedFrom=")).isEmpty());
    } else {
        EXPECT_TRUE(fakes.store.writes.isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(ButtonMenuOrCloseBox, Ending,
                         ::testing::Combine(::testing::Values(EndBy::Button, EndBy::Menu,
                                                              EndBy::CloseBox),
                                            ::testing::Bool()));

} // namespace
} // namespace ew::test
