// The real program as the system runs it: ended by a signal, asked only for its version, started
// again beside a running one; and what the window serves to other programs.

#include "app/SingleInstance.h"
#include "support/MainWindowFixture.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>

namespace ew::test {
namespace {

// The program on the settings below dir's folder configHome, with dir's runtime folder runtime
// (dir itself for either when empty).
QProcessEnvironment programEnvironment(const QTemporaryDir& dir, const char* configHome = "",
                                       const char* runtime = "") {
    const auto in = [&](const char* name) { return QDir::cleanPath(dir.path() + '/' + name); };
    QDir().mkdir(in(runtime),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), in(configHome));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), in(runtime));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}
bool start(QProcess& p, const QProcessEnvironment& env, const QStringList& arguments = {}) {
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(EW_BINARY), arguments);
    return p.waitForStarted(10000);
}
int status(const QProcess& p) {
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}
// The program runs once its lock is taken, which follows the settings' first read.
bool locked(const QString& ini) {
    return QTest::qWaitFor([&] { return QFile::exists(ini + QStringLiteral(".instance.lock")); },
                           30000);
}

// Logout (SIGTERM), a closed terminal (SIGHUP) and Ctrl+C (SIGINT) end it as Exit does: with
// "Save Settings on exit" checked, what the window holds is saved. Here that is the list as
// the window cleaned it from a hand-edited file.
class EndedBySignal : public ::testing::TestWithParam<int> {};

TEST_P(EndedBySignal, SavesAsExitDoes) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("8R1/8R1.ini"));
    QSettings(ini, QSettings::IniFormat)
        .setValue(QStringLiteral("EchoWarden/IPList"), QStringLiteral("127.0.0.1,,127.0.0.2,"));
    QProcess program;
    ASSERT_TRUE(start(program, programEnvironment(dir)));
    ASSERT_TRUE(locked(ini));
    QTest::qWait(500); // the handlers come with the application, after the lock
    ::kill(pid_t(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(status(program), 0);
    EXPECT_EQ(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("EchoWarden/IPList")),
              QStringLiteral("127.0.0.1,127.0.0.2,"));
}
INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const auto& row) { return std::string(sigabbrev_np(row.param)); });

// The command line alone decides, with no display and no runtime folder: its answers, and a
// status that says whether they were given; Qt's own options are set aside. It runs from a folder
// that holds a library of the same name as one of its own, and still loads the system's.
struct CommandLine {
    const char* arguments;
    const char* output; // nullptr: a full disk
    int status;
    const char* error;
};
class CommandLineAlone : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineAlone, AnswersAndEndsWithAStatusThatSaysSo) {
    const CommandLine& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1"),
                            dir.filePath(QStringLiteral("libQt6Core.so.6"))));
    QProcessEnvironment env = programEnvironment(dir);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setWorkingDirectory(dir.path());
    if (!c.output)
        program.setStandardOutputFile(QStringLiteral("/dev/full"));
    start(program, env, QString::fromLatin1(c.arguments).split(' '));
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(status(program), c.status);
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray(c.output ? c.output : ""));
    EXPECT_EQ(program.readAllStandardError(), QByteArray(c.error));
}
INSTANTIATE_TEST_SUITE_P(Program, CommandLineAlone,
                         ::testing::Values(CommandLine{"-platform xcb -reverse --version",
                                                       "EchoWarden " EW_VERSION "\n", 0, ""},
                                           CommandLine{"--version", nullptr, 1, ""},
                                           CommandLine{"--bogus", "", 1,
                                                       "EchoWarden: Unknown option 'bogus'.\n"}));

// A killed program does not block the next; a later start, through a linked folder and with
// another runtime folder, ends at once beside a running one and raises its window.
TEST(SingleInstance, ALaterStartRaisesTheFirstAndEndsAndAKilledOneDoesNotBlock) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config/8R1/8R1.ini"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(ini).path()));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("config")),
                            dir.filePath(QStringLiteral("linked"))));
    QProcess first, third;
    ASSERT_TRUE(start(first, programEnvironment(dir, "config", "run1")));
    ASSERT_TRUE(locked(ini));
    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));

    SingleInstance instance(ini);
    ASSERT_TRUE(instance.claim());
    QWidget window;
    window.showMinimized();
    instance.setWindow(&window);
    QSignalSpy raised(&instance, &SingleInstance::raiseRequested);
    ASSERT_TRUE(start(third, programEnvironment(dir, "linked", "run3")));
    EXPECT_TRUE(raised.wait(500));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    // It may have ended while the wait above ran the events; waiting then says false.
    ASSERT_TRUE(third.state() == QProcess::NotRunning || third.waitForFinished(30000));
    EXPECT_EQ(status(third), 0);
}

// Serving figures on a port another program holds is told once; a free one serves.
TEST_F(MainWindowTest, ATakenMetricsPortIsToldOnceAndAFreeOneServes) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const quint16 port = taken.serverPort();
    fakes.store.put(keys::ServeMetrics, QStringLiteral("True"));
    fakes.store.put(keys::MetricsListen, QStringLiteral("127.0.0.1:%1").arg(port));
    load();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, "Serve figures for Prometheus");
    ui().mnuServeMetrics->trigger(); // off
    ui().mnuServeMetrics->trigger(); // on again: still taken, and told no more
    EXPECT_EQ(fakes.messages.shown.size(), 1u);

    taken.close();
    ui().mnuServeMetrics->trigger();
    ui().mnuServeMetrics->trigger();
    QTcpSocket scraper;
    scraper.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(scraper.waitForConnected(5000));
}

} // namespace
} // namespace ew::test
