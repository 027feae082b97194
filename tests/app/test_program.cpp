// The real program as the system runs it: ended by a signal, asked only for its version, started
// again beside a running one.

#include "app/SingleInstance.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

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
    for (int i = 0; i < 300; ++i, QTest::qWait(100)) // 30 s
        if (QFile::exists(ini + QStringLiteral(".instance.lock")))
            return true;
    return false;
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
    locked(ini);
    ::kill(pid_t(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(status(program), 0);
    QSettings saved(ini, QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("EchoWarden/IPList")).toString(),
              QStringLiteral("127.0.0.1,127.0.0.2,"));
    EXPECT_EQ(saved.value(QStringLiteral("EchoWarden/SaveSettingsOnExit")).toString(),
              QStringLiteral("True"));
}
INSTANTIATE_TEST_SUITE_P(Signals, EndedBySignal, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const auto& row) { return std::string(sigabbrev_np(row.param)); });

// The command line alone decides, with no display and no runtime folder as with one: its
// answers, and a status that says whether they were given.
struct CommandLine {
    const char* argument;
    bool display;
    const char* output; // nullptr: a full disk
    int status;
    const char* error;
};
class CommandLineAlone : public ::testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineAlone, AnswersAndEndsWithAStatusThatSaysSo) {
    const CommandLine& c = GetParam();
    QTemporaryDir dir;
    QProcessEnvironment env = programEnvironment(dir);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        if (!c.display)
            env.remove(QString::fromLatin1(name));
    QProcess program;
    if (!c.output)
        program.setStandardOutputFile(QStringLiteral("/dev/full"));
    start(program, env, {QString::fromLatin1(c.argument)});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(status(program), c.status);
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray(c.output ? c.output : ""));
    EXPECT_EQ(program.readAllStandardError(), QByteArray(c.error));
}
INSTANTIATE_TEST_SUITE_P(
    Program, CommandLineAlone,
    ::testing::Values(CommandLine{"--version", false, "EchoWarden " EW_VERSION "\n", 0, ""},
                      CommandLine{"--version", false, nullptr, 1, ""},
                      CommandLine{"--help", false, nullptr, 1, ""},
                      CommandLine{"--bogus", false, "", 1, "EchoWarden: Unknown option 'bogus'.\n"},
                      CommandLine{"--bogus", true, "", 1,
                                  "EchoWarden: Unknown option 'bogus'.\n"}));

// Started from a folder that holds a library of the same name as one of its own, it still
// loads the system's.
TEST(Program, LoadsNoLibraryFromTheFolderItStartsIn) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::copy(QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1"),
                            dir.filePath(QStringLiteral("libQt6Core.so.6"))));
    QProcess program;
    program.setWorkingDirectory(dir.path());
    start(program, programEnvironment(dir), {QStringLiteral("--version")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.readAllStandardError(), QByteArray());
    EXPECT_EQ(status(program), 0);
}

// A later start reaches the same settings file through a linked folder, with another runtime
// folder: the first window comes up at once, and the later start ends.
TEST(SingleInstance, ALaterStartRaisesTheFirstWindowAtOnceAndEnds) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/8R1")));
    ASSERT_TRUE(QFile::link(config, dir.filePath(QStringLiteral("linked"))));
    SingleInstance first(config + QStringLiteral("/8R1/8R1.ini"));
    ASSERT_TRUE(first.claim());
    QWidget window;
    window.showMinimized();
    first.setWindow(&window);
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    QProcess second;
    ASSERT_TRUE(start(second, programEnvironment(dir, "linked", "run2")));
    EXPECT_TRUE(raised.wait(500));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    // It may have ended while the wait above ran the events; waiting then says false.
    ASSERT_TRUE(second.state() == QProcess::NotRunning || second.waitForFinished(30000));
    EXPECT_EQ(status(second), 0);
}

TEST(SingleInstance, TheRealProgramEndsAtOnceBesideARunningOneAndAKilledOneDoesNotBlock) {
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("config/8R1/8R1.ini"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(ini).path()));
    QProcess first;
    ASSERT_TRUE(start(first, programEnvironment(dir, "config", "run1")));
    ASSERT_TRUE(locked(ini));

    QProcess second;
    ASSERT_TRUE(start(second, programEnvironment(dir, "config", "run2")));
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(status(second), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(ini + QStringLiteral(".instance.lock")));
    EXPECT_TRUE(SingleInstance(ini).claim());
}

} // namespace
} // namespace ew::test
