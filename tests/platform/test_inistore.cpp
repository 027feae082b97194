#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QDir>

namespace ew::test {
namespace {

// QSettings finds the user's configuration folder once per process, so the temporary one is
// put in place before anything touches QSettings.
QTemporaryDir configHome;
const bool configHomeSet = qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
const QString iniPath = configHome.path() + QStringLiteral("/8R1/8R1.ini");

class IniStore : public MainWindowTest {
protected:
    // Writes bytes as the settings file (none: a folder in its place).
    static void put(const QByteArray& bytes) {
        QDir(QFileInfo(iniPath).path()).removeRecursively();
        QDir().mkpath(bytes.isNull() ? iniPath : QFileInfo(iniPath).path());
        QFile file(iniPath);
        ASSERT_TRUE(bytes.isNull() || (file.open(QIODevice::WriteOnly) && file.write(bytes)));
    }
    void startOn(IniSettingsStore& store) {
        ASSERT_TRUE(configHomeSet);
        window =
            std::make_unique<frmEchoWarden>(Platform{fakes.echo, store, fakes.clock, fakes.messages,
                                                     fakes.launcher, fakes.beeper, fakes.windows});
        window->setEndProgram([] {});
        load();
    }
};

TEST_F(IniStore, KeepsPlainTextsTellsMissingFromEmptyAndReadsAByteOrderMark) {
    IniSettingsStore store;
    startOn(store);
    ui().lstIPList->addItems({QStringLiteral("127.0.0.1"), QStringLiteral("server2")});
    ui().txtLog->setText(QString());
    ASSERT_TRUE(window->settings().cmdSave_Click());
    QFile file(iniPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray ini = file.readAll();
    for (const char* line : {"[EchoWarden]\n", "\nBeep=0\n", "\nIntervalMinutes=True\n",
                             "\nLogFilePath=\n", "\nIPList=\"127.0.0.1,server2,\"\n"})
        EXPECT_TRUE(ini.contains(line)) << line << " in\n" << ini.constData();
    IniSettingsStore again; // missing and empty stay apart
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::LogFilePath), QString());
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::UnattendedTo), std::nullopt);
    // As Windows Notepad saves it: a byte-order mark first, CR LF line ends, a hand-edited list.
    window.reset();
    put("\xef\xbb\xbf[EchoWarden]\r\nBeep=1\r\n"
        "IPList=\"127.0.0.1,,127.0.0.2, host\xe2\x80\xae\x61,\"\r\n");
    IniSettingsStore bom;
    startOn(bom);
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(ipList(), QStringList({"127.0.0.1", "127.0.0.2", "hosta"}));
    EXPECT_TRUE(ui().chkBeep->isChecked());
}

TEST_F(IniStore, AFileThatCannotBeReadIsToldOnceAndTheRunStartsAsTheFirst) {
    const struct {
        QByteArray bytes;
        const char *reason, *then;
    } rows[] = {{"[EchoWarden\nBeep=1\nTimeout=9\n", "the file is not a valid INI file",
                 "The defaults are in use; saving the settings replaces the file."},
                {{},
                 "a folder of that name is in the way",
                 "The defaults are in use; the settings cannot be saved until the folder is moved "
                 "away."}};
    for (const auto& [bytes, reason, then] : rows) {
        SCOPED_TRACE(reason);
        put(bytes);
        IniSettingsStore store;
        startOn(store);
        EXPECT_EQ(shown(ui()), LogFile::defaultLogPath() + " | 16 3 5 1 | 100 | 000 | 1001 | ");
        // A damaged file is kept aside under a name that says so, its bytes as they were.
        const QStringList aside =
            QDir(QFileInfo(iniPath).path()).entryList({QStringLiteral("8R1.ini.unreadable-*")});
        ASSERT_EQ(aside.size(), bytes.isNull() ? 0 : 1);
        const QString keptAs = bytes.isNull() ? QString()
                                              : QStringLiteral("The file was kept as %1/%2.\r")
                                                    .arg(QFileInfo(iniPath).path(), aside.value(0));
        const FakeMessageBoxes::Box told{
            QStringLiteral("The settings could not be read from %1.\rReason: %2.\r")
                    .arg(iniPath, QString::fromLatin1(reason)) +
                keptAs + QString::fromLatin1(then),
            "Error reading settings", MsgIcon::Critical, MsgButtons::Ok};
        EXPECT_EQ(fakes.messages.shown, std::vector({told}));
        QFile kept(QFileInfo(iniPath).path() + '/' + aside.value(0));
        EXPECT_TRUE(bytes.isNull() || (kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes));
        fakes.messages.shown.clear();
        // The next save replaces a damaged file with a sound one.
        EXPECT_EQ(window->settings().cmdSave_Click(), !bytes.isNull());
        EXPECT_EQ(IniSettingsStore().readError(keys::App).has_value(), bytes.isNull());
        window.reset();
    }
}

} // namespace
} // namespace ew::test
