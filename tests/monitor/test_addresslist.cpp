#include "monitor/AddressList.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QTest>

namespace ew::test {
namespace {

class AddressListEditing : public MainWindowTest {
protected:
    // Loads with the given stored list, idle.
    void loadWith(const QString& stored) {
        fakes.store.put(keys::IPList, stored);
        load();
    }
    void add(const QString& typed) {
        QTest::keyClicks(ui().txtIPAddress, typed);
        QTest::mouseClick(ui().cmdAdd, Qt::LeftButton);
    }
    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
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
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("x"));
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Backspace);
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    click(ui().cmdAdd);
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    EXPECT_EQ(ipList(), QStringList{"a"});
}

TEST_F(AddressListEditing, FirstEntryWhileIdleEnablesPingAndClearAndEntriesStayAsTyped) {
    load();
    ASSERT_FALSE(ui().cmdStartPing->isEnabled());
    ASSERT_FALSE(ui().cmdClear->isEnabled());
    add(QStringLiteral(" host a "));
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    EXPECT_EQ(ui().txtIPAddress->text(), QString());
    add(QStringLiteral(" host a "));
    add(QStringLiteral("a,b"));
    EXPECT_EQ(ipList(), (QStringList{" host a ", " host a ", "a,b"}));
}

TEST_F(AddressListEditing, AddAndClearWhileMonitoringLeavePingDisabledAndStopEnabled) {
    loadWith(QStringLiteral("a,"));
    ui().cmdStartPing->setEnabled(false); // monitoring
    ui().cmdStopPing->setEnabled(true);
    add(QStringLiteral("b"));
    EXPECT_EQ(ipList(), (QStringList{"a", "b"}));
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    click(ui().cmdClear);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
}

TEST_F(AddressListEditing, SelectingByMouseOrKeyboardEnablesRemove) {
    loadWith(QStringLiteral("a,b,c,"));
    ASSERT_FALSE(ui().cmdRemove->isEnabled());
    clickEntry(1);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->setEnabled(false);
    clickEntry(1); // the entry already selected, clicked again, is a click too
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->setEnabled(false);
    QTest::keyClick(ui().lstIPList, Qt::Key_Down);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    EXPECT_EQ(ui().lstIPList->selectedItems().value(0)->text(), QStringLiteral("c"));
}

TEST_F(AddressListEditing, RemoveTakesTheSelectedEntryAndTheLastOneDisablesPingClearAndRemove) {
    loadWith(QStringLiteral("a,b,c,"));
    clickEntry(1);
    click(ui().cmdRemove);
    EXPECT_EQ(ipList(), (QStringList{"a", "c"}));
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
    EXPECT_TRUE(ui().lstIPList->selectedItems().isEmpty());
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
    window->addressList().cmdRemove_Click(); // nothing selected: nothing removed
    EXPECT_EQ(ui().lstIPList->count(), 2);

    for (int left = 1; left >= 0; --left) {
        clickEntry(0);
        ASSERT_TRUE(ui().cmdRemove->isEnabled());
        click(ui().cmdRemove);
        EXPECT_EQ(ui().lstIPList->count(), left);
    }
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
}

TEST_F(AddressListEditing, ClearAfterASelectionLeavesRemoveEnabledAndRemoveThenRemovesNothing) {
    loadWith(QStringLiteral("a,b,"));
    ui().lstIPList->setCurrentRow(0);
    click(ui().cmdClear);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdClear->isEnabled());
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    click(ui().cmdRemove);
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
}

} // namespace
} // namespace ew::test
