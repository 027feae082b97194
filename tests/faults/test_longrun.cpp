// Quick long-run checks: many passes through the real window (the results list stays
// bounded, no file stays open, the log keeps one header for one run), and real echoes over
// loopback while another program floods it (every reply is our own).

#include "app/ResultsList.h"
#include "app/StatusBar.h"
#include "faults/LoopbackFlood.h"
#include "faults/ProcessStats.h"
#include "monitor/PingPass.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace ew::faults {
namespace {

constexpr int Addresses = 10;
constexpr int AttemptsPerAddress = 5;
// Past 65536 lines, so a line counter that wrapped in 16 bits would write a second header.
constexpr int Passes = 1320;
constexpr int Attempts = Passes * Addresses * AttemptsPerAddress;

class LongRun : public test::MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        logPath = dir.filePath(QStringLiteral("Ping.Log"));
        QString list;
        for (int i = 0; i < Addresses; ++i)
            list += QStringLiteral("host%1,").arg(i);
        fakes.store.put(keys::IPList, list);
        fakes.store.put(keys::Attempts, QString::number(AttemptsPerAddress));
        fakes.store.put(keys::EnableLoggingTotal, QStringLiteral("1"));
        fakes.store.put(keys::LogFilePath, logPath);
        fakes.echo.recordCalls = false;
        load();
    }

    QTemporaryDir dir;
    QString logPath;
};

TEST_F(LongRun, ManyPassesKeepTheListBoundedNoFileOpenAndOneHeader) {
    const int filesBefore = openFileCount();
    int mostLines = 0;
    const auto look = [&] { mostLines = std::max(mostLines, ui().lstPingResults->count()); };
    // Looked at before every attempt too: the list is at its longest in the middle of a pass.
    fakes.echo.onCall = [&](const test::FakeEcho::Call&) { look(); };
    for (int pass = 0; pass < Passes; ++pass) {
        window->pingPass().PingAddresses();
        // The program goes back to its event loop between passes.
        QCoreApplication::processEvents();
        look();
    }

    EXPECT_GT(mostLines, PingPass::MaxResultLines) << "the run never reached the bound";
    EXPECT_LE(mostLines, PingPass::MaxResultLines + AttemptsPerAddress);
    EXPECT_EQ(ui().lstPingResults->currentRow(), ui().lstPingResults->count() - 1);
    EXPECT_EQ(openFileCount(), filesBefore);
    EXPECT_EQ(window->pingPass().pingCount(), Attempts);
    EXPECT_EQ(ui().StatusBar1->panelText(1), QStringLiteral("Pings: %1").arg(Attempts));

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
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

    EchoTally first;
    EchoTally second;
    std::thread other([&] {
        for (int i = 0; i < EchoesPerThread; ++i)
            second.echo("127.0.0.2", Payload, TimeoutMs);
    });
    for (int i = 0; i < EchoesPerThread; ++i)
        first.echo("127.0.0.1", Payload, TimeoutMs);
    other.join();
    echo_set_socket_mode(previousMode);
    const std::string summary = flood.stop();
    std::cout << "[ info     ] flood: " << summary << "\n";

    for (const EchoTally* t : {&first, &second}) {
        EXPECT_EQ(t->calls, EchoesPerThread);
        EXPECT_EQ(t->matched, EchoesPerThread);
        EXPECT_EQ(t->lost, 0);
        EXPECT_EQ(t->foreign, 0);
    }
}

} // namespace
} // namespace ew::faults
