#pragma once

// What a long run costs the process, read from /proc: resident memory (now and at its
// peak) and the number of open file descriptors. Shared by the quick fault checks and the
// long-run benchmark.

#include <dirent.h>

#include <fstream>
#include <string>

namespace ew::faults {

namespace detail {
// A "Name:   1234 kB" line of /proc/self/status, in kB; -1 when missing.
inline long statusKb(const std::string& name) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}
} // namespace detail

inline long residentKb() {
    return detail::statusKb("VmRSS");
}
inline long peakResidentKb() {
    return detail::statusKb("VmHWM");
}

inline int openFileCount() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.')
            ++n;
    }
    ::closedir(dir);
    return n - 1; // the directory stream itself
}

} // namespace ew::faults
