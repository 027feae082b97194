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

// No display and no runtime folder: only the version, on standard output.
TEST(Program, VersionNeedsNoDisplay) {
    QTemporaryDir dir;
    QProcessEnvironment env = programEnvironment(dir);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(EW_BINARY), {QStringLiteral("--version")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1, 0);
    EXPECT_EQ(program.readAllStandardOutput(), QByteArray("EchoWarden " EW_VERSION "\n"));
    EXPECT_EQ(program.readAllStandardError(), QByteArray());
}

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
