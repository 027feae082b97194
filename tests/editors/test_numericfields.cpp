#include "support/MainWindowFixture.h"

#include <QTest>

namespace ew::test {
namespace {

// One arrow click: the upper arrow (+1) moves the position towards the minimum.
void click(QScrollBar* bar, int arrow) {
    bar->triggerAction(arrow > 0 ? QAbstractSlider::SliderSingleStepSub
                                 : QAbstractSlider::SliderSingleStepAdd);
}

struct SpinCase {
    const char *field, *start;
    int arrow;
    const char *first, *second; // the text after one click, and after a second one
};
class Spinner : public MainWindowTest, public ::testing::WithParamInterface<SpinCase> {};

// Steps by its field's step and wraps at the bounds, the spinner following; a text that is no
// number is left alone.
TEST_P(Spinner, StepsAndWrapsAtTheBounds) {
    load();
    const SpinCase& c = GetParam();
    auto* text = window->findChild<QLineEdit*>(QStringLiteral("txt") + c.field);
    auto* bar = window->findChild<QScrollBar*>(QStringLiteral("vsb") + c.field);
    text->setText(c.start);
    state().lastScrollValue = std::int16_t(bar->value());
    click(bar, c.arrow);
    EXPECT_EQ(text->text(), c.first);
    click(bar, c.arrow); // judged against the position the wrap left
    EXPECT_EQ(text->text(), c.second);
}
INSTANTIATE_TEST_SUITE_P(
    Fields, Spinner,
    ::testing::Values(
        SpinCase{"Attempts", "3", +1, "4", "5"}, SpinCase{"Attempts", "5", +1, "1", "2"},
        SpinCase{"Attempts", "2", -1, "1", "5"}, SpinCase{"Attempts", "7", +1, "8", "9"},
        SpinCase{"Interval", "998", +1, "999", "1"}, SpinCase{"NumBytes", "1024", +1, "16", "32"},
        SpinCase{"NumBytes", "32", -1, "16", "1024"}, SpinCase{"Timeout", "1", -1, "300", "299"},
        SpinCase{"Timeout", "2.5", +1, "3.5", "4.5"}, SpinCase{"Timeout", "ab", +1, "ab", "ab"}),
    [](const auto& row) { return row.param.field + std::to_string(row.index); });

struct ReplaceCase {
    const char *field, *typed, *shown;
};
class TextRule : public MainWindowTest, public ::testing::WithParamInterface<ReplaceCase> {};

// "0" and an empty box become the field's replacement, also while loading.
TEST_P(TextRule, ZeroAndEmptyAreReplaced) {
    load();
    auto* text = window->findChild<QLineEdit*>(QStringLiteral("txt") + GetParam().field);
    for (StateFlag flag : {StateFlag::Yes, StateFlag::Dont}) {
        text->setText(QStringLiteral("9"));
        state().stateFlag = flag;
        text->setText(GetParam().typed);
        EXPECT_EQ(text->text(), GetParam().shown);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Fields, TextRule,
    ::testing::Values(ReplaceCase{"Timeout", "0", "3"}, ReplaceCase{"Timeout", "", "3"},
                      ReplaceCase{"Attempts", "0", "1"}, ReplaceCase{"NumBytes", "", "16"},
                      ReplaceCase{"Interval", "", "3"}, ReplaceCase{"Interval", "00", "00"}),
    [](const auto& row) { return row.param.field + std::to_string(row.index); });

// The replacement is left selected, so the digits typed next replace it instead of joining it.
TEST_F(MainWindowTest, DigitsTypedAfterAReplacementReplaceIt) {
    load();
    const struct {
        QLineEdit* box;
        const char *start, *typed, *shown;
        int backspaces;
    } rows[] = {{ui().txtInterval, "5", "1", "1", 1},
                {ui().txtNumBytes, "16", "8", "8", 2},
                {ui().txtTimeout, "7", "04", "4", 1}};
    for (const auto& row : rows) {
        row.box->setText(row.start);
        for (int i = 0; i < row.backspaces; ++i)
            QTest::keyClick(row.box, Qt::Key_Backspace);
        QTest::keyClicks(row.box, row.typed);
        EXPECT_EQ(row.box->text(), row.shown);
    }
}

// Minutes, seconds and tenth-seconds exclude each other; a caption toggles its control, so
// that minutes can leave no unit selected, and works on a disabled box too.
TEST_F(MainWindowTest, UnitsStayExclusiveAndCaptionsToggleThem) {
    load();
    window->show();
    const auto units = [this] {
        return QList<bool>{ui().optMinutes->isChecked(), ui().optSeconds->isChecked(),
                           ui().optMilSeconds->isChecked()};
    };
    ui().optMilSeconds->click();
    ui().optSeconds->click();
    EXPECT_EQ(units(), QList<bool>({false, true, false}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton);
    EXPECT_EQ(units(), QList<bool>({true, false, false}));
    QTest::mouseClick(ui().Label1, Qt::LeftButton);
    EXPECT_EQ(units(), QList<bool>({false, false, false}));
    ui().chkBeep->setEnabled(false);
    const bool beep = ui().chkBeep->isChecked();
    QTest::mouseClick(ui().lblBeep, Qt::LeftButton);
    EXPECT_NE(ui().chkBeep->isChecked(), beep);
}

} // namespace
} // namespace ew::test
