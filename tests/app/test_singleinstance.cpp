#include "app/SingleInstance.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace ew::test {
namespace {

TEST(SingleInstance, ALaterStartOnTheSameStoreRaisesTheFirstWindowAndEnds) {
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("8R1.ini"));
    SingleInstance first(store, dir.path());
    ASSERT_TRUE(first.claim());
    QWidget window;
    window.showMinimized();
    first.setWindow(&window);
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    EXPECT_FALSE(SingleInstance(store, dir.path()).claim());
    ASSERT_TRUE(raised.wait(5000));
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
}

TEST(SingleInstance, TheRealProgramEndsAtOnceBesideARunningOneAndAKilledOneDoesNotBlock) {
    QTemporaryDir dir;
    const QString runtime = dir.filePath(QStringLiteral("run"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const auto start = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(EW_BINARY), {});
        return p.waitForStarted(10000);
    };
    QProcess first;
    ASSERT_TRUE(start(first));
    const auto locks = [&] { return QDir(runtime).entryList({QStringLiteral("*.lock")}).size(); };
    for (int i = 0; i < 300 && locks() == 0; ++i) // at most 30 s
        QTest::qWait(100);
    ASSERT_EQ(locks(), 1);

    QProcess second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1, 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_EQ(locks(), 1);
    EXPECT_TRUE(
        SingleInstance(dir.filePath(QStringLiteral("config/8R1/8R1.ini")), runtime).claim());
}

} // namespace
} // namespace ew::test
