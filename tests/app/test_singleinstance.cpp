#include "app/SingleInstance.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace ew::test {
namespace {

// The real program on the settings below dir's "config" (or the folder linked to it), with a
// runtime folder of its own.
bool start(QProcess& p, const QTemporaryDir& dir, const char* configHome, const char* runtime) {
    const QString runtimeDir = dir.filePath(QString::fromLatin1(runtime));
    QDir().mkdir(runtimeDir,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QString::fromLatin1(configHome)));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(EW_BINARY), {});
    return p.waitForStarted(10000);
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
    ASSERT_TRUE(start(second, dir, "linked", "run2"));
    EXPECT_TRUE(raised.wait(500));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    // It may have ended while the wait above ran the events; waiting then says false.
    ASSERT_TRUE(second.state() == QProcess::NotRunning || second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1, 0);
}

TEST(SingleInstance, TheRealProgramEndsAtOnceBesideARunningOneAndAKilledOneDoesNotBlock) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/8R1")));
    QProcess first;
    ASSERT_TRUE(start(first, dir, "config", "run1"));
    const auto locks = [&] {
        return QDir(config + QStringLiteral("/8R1")).entryList({QStringLiteral("*.instance.lock")});
    };
    for (int i = 0; i < 300 && locks().isEmpty(); ++i) // at most 30 s
        QTest::qWait(100);
    ASSERT_EQ(locks(), QStringList{QStringLiteral("8R1.ini.instance.lock")});

    QProcess second;
    ASSERT_TRUE(start(second, dir, "config", "run2"));
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1, 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_EQ(locks().size(), 1);
    EXPECT_TRUE(SingleInstance(config + QStringLiteral("/8R1/8R1.ini")).claim());
}

} // namespace
} // namespace ew::test
