#pragma once

// The real echowarden program in a sandbox of its own: a temporary home, configuration,
// data and working directory, and a copy of the program (a hard link where possible) so
// that its default log, "Ping.Log" beside the program, lands in the sandbox too.

#include "e2e/XSession.h"

#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>

namespace ew::e2e {

namespace fs = std::filesystem;

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where a run's programs live and leave their files.
class Sandbox {
public:
    Sandbox() {
        dir_.setAutoRemove(true);
        root_ = fs::path(dir_.path().toStdString());
        for (const fs::path& d : {config(), home(), work(), appDir(), runtime()})
            fs::create_directories(d);
        ::chmod(runtime().c_str(), 0700);
        std::error_code ec;
        fs::create_hard_link(EW_BINARY, program(), ec);
        if (ec)
            fs::copy_file(EW_BINARY, program(), fs::copy_options::overwrite_existing);
    }
    ~Sandbox() {
        // chattr +i outlives the test unless undone; the temporary directory could not go.
        for (const fs::path& p : immutable_)
            runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), QString::fromStdString(p)},
                    QProcessEnvironment::systemEnvironment());
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    bool valid() const { return dir_.isValid() && fs::exists(program()); }
    const fs::path& root() const { return root_; }
    fs::path config() const { return root_ / "config"; }
    fs::path home() const { return root_ / "home"; }
    fs::path work() const { return root_ / "work"; }
    fs::path appDir() const { return root_ / "app"; }
    fs::path runtime() const { return root_ / "runtime"; }
    fs::path program() const { return appDir() / "echowarden"; }
    fs::path settingsFile() const { return config() / "8R1" / "8R1.ini"; }
    fs::path defaultLog() const { return appDir() / "Ping.Log"; }
    fs::path programOutput() const { return root_ / "program-output.txt"; }

    // Read-only even for root (which chmod is not): the immutable attribute. False where the
    // file system has no such attribute.
    bool makeImmutable(const fs::path& p) {
        if (!haveProgram("chattr"))
            return false;
        const bool ok =
            runTool(QStringLiteral("chattr"), {QStringLiteral("+i"), QString::fromStdString(p)},
                    QProcessEnvironment::systemEnvironment())
                .has_value();
        if (ok)
            immutable_.insert(p);
        return ok;
    }
    void makeMutable(const fs::path& p) {
        runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), QString::fromStdString(p)},
                QProcessEnvironment::systemEnvironment());
        immutable_.erase(p);
    }

private:
    QTemporaryDir dir_;
    fs::path root_;
    std::set<fs::path> immutable_;
};

// One start of the program. Its output goes to the sandbox; it is killed when this object
// goes, so a failing test leaves nothing running.
class Program {
public:
    static constexpr auto ExitLimit = 20s;

    ~Program() { kill(); }

    // Starts the program on the X server, inside the network namespace at netns when given.
    bool start(const Sandbox& box, const XServer& x, const std::string& netns = {}) {
        QProcessEnvironment env = x.environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(box.config()));
        env.insert(QStringLiteral("HOME"), path(box.home()));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(box.home() / ".local" / "share"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(box.runtime()));
        // A fixed locale gives fixed date and time texts and a UTF-8 log.
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        // Under the sanitizers, what Qt keeps until exit is no finding of these tests; a
        // crash or a memory error still ends the program abnormally.
        QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        if (!asan.contains(QLatin1String("detect_leaks")))
            asan += (asan.isEmpty() ? QString() : QStringLiteral(":")) +
                    QStringLiteral("detect_leaks=0");
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan);
        env.remove(QStringLiteral("SESSION_MANAGER"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

        process_ = std::make_unique<QProcess>();
        process_->setProcessEnvironment(env);
        process_->setWorkingDirectory(path(box.work()));
        process_->setStandardOutputFile(path(box.programOutput()), QIODevice::Append);
        process_->setStandardErrorFile(path(box.programOutput()), QIODevice::Append);
        netnsFd_ = -1;
        if (!netns.empty()) {
            netnsFd_ = ::open(netns.c_str(), O_RDONLY | O_CLOEXEC);
            if (netnsFd_ < 0)
                return false;
            const int fd = netnsFd_;
            // Between fork and exec: only the system call, which moves the child alone.
            process_->setChildProcessModifier([fd] {
                if (::setns(fd, CLONE_NEWNET) != 0)
                    ::_exit(127);
            });
        }
        process_->start(path(box.program()), {});
        const bool started = process_->waitForStarted(10000);
        if (netnsFd_ >= 0)
            ::close(netnsFd_);
        netnsFd_ = -1;
        return started;
    }

    qint64 pid() const { return process_ ? process_->processId() : -1; }
    bool running() { return process_ && stillRunning(*process_); }

    // Waits for the program to end by itself; true when it did, with exit code 0 and no crash.
    bool endedCleanly(std::chrono::milliseconds limit = ExitLimit) {
        if (!process_)
            return false;
        if (!waitUntil([&] { return !stillRunning(*process_); }, limit))
            return false;
        return process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
    }

    // How it ended, for messages.
    std::string endDescription() {
        if (!process_)
            return "never started";
        if (stillRunning(*process_))
            return "still running";
        if (process_->exitStatus() == QProcess::CrashExit)
            return "crashed";
        return "exit code " + std::to_string(process_->exitCode());
    }

    void sigkill() {
        if (process_ && stillRunning(*process_)) {
            ::kill(static_cast<pid_t>(process_->processId()), SIGKILL);
            process_->waitForFinished(5000);
        }
    }
    void kill() {
        sigkill();
        process_.reset();
    }

private:
    static QString path(const fs::path& p) { return QString::fromStdString(p.string()); }

    std::unique_ptr<QProcess> process_;
    int netnsFd_ = -1;
};

} // namespace ew::e2e
