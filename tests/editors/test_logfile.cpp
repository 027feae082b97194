#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "support/MainWindowFixture.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace ew::test {
namespace {

using Box = FakeMessageBoxes::Box;
const Box OverwriteBox{QStringLiteral("The log already exists.Ovewrite? Select No to append."),
                       QStringLiteral("Log File"), MsgIcon::Information, MsgButtons::YesNo};
const QString WriteErrorTitle = QStringLiteral("Error writing log");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class LogFileTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        load();
    }
    // The operator types a path and turns logging on.
    void logTo(const QString& path, bool all = true) {
        ui().txtLog->setText(path);
        (all ? ui().chkLogTotal : ui().chkLogFailed)->setChecked(true);
    }
    // The block that opens a run in the log, as of now.
    QByteArray header(bool all) const {
        const QDateTime at = fakes.clock.now();
        return ("\r\nStarted log on " + shortDateText(at.date()) + " at " +
                timeOfDayText(at.time()) + (all ? " Logging Total pings" : " Logging Failed pings"))
                   .toLocal8Bit() +
               "\r\n";
    }
    std::vector<Box> boxesTitled(const QString& title) const {
        std::vector<Box> out;
        std::copy_if(fakes.messages.shown.begin(), fakes.messages.shown.end(),
                     std::back_inserter(out), [&](const Box& b) { return b.title == title; });
        return out;
    }
    LogFile& log() { return window->logFile(); }

    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("Ping.Log"));
};

class LogHeader : public LogFileTest, public ::testing::WithParamInterface<bool> {};

// A run's lines follow one header block; a line count of 0 starts the next run.
TEST_P(LogHeader, OncePerRunBeforeItsLinesEachEndingInCrLf) {
    logTo(logPath, GetParam());
    const QByteArray first = header(GetParam());
    log().AppendLogLine(QStringLiteral("one"), 0);
    log().AppendLogLine(QStringLiteral("two"), 1);
    fakes.clock.advanceSecs(3725);
    log().AppendLogLine(QStringLiteral("three"), 0);
    EXPECT_EQ(readAll(logPath), first + "one\r\ntwo\r\n" + header(GetParam()) + "three\r\n");
}
INSTANTIATE_TEST_SUITE_P(Logging, LogHeader, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "AllPings" : "FailedPings"; });

// Asked once per run; Yes deletes the log and empties the list and the failed count, No
// appends. Set arms the question again.
class Overwrite : public LogFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Overwrite, AskedOnceThenYesDeletesOrNoAppends) {
    const bool yes = GetParam();
    writeFile(logPath, "old\r\n");
    ui().lstPingResults->addLine(QStringLiteral("kept until overwritten"));
    ui().StatusBar1->setPanelText(2, QStringLiteral("Failed: 4"));
    state().failedCount = 4;
    fakes.messages.answers.push_back(yes ? MsgAnswer::Yes : MsgAnswer::No);
    logTo(logPath);
    EXPECT_EQ(fakes.messages.shown, std::vector<Box>{OverwriteBox});
    EXPECT_EQ(ui().lstPingResults->count(), yes ? 0 : 1);
    EXPECT_EQ(ui().StatusBar1->panelText(2), yes ? "Failed: 0" : "Failed: 4");
    EXPECT_EQ(state().failedCount, yes ? 0 : 4);

    log().ApplyLogPath(); // the next pass asks nothing
    log().AppendLogLine(QStringLiteral("new"), 0);
    EXPECT_EQ(readAll(logPath), QByteArray(yes ? "" : "old\r\n") + header(true) + "new\r\n");
    ui().cmdSetLog->setEnabled(true);
    ui().cmdSetLog->click();
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
}
INSTANTIATE_TEST_SUITE_P(Answer, Overwrite, ::testing::Bool(),
                         [](const auto& row) { return row.param ? "Yes" : "No"; });

// A pass that reaches the check while the question is still open asks again.
TEST_F(LogFileTest, TheQuestionSettlesOnlyWhenAnswered) {
    writeFile(logPath, "old\r\n");
    fakes.messages.whileOpen = [&, nested = 0](const Box&) mutable {
        if (nested++ == 0)
            log().ApplyLogPath();
    };
    logTo(logPath, false);
    EXPECT_EQ(boxesTitled(OverwriteBox.title).size(), 2u);
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Dont);
}

enum class Verdict { Accepted, Rejected, Unchecked };
struct PathCase {
    const char* name;
    const char* typed; // "%1" is the temporary folder
    Verdict verdict;
};
class LogPathCheck : public LogFileTest, public ::testing::WithParamInterface<PathCase> {};

// Set checks the typed path: a rejected one is reported, shows the notice over the results
// and stays invalid; a bare name is taken as it stands.
TEST_P(LogPathCheck, TypedPathIsCheckedAsSetIsPressed) {
    writeFile(dir.filePath(QStringLiteral("plain")), "");
    logTo(logPath);
    state().logPathInvalid = true;
    const QString typed = QString::fromUtf8(GetParam().typed).replace("%1", dir.path());
    ui().txtLog->setText(typed);
    fakes.messages.shown.clear();
    ui().cmdSetLog->click();
    const Verdict v = GetParam().verdict;
    EXPECT_EQ(state().logPath, typed);
    EXPECT_EQ(state().logPathInvalid, v != Verdict::Accepted);
    EXPECT_EQ(ui().cmdSetLog->isEnabled(), v != Verdict::Accepted);
    EXPECT_EQ(ui().txtPathError->isHidden(), v != Verdict::Rejected);
    EXPECT_EQ(boxesTitled(QStringLiteral("Invalid directory")).size(), v == Verdict::Rejected);
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
    [](const auto& row) { return std::string(row.param.name); });

// Told once per run, with the path and the system's reason; the run's header waits for the
// first line that reaches the file.
class LogWriteFailure : public LogFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LogWriteFailure, ToldOncePerRunAndTheHeaderWaitsForTheFirstWrittenLine) {
    logTo(logPath);
    state().logPath = QString::fromLatin1(GetParam()).replace("%1", dir.path());
    for (int run = 1; run <= 2; ++run) {
        log().beginRun();
        for (int i = 0; i < 3; ++i)
            log().AppendLogLine(QStringLiteral("lost"), i);
    }
    const auto boxes = boxesTitled(WriteErrorTitle);
    ASSERT_EQ(boxes.size(), 2u);
    const QStringList parts = boxes[0].text.split('\r');
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0], QStringLiteral("The log file %1 cannot be written.").arg(state().logPath));
    EXPECT_FALSE(parts[1].isEmpty());
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);

    state().logPath = logPath;
    log().AppendLogLine(QStringLiteral("kept"), 3);
    EXPECT_EQ(readAll(logPath), header(true) + "kept\r\n");
}
INSTANTIATE_TEST_SUITE_P(Paths, LogWriteFailure,
                         ::testing::Values("%1/gone/x.log", "%1", "/dev/full"),
                         [](const auto& row) {
                             return std::vector{"MissingFolder", "Folder", "FullDisk"}[row.index];
                         });

// Open Log shows the log that was set, never an edit not yet set, or says it is missing.
TEST_F(LogFileTest, OpenLogShowsTheSetFileOrSaysItIsMissing) {
    logTo(logPath);
    ui().cmdOpenLog->click();
    EXPECT_EQ(boxesTitled(QStringLiteral("Error opening log")).size(), 1u);
    writeFile(logPath, "x\r\n");
    ui().txtLog->setText(dir.filePath(QStringLiteral("edited.log")));
    ui().cmdOpenLog->click();
    EXPECT_EQ(fakes.launcher.editorOpened, QStringList{logPath});
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
}

} // namespace
} // namespace ew::test
