#include "panel/ControlStates.h"
#include "support/MainWindowFixture.h"
#include "support/SettingsTestUtil.h"

#include <QTemporaryDir>
#include <QTest>

namespace ew::test {
namespace {

enum class Arrow { Up, Down };

// One arrow click: the upper arrow moves the position towards the minimum.
void click(QScrollBar* bar, Arrow arrow) {
    bar->triggerAction(arrow == Arrow::Up ? QAbstractSlider::SliderSingleStepSub
                                          : QAbstractSlider::SliderSingleStepAdd);
}

class NumericFieldsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
    }
    template <class T> T* named(const char* name) { return window->findChild<T*>(name); }
};

struct SpinCase {
    const char* box;
    const char* bar;
    const char* start;
    Arrow arrow;
    const char* first;  // after one click
    const char* second; // after a second click of the same arrow
};

class Spinner : public NumericFieldsTest, public ::testing::WithParamInterface<SpinCase> {};

TEST_P(Spinner, StepsAndWrapsAtTheBounds) {
    const SpinCase& c = GetParam();
    auto* text = named<QLineEdit>(c.box);
    auto* bar = named<QScrollBar>(c.bar);
    text->setText(QString::fromLatin1(c.start));
    state().lastScrollValue = static_cast<std::int16_t>(bar->value());
    click(bar, c.arrow);
    EXPECT_EQ(text->text(), QString::fromLatin1(c.first));
    EXPECT_EQ(state().lastScrollValue, bar->value());
    click(bar, c.arrow); // judged against the position the wrap left
    EXPECT_EQ(text->text(), QString::fromLatin1(c.second));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Spinner,
    ::testing::Values(SpinCase{"txtAttempts", "vsbAttempts", "3", Arrow::Up, "4", "5"},
                      SpinCase{"txtAttempts", "vsbAttempts", "5", Arrow::Up, "1", "2"},
                      SpinCase{"txtAttempts", "vsbAttempts", "2", Arrow::Down, "1", "5"},
                      SpinCase{"txtAttempts", "vsbAttempts", "7", Arrow::Up, "8", "9"},
                      SpinCase{"txtInterval", "vsbInterval", "998", Arrow::Up, "999", "1"},
                      SpinCase{"txtInterval", "vsbInterval", "1", Arrow::Down, "999", "998"},
                      SpinCase{"txtNumBytes", "vsbNumBytes", "512", Arrow::Up, "528", "544"},
                      SpinCase{"txtNumBytes", "vsbNumBytes", "1024", Arrow::Up, "16", "32"},
                      SpinCase{"txtNumBytes", "vsbNumBytes", "32", Arrow::Down, "16", "1024"},
                      SpinCase{"txtTimeout", "vsbTimeout", "300", Arrow::Up, "1", "2"},
                      SpinCase{"txtTimeout", "vsbTimeout", "1", Arrow::Down, "300", "299"},
                      SpinCase{"txtTimeout", "vsbTimeout", "2.5", Arrow::Up, "3.5", "4.5"},
                      // Not a number: the spinner leaves the text alone.
                      SpinCase{"txtTimeout", "vsbTimeout", "ab", Arrow::Up, "ab", "ab"},
                      SpinCase{"txtInterval", "vsbInterval", "1x", Arrow::Down, "1x", "1x"}));

TEST_F(NumericFieldsTest, WrapMovesTheSpinnerToTheNewValue) {
    ui().txtNumBytes->setText(QStringLiteral("16"));
    click(ui().vsbNumBytes, Arrow::Down);
    EXPECT_EQ(ui().vsbNumBytes->value(), 1024);
    EXPECT_EQ(state().lastScrollValue, 1024);
}

TEST_F(NumericFieldsTest, IntervalWrapsInEveryUnit) {
    for (QRadioButton* unit : {ui().optMinutes, ui().optSeconds, ui().optMilSeconds}) {
        unit->click();
        ui().txtInterval->setText(QStringLiteral("999"));
        click(ui().vsbInterval, Arrow::Up);
        EXPECT_EQ(ui().txtInterval->text(), QStringLiteral("1"))
            << unit->objectName().toStdString();
    }
}

TEST_F(NumericFieldsTest, SpinnersShareTheLastPositionSeen) {
    ui().txtAttempts->setText(QStringLiteral("3"));
    state().lastScrollValue = 0;
    click(ui().vsbTimeout, Arrow::Up);
    click(ui().vsbTimeout, Arrow::Up);  // the shared position is now -2
    click(ui().vsbAttempts, Arrow::Up); // -1 - (-2) = +1: taken as the lower arrow
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("2"));
    click(ui().vsbAttempts, Arrow::Up);
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("3"));

    for (int i = 0; i < 3; ++i)
        click(ui().vsbTimeout, Arrow::Down); // the shared position is now 1
    click(ui().vsbAttempts, Arrow::Down);    // -2 to -1: two steps away, no change
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("3"));
    EXPECT_EQ(state().lastScrollValue, -1);
    click(ui().vsbAttempts, Arrow::Down);
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("2"));
}

struct ReplaceCase {
    const char* box;
    const char* typed;
    const char* shown;
};

class TextRule : public NumericFieldsTest, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(TextRule, ZeroAndEmptyAreReplaced) {
    auto* text = named<QLineEdit>(GetParam().box);
    text->setText(QStringLiteral("9"));
    for (StateFlag flag : {StateFlag::Yes, StateFlag::Dont}) {
        state().stateFlag = flag;
        text->setText(QString::fromLatin1(GetParam().typed));
        EXPECT_EQ(text->text(), QString::fromLatin1(GetParam().shown));
        text->setText(QStringLiteral("9"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextRule,
    ::testing::Values(ReplaceCase{"txtTimeout", "0", "3"}, ReplaceCase{"txtTimeout", "", "3"},
                      ReplaceCase{"txtAttempts", "", "1"}, ReplaceCase{"txtAttempts", "0", "1"},
                      ReplaceCase{"txtNumBytes", "", "16"}, ReplaceCase{"txtInterval", "", "3"},
                      ReplaceCase{"txtInterval", "00", "00"},
                      ReplaceCase{"txtTimeout", "400", "400"},
                      ReplaceCase{"txtNumBytes", "a1", "a1"}));

TEST_F(NumericFieldsTest, UnitsStayExclusiveAndMinutesLabelCanClearThem) {
    window->show();
    const auto units = [this] { return shown(ui()).options; }; // minutes, seconds, tenths
    ui().optMilSeconds->click();
    EXPECT_EQ(units(), QList<int>({0, 0, 1}));
    ui().optSeconds->click();
    EXPECT_EQ(units(), QList<int>({0, 1, 0}));
    ui().optMilSeconds->click();
    ui().optMinutes->click();
    EXPECT_EQ(units(), QList<int>({1, 0, 0}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton); // minutes selected: now none is
    EXPECT_EQ(units(), QList<int>({0, 0, 0}));
    QTest::mouseClick(ui().Label2, Qt::LeftButton);
    EXPECT_EQ(units(), QList<int>({0, 1, 0}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton);
    EXPECT_EQ(units(), QList<int>({1, 0, 0}));
}

TEST_F(NumericFieldsTest, CaptionLabelsToggleTheirBoxesEvenWhenDisabled) {
    QTemporaryDir dir;
    ui().txtLog->setText(dir.filePath(QStringLiteral("Ping.Log")));
    window->show();
    QTest::mouseClick(ui().lblLogTotal, Qt::LeftButton);
    ASSERT_TRUE(ui().chkLogTotal->isChecked());
    ASSERT_FALSE(ui().chkLogFailed->isEnabled());
    QTest::mouseClick(ui().lblLogFailed, Qt::LeftButton);
    EXPECT_FALSE(ui().chkLogFailed->isChecked());
    EXPECT_TRUE(ui().txtLog->isHidden()); // its click rule ran
    QTest::mouseClick(ui().lblLogFailed, Qt::LeftButton);
    EXPECT_TRUE(ui().chkLogFailed->isChecked());

    ui().chkBeep->setEnabled(false);
    const bool beep = ui().chkBeep->isChecked();
    QTest::mouseClick(ui().lblBeep, Qt::LeftButton);
    EXPECT_NE(ui().chkBeep->isChecked(), beep);
    QTest::mouseClick(ui().lblBeep, Qt::LeftButton);
    EXPECT_EQ(ui().chkBeep->isChecked(), beep);
}

// Needs the Restore Defaults rule of the control states.
TEST_F(NumericFieldsTest, TenthSecondsLeavesRestoreItemUntilTheNextRefresh) {
    ui().chkBeep->setChecked(true);
    QTemporaryDir dir;
    ui().txtLog->setText(dir.filePath(QStringLiteral("Ping.Log")));
    ui().chkLogFailed->setChecked(true);
    ASSERT_FALSE(ui().mnuRestore->isEnabled());
    ui().optMilSeconds->click();
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    ui().txtTimeout->setText(QStringLiteral("03"));
    EXPECT_TRUE(ui().mnuRestore->isEnabled());
}

} // namespace
} // namespace ew::test
