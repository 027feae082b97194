#include "schedule/Schedule.h"
#include "schedule/UpDown.h"
#include "schedule/frmSchedule.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "ui_frmSchedule.h"

#include <QTest>
#include <QToolButton>
#include <functional>

namespace ew::test {
namespace {

// The hour boxes, PM marks and mode as the dialog shows them.
struct Shown {
    QString from;
    bool fromPM;
    QString to;
    bool toPM;
    bool enabled;
    bool operator==(const Shown&) const = default;
    friend void PrintTo(const Shown& s, std::ostream* os) {
        *os << s.from.toStdString() << (s.fromPM ? " PM" : " AM") << " to " << s.to.toStdString()
            << (s.toPM ? " PM" : " AM") << (s.enabled ? ", enabled" : ", disabled");
    }
};

class ScheduleTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
    }
    // Opens the dialog from the File menu, runs drive inside it, and closes it with its close
    // box (storing nothing) unless drive closed it.
    void openSchedule(const std::function<void(frmSchedule&)>& drive) {
        const auto c =
            QObject::connect(&window->schedule(), &Schedule::dialogOpened, [&](frmSchedule* d) {
                drive(*d);
                if (d->isVisible())
                    d->close();
            });
        ui().mnuUnattended->trigger();
        QObject::disconnect(c);
    }
    // Fills the dialog as an operator would, presses O.K. and tells whether it closed.
    bool confirm(const Shown& s) {
        bool closed = false;
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            u.txtFrom->setText(s.from);
            u.chkPMFrom->setChecked(s.fromPM);
            u.txtTo->setText(s.to);
            u.chkPMTo->setChecked(s.toPM);
            u.chkUnattended->setChecked(s.enabled);
            QTest::mouseClick(u.cmdOK, Qt::LeftButton);
            closed = !d.isVisible();
        });
        return closed;
    }
    Shown reopen() {
        Shown s{};
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            s = {u.txtFrom->text(), u.chkPMFrom->isChecked(), u.txtTo->text(),
                 u.chkPMTo->isChecked(), u.chkUnattended->isChecked()};
        });
        return s;
    }
    QString stored() {
        return fakes.store.value(keys::Unattended).value_or("-") + ' ' +
               fakes.store.value(keys::UnattendedFrom).value_or("-") + ' ' +
               fakes.store.value(keys::UnattendedTo).value_or("-");
    }
};

TEST_F(ScheduleTest, OKStoresTheHoursOfTheDayOrSaysWhyNot) {
    const QString invalidTime = QStringLiteral("Please enter valid time");
    const QString notAfter = QStringLiteral("Please enter a range that ends after it starts on "
                                            "the same day: the range does not wrap past midnight.");
    const struct {
        Shown entered;
        const char*
            stored; // "Unattended UnattendedFrom UnattendedTo"; on refusal only the opening save
        QString box;
    } rows[] = {{{"1", true, "5", true, true}, "True 13 17", {}},
                {{"12", false, "12", true, true}, "True 0 12", {}},
                {{"09", false, "11", true, true}, "True 09 23", {}},     // kept as typed
                {{"10", true, "6", false, true}, "False - -", notAfter}, // would wrap past midnight
                {{"3", true, "3", true, true}, "False - -", notAfter},
                {{"", false, "5", false, true}, "False - -", invalidTime},
                {{"3", false, "14", false, true}, "False - -", invalidTime},
                {{"abc", false, "5", false, true}, "False - -", invalidTime},
                {{"11", true, "6", false, false}, "False 23 6", {}}}; // disabled: not checked
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.entered));
        fakes.store.values.clear();
        fakes.messages.shown.clear();
        restart();
        EXPECT_EQ(confirm(row.entered), row.box.isEmpty());
        EXPECT_EQ(stored(), QString::fromLatin1(row.stored));
        if (!row.box.isEmpty()) {
            ASSERT_EQ(fakes.messages.shown.size(), 1u);
            EXPECT_EQ(fakes.messages.shown[0],
                      (FakeMessageBoxes::Box{row.box, QStringLiteral("EchoWarden"), MsgIcon::None,
                                             MsgButtons::Ok}));
            continue;
        }
        EXPECT_TRUE(fakes.messages.shown.empty());
        EXPECT_EQ(ui().mnuUnattended->isChecked(), row.entered.enabled);
        EXPECT_EQ(reopen(), row.entered);
    }
}

TEST_F(ScheduleTest, StoredHoursShowOnTheTwelveHourClockAndAreWrittenBackUnchanged) {
    const struct {
        const char* stored; // nullptr: missing
        const char* shown;
        bool pm;
    } rows[] = {{nullptr, "12", false}, {"0", "12", false}, {"12", "12", true},   {"13", "1", true},
                {"7", "7", false},      {"25", "13", true}, {"abc", "abc", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored ? row.stored : "missing");
        fakes.store.values.clear();
        if (row.stored)
            fakes.store.put(keys::UnattendedFrom, QString::fromLatin1(row.stored));
        restart();
        const QString shown = QString::fromLatin1(row.shown);
        EXPECT_EQ(reopen(), (Shown{shown, row.pm, "12", false, false}));
        ASSERT_TRUE(confirm({shown, row.pm, "12", false, false}));
        EXPECT_EQ(fakes.store.value(keys::UnattendedFrom).value_or("0"),
                  row.stored ? row.stored : "0");
    }
}

TEST_F(ScheduleTest, TypingAndTheSpinnersWrapThirteenToOneAndZeroToTwelve) {
    openSchedule([&](frmSchedule& d) {
        QLineEdit* box = d.ui().txtFrom;
        const std::pair<const char*, const char*> typed[] = {
            {"13", "1"}, {"0", "12"}, {"14", "14"}, {"1x", "1x"}};
        for (const auto& [text, shown] : typed) {
            box->clear();
            QTest::keyClicks(box, QString::fromLatin1(text));
            EXPECT_EQ(box->text(), QString::fromLatin1(shown)) << text;
        }
        box->setText(QStringLiteral("11"));
        QStringList seen;
        for (QToolButton* b : {d.ui().UpDown1->upButton(), d.ui().UpDown1->upButton(),
                               d.ui().UpDown1->downButton(), d.ui().UpDown1->downButton()}) {
            QTest::mouseClick(b, Qt::LeftButton);
            seen << box->text();
        }
        EXPECT_EQ(seen.join(' '), QStringLiteral("12 1 12 11"));
    });
}

} // namespace
} // namespace ew::test
