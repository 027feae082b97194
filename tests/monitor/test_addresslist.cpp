#include "support/MainWindowFixture.h"

#include <QClipboard>
#include <QTest>

namespace ew::test {
namespace {

using AddressListEditing = MainWindowTest;

TEST_F(AddressListEditing, AddKeepsTheButtonsInStepAndNeverEnablesPingWhileMonitoring) {
    load();
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("x"));
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Backspace);
    ui().cmdAdd->click(); // an empty box adds nothing
    EXPECT_TRUE(ui().cmdAdd->isEnabled());
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("a"));
    ui().cmdAdd->click();
    EXPECT_TRUE(ui().cmdStartPing->isEnabled() && ui().cmdClear->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    ui().cmdClear->click();
    ui().cmdStopPing->setEnabled(true); // monitoring
    QTest::keyClicks(ui().txtIPAddress, QStringLiteral("b"));
    ui().cmdAdd->click();
    EXPECT_EQ(ipList(), QStringList{"b"});
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
}

TEST_F(AddressListEditing, EnterAddsAndAPasteGivesOneCleanEntryPerLineOrComma) {
    const struct {
        const char* pasted;
        QStringList entries;
    } rows[] = {{" host a ", {" host a "}}, // a single line is kept as it is, like typed text
                {"127.0.0.1\r\n127.0.0.2\r\n", {"127.0.0.1", "127.0.0.2"}},
                {"a\n\n  b \nc", {"a", "b", "c"}},
                {"\t127.0.0.3\t\r\nhost\tname\n", {"127.0.0.3", "host name"}},
                {"host\tname", {"host name"}},
                {"a\rb", {"a", "b"}},
                {"a, b,,c,", {"a", "b", "c"}}, // the store would split it at the next start
                {"\u202e\u200bevil\u00ad.host\ufeff", {"evil.host"}},
                {"\r\n\n\t", {}},
                {"   ", {}}}; // blanks alone name no host
    load();
    window->show();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pasted);
        ui().lstIPList->clear();
        QApplication::clipboard()->setText(QString::fromUtf8(row.pasted));
        QTest::keyClick(ui().txtIPAddress, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
        EXPECT_EQ(ipList(), row.entries);
        EXPECT_EQ(ui().txtIPAddress->text(), QString());
    }
    // 10,000 lines in 200,000 characters: every one whole, in one step.
    QStringList many;
    for (int i = 0; i < 10000; ++i)
        many << QStringLiteral("h%1.example.test").arg(i, 5, 10, QLatin1Char('0'));
    QApplication::clipboard()->setText(many.join('\n') + '\n');
    ui().lstIPList->clear();
    QTest::keyClick(ui().txtIPAddress, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Return);
    EXPECT_EQ(ipList(), many);
    // Enter while Add is disabled adds nothing.
    ui().txtIPAddress->setText(QStringLiteral("x"));
    ui().cmdAdd->setEnabled(false);
    QTest::keyClick(ui().txtIPAddress, Qt::Key_Enter);
    EXPECT_EQ(ipList(), many);
}

} // namespace
} // namespace ew::test
