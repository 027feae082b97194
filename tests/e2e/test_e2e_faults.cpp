// The real program meeting faults while an operator uses it: the log's directory removed and
// the log made read-only in the middle of a run, a read-only settings file at a saving Exit,
// and the process killed outright. It must not crash, must tell the operator, must go on
// monitoring, and must leave only whole lines and whole settings files behind.

#include "e2e/E2eFixture.h"

#include <poll.h>
#include <sys/inotify.h>

namespace ew::e2e {
namespace {

constexpr auto LinesLimit = 30s;
const QString WriteErrorTitle = QStringLiteral("Error writing log");

class FaultRuns : public E2eTest {
protected:
    static bool linesGrow(const fs::path& log, std::size_t more) {
        const std::size_t before = loggedEntries(log);
        return waitUntil([&] { return loggedEntries(log) >= before + more; }, LinesLimit);
    }
};

TEST_F(FaultRuns, LogDirectoryRemovedThenLogReadOnlyToldOncePerRunAndMonitoringGoesOn) {
    const fs::path dir = box_.root() / "logs";
    const fs::path log = dir / "Ping.Log";
    fs::create_directories(dir);
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(setUpMonitoring({"127.0.0.1"}, log));
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(linesGrow(log, 2)) << output();

    fs::remove_all(dir);
    ASSERT_TRUE(answerBox(WriteErrorTitle, "Return", "log-directory-removed"));
    fs::create_directories(dir);
    ASSERT_TRUE(linesGrow(log, 3)) << "monitoring stopped after the write failure";
    EXPECT_FALSE(op_->findWindow(WriteErrorTitle)) << "told more than once in one run";
    ASSERT_TRUE(program_->running());

    ASSERT_TRUE(stopAndSettle(log));
    if (!box_.makeImmutable(log))
        GTEST_SKIP() << "no immutable attribute on this file system (chattr): the read-only "
                        "log part cannot run here";
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(answerBox("Log File", "n"));
    ASSERT_TRUE(answerBox(WriteErrorTitle, "Return", "log-read-only"));
    box_.makeMutable(log);
    ASSERT_TRUE(linesGrow(log, 3)) << "monitoring stopped after the read-only log";
    EXPECT_FALSE(op_->findWindow(WriteErrorTitle)) << "told more than once in one run";
    ASSERT_TRUE(stopAndSettle(log));
    ASSERT_TRUE(exitProgram());

    // The recreated file starts with the first run's remaining lines; the second run's lines
    // must still come after a header of their own, although its first line was lost.
    const ParsedLog parsed = parseLog(readFile(log), true);
    ASSERT_EQ(parsed.problem, "");
    ASSERT_FALSE(parsed.runs.empty());
    EXPECT_EQ(parsed.runs.front().header, "") << "the recreated file has no header";
    EXPECT_EQ(parsed.runs.size(), 2u) << "the run whose first line was lost has no header";
}

// The real process must still end cleanly after the failed save: nothing retries it at exit.
TEST_F(FaultRuns, ReadOnlySettingsFileAtASavingExitIsToldAndKept) {
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(addAddress("127.0.0.1"));
    ASSERT_TRUE(exitProgram());
    const std::string before = readFile(box_.settingsFile());
    ASSERT_FALSE(before.empty()) << "the first Exit saved nothing";
    if (!box_.makeImmutable(box_.settingsFile()))
        GTEST_SKIP() << "no immutable attribute on this file system (chattr)";

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(addAddress("127.0.0.2"));
    ASSERT_TRUE(click(controls::cmdExit));
    ASSERT_TRUE(answerBox("Error saving settings", "Return", "settings-not-saved"));
    EXPECT_TRUE(program_->endedCleanly()) << output();
    EXPECT_EQ(readFile(box_.settingsFile()), before);
}

// Kills the program while it logs ten passes a second: only whole lines are on disk.
TEST_F(FaultRuns, KilledWhileLoggingLeavesOnlyWholeLines) {
    constexpr std::size_t Lines = 40;
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(addAddress("127.0.0.1"));
    ASSERT_TRUE(addAddress("127.0.0.2"));
    ASSERT_TRUE(click(controls::chkLogTotal));
    ASSERT_TRUE(click(controls::optMilSeconds));
    ASSERT_TRUE(setText(controls::txtInterval, "1"));
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(waitUntil([&] { return loggedEntries(box_.defaultLog()) >= Lines; }, LinesLimit))
        << output();
    program_->sigkill();

    const ParsedLog parsed = parseLog(readFile(box_.defaultLog()));
    EXPECT_EQ(parsed.problem, "");
    ASSERT_EQ(parsed.runs.size(), 1u);
    EXPECT_GE(parsed.runs[0].entries.size(), Lines);
}

// Waits (inotify) for an event in a folder for which seen(mask, name) holds, so that a test can
// act at an exact moment of the program's work; false when the time is up.
class FolderWatch {
public:
    explicit FolderWatch(const fs::path& dir) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ok_ = fd_ >= 0 &&
              ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO) >= 0;
    }
    ~FolderWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return ok_; }

    template <typename Seen> bool waitFor(Seen seen, std::chrono::milliseconds limit) {
        alignas(inotify_event) char buffer[EventBuffer];
        for (const auto deadline = Clock::now() + limit; Clock::now() < deadline;) {
            pollfd p{fd_, POLLIN, 0};
            const ssize_t n = ::poll(&p, 1, PollMs) > 0 ? ::read(fd_, buffer, sizeof buffer) : 0;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                if (seen(e->mask, std::string(e->len ? e->name : "")))
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return false;
    }

private:
    static constexpr std::size_t EventBuffer = 64 * 1024;
    static constexpr int PollMs = 20;
    int fd_;
    bool ok_ = false;
};

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
    ASSERT_TRUE(click(controls::cmdSave));
    ASSERT_TRUE(exitProgram());
    auto old = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
    ASSERT_TRUE(old);
    std::string& list = (*old)["IPList"];
    list.clear();
    for (int i = 0; i < Addresses; ++i)
        list += "127." + std::to_string(i / 250 / 250) + "." + std::to_string(i / 250 % 250) + "." +
                std::to_string(i % 250 + 1) + ",";
    std::string ini = "[EchoWarden]\n";
    for (const auto& [key, value] : *old)
        ini += key + "=\"" + value + "\"\n";
    std::ofstream(box_.settingsFile(), std::ios::binary | std::ios::trunc) << ini;
    const std::string file = box_.settingsFile().filename().string();
    const std::string lock = file + ".lock";

    for (std::size_t round = 0; round < std::size(KillMoments); ++round) {
        const KillMoment& moment = KillMoments[round];
        SCOPED_TRACE(moment.name);
        Settings typed = *old;
        typed["Attempts"] = std::to_string(round + 2);
        ASSERT_TRUE(startProgram()) << "no start after a kill";
        ASSERT_TRUE(setText(controls::txtAttempts, QString::fromStdString(typed["Attempts"])));
        FolderWatch watch(box_.settingsFile().parent_path());
        ASSERT_TRUE(watch.ok());
        ASSERT_TRUE(click(controls::cmdSave));
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
        const bool isNew = *now == typed;
        ASSERT_TRUE(isNew || *now == *old) << "neither the old nor the new settings, whole";
        EXPECT_TRUE(isNew || moment.event != IN_MOVED_TO) << "the new file is not in place";
        std::cout << "[ info     ] killed at \"" << moment.name << "\": the "
                  << (isNew ? "new" : "old") << " settings file\n";
        if (isNew)
            *old = typed;
    }
}

} // namespace
} // namespace ew::e2e
