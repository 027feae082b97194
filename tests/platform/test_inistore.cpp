#include "app/frmEchoWarden.h"
#include "core/Convert.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/Fakes.h"
#include "support/SettingsTestUtil.h"
#include "ui_frmEchoWarden.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace ew::test {
namespace {

// QSettings finds the user's configuration folder once per process, so the temporary one is
// put in place before anything in this program touches QSettings.
QTemporaryDir& configHome() {
    static QTemporaryDir dir;
    return dir;
}
const bool configHomeSet = [] {
    qputenv("XDG_CONFIG_HOME", configHome().path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    return true;
}();

QString appDir() {
    return configHome().path() + QStringLiteral("/8R1");
}
QString iniPath() {
    return appDir() + QStringLiteral("/8R1.ini");
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class IniStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configHomeSet && configHome().isValid());
        QFile::remove(appDir());
        QDir(appDir()).removeRecursively();
    }
    void TearDown() override { QDir(appDir()).removeRecursively(); }

    std::unique_ptr<frmEchoWarden> startWindow(IniSettingsStore& store) {
        auto w =
            std::make_unique<frmEchoWarden>(Platform{fakes.echo, store, fakes.clock, fakes.messages,
                                                     fakes.launcher, fakes.beeper, fakes.windows});
        w->setEndProgram([] {});
        w->Form_Load();
        return w;
    }
    FakePlatform fakes;
};

TEST_F(IniStore, LivesInTheUsersConfigFolderTellsMissingFromEmptyAndReplacesTheWholeFile) {
    IniSettingsStore store;
    EXPECT_EQ(store.location(keys::App), iniPath());
    store.save(keys::App, keys::Section, keys::LogFilePath, QString());
    ASSERT_TRUE(store.flush(keys::App, nullptr));
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(iniPath()).constData(), &before), 0);
    store.save(keys::App, keys::Section, keys::Beep, QStringLiteral("1"));
    ASSERT_TRUE(store.flush(keys::App, nullptr));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(iniPath()).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino); // a new file renamed over the old one
    IniSettingsStore again;
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::LogFilePath), QString());
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::Timeout), std::nullopt);
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::Beep), QStringLiteral("1"));
}

TEST_F(IniStore, TheWindowsSettingsAreWrittenAsPlainTextsAndReadBack) {
    IniSettingsStore store;
    ShownSettings saved;
    {
        auto w = startWindow(store);
        w->ui().lstIPList->addItems({QStringLiteral("10.0.0.1"), QStringLiteral("server2")});
        w->ui().txtTimeout->setText(QStringLiteral("7"));
        setCheckValue(*w->ui().chkBeep, 1);
        w->ui().mnuSSave->setChecked(false);
        ASSERT_TRUE(w->settings().cmdSave_Click());
        saved = shown(w->ui());
    }
    const QByteArray ini = fileBytes(iniPath());
    EXPECT_TRUE(ini.startsWith("[EchoWarden]\n")) << ini.constData();
    for (const char* line : {"\nSaveSettingsOnExit=False\n", "\nUnattended=False\n",
                             "\nIntervalMinutes=True\n", "\nBeep=1\n", "\nTimeout=7\n",
                             "\nEnableLoggingTotal=0\n", "\nIPList=\"10.0.0.1,server2,\"\n"})
        EXPECT_TRUE(ini.contains(line)) << line << " in\n" << ini.constData();

    IniSettingsStore restarted;
    EXPECT_EQ(shown(startWindow(restarted)->ui()), saved);
    EXPECT_EQ(saved.addresses, QStringList({"10.0.0.1", "server2"}));
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(IniStore, AHandEditedListWithoutQuotesComesBackWhole) {
    writeFile(iniPath(), "[EchoWarden]\nIPList=10.0.0.1,server2,\n");
    IniSettingsStore store;
    EXPECT_EQ(store.get(keys::App, keys::Section, keys::IPList),
              QStringLiteral("10.0.0.1,server2,"));
    writeFile(iniPath(), "[EchoWarden]\nIPList=alpha,beta\n");
    IniSettingsStore edited;
    EXPECT_EQ(shown(startWindow(edited)->ui()).addresses, QStringList({"alpha", "beta"}));
}

// A hand-corrupted or binary file starts the window with the missing-key values of what does
// not convert, and the next save replaces it with a sound file.
class DamagedFile : public IniStore, public ::testing::WithParamInterface<QByteArray> {};

TEST_P(DamagedFile, StartsTheWindowWithTheFallBacksAndTheNextSaveMendsIt) {
    writeFile(iniPath(), GetParam());
    IniSettingsStore store;
    auto w = startWindow(store);
    ShownSettings expected = firstRun();
    expected.numbers[1] = w->ui().txtTimeout->text(); // a text key shows what the file holds
    EXPECT_EQ(shown(w->ui()), expected);
    EXPECT_EQ(w->state().unattendedToHour, 0);
    EXPECT_EQ(w->state().stateFlag, StateFlag::Yes);
    ASSERT_TRUE(w->settings().cmdSave_Click());
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_TRUE(fileBytes(iniPath()).contains("[EchoWarden]\n"));
    IniSettingsStore again;
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::Beep), QStringLiteral("0"));
}

QByteArray noise() {
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(static_cast<char>((i * 7919) % 251));
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    CorruptedOrBinary, DamagedFile,
    ::testing::Values(
        QByteArray("[EchoWarden\nBeep=1\n[EchoWarden]\nBeep=banana\n"
                   "SaveSettingsOnExit=perhaps\nUnattendedTo=70000\nIntervalMinutes=\n"
                   "\x01\x02\xff garbage without an equals sign\nTimeout=\"unterminated\n"),
        noise()),
    [](const auto& info) { return std::string(info.index == 0 ? "Corrupted" : "Binary"); });

// A store that cannot be written, for a folder where the file should be (true) or a file where
// the folder should be, is reported once per failure streak through the window with the reason;
// nothing saved meanwhile is lost once the way is clear.
class BlockedStore : public IniStore, public ::testing::WithParamInterface<bool> {};

TEST_P(BlockedStore, IsReportedOnceAndALaterFlushWritesEverything) {
    const bool folderForFile = GetParam();
    const QString blocked = folderForFile ? iniPath() : appDir();
    if (folderForFile)
        ASSERT_TRUE(QDir().mkpath(blocked));
    else
        writeFile(blocked, "a file where the folder should be");
    IniSettingsStore store;
    auto w = startWindow(store);
    w->ui().txtTimeout->setText(QStringLiteral("9"));
    EXPECT_FALSE(w->settings().cmdSave_Click());
    EXPECT_FALSE(w->settings().cmdSave_Click());
    const QString reason = folderForFile
                               ? QStringLiteral("a folder of that name is in the way")
                               : QStringLiteral("the folder %1 could not be created").arg(blocked);
    const FakeMessageBoxes::Box box{
        QStringLiteral("The settings could not be saved to %1.\rReason: %2.")
            .arg(iniPath(), reason),
        QStringLiteral("Error saving settings"), MsgIcon::Critical, MsgButtons::Ok};
    EXPECT_EQ(fakes.messages.shown, std::vector{box});

    ASSERT_TRUE(folderForFile ? QDir(blocked).removeRecursively() : QFile::remove(blocked));
    EXPECT_TRUE(store.flush(keys::App, nullptr));
    EXPECT_TRUE(fileBytes(iniPath()).contains("\nTimeout=9\n"));
    EXPECT_TRUE(w->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
}
INSTANTIATE_TEST_SUITE_P(FolderForFileOrFileForFolder, BlockedStore, ::testing::Bool());

} // namespace
} // namespace ew::test
