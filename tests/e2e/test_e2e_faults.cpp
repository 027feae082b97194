// The real program meeting faults while an operator uses it: the log's directory removed and
// the log made read-only in the middle of a run, a read-only settings file at a saving Exit,
// and the process killed outright. It must not crash, must tell the operator, must go on
// monitoring, and must leave only whole lines and whole settings files behind.

#include "e2e/DirectoryWatch.h"
#include "e2e/E2eFixture.h"

#include <QStringList>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace ew::e2e {
namespace {

constexpr auto LinesLimit = 30s;
const QString WriteErrorTitle = QStringLiteral("Error writing log");
const QString SaveErrorTitle = QStringLiteral("Error saving settings");

using Settings = std::map<std::string, std::string>;

class FaultRuns : public E2eTest {
protected:
    // One loopback address, every ping logged to path, a pass every second.
    void setUpLoggingTo(const fs::path& path) {
        ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.1")));
        ASSERT_TRUE(window_->click(controls::chkLogTotal));
        ASSERT_TRUE(window_->setText(controls::txtLog, QString::fromStdString(path.string())));
        ASSERT_TRUE(window_->click(controls::cmdSetLog));
        ASSERT_TRUE(window_->click(controls::optSeconds));
        ASSERT_TRUE(window_->setText(controls::txtInterval, QStringLiteral("1")));
    }

    // Waits for a box, keeps its picture and answers OK.
    void expectBoxAndAnswer(const QString& title, const std::string& picture) {
        const auto found = op_->findWindow(title, WindowLimit);
        ASSERT_TRUE(found) << "no box \"" << title.toStdString() << "\" appeared";
        EXPECT_TRUE(shoot(*found, picture));
        ASSERT_TRUE(window_->answerBox(title, QStringLiteral("Return")));
    }

    bool linesGrow(const fs::path& log, std::size_t more) {
        const std::size_t before = loggedEntries(log);
        return waitUntil([&] { return loggedEntries(log) >= before + more; }, LinesLimit);
    }
};

TEST_F(FaultRuns, LogDirectoryRemovedThenLogReadOnlyToldOncePerRunAndMonitoringGoesOn) {
    const fs::path dir = box_.root() / "logs";
    const fs::path log = dir / "Ping.Log";
    fs::create_directories(dir);
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(setUpLoggingTo(log));
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    ASSERT_TRUE(linesGrow(log, 2)) << output();

    fs::remove_all(dir);
    ASSERT_NO_FATAL_FAILURE(expectBoxAndAnswer(WriteErrorTitle, "log-directory-removed"));
    fs::create_directories(dir);
    ASSERT_TRUE(linesGrow(log, 3)) << "monitoring stopped after the write failure";
    EXPECT_FALSE(op_->windowNow(WriteErrorTitle)) << "told more than once in one run";
    ASSERT_TRUE(program_->running());

    ASSERT_TRUE(stopAndSettle(log));
    if (!box_.makeImmutable(log))
        GTEST_SKIP() << "no immutable attribute on this file system (chattr): the read-only "
                        "log part cannot run here";
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    ASSERT_TRUE(window_->answerBox(QStringLiteral("Log File"), QStringLiteral("n")));
    ASSERT_NO_FATAL_FAILURE(expectBoxAndAnswer(WriteErrorTitle, "log-read-only"));
    box_.makeMutable(log);
    ASSERT_TRUE(linesGrow(log, 3)) << "monitoring stopped after the read-only log";
    EXPECT_FALSE(op_->windowNow(WriteErrorTitle)) << "told more than once in one run";
    ASSERT_TRUE(stopAndSettle(log));
    ASSERT_TRUE(exitProgram());

    // The recreated file starts with the first run's remaining lines; the second run's
    // lines must still come after a header of their own, although its first line was lost.
    const ParsedLog parsed = parseLog(readFile(log), true);
    ASSERT_EQ(parsed.problem, "");
    ASSERT_FALSE(parsed.runs.empty());
    EXPECT_EQ(parsed.runs.front().header, "") << "the recreated file has no header";
    EXPECT_EQ(parsed.runs.size(), 2u)
        << "the run whose first line could not be written has no header in the log";
}

TEST_F(FaultRuns, ReadOnlySettingsFileAtASavingExitIsToldAndKept) {
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.1")));
    ASSERT_TRUE(exitProgram());
    const std::string before = readFile(box_.settingsFile());
    ASSERT_FALSE(before.empty()) << "the first Exit saved nothing";
    if (!box_.makeImmutable(box_.settingsFile()))
        GTEST_SKIP() << "no immutable attribute on this file system (chattr)";

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.2")));
    ASSERT_TRUE(window_->click(controls::cmdExit));
    ASSERT_NO_FATAL_FAILURE(expectBoxAndAnswer(SaveErrorTitle, "settings-not-saved"));
    EXPECT_TRUE(program_->endedCleanly()) << program_->endDescription() << ": " << output();
    EXPECT_EQ(readFile(box_.settingsFile()), before);
}

// Kills the program while it logs ten passes a second: only whole lines are on disk.
TEST_F(FaultRuns, KilledWhileLoggingLeavesOnlyWholeLines) {
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.1")));
    ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.2")));
    ASSERT_TRUE(window_->click(controls::chkLogTotal));
    ASSERT_TRUE(window_->click(controls::optMilSeconds));
    ASSERT_TRUE(window_->setText(controls::txtInterval, QStringLiteral("1")));
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    ASSERT_TRUE(waitUntil([&] { return loggedEntries(box_.defaultLog()) >= 40; }, LinesLimit))
        << output();
    program_->sigkill();

    const ParsedLog parsed = parseLog(readFile(box_.defaultLog()));
    EXPECT_EQ(parsed.problem, "");
    ASSERT_EQ(parsed.runs.size(), 1u);
    EXPECT_GE(parsed.runs[0].entries.size(), 40u);
}

// The moments of a save at which the program is killed: the settings file's lock taken, the
// new file begun, its first bytes written, and the old file replaced.
struct KillMoment {
    const char* name;
    std::uint32_t event;
    bool onLock;
};
constexpr KillMoment KillMoments[] = {{"lock taken", IN_CREATE, true},
                                      {"new file begun", IN_CREATE, false},
                                      {"first bytes written", IN_MODIFY, false},
                                      {"old file replaced", IN_MOVED_TO, false}};

// Kills the program in the middle of Save Settings, at each moment of the save in turn, with
// an address list big enough to take several writes: the file is always the old or the new
// one, whole, and the next start reads it.
TEST_F(FaultRuns, KilledWhileSavingLeavesTheOldOrTheNewSettings) {
    constexpr int Addresses = 20000;
    constexpr auto SaveLimit = 10s;
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->click(controls::cmdSave));
    ASSERT_TRUE(exitProgram());
    std::string list;
    for (int i = 0; i < Addresses; ++i)
        list += "127." + std::to_string(i / 250 / 250) + "." + std::to_string(i / 250 % 250) + "." +
                std::to_string(i % 250 + 1) + ",";
    auto values = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
    ASSERT_TRUE(values);
    std::string ini = "[EchoWarden]\n";
    (*values)["IPList"] = list;
    for (const auto& [key, value] : *values)
        ini += key + "=\"" + value + "\"\n";
    writeFile(box_.settingsFile(), ini);
    const std::string file = box_.settingsFile().filename().string();
    const std::string lock = file + ".lock";

    std::string attempts = (*values)["Attempts"];
    int round = 0;
    for (const KillMoment& moment : KillMoments) {
        SCOPED_TRACE(moment.name);
        ASSERT_TRUE(startProgram()) << "no start after a kill";
        const std::string typed = std::to_string(++round + 1);
        ASSERT_TRUE(window_->setText(controls::txtAttempts, QString::fromStdString(typed)));
        DirectoryWatch watch(box_.settingsFile().parent_path());
        ASSERT_TRUE(watch.valid());
        ASSERT_TRUE(window_->click(controls::cmdSave));
        const bool reached = watch.waitFor(
            [&](std::uint32_t mask, const std::string& name) {
                if (!(mask & moment.event))
                    return false;
                if (moment.event == IN_MOVED_TO)
                    return name == file;
                return moment.onLock ? name == lock : name != lock && name != file;
            },
            SaveLimit);
        program_->sigkill();
        EXPECT_TRUE(reached) << "the save never reached this moment";

        const auto now = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
        ASSERT_TRUE(now) << "a torn settings file";
        ASSERT_EQ(now->count("IPList"), 1u);
        EXPECT_EQ(now->at("IPList"), list) << "the address list was cut";
        ASSERT_EQ(now->count("Attempts"), 1u);
        if (moment.event == IN_MOVED_TO)
            EXPECT_EQ(now->at("Attempts"), typed) << "the new file is in place";
        else
            EXPECT_TRUE(now->at("Attempts") == attempts || now->at("Attempts") == typed)
                << now->at("Attempts");
        for (const auto& [key, value] : *values) {
            if (key != "Attempts" && key != "IPList") {
                EXPECT_EQ(storedValue(*now, key), value) << key;
            }
        }
        std::cout << "[ info     ] killed at \"" << moment.name << "\": the "
                  << (now->at("Attempts") == typed ? "new" : "old") << " settings file\n";
        attempts = now->at("Attempts");
    }
}

} // namespace
} // namespace ew::e2e
