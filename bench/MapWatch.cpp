#include "MapWatch.h"

#include <X11/Xlib.h>
#include <poll.h>

namespace ew::bench {

using SteadyClock = std::chrono::steady_clock;

MapWatch::MapWatch(const std::string& display) : d_(XOpenDisplay(display.c_str())) {
    if (d_) {
        XSelectInput(d_, DefaultRootWindow(d_), SubstructureNotifyMask);
        XSync(d_, False);
    }
}

MapWatch::~MapWatch() {
    if (d_)
        XCloseDisplay(d_);
}

void MapWatch::drain() {
    while (d_ && XPending(d_)) {
        XEvent e;
        XNextEvent(d_, &e);
    }
}

std::optional<SteadyClock::time_point> MapWatch::nextMap(std::chrono::milliseconds limit) {
    const auto end = SteadyClock::now() + limit;
    while (d_) {
        while (XPending(d_)) {
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == MapNotify && !e.xmap.override_redirect)
                return SteadyClock::now();
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now());
        if (left.count() <= 0)
            break;
        pollfd p{ConnectionNumber(d_), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
    return std::nullopt;
}

} // namespace ew::bench
