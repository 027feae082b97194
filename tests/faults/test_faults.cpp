// Quick fault checks through the whole window with real files: the real settings file made
// read-only before a saving Exit, the log's directory removed and the log made unwritable in
// the middle of a run. No crash, the operator is told (once), monitoring goes on, and the
// log keeps its form.

#include "app/StatusBar.h"
#include "app/frmEchoWarden.h"
#include "monitor/Monitor.h"
#include "monitor/PingPass.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace ew::faults {
namespace {

const QString WriteErrorTitle = QStringLiteral("Error writing log");
const QString SaveErrorTitle = QStringLiteral("Error saving settings");

int boxesTitled(const test::FakeMessageBoxes& boxes, const QString& title) {
    return int(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                             [&](const auto& b) { return b.title == title; }));
}

// chattr +i: read-only even for root. Undone by the returned guard.
class Immutable {
public:
    explicit Immutable(const QString& path) : path_(path) {
        set_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
    }
    ~Immutable() {
        if (set_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    }
    bool set() const { return set_; }

private:
    QString path_;
    bool set_ = false;
};

// The main window on the real settings store (an INI file in a temporary directory) and the
// real file system; echo, clock and message boxes are fakes.
class RealFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath("config"));
        store = std::make_unique<IniSettingsStore>();
    }
    void TearDown() override { window.reset(); }

    void start() {
        window = std::make_unique<frmEchoWarden>(Platform{fakes.echo, *store, fakes.clock,
                                                          fakes.messages, fakes.launcher,
                                                          fakes.beeper, fakes.windows});
        window->setEndProgram([this] { ++endRequests; });
        window->Form_Load();
    }
    QString settingsFile() const { return dir.filePath("config/8R1/8R1.ini"); }
    static QByteArray bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Logging every ping to path, tenth-seconds 1 (every tick runs a pass), two entries.
    void startLoggingTo(const QString& path) {
        store->save(keys::App, keys::Section, keys::IPList, QStringLiteral("a,b,"));
        store->save(keys::App, keys::Section, keys::EnableLoggingTotal, QStringLiteral("1"));
        store->save(keys::App, keys::Section, keys::LogFilePath, path);
        store->save(keys::App, keys::Section, keys::IntervalTenths, QStringLiteral("True"));
        store->save(keys::App, keys::Section, keys::Interval, QStringLiteral("1"));
        ASSERT_TRUE(store->flush(keys::App, nullptr));
        start();
        window->monitor().cmdStartPing_Click();
    }
    void tick(int times) {
        for (int i = 0; i < times; ++i)
            window->monitor().Timer1_Timer();
    }

    QTemporaryDir dir;
    test::FakePlatform fakes;
    std::unique_ptr<IniSettingsStore> store;
    std::unique_ptr<frmEchoWarden> window;
    int endRequests = 0;
};

// What is made read-only: the file itself, or the folder it lives in (no new file can
// replace the old one there).
class ReadOnlySettings : public RealFilesTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReadOnlySettings, SavingExitTellsOnceEndsAndKeepsTheFileWhole) {
    start();
    window->ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    window->settings().cmdSave_Click();
    const QByteArray before = bytes(settingsFile());
    ASSERT_TRUE(before.contains("IPList=\"127.0.0.1,\"")) << before.toStdString();
    const bool folder = GetParam();
    Immutable readOnly(folder ? dir.filePath("config/8R1") : settingsFile());
    if (!readOnly.set())
        GTEST_SKIP() << "no immutable attribute here (chattr); root ignores file modes";

    window->ui().lstIPList->addItem(QStringLiteral("127.0.0.2"));
    window->cmdExit_Click();

    EXPECT_EQ(endRequests, 1) << "the program must still end";
    ASSERT_EQ(boxesTitled(fakes.messages, SaveErrorTitle), 1);
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(settingsFile()))
        << fakes.messages.shown.back().text.toStdString();
    EXPECT_EQ(fakes.messages.shown.back().icon, MsgIcon::Critical);
    EXPECT_EQ(bytes(settingsFile()), before);
}

INSTANTIATE_TEST_SUITE_P(FileOrFolder, ReadOnlySettings, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Folder" : "File"; });

TEST_F(RealFilesTest, LogDirectoryRemovedMidRunIsToldOnceAndPingingGoesOn) {
    const QString logDir = dir.filePath("logs");
    const QString log = logDir + "/Ping.Log";
    ASSERT_TRUE(QDir().mkpath(logDir));
    ASSERT_NO_FATAL_FAILURE(startLoggingTo(log));
    ASSERT_EQ(bytes(log).count("\r\n"), 4);

    ASSERT_TRUE(QDir(logDir).removeRecursively());
    tick(3);
    EXPECT_EQ(window->pingPass().pingCount(), 8);
    EXPECT_EQ(window->ui().StatusBar1->panelText(1), QStringLiteral("Pings: 8"));
    ASSERT_EQ(boxesTitled(fakes.messages, WriteErrorTitle), 1);
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(log));

    ASSERT_TRUE(QDir().mkpath(logDir));
    tick(1);
    // The next line recreates the file, without a header in the middle of a run.
    EXPECT_EQ(bytes(log).count("\r\n"), 2);
    EXPECT_EQ(boxesTitled(fakes.messages, WriteErrorTitle), 1);
}

TEST_F(RealFilesTest, UnwritableLogIsToldOnceAndTheRunStillGetsItsHeader) {
    // The log's name is taken by a folder for the first pass, then freed.
    const QString log = dir.filePath("Ping.Log");
    ASSERT_TRUE(QDir().mkpath(log));
    ASSERT_NO_FATAL_FAILURE(startLoggingTo(log));
    tick(1);
    EXPECT_EQ(window->pingPass().pingCount(), 4);
    EXPECT_EQ(boxesTitled(fakes.messages, WriteErrorTitle), 1);

    ASSERT_TRUE(QDir().rmdir(log));
    tick(1);
    EXPECT_EQ(boxesTitled(fakes.messages, WriteErrorTitle), 1);
    const QByteArray written = bytes(log);
    EXPECT_EQ(written.count("\r\n"), 4) << written.toStdString();
    // Each run begins with its header; a run whose first lines were lost still has one before
    // the first line that made it to the file.
    EXPECT_TRUE(written.startsWith("\r\nStarted log on")) << written.toStdString();
}

} // namespace
} // namespace ew::faults
