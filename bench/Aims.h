#pragma once

// Every figure is printed beside its aim, one line each, as
//
//     name: figure (aim: ...) ok|MISS
//
// so that a run can be read, and compared with another, line by line. These machines are
// shared and noisy, so a timing that misses its aim only says MISS. A figure that no noise can
// explain (memory that keeps growing, a list past its bound, open files that grow, a reply
// matched to the wrong attempt) fails the program as well: exitStatus() is then non-zero.

#include <cstdarg>
#include <cstdio>
#include <string>

namespace ew::bench {

enum class Miss {
    Noted, // timings: a miss is printed, nothing more
    Fails, // faults: a miss makes the program exit non-zero
};

inline int& hardMisses() {
    static int misses = 0;
    return misses;
}

__attribute__((format(printf, 1, 2))) inline std::string format(const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

inline void aim(const std::string& name, const std::string& figure, const std::string& aimText,
                bool ok, Miss miss = Miss::Noted) {
    if (!ok && miss == Miss::Fails)
        ++hardMisses();
    std::printf("%s: %s (aim: %s) %s\n", name.c_str(), figure.c_str(), aimText.c_str(),
                ok ? "ok" : (miss == Miss::Fails ? "MISS (a fault: the run fails)" : "MISS"));
    std::fflush(stdout);
}

// A figure this machine cannot give (no root for a private network, a program missing).
inline void notMeasured(const std::string& name, const std::string& why) {
    std::printf("%s: not measured (%s)\n", name.c_str(), why.c_str());
    std::fflush(stdout);
}

inline int exitStatus() {
    if (hardMisses() > 0)
        std::printf("%d figure(s) missed an aim that noise cannot explain\n", hardMisses());
    return hardMisses() > 0 ? 1 : 0;
}

} // namespace ew::bench
