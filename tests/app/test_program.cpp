// The real program as the system runs it: ended by a signal, asked only for its version.

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace ew::test {
namespace {

QProcessEnvironment programEnvironment(const QTemporaryDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
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
    program.setProcessEnvironment(programEnvironment(dir));
    program.start(QStringLiteral(EW_BINARY), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // Running once its lock is taken, which follows the settings' first read.
    for (int i = 0; i < 300 && !QFile::exists(ini + QStringLiteral(".instance.lock")); ++i) // 30 s
        QTest::qWait(100);
    ::kill(pid_t(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, 0);
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
    program.setProcessEnvironment(env);
    if (!c.output)
        program.setStandardOutputFile(QStringLiteral("/dev/full"));
    program.start(QStringLiteral(EW_BINARY), {QString::fromLatin1(c.argument)});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, c.status);
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
    program.setProcessEnvironment(programEnvironment(dir));
    program.setWorkingDirectory(dir.path());
    program.start(QStringLiteral(EW_BINARY), {QStringLiteral("--version")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.readAllStandardError(), QByteArray());
    EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, 0);
}

} // namespace
} // namespace ew::test
