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

// The second start reaches the same settings file through a linked folder and with a runtime
// folder of its own.
TEST(SingleInstance, TheRealProgramEndsAtOnceBesideARunningOneAndAKilledOneDoesNotBlock) {
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/8R1")));
    ASSERT_TRUE(QFile::link(config, dir.filePath(QStringLiteral("linked"))));
    const auto start = [&](QProcess& p, const char* configHome, const char* runtime) {
        const QString runtimeDir = dir.filePath(QString::fromLatin1(runtime));
        QDir().mkdir(runtimeDir,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"),
                   dir.filePath(QString::fromLatin1(configHome)));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(EW_BINARY), {});
        return p.waitForStarted(10000);
    };
    QProcess first;
    ASSERT_TRUE(start(first, "config", "run1"));
    const auto locks = [&] {
        return QDir(config + QStringLiteral("/8R1")).entryList({QStringLiteral("*.instance.lock")});
    };
    for (int i = 0; i < 300 && locks().isEmpty(); ++i) // at most 30 s
        QTest::qWait(100);
    ASSERT_EQ(locks(), QStringList{QStringLiteral("8R1.ini.instance.lock")});

    QProcess second;
    ASSERT_TRUE(start(second, "linked", "run2"));
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1, 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill(); // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_EQ(locks().size(), 1);
    EXPECT_TRUE(SingleInstance(config + QStringLiteral("/8R1/8R1.ini"), dir.path()).claim());
}

} // namespace
} // namespace ew::test
