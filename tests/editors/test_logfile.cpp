#include "engine/LogWriter.h"
#include "support/MainWindowFixture.h"

#include <csignal>
#include <sys/resource.h>

namespace ew::test {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class LogFileTest : public PassTest {
protected:
    // The operator types a path and turns logging on.
    void logTo(const QString& path, bool all = true) {
        ui().txtLog->setText(path);
        (all ? ui().chkLogTotal : ui().chkLogFailed)->setChecked(true);
    }
    // The block that opens a run in the log, as of now.
    QByteArray header(bool all = true) const {
        const QDateTime at = fakes.clock.now();
        return ("\r\nStarted log on " + shortDateText(at.date()) + " at " +
                timeOfDayText(at.time()) + (all ? " Logging Total pings" : " Logging Failed pings"))
                   .toLocal8Bit() +
               "\r\n";
    }
    std::size_t boxesTitled(const char* title) const {
        return std::count_if(fakes.messages.shown.begin(), fakes.messages.shown.end(),
                             [&](const auto& box) { return box.title == title; });
    }
    LogFile& log() { return window->logFile(); }
    LogWriter& writer() { return window->logWriter(); }
};

// Asked once per run; Yes deletes the log and empties the list and the failed count, No
// appends, and so does a start nobody watches (--start), which asks nothing and says so. Set
// arms the question again. A run's lines follow one header block that says what is logged.
enum class Answer { Yes, No, Unattended };
class Overwrite : public LogFileTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(Overwrite, AskedOnceThenYesDeletesOrNoAppends) {
    const bool yes = GetParam() == Answer::Yes, asked = GetParam() != Answer::Unattended;
    const bool all = GetParam() != Answer::No;
    QFile old(logPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old\r\n") && old.flush());
    ui().lstPingResults->addLine(QStringLiteral("kept until overwritten"));
    state().failedCount = 4;
    fakes.messages.answers.push_back(yes ? MsgAnswer::Yes : MsgAnswer::No);
    state().askOverwrite = AskOverwrite::Dont; // as loading finds it
    logTo(logPath(), all);
    state().askOverwrite = AskOverwrite::Yes;
    if (!asked) {
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(log().appendUnasked());
        EXPECT_FALSE(log().appendUnasked()); // said once
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "EchoWarden: started with --start, so the log " + logPath().toStdString() +
                      " is appended to, not overwritten.\n");
    }
    log().ApplyLogPath(); // the first pass
    ASSERT_EQ(fakes.messages.shown.size(), asked ? 1u : 0u);
    if (asked) {
        EXPECT_EQ(fakes.messages.shown[0],
                  (FakeMessageBoxes::Box{
                      QStringLiteral("The log already exists.Ovewrite? Select No to append."),
                      QStringLiteral("Log File"), MsgIcon::Information, MsgButtons::YesNo}));
    }
    EXPECT_EQ(ui().lstPingResults->count(), yes ? 0 : 1);
    EXPECT_EQ(state().failedCount, yes ? 0 : 4);

    log().ApplyLogPath(); // the next pass asks nothing
    writer().AppendLogLine(QStringLiteral("new"), 0, all);
    writer().AppendLogLine(QStringLiteral("two"), 1, all);
    EXPECT_EQ(readAll(logPath()),
              QByteArray(yes ? "" : "old\r\n") + header(all) + "new\r\ntwo\r\n");
    ui().cmdSetLog->setEnabled(true);
    ui().cmdSetLog->click();
    EXPECT_EQ(fakes.messages.shown.size(), asked ? 2u : 1u);
}
const char* const AnswerNames[] = {"Yes", "No", "Unattended"};
INSTANTIATE_TEST_SUITE_P(Answers, Overwrite,
                         ::testing::Values(Answer::Yes, Answer::No, Answer::Unattended),
                         [](const auto& row) { return AnswerNames[row.index]; });

// The real box: Enter gives No, which keeps the log's history.
TEST(OverwriteQuestion, EnterAppends) {
    QTimer::singleShot(0,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    EXPECT_EQ(QtMessageBoxes().show(nullptr, QStringLiteral("Overwrite?"),
                                    QStringLiteral("Log File"), MsgIcon::Information,
                                    MsgButtons::YesNo),
              MsgAnswer::No);
}

enum class Verdict { Accepted, Rejected, Folder, Unchecked };
struct PathCase {
    const char* name;
    const char* typed; // "%1" is the temporary folder
    Verdict verdict;
};
class LogPathCheck : public LogFileTest, public ::testing::WithParamInterface<PathCase> {};

// Set checks the typed path: a rejected one (a folder with its own text) is reported, shows
// the notice over the results and stays invalid; a bare name is taken as it stands.
TEST_P(LogPathCheck, TypedPathIsCheckedAsSetIsPressed) {
    QFile(logDir.filePath(QStringLiteral("plain"))).open(QIODevice::WriteOnly);
    logTo(logPath());
    state().logPathInvalid = true;
    const QString typed = QString::fromUtf8(GetParam().typed).replace("%1", logDir.path());
    ui().txtLog->setText(typed);
    ui().cmdSetLog->click();
    const Verdict v = GetParam().verdict;
    const bool rejected = v == Verdict::Rejected || v == Verdict::Folder;
    EXPECT_EQ(state().logPath, typed);
    EXPECT_EQ(state().logPathInvalid, v != Verdict::Accepted);
    EXPECT_EQ(ui().cmdSetLog->isEnabled(), v != Verdict::Accepted);
    EXPECT_EQ(ui().txtPathError->isHidden(), !rejected);
    ASSERT_EQ(boxesTitled("Invalid directory"), rejected);
    if (rejected) {
        EXPECT_EQ(fakes.messages.shown.back().text,
                  v == Verdict::Folder
                      ? "The log file path is a folder.\rPlease enter the path of a file."
                      : "The log file path is invalid.\rPlease enter a valid path.");
    }
}
INSTANTIATE_TEST_SUITE_P(
    Paths, LogPathCheck,
    ::testing::Values(PathCase{"FileInExistingDir", "%1/other.log", Verdict::Accepted},
                      PathCase{"PlainFileAsDirectory", "%1/plain/x.log", Verdict::Rejected},
                      PathCase{"Folder", "%1/", Verdict::Folder},
                      PathCase{"MissingDirectory", "%1/nowhere/Ping.Log", Verdict::Rejected},
                      PathCase{"DriveLetter", "C:\\Logs\\Ping.Log", Verdict::Rejected},
                      PathCase{"BareFileName", "echowarden-no-such.log", Verdict::Unchecked}),
    [](const auto& row) { return std::string(row.param.name); });

// Told once per run, with the path and the system's reason; the run's header waits for the
// first line that reaches the file.
class LogWriteFailure : public LogFileTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LogWriteFailure, ToldOncePerRunAndTheHeaderWaitsForTheFirstWrittenLine) {
    logTo(logPath());
    state().logPath = QString::fromLatin1(GetParam()).replace("%1", logDir.path());
    for (int run = 1; run <= 2; ++run) {
        writer().beginRun();
        for (int i = 0; i < 3; ++i)
            writer().AppendLogLine(QStringLiteral("lost"), i, true);
    }
    ASSERT_EQ(boxesTitled("Error writing log"), 2u);
    const QStringList parts = fakes.messages.shown.back().text.split('\r');
    ASSERT_EQ(parts.size(), 3);
    EXPECT_EQ(parts[0], QStringLiteral("The log file %1 cannot be written.").arg(state().logPath));
    EXPECT_FALSE(parts[1].isEmpty());
    state().logPath = logPath();
    writer().AppendLogLine(QStringLiteral("kept"), 3, true);
    EXPECT_EQ(readAll(logPath()), header() + "kept\r\n");
}
// A disk that fills up in the middle of a line: the fragment is cut off, the failure told, and
// the run's header and line come whole once there is room again.
TEST_F(LogFileTest, AWriteCutShortIsUndone) {
    logTo(logPath());
    writer().AppendLogLine(QStringLiteral("before"), 0, true);
    const QByteArray before = readAll(logPath());
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit full{rlim_t(before.size() + 5), limit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    writer().AppendLogLine(QStringLiteral("torn"), 0, true);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readAll(logPath()), before);
    ASSERT_EQ(boxesTitled("Error writing log"), 1u);
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(qt_error_string(EFBIG)));
    writer().AppendLogLine(QStringLiteral("whole"), 1, true);
    EXPECT_EQ(readAll(logPath()), before + header() + "whole\r\n");
}

const char* const UnwritableNames[] = {"MissingFolder", "Folder", "FullDisk"};
INSTANTIATE_TEST_SUITE_P(Paths, LogWriteFailure,
                         ::testing::Values("%1/gone/x.log", "%1", "/dev/full"),
                         [](const auto& row) { return UnwritableNames[row.index]; });

} // namespace
} // namespace ew::test
