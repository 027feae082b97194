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
    LogWriter& writer() { return window->logWriter(); }
};

// Asked once per run; Yes deletes the log and empties the list and the failed count, No
// appends, and so does a start nobody watches (--start), which asks nothing and says so. Set
// arms the question again. A run's lines follow one header block that says what is logged.
enum class Answer { Yes, No, Unattended };
class Overwrite : public LogFileTest, public ::testing::WithParamInterface<Answer> {};

TEST_P(Overwrite, AskedOnceThenYesDeletesOrNoAppends) {
    const bool yes = GetParam() == Answer::Yes, asked = GetParam() != Answer::Unattended,
               all = GetParam() != Answer::No;
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
        EXPECT_TRUE(window->logFile().appendUnasked());
        EXPECT_FALSE(window->logFile().appendUnasked()); // said once
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "EchoWarden: started with --start, so the log " + logPath().toStdString() +
                      " is appended to, not overwritten.\n");
    }
    window->logFile().ApplyLogPath(); // the first pass
    const FakeMessageBoxes::Box question{"The log already exists.Ovewrite? Select No to append.",
                                         "Log File", MsgIcon::Information, MsgButtons::YesNo};
    EXPECT_EQ(fakes.messages.shown, std::vector(asked ? 1 : 0, question));
    EXPECT_EQ(ui().lstPingResults->count(), yes ? 0 : 1);
    EXPECT_EQ(state().failedCount, yes ? 0 : 4);

    window->logFile().ApplyLogPath(); // the next pass asks nothing
    writer().AppendLogLine(QStringLiteral("new"), 0, all);
    writer().AppendLogLine(QStringLiteral("two"), 1, all);
    EXPECT_EQ(readAll(logPath()),
              QByteArray(yes ? "" : "old\r\n") + header(all) + "new\r\ntwo\r\n");
    ui().cmdSetLog->setEnabled(true);
    ui().cmdSetLog->click();
    EXPECT_EQ(fakes.messages.shown.size(), asked ? 2u : 1u);
}
INSTANTIATE_TEST_SUITE_P(YesNoUnattended, Overwrite,
                         ::testing::Values(Answer::Yes, Answer::No, Answer::Unattended));

// The real box: Enter gives No, which keeps the log's history.
TEST(OverwriteQuestion, EnterAppends) {
    QTimer::singleShot(0,
                       [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    EXPECT_EQ(QtMessageBoxes().show(nullptr, "Overwrite?", "Log File", MsgIcon::Information,
                                    MsgButtons::YesNo),
              MsgAnswer::No);
}

// Set checks the typed path: a rejected one (a folder with its own text) is reported, shows
// the notice over the results and stays invalid; a bare name is taken as it stands.
TEST_F(LogFileTest, TypedPathIsCheckedAsSetIsPressed) {
    enum class Verdict { Accepted, Rejected, Folder, Unchecked };
    // "%1" is the temporary folder.
    const std::pair<const char*, Verdict> paths[] = {
        {"%1/other.log", Verdict::Accepted},
        {"%1/plain/x.log", Verdict::Rejected}, // a file taken for a folder
        {"%1/", Verdict::Folder},
        {"C:\\Logs\\Ping.Log", Verdict::Rejected},
        {"echowarden-no-such.log", Verdict::Unchecked}};
    QFile(logDir.filePath(QStringLiteral("plain"))).open(QIODevice::WriteOnly);
    logTo(logPath());
    for (const auto& [path, v] : paths) {
        SCOPED_TRACE(path);
        fakes.messages.shown.clear();
        state().logPathInvalid = true;
        ui().txtLog->setText(QString::fromUtf8(path).replace("%1", logDir.path()));
        ui().cmdSetLog->click();
        const bool rejected = v == Verdict::Rejected || v == Verdict::Folder;
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
}

// Told once per run, with the path and the system's reason; the run's header waits for the
// first line that reaches the file. A disk that fills up in the middle of a line: the fragment
// is cut off, the failure told, and the header and line come whole once there is room again.
TEST_F(LogFileTest, AFailedWriteIsToldOncePerRunAndNothingTornStays) {
    logTo(logPath());
    for (const char* unwritable : {"%1/gone/x.log", "%1", "/dev/full"}) {
        SCOPED_TRACE(unwritable);
        fakes.messages.shown.clear();
        state().logPath = QString::fromLatin1(unwritable).replace("%1", logDir.path());
        for (int run = 1; run <= 2; ++run) {
            writer().beginRun();
            for (int i = 0; i < 3; ++i)
                writer().AppendLogLine(QStringLiteral("lost"), i, true);
        }
        ASSERT_EQ(boxesTitled("Error writing log"), 2u);
        const QStringList parts = fakes.messages.shown.back().text.split('\r');
        ASSERT_TRUE(parts.size() == 3 && !parts[1].isEmpty()) << parts.join('|').toStdString();
        EXPECT_EQ(parts[0],
                  QStringLiteral("The log file %1 cannot be written.").arg(state().logPath));
    }
    state().logPath = logPath();
    writer().beginRun();
    writer().AppendLogLine(QStringLiteral("kept"), 3, true);
    const QByteArray before = readAll(logPath());
    EXPECT_EQ(before, header() + "kept\r\n");
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit full{rlim_t(before.size() + 5), limit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    writer().AppendLogLine(QStringLiteral("torn"), 0, true);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(readAll(logPath()), before);
    ASSERT_EQ(boxesTitled("Error writing log"), 3u);
    EXPECT_TRUE(fakes.messages.shown.back().text.contains(qt_error_string(EFBIG)));
    writer().AppendLogLine(QStringLiteral("whole"), 1, true);
    EXPECT_EQ(readAll(logPath()), before + header() + "whole\r\n");
}

} // namespace
} // namespace ew::test
