#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "monitor/Monitor.h"
#include "monitor/PingPass.h"
#include "platform/Launcher.h"
#include "support/MainWindowFixture.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <sys/fsuid.h>
#include <unistd.h>

namespace ew::test {
namespace {

using Box = FakeMessageBoxes::Box;
const Box InvalidBox{QStringLiteral("The log file path is invalid.\rPlease enter a valid path."),
                     QStringLiteral("Invalid directory"), MsgIcon::Critical, MsgButtons::Ok};
const Box OverwriteBox{QStringLiteral("The log already exists.Ovewrite? Select No to append."),
                       QStringLiteral("Log File"), MsgIcon::Information, MsgButtons::YesNo};
const Box MissingBox{QStringLiteral("The log file doesn't exists."),
                     QStringLiteral("Error opening log"), MsgIcon::Critical, MsgButtons::Ok};

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Root writes to read-only files regardless; with the file-system ids of "nobody" (this thread
// only) the file modes count again.
struct FileModesEnforced {
    static constexpr uid_t Nobody = 65534;
    const bool root = geteuid() == 0;
    FileModesEnforced() {
        if (root) {
            setfsgid(Nobody);
            setfsuid(Nobody);
        }
    }
    ~FileModesEnforced() {
        if (root) {
            setfsuid(0);
            setfsgid(0);
        }
    }
};

class LogFileTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        load();
        logPath = dir.filePath(QStringLiteral("Ping.Log"));
    }
    // The operator types a path and turns logging on.
    void logTo(const QString& path, bool all = true) {
        ui().txtLog->setText(path);
        (all ? ui().chkLogTotal : ui().chkLogFailed)->setChecked(true);
    }
    QByteArray header(const QDateTime& at, bool all) const {
        return ("\r\nStarted log on " + shortDateText(at.date()) + " at " +
                timeOfDayText(at.time()) +
                (all ? QStringLiteral(" Logging Total pings")
                     : QStringLiteral(" Logging Failed pings")))
                   .toLocal8Bit() +
               "\r\n";
    }
    std::vector<FakeMessageBoxes::Box> boxesTitled(const QString& title) const {
        std::vector<FakeMessageBoxes::Box> out;
        for (const auto& b : fakes.messages.shown)
            if (b.title == title)
                out.push_back(b);
        return out;
    }
    LogFile& log() { return window->logFile(); }

    QTemporaryDir dir;
    QString logPath;
};

class LogHeader : public LogFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LogHeader, EachRunOpensWithHeaderBlockAndLinesFollowAsHanded) {
    const bool all = GetParam();
    logTo(logPath, all);
    const QDateTime first = fakes.clock.now();
    const QString failure = PingPass::failureLine(timeOfDayText(first.time()), "10.0.0.1");
    log().AppendLogLine(failure, 0);
    log().AppendLogLine(QStringLiteral("second line "), 1);
    fakes.clock.advanceSecs(3725);
    const QDateTime second = fakes.clock.now();
    log().AppendLogLine(QStringLiteral("next run"), 0);

    EXPECT_EQ(readAll(logPath), header(first, all) + failure.toLocal8Bit() +
                                    "\r\nsecond line \r\n" + header(second, all) + "next run\r\n");
}
INSTANTIATE_TEST_SUITE_P(TotalOrFailed, LogHeader, ::testing::Bool());

// Checking "Log all pings" runs the check twice but asks once; Yes deletes the file, empties
// the results list and the failed count, No appends after an empty line.
class Overwrite : public LogFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Overwrite, AskedOnceThenYesDeletesOrNoAppends) {
    const bool yes = GetParam();
    writeFile(logPath, "old\r\n");
    ui().lstPingResults->addLine(QStringLiteral("kept until overwritten"));
    ui().StatusBar1->setPanelText(1, QStringLiteral("Pings: 9"));
    ui().StatusBar1->setPanelText(2, QStringLiteral("Failed: 4"));
    state().failedCount = 4;
    fakes.messages.answers.push_back(yes ? MsgAnswer::Yes : MsgAnswer::No);
    logTo(logPath);
    EXPECT_EQ(fakes.messages.shown, std::vector<Box>{OverwriteBox});
    EXPECT_EQ(QFile::exists(logPath), !yes);
    EXPECT_EQ(ui().lstPingResults->count(), yes ? 0 : 1);
    EXPECT_EQ(state().failedCount, yes ? 0 : 4);
    EXPECT_EQ(ui().StatusBar1->panelText(2),
              yes ? QStringLiteral("Failed: 0") : QStringLiteral("Failed: 4"));
    EXPECT_EQ(ui().StatusBar1->panelText(1), QStringLiteral("Pings: 9"));

    log().ApplyLogPath(); // the next pass: settled, no second question
    log().AppendLogLine(QStringLiteral("new"), 0);
    EXPECT_EQ(readAll(logPath), (yes ? QByteArray() : QByteArray("old\r\n")) +
                                    header(fakes.clock.now(), true) + "new\r\n");
    ui().cmdSetLog->setEnabled(true);
    ui().cmdSetLog->click(); // Set arms the question again
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
}
INSTANTIATE_TEST_SUITE_P(YesOrNo, Overwrite, ::testing::Bool());

TEST_F(LogFileTest, QuestionSettlesOnlyWhenAnswered) {
    writeFile(logPath, "old\r\n");
    int nested = 0;
    fakes.messages.whileOpen = [&](const FakeMessageBoxes::Box&) {
        if (nested++ == 0)
            log().ApplyLogPath(); // a pass reached while the box is still open
    };
    logTo(logPath, false);
    EXPECT_EQ(boxesTitled(QStringLiteral("Log File")).size(), 2u);
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Dont);
}

enum class Verdict { Accepted, Rejected, Unchecked };
struct PathCase {
    const char* name;
    const char* typed; // "%1" is the temporary directory
    Verdict verdict;
};

class LogPathCheck : public LogFileTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(LogPathCheck, TypedPathIsCheckedAsSetIsPressed) {
    writeFile(dir.filePath(QStringLiteral("plain")), "");
    logTo(logPath);
    state().logPathInvalid = true;
    const QString typed =
        QString::fromUtf8(GetParam().typed).replace(QStringLiteral("%1"), dir.path());
    ui().txtLog->setText(typed);
    EXPECT_TRUE(ui().cmdSetLog->isEnabled());
    fakes.messages.shown.clear();
    ui().cmdSetLog->click();

    EXPECT_EQ(state().logPath, typed);
    const Verdict v = GetParam().verdict;
    EXPECT_EQ(state().logPathInvalid, v != Verdict::Accepted);
    EXPECT_EQ(ui().cmdSetLog->isEnabled(), v != Verdict::Accepted);
    EXPECT_EQ(ui().txtPathError->isHidden(), v != Verdict::Rejected);
    EXPECT_EQ(ui().lstPingResults->isHidden(), v == Verdict::Rejected);
    if (v != Verdict::Rejected) {
        EXPECT_TRUE(fakes.messages.shown.empty());
        return;
    }
    log().ApplyLogPath(); // still armed: reported again
    EXPECT_EQ(fakes.messages.shown, std::vector<Box>({InvalidBox, InvalidBox}));
}
INSTANTIATE_TEST_SUITE_P(
    Paths, LogPathCheck,
    ::testing::Values(PathCase{"FileInExistingDir", "%1/other.log", Verdict::Accepted},
                      PathCase{"PlainFileAsDirectory", "%1/plain/x.log", Verdict::Accepted},
                      PathCase{"TrailingSeparator", "%1/", Verdict::Rejected},
                      PathCase{"MissingDirectory", "%1/nowhere/Ping.Log", Verdict::Rejected},
                      PathCase{"BareFileName", "echowarden-no-such.log", Verdict::Unchecked},
                      PathCase{"SeparatorFirstOnly", "/echowarden-no-such.log",
                               Verdict::Unchecked}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogFileTest, EmptyBoxAfterRejectedPathInstallsDefaultButKeepsThePathInvalid) {
    logTo(QStringLiteral("%1/nowhere/x.log").arg(dir.path()));
    ASSERT_TRUE(state().logPathInvalid);
    const QString def = LogFile::defaultLogPath();
    const bool made = !QFile::exists(def);
    if (made)
        writeFile(def, "");
    ui().txtLog->clear();
    fakes.messages.shown.clear();
    ui().cmdSetLog->click();
    EXPECT_EQ(ui().txtLog->text(), def);
    EXPECT_EQ(state().stateFlag, StateFlag::Yes);
    EXPECT_FALSE(ui().cmdSetLog->isEnabled());
    EXPECT_TRUE(state().logPathInvalid);
    ASSERT_EQ(boxesTitled(QStringLiteral("Log File")).size(), 1u); // asked about the default
    if (made)
        QFile::remove(def);
    ui().cmdSetLog->setEnabled(true);
    ui().cmdSetLog->click(); // the default path, now set as a typed path, passes
    EXPECT_FALSE(state().logPathInvalid);
    EXPECT_TRUE(ui().txtPathError->isHidden());
}

TEST_F(LogFileTest, LogBoxesShowHideAndForceTheFailedBox) {
    ui().txtLog->setText(logPath);
    ui().chkLogTotal->setChecked(true);
    EXPECT_TRUE(ui().chkLogFailed->isChecked());
    EXPECT_FALSE(ui().chkLogFailed->isEnabled());
    EXPECT_FALSE(ui().txtLog->isHidden());
    EXPECT_FALSE(ui().cmdSetLog->isHidden());
    ui().chkLogTotal->setChecked(false);
    EXPECT_FALSE(ui().chkLogFailed->isChecked());
    EXPECT_TRUE(ui().chkLogFailed->isEnabled());
    EXPECT_TRUE(ui().txtLog->isHidden());
    EXPECT_TRUE(ui().cmdSetLog->isHidden());

    // An edited path locks Start until it is set; the program's own fill-in does not.
    ui().cmdStartPing->setEnabled(true);
    state().stateFlag = StateFlag::Dont;
    ui().txtLog->setText(QStringLiteral("a"));
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    state().stateFlag = StateFlag::Yes;
    ui().txtLog->setText(QStringLiteral("b"));
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdSetLog->isEnabled());
}

TEST_F(LogFileTest, OpenLogShowsTheSetFileOrSaysItIsMissing) {
    const QString spaced = dir.filePath(QStringLiteral("my logs/Ping 1.Log"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("my logs"))));
    logTo(spaced);
    ui().cmdOpenLog->click();
    EXPECT_EQ(fakes.messages.shown, std::vector{MissingBox});
    EXPECT_TRUE(fakes.launcher.editorOpened.isEmpty());
    EXPECT_TRUE(fakes.launcher.started.empty());

    writeFile(spaced, "x\r\n");
    ui().txtLog->setText(logPath); // edited, not set
    ui().cmdOpenLog->click();
    EXPECT_EQ(fakes.launcher.editorOpened, QStringList{spaced});
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
}

// The operator hears of a log that cannot be written once per run, with the path and the
// system's reason.
void expectWriteFailures(const std::vector<Box>& boxes, const QString& path, std::size_t count) {
    ASSERT_EQ(boxes.size(), count);
    const QStringList parts = boxes[0].text.split(QLatin1Char('\r'));
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0], QStringLiteral("The log file %1 cannot be written.").arg(path));
    EXPECT_FALSE(parts[1].isEmpty());
    EXPECT_EQ(parts[2],
              QStringLiteral("Pinging goes on; lines that cannot be written are not logged."));
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
}

class LogWriteFailure : public LogFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LogWriteFailure, ReportedOncePerRunNamingPathAndReason) {
    ui().txtLog->setText(logPath);
    ui().chkLogFailed->setChecked(true);
    state().logPath = QString::fromLatin1(GetParam()).replace(QStringLiteral("%1"), dir.path());
    for (int i = 0; i < 3; ++i)
        log().AppendLogLine(QStringLiteral("line"), i);
    log().beginRun();
    log().AppendLogLine(QStringLiteral("line"), 0);
    expectWriteFailures(boxesTitled(QStringLiteral("Error writing log")), state().logPath, 2);
}
INSTANTIATE_TEST_SUITE_P(MissingDirectoryDirectoryOrFullDisk, LogWriteFailure,
                         ::testing::Values("%1/gone/x.log", "%1", "/dev/full"));

TEST_F(LogFileTest, ReadOnlyLogIsReportedOncePerRunWhileThePingsGoOn) {
    ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    logTo(logPath);
    writeFile(logPath, "");
    QFile::setPermissions(logPath, QFile::ReadOwner | QFile::ReadOther);
    QFile::setPermissions(dir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    FileModesEnforced modes;
    for (int run = 1; run <= 2; ++run) {
        window->monitor().cmdStartPing_Click(); // the first pass, and a second
        window->pingPass().PingAddresses();
        window->monitor().cmdStopPing_Click();
        EXPECT_EQ(ui().lstPingResults->count(), 2 * run);
        expectWriteFailures(boxesTitled(QStringLiteral("Error writing log")), logPath, run);
    }
    EXPECT_EQ(readAll(logPath), QByteArray());
}

TEST_F(LogFileTest, OverwriteThatCannotDeleteSaysSo) {
    fakes.messages.answers.push_back(MsgAnswer::Yes);
    logTo(QStringLiteral("/proc/version"), false);
    const auto boxes = boxesTitled(QStringLiteral("Error writing log"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(
        QStringLiteral("The log file /proc/version cannot be deleted.\r")));
}

// The real launcher hands the path over as one argument, to the first editor it finds.
TEST(ProcessLauncherTest, EditorGetsThePathAsOneAbsoluteArgument) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString out = bin.filePath(QStringLiteral("args.txt"));
    const QString editor = bin.filePath(QStringLiteral("gnome-text-editor"));
    writeFile(editor, ("#!/bin/sh\n{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '[%s]\\n' "
                       "\"$a\"; done; echo END; } > '" +
                       out + "'\n")
                          .toLocal8Bit());
    QFile::setPermissions(editor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    ProcessLauncher launcher;
    const bool started = launcher.openInTextEditor(QStringLiteral("-my log.Log"));
    qputenv("PATH", oldPath);
    ASSERT_TRUE(started);

    QByteArray got;
    const QDeadlineTimer limit(10000);
    while (!got.endsWith("END\n") && !limit.hasExpired()) {
        QThread::msleep(20);
        got = readAll(out);
    }
    EXPECT_EQ(got,
              "1\n[" +
                  QDir::current().absoluteFilePath(QStringLiteral("-my log.Log")).toLocal8Bit() +
                  "]\nEND\n");
}

} // namespace
} // namespace ew::test
