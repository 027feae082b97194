#include "support/MainWindowFixture.h"

namespace ew::test {
namespace {

// Each arrow steps by its field's step and wraps at the bounds, the spinner following; a text
// that is no number is left alone. "0" and an empty box become the field's replacement, also
// while loading, and left selected.
TEST_F(PassTest, SpinnersStepAndWrapZeroIsReplacedAndUnitsStayExclusive) {
    const auto box = [this](const char* field) {
        return window->findChild<QLineEdit*>(QStringLiteral("txt") + field);
    };
    const struct {
        const char *field, *start;
        int arrow;
        const char *first, *second; // the text after one click, and after a second one
    } spins[] = {{"Attempts", "5", +1, "1", "2"},      {"Attempts", "7", +1, "8", "9"},
                 {"Interval", "998", +1, "999", "1"},  {"NumBytes", "1024", +1, "16", "32"},
                 {"NumBytes", "32", -1, "16", "1024"}, {"Timeout", "1", -1, "300", "299"},
                 {"Timeout", "2.5", +1, "3.5", "4.5"}, {"Timeout", "ab", +1, "ab", "ab"}};
    for (const auto& c : spins) {
        SCOPED_TRACE(std::string(c.field) + ' ' + c.start);
        auto* bar = window->findChild<QScrollBar*>(QStringLiteral("vsb") + c.field);
        // One arrow click: the upper arrow (+1) moves the position towards the minimum.
        const auto click = [&] {
            bar->triggerAction(c.arrow > 0 ? QAbstractSlider::SliderSingleStepSub
                                           : QAbstractSlider::SliderSingleStepAdd);
        };
        box(c.field)->setText(c.start);
        state().lastScrollValue = std::int16_t(bar->value());
        click();
        EXPECT_EQ(box(c.field)->text(), c.first);
        click(); // judged against the position the wrap left
        EXPECT_EQ(box(c.field)->text(), c.second);
    }
    const char* const replaced[][3] = {{"Timeout", "0", "3"},  {"Timeout", "", "3"},
                                       {"Attempts", "0", "1"}, {"NumBytes", "", "16"},
                                       {"Interval", "", "3"},  {"Interval", "00", "00"}};
    for (const auto& [field, typed, shown] : replaced)
        for (StateFlag flag : {StateFlag::Yes, StateFlag::Dont}) {
            box(field)->setText(QStringLiteral("9"));
            state().stateFlag = flag;
            box(field)->setText(typed);
            EXPECT_EQ(box(field)->text(), shown) << field << " '" << typed << "'";
            // The replacement is left selected: the digit typed next replaces it.
            QTest::keyClick(box(field), Qt::Key_8);
            EXPECT_EQ(box(field)->text(),
                      QString(*typed && !strcmp(shown, typed) ? shown : "") + "8");
        }

    // Minutes, seconds and tenth-seconds exclude each other; a caption toggles its control, so
    // that minutes can leave no unit selected, and works on a disabled box too.
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
