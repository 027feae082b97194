#pragma once

// Sees files appear, change and be renamed in one directory (inotify), so that a test can act
// at an exact moment of another program's work, e.g. kill it in the middle of a save.

#include <sys/inotify.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace ew::e2e {

class DirectoryWatch {
public:
    explicit DirectoryWatch(const std::filesystem::path& dir) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 &&
            ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DirectoryWatch() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    bool valid() const { return fd_ >= 0; }

    // Waits until an event for which seen(mask, name) holds, or the time is up.
    template <typename Seen> bool waitFor(Seen seen, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        alignas(inotify_event) char buffer[EventBuffer];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, PollMs) <= 0)
                continue;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
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
    int fd_ = -1;
};

} // namespace ew::e2e
