#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QClipboard>
#include <QTest>

namespace ew::test {
namespace {

class AddressListEditing : public MainWindowTest {
protected:
    void loadWith(const QString& stored) {
        fakes.store.put(keys::IPList, stored);
        load();
    }
    void add(const QString& typed) {
        QTest::keyClicks(ui().txtIPAddress, typed);
        QTest::mouseClick(ui().cmdAdd, Qt::LeftButton);
    }
    void clickEntry(int row) {
        auto* list = ui().lstIPList;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    }
};

TEST_F(AddressListEditing, AddKeepsWhatWasTypedAndTheButtonsInStep) {
    load();
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("x"));
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Backspace);
    QTest::mouseClick(ui().cmdAdd, Qt::LeftButton); // an empty box adds nothing
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    ASSERT_FALSE(ui().cmdStartPing->isEnabled() || ui().cmdClear->isEnabled());
    add(QStringLiteral(" host a "));
    add(QStringLiteral("a,b"));
    EXPECT_EQ(ipList(), (QStringList{" host a ", "a,b"}));
    EXPECT_TRUE(ui().cmdStartPing->isEnabled() && ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    // While monitoring (Stop enabled) Add never enables Ping.
    ui().cmdClear->click();
    ui().cmdStopPing->setEnabled(true);
    add(QStringLiteral("b"));
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
}

TEST_F(AddressListEditing, EnterAddsAndAPastedColumnGivesOneCleanEntryPerLine) {
    const struct {
        const char* pasted;
        QStringList entries;
    } rows[] = {{"10.0.0.1\r\n10.0.0.2\r\n", {"10.0.0.1", "10.0.0.2"}},
                {"a\n\n  b \nc", {"a", "b", "c"}},
                {"\t10.0.0.3\t\r\nhost\tname\n", {"10.0.0.3", "host name"}},
                {"\r\n\n\t", {}}};
    load();
    window->show();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pasted);
        ui().lstIPList->clear();
        QApplication::clipboard()->setText(QString::fromLatin1(row.pasted));
        QTest::keyClick(ui().txtIPAddress, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
        EXPECT_EQ(ipList(), row.entries);
        EXPECT_EQ(ui().txtIPAddress->text(), QString());
    }
    // Enter while Add is disabled adds nothing.
    ui().txtIPAddress->setText(QStringLiteral("x"));
    ui().cmdAdd->setEnabled(false);
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Enter);
    EXPECT_EQ(ipList(), QStringList{});
}

TEST_F(AddressListEditing, SelectingEnablesRemoveAndAnEmptyListDisablesPingAndClear) {
    loadWith(QStringLiteral("a,b,c,"));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_FALSE(ui().cmdRemove->isEnabled());
    clickEntry(1);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->click();
    EXPECT_EQ(ipList(), (QStringList{"a", "c"}));
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
    clickEntry(0);
    ui().cmdRemove->setEnabled(false);
    QTest::keyClick(ui().lstIPList, Qt::Key_Down); // the keyboard selects too
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    ui().cmdRemove->click();
    clickEntry(0);
    ui().cmdRemove->click();
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_FALSE(ui().cmdStartPing->isEnabled() || ui().cmdClear->isEnabled());
    // Clear after a selection leaves Remove as it was.
    fakes.store.put(keys::IPList, QStringLiteral("a,"));
    restart();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    clickEntry(0);
    ui().cmdClear->click();
    EXPECT_EQ(ui().lstIPList->count(), 0);
    EXPECT_TRUE(ui().cmdRemove->isEnabled());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled() || ui().cmdClear->isEnabled());
}

} // namespace
} // namespace ew::test
