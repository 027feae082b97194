// Quick fault and long-run checks through the whole window with real files: the settings file
// made read-only before a saving Exit and the log unwritable at the start of a run (no crash,
// the operator is told once, the program goes on, the files keep their form); many passes
// (the results list stays bounded, no file stays open, one header for one run); real echoes
// over loopback while another program floods it (every reply is our own).

#include "faults/LongRun.h"
#include "monitor/Monitor.h"
#include "settings/Settings.h"
#include "support/MainWindowFixture.h"
#include "widgets/StatusBar.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <iostream>
#include <thread>

namespace ew::faults {
namespace {

int boxesTitled(const test::FakeMessageBoxes& boxes, const QString& title) {
    return int(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                             [&](const auto& b) { return b.title == title; }));
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// chattr +i: read-only even for root, undone when this goes.
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

// The main window on the real settings store, an INI file in a temporary folder. What is made
// read-only: the file itself, or the folder it lives in (no new file can replace the old one
// there).
class ReadOnlySettings : public ::testing::TestWithParam<bool> {
protected:
    QTemporaryDir dir;
    test::FakePlatform fakes;
    int endRequests = 0;
};

TEST_P(ReadOnlySettings, SavingExitTellsOnceEndsAndKeepsTheFileWhole) {
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath("config"));
    const QString file = dir.filePath("config/8R1/8R1.ini");
    IniSettingsStore store;
    frmEchoWarden window(Platform{fakes.echo, store, fakes.clock, fakes.messages, fakes.launcher,
                                  fakes.beeper, fakes.windows});
    window.setEndProgram([this] { ++endRequests; });
    window.Form_Load();
    window.ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    window.settings().cmdSave_Click();
    const QByteArray before = fileBytes(file);
    ASSERT_TRUE(before.contains("IPList=\"127.0.0.1,\"")) << before.toStdString();
    Immutable readOnly(GetParam() ? dir.filePath("config/8R1") : file);
    if (!readOnly.set())
        GTEST_SKIP() << "no immutable attribute here (chattr); root ignores file modes";

    window.ui().lstIPList->addItem(QStringLiteral("127.0.0.2"));
    window.cmdExit_Click();

    EXPECT_EQ(endRequests, 1) << "the program must still end";
    ASSERT_EQ(boxesTitled(fakes.messages, QStringLiteral("Error saving settings")), 1);
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(file))
        << fakes.messages.shown.back().text.toStdString();
    EXPECT_EQ(fakes.messages.shown.back().icon, MsgIcon::Critical);
    EXPECT_EQ(fileBytes(file), before);
}

INSTANTIATE_TEST_SUITE_P(FileOrFolder, ReadOnlySettings, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Folder" : "File"; });

// Every attempt logged, on fakes but for the real file system.
class LoggedRun : public test::MainWindowTest {
protected:
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("Ping.Log"));
};

TEST_F(LoggedRun, UnwritableAtTheStartIsToldOnceAndTheRunStillGetsItsHeader) {
    // The log's name is taken by a folder for the first pass, then freed.
    ASSERT_TRUE(QDir().mkpath(logPath));
    fakes.store.put(keys::IPList, QStringLiteral("a,b,"));
    fakes.store.put(keys::EnableLoggingTotal, QStringLiteral("1"));
    fakes.store.put(keys::LogFilePath, logPath);
    load();
    window->monitor().cmdStartPing_Click();
    window->pingPass().PingAddresses();
    EXPECT_EQ(window->pingPass().pingCount(), 4);
    ASSERT_TRUE(QDir().rmdir(logPath));
    window->pingPass().PingAddresses();

    EXPECT_EQ(boxesTitled(fakes.messages, QStringLiteral("Error writing log")), 1);
    // A run whose first lines were lost still has its header before the first line that
    // made it to the file.
    const QByteArray written = fileBytes(logPath);
    EXPECT_EQ(written.count("\r\n"), 4) << written.toStdString();
    EXPECT_TRUE(written.startsWith("\r\nStarted log on")) << written.toStdString();
}

// Past 65536 lines, so a line counter that wrapped in 16 bits would write a second header.
constexpr int Attempts = 1320 * Addresses * AttemptsPerAddress;

TEST_F(LoggedRun, ManyPassesKeepTheListBoundedNoFileOpenAndOneHeader) {
    prepareLongRun(fakes, logPath);
    load();
    const int filesBefore = openFileCount();
    const int mostLines = runLongRun(*window, fakes.echo, Attempts);

    EXPECT_GT(mostLines, PingPass::MaxResultLines) << "the run never reached the bound";
    EXPECT_LE(mostLines, PingPass::MaxResultLines + AttemptsPerAddress);
    EXPECT_EQ(ui().lstPingResults->currentRow(), ui().lstPingResults->count() - 1);
    EXPECT_EQ(openFileCount(), filesBefore);
    EXPECT_EQ(window->pingPass().pingCount(), Attempts);
    EXPECT_EQ(ui().StatusBar1->panelText(1), QStringLiteral("Pings: %1").arg(Attempts));
    const QByteArray bytes = fileBytes(logPath);
    EXPECT_EQ(bytes.count("\r\n"), Attempts + 2) << "an empty line, the header, the lines";
    EXPECT_EQ(bytes.count("Started log on"), 1);
    EXPECT_TRUE(bytes.startsWith("\r\nStarted log on"));
}

// Our echoes from two threads (127.0.0.1 and 127.0.0.2) while ping floods 127.0.0.1: a raw
// socket sees every echo reply on the machine, so each call must pick out its own.
TEST(LoopbackUnderFlood, EveryReplyIsMatchedToItsOwnRequest) {
    constexpr int EchoesPerThread = 1000;
    constexpr std::int16_t Payload = 56;
    constexpr std::int16_t TimeoutMs = 2000;
    LoopbackFlood flood;
    std::string why;
    if (!flood.start(&why))
        GTEST_SKIP() << why;
    // As root the raw socket is the one that meets the flood's replies; force it.
    const int previousMode =
        echo_set_socket_mode(::geteuid() == 0 ? ECHO_SOCKET_RAW_ONLY : ECHO_SOCKET_AUTO);
    EchoTally tallies[2];
    std::thread other([&] {
        for (int i = 0; i < EchoesPerThread; ++i)
            tallies[1].echo("127.0.0.2", Payload, TimeoutMs);
    });
    for (int i = 0; i < EchoesPerThread; ++i)
        tallies[0].echo("127.0.0.1", Payload, TimeoutMs);
    other.join();
    echo_set_socket_mode(previousMode);
    std::cout << "[ info     ] flood: " << flood.stop() << "\n";

    for (const EchoTally& t : tallies) {
        EXPECT_EQ(t.calls, EchoesPerThread);
        EXPECT_EQ(t.matched, EchoesPerThread);
        EXPECT_EQ(t.lost, 0);
        EXPECT_EQ(t.foreign, 0);
    }
}

} // namespace
} // namespace ew::faults
