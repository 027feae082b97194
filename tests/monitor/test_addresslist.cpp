#include "monitor/AddressList.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QTest>

namespace ew::test {
namespace {

QStringList items(const QListWidget& list) {
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

class AddressListEditing : public MainWindowTest {
protected:
    // Loads with the given stored list, idle.
    void loadWith(const QString& stored) {
        fakes.store.put(keys::IPList, stored);
        load();
    }
    void type(const QString& text) { QTest::keyClicks(ui().txtIPAddress, text); }
    void add() { QTest::mouseClick(ui().cmdAdd, Qt::LeftButton); }
    void clickEntry(int row) {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        auto* list = ui().lstIPList;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
};

TEST_F(AddressListEditing, TypingAndDeletingEverythingLeavesAddEnabledAndAddThenDoesNothing) {
    loadWith(QStringLiteral("a,"));
    ASSERT_FALSE(ui().cmdAdd->isEnabled());
    type(QStringLiteral("x"));
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Backspace);
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    add();
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    EXPECT_EQ(items(*ui().lstIPList), QStringList{"a"});
}

TEST_F(AddressListEditing, FirstEntryWhileIdleEnablesPingAndClear) {
    load();
    ASSERT_FALSE(ui().cmdStartPing->isEnabled());
    ASSERT_FALSE(ui().cmdClear->isEnabled());
    type(QStringLiteral("10.0.0.1"));
    add();
    EXPECT_EQ(items(*ui().lstIPList), QStringList{"10.0.0.1"});
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    EXPECT_EQ(ui().txtIPAddress->text(), QString());
}

TEST_F(AddressListEditing, EntriesAreKeptAsTypedDuplicatesIncluded) {
    load();
    for (const QString& e :
         {QStringLiteral(" host a "), QStringLiteral(" host a "), QStringLiteral("a,b")}) {
        type(e);
        add();
    }
    EXPECT_EQ(items(*ui().lstIPList), (QStringList{" host a ", " host a ", "a,b"}));
}

TEST_F(AddressListEditing, AddingWhileMonitoringLeavesPingDisabled) {
    loadWith(QStringLiteral("a,"));
    // Monitoring: Ping disabled, Stop enabled.
    ui().cmdStartPing->setEnabled(false);
    ui().cmdStopPing->setEnabled(true);
    type(QStringLiteral("b"));
    add();
    EXPECT_EQ(items(*ui().lstIPList), (QStringList{"a", "b"}));
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
}

TEST_F(AddressListEditing, SelectingByMouseOrKeyboardEnablesRemove) {
    loadWith(QStringLiteral("a,b,c,"));
    ASSERT_FALSE(ui().cmdRemove->isEnabled());
    clickEntry(1);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->setEnabled(false);
    // The entry already selected, clicked again, is a click too.
    clickEntry(1);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->setEnabled(false);
    QTest::keyClick(ui().lstIPList, Qt::Key_Down);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    EXPECT_EQ(ui().lstIPList->selectedItems().value(0)->text(), QStringLiteral("c"));
}

TEST_F(AddressListEditing, RemoveTakesTheSelectedEntryAndLeavesNothingSelected) {
    loadWith(QStringLiteral("a,b,c,"));
    clickEntry(1);
    QTest::mouseClick(ui().cmdRemove, Qt::LeftButton);
    EXPECT_EQ(items(*ui().lstIPList), (QStringList{"a", "c"}));
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
    EXPECT_TRUE(ui().lstIPList->selectedItems().isEmpty());
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
    // With nothing selected, Remove removes nothing.
    window->addressList().cmdRemove_Click();
    EXPECT_EQ(ui().lstIPList->count(), 2);
}

TEST_F(AddressListEditing, RemovingTheLastEntryDisablesPingClearAndRemove) {
    loadWith(QStringLiteral("only,"));
    ui().lstIPList->setCurrentRow(0);
    ASSERT_TRUE(ui().cmdRemove->isEnabled());
    QTest::mouseClick(ui().cmdRemove, Qt::LeftButton);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
}

TEST_F(AddressListEditing, ClearAfterASelectionLeavesRemoveEnabledAndRemoveThenRemovesNothing) {
    loadWith(QStringLiteral("a,b,"));
    ui().lstIPList->setCurrentRow(0);
    QTest::mouseClick(ui().cmdClear, Qt::LeftButton);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdClear->isEnabled());
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    QTest::mouseClick(ui().cmdRemove, Qt::LeftButton);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
}

TEST_F(AddressListEditing, ClearWhileMonitoringLeavesStopAlone) {
    loadWith(QStringLiteral("a,"));
    ui().cmdStartPing->setEnabled(false);
    ui().cmdStopPing->setEnabled(true);
    QTest::mouseClick(ui().cmdClear, Qt::LeftButton);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
}

} // namespace
} // namespace ew::test
