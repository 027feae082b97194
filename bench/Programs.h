#pragma once

// Other programs, started by a benchmark and measured from outside as an operator's system
// would see them: a display server of the benchmark's own, children started with a chosen
// environment (optionally inside a network namespace), the CPU time they used, the echo
// replies their namespace received, and the moment a window is mapped on the display.
// Every child is ended by its own pid; nothing here looks for processes by name.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ew::bench {

using SteadyClock = std::chrono::steady_clock;

inline double secondsBetween(SteadyClock::time_point a, SteadyClock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// The CPU time of a process so far. schedstat gives each living thread's time in nanoseconds;
// stat gives the whole process's in clock ticks (10 ms), threads that have ended included.
struct CpuSample {
    std::map<int, double> threadSeconds;
    double tickSeconds = 0;
    bool valid = false;
};

inline CpuSample sampleCpu(pid_t pid) {
    CpuSample s;
    const std::string base = "/proc/" + std::to_string(pid);
    if (DIR* dir = ::opendir((base + "/task").c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(base + "/task/" + e->d_name + "/schedstat");
            double ns = 0;
            if (in >> ns)
                s.threadSeconds[std::atoi(e->d_name)] = ns / 1e9;
        }
        ::closedir(dir);
    }
    std::ifstream stat(base + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may hold blanks, start after its last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return s;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i == 14)
            utime = std::stod(field);
        if (i == 15)
            stime = std::stod(field);
    }
    s.tickSeconds = (utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    s.valid = !s.threadSeconds.empty();
    return s;
}

// The same for a process and its children (mtr, say, sends through a helper process of its own).
inline CpuSample sampleCpuWithChildren(pid_t pid) {
    CpuSample s = sampleCpu(pid);
    if (DIR* dir = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(dir)) {
            const int child = std::atoi(e->d_name);
            if (child <= 0)
                continue;
            std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)),
                             std::istreambuf_iterator<char>());
            const auto close = text.rfind(')');
            int parent = 0;
            std::string state;
            if (close == std::string::npos ||
                !(std::istringstream(text.substr(close + 2)) >> state >> parent) || parent != pid)
                continue;
            const CpuSample c = sampleCpu(child);
            s.threadSeconds.insert(c.threadSeconds.begin(), c.threadSeconds.end());
            s.tickSeconds += c.tickSeconds;
        }
        ::closedir(dir);
    }
    return s;
}

// CPU seconds used between two samples: the precise per-thread sum, unless threads that came
// and went in between make the coarse whole-process figure larger by more than its rounding.
inline double cpuSecondsBetween(const CpuSample& a, const CpuSample& b) {
    double precise = 0;
    for (const auto& [tid, seconds] : b.threadSeconds) {
        const auto before = a.threadSeconds.find(tid);
        precise += seconds - (before == a.threadSeconds.end() ? 0.0 : before->second);
    }
    const double coarse = b.tickSeconds - a.tickSeconds;
    return coarse - precise > 0.02 ? coarse : precise;
}

// A "Name:   1234 kB" line of a process's status (VmRSS, VmHWM), in kB; -1 when missing.
inline long statusKbOf(pid_t pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(name + ":"))
            return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}

// Echo replies received so far in the network namespace of pid, IPv4 and IPv6 together.
inline long echoRepliesSeen(pid_t pid) {
    const std::string base = "/proc/" + std::to_string(pid) + "/net/";
    long total = 0;
    std::ifstream snmp(base + "snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
        if (!names.starts_with("Icmp:"))
            continue;
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value) {
            if (name == "InEchoReps")
                total += std::stol(value);
        }
    }
    std::ifstream snmp6(base + "snmp6");
    std::string name;
    long value = 0;
    while (snmp6 >> name >> value) {
        if (name == "Icmp6InEchoReplies")
            total += value;
    }
    return total;
}

// Moves the calling thread (and the sockets it opens from then on, and the threads it starts)
// into the network namespace at path.
inline bool enterNetNamespace(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

// A child process: argv run with the parent's environment plus env ("NAME=value" replaces a
// variable of that name), inside the network namespace at netns when given, its output to
// outputPath. Ended by its pid, at the latest when this object goes.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { stop(); }

    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& netns, const std::string& outputPath) {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string var = *e;
            const std::string name = var.substr(0, var.find('=') + 1);
            bool replaced = false;
            for (const std::string& mine : env)
                replaced = replaced || mine.starts_with(name);
            if (!replaced)
                environment.push_back(var);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        // Everything the child needs is made before the fork: after it, only system calls.
        std::vector<char*> args, envp;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : environment)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        started_ = SteadyClock::now();
        pid_ = ::fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            // Ends with the benchmark, should the benchmark itself end early.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            // Nothing to read: the benchmark's own input is not theirs.
            if (const int in = ::open("/dev/null", O_RDONLY); in >= 0)
                ::dup2(in, 0);
            const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            if (!netns.empty()) {
                const int ns = ::open(netns.c_str(), O_RDONLY);
                if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0)
                    ::_exit(126);
            }
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        return true;
    }

    pid_t pid() const { return pid_; }
    SteadyClock::time_point startedAt() const { return started_; }

    bool running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    // SIGTERM, then SIGKILL when it has not ended within a second.
    void stop() {
        if (!running())
            return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    SteadyClock::time_point started_;
};

// An X display server of the benchmark's own (Xvfb), on a display number it picks itself, so
// that it never meets another program's display.
class DisplayServer {
public:
    bool start(const std::string& outputPath, std::string* why) {
        int fds[2];
        if (::pipe(fds) != 0) {
            *why = "no pipe";
            return false;
        }
        if (!server_.start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                            "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                           {}, {}, outputPath)) {
            *why = "cannot start Xvfb";
            return false;
        }
        ::close(fds[1]);
        // Xvfb writes its display number once it takes connections.
        pollfd p{fds[0], POLLIN, 0};
        char text[16] = {};
        if (::poll(&p, 1, 10000) > 0 && ::read(fds[0], text, sizeof text - 1) > 0)
            display_ = ":" + std::string(text).substr(0, std::string(text).find('\n'));
        ::close(fds[0]);
        if (display_.empty()) {
            *why = "Xvfb (Debian package xvfb) did not start";
            server_.stop();
        }
        return !display_.empty();
    }
    const std::string& display() const { return display_; }
    pid_t pid() const { return server_.pid(); }

private:
    Child server_;
    std::string display_;
};

} // namespace ew::bench
