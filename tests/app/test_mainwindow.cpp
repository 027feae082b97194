#include "app/ResultsList.h"
#include "app/StatusBar.h"
#include "app/TimeText.h"
#include "support/MainWindowFixture.h"

#include <QMenu>
#include <QMenuBar>

namespace ew::test {
namespace {

class MainWindowDesign : public MainWindowTest {};

TEST_F(MainWindowDesign, ControlsCarryTheirDesignNamesCaptionsAndLimits) {
    struct Expect {
        const char* name;
        const char* caption;
    };
    const Expect buttons[] = {{"cmdStartPing", "Ping"},      {"cmdStopPing", "Stop"},
                              {"cmdOpenLog", "Open Log"},    {"cmdExit", "Exit"},
                              {"cmdSave", "Save Settings"},  {"cmdSettings", "<< Hide Settings"},
                              {"cmdAdd", "Add"},             {"cmdRemove", "Remove"},
                              {"cmdClear", "Clear"},         {"cmdSetLog", "Set"}};
    for (const auto& b : buttons) {
        auto* w = window->findChild<QPushButton*>(QString::fromLatin1(b.name));
        ASSERT_NE(w, nullptr) << b.name;
        EXPECT_EQ(w->text(), QString::fromLatin1(b.caption)) << b.name;
    }
    EXPECT_EQ(ui().txtInterval->maxLength(), 3);
    EXPECT_EQ(ui().txtAttempts->maxLength(), 1);
    EXPECT_EQ(ui().txtNumBytes->maxLength(), 3);
    EXPECT_EQ(ui().txtTimeout->maxLength(), 3);
    EXPECT_EQ(ui().optMilSeconds->text(), QStringLiteral("tenth-seconds"));
    EXPECT_EQ(ui().optMilSeconds->parentWidget(), ui().centralwidget);
    EXPECT_EQ(ui().optMinutes->parentWidget(), ui().Frame1);
    EXPECT_EQ(ui().txtNumBytes->parentWidget(), ui().centralwidget);
    EXPECT_EQ(ui().chkLogFailed->parentWidget(), ui().Frame2);
    EXPECT_EQ(ui().Frame1->title(), QStringLiteral("Ping settings"));
    EXPECT_EQ(ui().Frame2->title(), QStringLiteral("Log settings"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Echo Warden"));
    // Positions are the design's twips at 15 to the pixel.
    EXPECT_EQ(ui().cmdOpenLog->geometry(), QRect(136, 8, 73, 21));
    EXPECT_EQ(ui().lstPingResults->geometry(), ui().txtPathError->geometry());
    EXPECT_EQ(ui().txtTimeout->geometry(), QRect(168, 352, 25, 19));
}

TEST_F(MainWindowDesign, MenusHaveTheirCaptionsAndCheckMarks) {
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

} // namespace
} // namespace ew::test
