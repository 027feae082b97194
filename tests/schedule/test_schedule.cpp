#include "schedule/Schedule.h"
#include "support/MainWindowFixture.h"
#include "ui_frmSchedule.h"

namespace ew::test {
namespace {

class ScheduleTest : public MainWindowTest {
protected:
    // Opens the dialog from the File menu and gives what it shows ("1 PM 5 PM on"). Given an
    // entry in that form, fills it in as an operator would and presses O.K.; then gives "open"
    // when the dialog stayed open. The close box closes it at the end, storing nothing.
    QString schedule(const QString& entry = {}) {
        QString seen;
        const auto c =
            QObject::connect(&window->schedule(), &Schedule::dialogOpened, [&](frmSchedule* d) {
                Ui::frmSchedule& u = d->ui();
                const auto pm = [](QCheckBox* b) { return b->isChecked() ? "PM" : "AM"; };
                seen = QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(u.txtFrom->text(), pm(u.chkPMFrom), u.txtTo->text(), pm(u.chkPMTo),
                                u.chkUnattended->isChecked() ? "on" : "off");
                if (const QStringList v = entry.split(' '); v.size() == 5) {
                    u.txtFrom->setText(v[0] == "-" ? QString() : v[0]);
                    u.chkPMFrom->setChecked(v[1] == "PM");
                    u.txtTo->setText(v[2]);
                    u.chkPMTo->setChecked(v[3] == "PM");
                    u.chkUnattended->setChecked(v[4] == "on");
                    QTest::mouseClick(u.cmdOK, Qt::LeftButton);
                    seen = d->isVisible() ? "open" : "closed";
                }
                d->close();
            });
        ui().mnuUnattended->trigger();
        QObject::disconnect(c);
        return seen;
    }
};
TEST_F(ScheduleTest, OKStoresTheHoursOrSaysWhyNotAndAStoredHourComesBackAsItWas) {
    const QString invalid = QStringLiteral("Please enter valid time");
    const QString notAfter = QStringLiteral("Please enter a range that ends after it starts on "
                                            "the same day: the range does not wrap past midnight.");
    const struct {
        const char* entered;
        const char* stored; // on refusal only the save made on opening
        QString box;
    } rows[] = {{"1 PM 5 PM on", "True 13 17", {}},       {"12 AM 12 PM on", "True 0 12", {}},
                {"09 AM 11 PM on", "True 09 23", {}},     {"11 PM 6 AM off", "False 23 6", {}},
                {"10 PM 6 AM on", "False - -", notAfter}, {"3 PM 3 PM on", "False - -", notAfter},
                {"- AM 5 AM on", "False - -", invalid},   {"3 AM 14 AM on", "False - -", invalid}};
    const auto v = [this](const QString& key) { return fakes.store.value(key).value_or("-"); };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entered);
        fakes.store.values.clear();
        fakes.messages.shown.clear();
        restart();
        EXPECT_EQ(schedule(QString::fromLatin1(row.entered)),
                  row.box.isEmpty() ? "closed" : "open");
        EXPECT_EQ(v(keys::Unattended) + ' ' + v(keys::UnattendedFrom) + ' ' + v(keys::UnattendedTo),
                  QString::fromLatin1(row.stored));
        const FakeMessageBoxes::Box box{row.box, "EchoWarden", MsgIcon::None, MsgButtons::Ok};
        EXPECT_EQ(fakes.messages.shown, std::vector(row.box.isEmpty() ? 0 : 1, box));
        EXPECT_EQ(schedule(),
                  row.box.isEmpty() ? QString::fromLatin1(row.entered) : "12 AM 12 AM off");
    }
    // A stored hour shows on the twelve-hour clock and is written back unchanged.
    const std::pair<const char*, const char*> hours[] = {
        {"", "12 AM"}, {"0", "12 AM"},  {"12", "12 PM"},  {"13", "1 PM"},
        {"7", "7 AM"}, {"25", "13 PM"}, {"abc", "abc AM"}};
    for (const auto& [hour, shown] : hours) {
        SCOPED_TRACE(hour);
        fakes.store.put(keys::UnattendedFrom, QString::fromLatin1(hour));
        restart();
        const QString dialog = QString::fromLatin1(shown) + QStringLiteral(" 12 AM off");
        EXPECT_EQ(schedule(), dialog);
        ASSERT_EQ(schedule(dialog), "closed");
        EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QString::fromLatin1(*hour ? hour : "0"));
    }
}

} // namespace
} // namespace ew::test
