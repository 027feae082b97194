#include "core/TimeText.h"
#include "support/MainWindowFixture.h"
#include "widgets/StatusBar.h"

namespace ew::test {
namespace {

using MainWindowDesign = MainWindowTest;

// Exit by button, menu and close box, also during a pass, is pinned with the monitor's tests.
TEST_F(MainWindowDesign, CaptionsPanelsAndPathNotice) {
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
    auto* bar = ui().StatusBar1;
    const QStringList tips = {QStringLiteral("Number of the pings made since the program started"),
                              QStringLiteral("Number of FAILED Pings"),
                              QStringLiteral("Current date"), QStringLiteral("Current time")};
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(bar->panelToolTip(i), tips[i - 1]);
    EXPECT_EQ(bar->panelText(2), QStringLiteral("Failed: 0"));
    fakes.clock.set(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 58)));
    bar->refreshDateTime();
    EXPECT_EQ(bar->panelText(4), timeOfDayText(QTime(23, 59, 58)));
    EXPECT_EQ(parseTimeOfDay(bar->panelText(4)), QTime(23, 59, 58));
    EXPECT_EQ(ui().txtPathError->toPlainText(),
              QStringLiteral("  The path to the logfile you \n  entered is invalid. Please \n"
                             "  type a valid path and press \n             SET button,\n"
                             "     or exit the application\n"));
}

} // namespace
} // namespace ew::test
