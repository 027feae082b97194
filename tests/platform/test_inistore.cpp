#include "app/Convert.h"
#include "app/frmEchoWarden.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/Fakes.h"
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

TEST_F(IniStore, LivesInTheUsersConfigFolderAndTellsMissingFromEmpty) {
    IniSettingsStore store;
    EXPECT_EQ(store.location(keys::App), iniPath());
    EXPECT_EQ(store.get(keys::App, keys::Section, keys::Timeout), std::nullopt);
    store.save(keys::App, keys::Section, keys::LogFilePath, QString());
    QString reason;
    ASSERT_TRUE(store.flush(keys::App, &reason)) << reason.toStdString();

    IniSettingsStore again;
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::LogFilePath), QString());
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::Timeout), std::nullopt);
}

TEST_F(IniStore, TheWindowsSettingsAreWrittenAsPlainTextsAndReadBack) {
    IniSettingsStore store;
    {
        auto w = startWindow(store);
        w->ui().lstIPList->addItems({QStringLiteral("10.0.0.1"), QStringLiteral("server2")});
        w->ui().txtTimeout->setText(QStringLiteral("7"));
        setCheckValue(*w->ui().chkBeep, 1);
        w->ui().mnuSSave->setChecked(false);
        ASSERT_TRUE(w->settings().cmdSave_Click());
    }
    const QByteArray ini = fileBytes(iniPath());
    EXPECT_TRUE(ini.startsWith("[EchoWarden]\n")) << ini.constData();
    for (const char* line : {"\nSaveSettingsOnExit=False\n", "\nUnattended=False\n",
                             "\nIntervalMinutes=True\n", "\nBeep=1\n", "\nTimeout=7\n",
                             "\nEnableLoggingTotal=0\n", "\nIPList=\"10.0.0.1,server2,\"\n"})
        EXPECT_TRUE(ini.contains(line)) << line << " in\n" << ini.constData();

    IniSettingsStore restarted;
    auto w = startWindow(restarted);
    EXPECT_EQ(w->ui().lstIPList->count(), 2);
    EXPECT_EQ(w->ui().lstIPList->item(1)->text(), QStringLiteral("server2"));
    EXPECT_EQ(w->ui().txtTimeout->text(), QStringLiteral("7"));
    EXPECT_EQ(checkValue(*w->ui().chkBeep), 1);
    EXPECT_FALSE(w->ui().mnuSSave->isChecked());
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(IniStore, AHandEditedListWithoutQuotesComesBackWhole) {
    writeFile(iniPath(), "[EchoWarden]\nIPList=10.0.0.1,server2,\n");
    IniSettingsStore store;
    EXPECT_EQ(store.get(keys::App, keys::Section, keys::IPList),
              QStringLiteral("10.0.0.1,server2,"));
    writeFile(iniPath(), "[EchoWarden]\nIPList=alpha,beta\n");
    IniSettingsStore edited;
    auto w = startWindow(edited);
    ASSERT_EQ(w->ui().lstIPList->count(), 2);
    EXPECT_EQ(w->ui().lstIPList->item(0)->text(), QStringLiteral("alpha"));
    EXPECT_EQ(w->ui().lstIPList->item(1)->text(), QStringLiteral("beta"));
}

TEST_F(IniStore, ACorruptedFileStillStartsTheWindowWithTheFallBacks) {
    writeFile(iniPath(), "[EchoWarden\nBeep=1\n[EchoWarden]\nBeep=banana\n"
                         "SaveSettingsOnExit=perhaps\nUnattendedTo=70000\nIntervalMinutes=\n"
                         "\x01\x02\xff garbage without an equals sign\nTimeout=\"unterminated\n");
    IniSettingsStore store;
    auto w = startWindow(store);
    EXPECT_EQ(checkValue(*w->ui().chkBeep), 0);
    EXPECT_TRUE(w->ui().mnuSSave->isChecked());
    EXPECT_TRUE(w->ui().optMinutes->isChecked());
    EXPECT_EQ(w->state().unattendedToHour, 0);
    EXPECT_EQ(w->ui().txtNumBytes->text(), QStringLiteral("16"));
    EXPECT_EQ(w->state().stateFlag, StateFlag::Yes);
    // And the next save replaces the damaged file with a sound one.
    QString reason;
    ASSERT_TRUE(w->settings().cmdSave_Click());
    EXPECT_TRUE(fakes.messages.shown.empty());
    IniSettingsStore again;
    EXPECT_EQ(again.get(keys::App, keys::Section, keys::Beep), QStringLiteral("0"));
}

TEST_F(IniStore, ABinaryFileStartsTheWindowWithTheFirstRunValues) {
    QByteArray noise;
    for (int i = 0; i < 4096; ++i)
        noise.append(static_cast<char>((i * 7919) % 251));
    writeFile(iniPath(), noise);
    IniSettingsStore store;
    auto w = startWindow(store);
    EXPECT_EQ(w->ui().txtAttempts->text(), QStringLiteral("1"));
    EXPECT_EQ(checkValue(*w->ui().chkLogFailed), 0);
    EXPECT_EQ(w->state().stateFlag, StateFlag::Yes);
}

TEST_F(IniStore, FlushReplacesTheFileAsAWhole) {
    IniSettingsStore store;
    store.save(keys::App, keys::Section, keys::Beep, QStringLiteral("0"));
    ASSERT_TRUE(store.flush(keys::App, nullptr));
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(iniPath()).constData(), &before), 0);
    store.save(keys::App, keys::Section, keys::Beep, QStringLiteral("1"));
    ASSERT_TRUE(store.flush(keys::App, nullptr));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(iniPath()).constData(), &after), 0);
    // A new file renamed over the old one, not the old one rewritten in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(store.get(keys::App, keys::Section, keys::Beep), QStringLiteral("1"));
    EXPECT_TRUE(fileBytes(iniPath()).contains("\nBeep=1\n"));
}

TEST_F(IniStore, AFolderThatCannotBeCreatedFailsTheFlushAndALaterFlushWritesEverything) {
    writeFile(appDir(), "a file where the folder should be");
    IniSettingsStore store;
    store.save(keys::App, keys::Section, keys::Timeout, QStringLiteral("9"));
    QString reason;
    EXPECT_FALSE(store.flush(keys::App, &reason));
    EXPECT_EQ(reason, QStringLiteral("the folder %1 could not be created").arg(appDir()));
    EXPECT_FALSE(store.flush(keys::App, &reason));

    ASSERT_TRUE(QFile::remove(appDir()));
    EXPECT_TRUE(store.flush(keys::App, &reason)) << reason.toStdString();
    EXPECT_TRUE(fileBytes(iniPath()).contains("\nTimeout=9\n"));
}

TEST_F(IniStore, AFolderInPlaceOfTheFileIsReportedThroughTheWindowOnce) {
    ASSERT_TRUE(QDir().mkpath(iniPath()));
    IniSettingsStore store;
    auto w = startWindow(store);
    EXPECT_FALSE(w->settings().cmdSave_Click());
    EXPECT_FALSE(w->settings().cmdSave_Click());
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, QStringLiteral("Error saving settings"));
    EXPECT_EQ(fakes.messages.shown[0].text,
              QStringLiteral("The settings could not be saved to %1.\rReason: a folder of that "
                             "name is in the way.")
                  .arg(iniPath()));
    ASSERT_TRUE(QDir(iniPath()).removeRecursively());
    EXPECT_TRUE(w->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
}

TEST_F(IniStore, AFileWithABrokenSectionIsRewrittenAndTheSaveCountsAsDone) {
    writeFile(iniPath(), "[EchoWarden\nBeep=1\n");
    IniSettingsStore store;
    store.save(keys::App, keys::Section, keys::Beep, QStringLiteral("1"));
    QString reason;
    EXPECT_TRUE(store.flush(keys::App, &reason)) << reason.toStdString();
    EXPECT_TRUE(fileBytes(iniPath()).contains("[EchoWarden]\nBeep=1\n"));
}

} // namespace
} // namespace ew::test
