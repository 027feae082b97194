#pragma once

// Sees top-level windows being mapped on an X display: the moment a started program's window
// appears, seen from outside the program. Xlib's macros stay in MapWatch.cpp.

#include <chrono>
#include <optional>
#include <string>

struct _XDisplay;

namespace ew::bench {

class MapWatch {
public:
    explicit MapWatch(const std::string& display);
    ~MapWatch();
    MapWatch(const MapWatch&) = delete;
    MapWatch& operator=(const MapWatch&) = delete;
    bool ok() const { return d_ != nullptr; }

    // Forgets the maps seen so far.
    void drain();
    // The moment the next ordinary top-level window is mapped, or nothing within limit.
    std::optional<std::chrono::steady_clock::time_point> nextMap(std::chrono::milliseconds limit);

private:
    _XDisplay* d_;
};

} // namespace ew::bench
