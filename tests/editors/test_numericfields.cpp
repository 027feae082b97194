#include "support/MainWindowFixture.h"

#include <QTest>

namespace ew::test {
namespace {

class NumericFieldsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
    }
    QLineEdit* box(const char* name) { return window->findChild<QLineEdit*>(name); }
    QScrollBar* bar(const char* name) { return window->findChild<QScrollBar*>(name); }
};

// One arrow click: the upper arrow (+1 here) moves the position towards the minimum.
void click(QScrollBar* bar, int arrow) {
    bar->triggerAction(arrow > 0 ? QAbstractSlider::SliderSingleStepSub
                                 : QAbstractSlider::SliderSingleStepAdd);
}

struct SpinCase {
    const char *box, *bar, *start;
    int arrow;                  // +1 up, -1 down
    const char *first, *second; // the text after one click, and after a second one
};
class Spinner : public NumericFieldsTest, public ::testing::WithParamInterface<SpinCase> {};

// Steps by its field's step, wraps at the bounds (the spinner follows), leaves no number alone.
TEST_P(Spinner, StepsAndWrapsAtTheBounds) {
    const SpinCase& c = GetParam();
    box(c.box)->setText(c.start);
    state().lastScrollValue = std::int16_t(bar(c.bar)->value());
    click(bar(c.bar), c.arrow);
    EXPECT_EQ(box(c.box)->text(), c.first);
    EXPECT_EQ(state().lastScrollValue, bar(c.bar)->value());
    click(bar(c.bar), c.arrow); // judged against the position the wrap left
    EXPECT_EQ(box(c.box)->text(), c.second);
}
INSTANTIATE_TEST_SUITE_P(
    Fields, Spinner,
    ::testing::Values(SpinCase{"txtAttempts", "vsbAttempts", "3", +1, "4", "5"},
                      SpinCase{"txtAttempts", "vsbAttempts", "5", +1, "1", "2"},
                      SpinCase{"txtAttempts", "vsbAttempts", "2", -1, "1", "5"},
                      SpinCase{"txtAttempts", "vsbAttempts", "7", +1, "8", "9"},
                      SpinCase{"txtInterval", "vsbInterval", "998", +1, "999", "1"},
                      SpinCase{"txtNumBytes", "vsbNumBytes", "1024", +1, "16", "32"},
                      SpinCase{"txtNumBytes", "vsbNumBytes", "32", -1, "16", "1024"},
                      SpinCase{"txtTimeout", "vsbTimeout", "1", -1, "300", "299"},
                      SpinCase{"txtTimeout", "vsbTimeout", "2.5", +1, "3.5", "4.5"},
                      SpinCase{"txtTimeout", "vsbTimeout", "ab", +1, "ab", "ab"}),
    [](const auto& row) {
        return std::string(row.param.box + 3) + "_" + std::to_string(row.index);
    });

// The four spinners share one last position: a move counts only one step away from it.
TEST_F(NumericFieldsTest, SpinnersShareTheLastPositionSeen) {
    ui().txtAttempts->setText(QStringLiteral("3"));
    state().lastScrollValue = 0;
    click(ui().vsbTimeout, +1);
    click(ui().vsbTimeout, +1);  // the shared position is now -2
    click(ui().vsbAttempts, +1); // -1 - (-2) = +1: taken as the lower arrow
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("2"));
    click(ui().vsbAttempts, +1);
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("3"));
    for (int i = 0; i < 3; ++i)
        click(ui().vsbTimeout, -1); // the shared position is now 1
    click(ui().vsbAttempts, -1);    // -2 to -1: two steps away, no change
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("3"));
    click(ui().vsbAttempts, -1);
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("2"));
}

struct ReplaceCase {
    const char *box, *typed, *shown;
};
class TextRule : public NumericFieldsTest, public ::testing::WithParamInterface<ReplaceCase> {};

// "0" and an empty box become the field's replacement, also while loading.
TEST_P(TextRule, ZeroAndEmptyAreReplaced) {
    for (StateFlag flag : {StateFlag::Yes, StateFlag::Dont}) {
        box(GetParam().box)->setText(QStringLiteral("9"));
        state().stateFlag = flag;
        box(GetParam().box)->setText(GetParam().typed);
        EXPECT_EQ(box(GetParam().box)->text(), GetParam().shown);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Fields, TextRule,
    ::testing::Values(ReplaceCase{"txtTimeout", "0", "3"}, ReplaceCase{"txtTimeout", "", "3"},
                      ReplaceCase{"txtAttempts", "0", "1"}, ReplaceCase{"txtNumBytes", "", "16"},
                      ReplaceCase{"txtInterval", "", "3"}, ReplaceCase{"txtInterval", "00", "00"}),
    [](const auto& row) {
        return std::string(row.param.box + 3) + "_" + std::to_string(row.index);
    });

// Minutes, seconds and tenth-seconds exclude each other; the captions toggle their control,
// so that minutes can leave no unit selected.
TEST_F(NumericFieldsTest, UnitsStayExclusiveAndCaptionsToggleThem) {
    window->show();
    const auto units = [this] {
        return QList<bool>{ui().optMinutes->isChecked(), ui().optSeconds->isChecked(),
                           ui().optMilSeconds->isChecked()};
    };
    ui().optMilSeconds->click();
    EXPECT_EQ(units(), QList<bool>({false, false, true}));
    ui().optSeconds->click();
    EXPECT_EQ(units(), QList<bool>({false, true, false}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton);
    EXPECT_EQ(units(), QList<bool>({true, false, false}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton);
    EXPECT_EQ(units(), QList<bool>({false, false, false}));
    ui().chkBeep->setEnabled(false); // a caption works on a disabled box too
    const bool beep = ui().chkBeep->isChecked();
    QTest::mouseClick(ui().lblBeep, Qt::LeftButton);
    EXPECT_NE(ui().chkBeep->isChecked(), beep);
}

} // namespace
} // namespace ew::test
