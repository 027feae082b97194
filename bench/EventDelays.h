#pragma once

// How alive a thread's event loop stays: another thread posts an event every few milliseconds,
// and the delay from posting to handling is taken for each, with the moment it was posted so
// that a benchmark can keep those posted while something else (a pass, a scrape) was going on.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <chrono>
#include <vector>

namespace ew::bench {

class EventDelays : public QObject {
public:
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point posted;
        double ms = 0;
    };

    // From any thread: an event for this object's thread, timed from now.
    void post() { QCoreApplication::postEvent(this, new Timed(Clock::now())); }
    // Events still waiting are handled now; those posted later are not counted.
    void finish() {
        QCoreApplication::sendPostedEvents(this, eventType());
        counting_ = false;
    }
    // The events left over once the posting thread has ended.
    void drop() { QCoreApplication::removePostedEvents(this, eventType()); }

    const std::vector<Sample>& samples() const { return samples_; }
    std::vector<double> delaysMs() const {
        std::vector<double> d;
        for (const Sample& s : samples_)
            d.push_back(s.ms);
        return d;
    }

    bool event(QEvent* e) override {
        if (e->type() != eventType())
            return QObject::event(e);
        if (counting_) {
            const auto posted = static_cast<Timed*>(e)->posted;
            samples_.push_back(
                {posted, std::chrono::duration<double, std::milli>(Clock::now() - posted).count()});
        }
        return true;
    }

private:
    static QEvent::Type eventType() {
        static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
        return t;
    }
    struct Timed : QEvent {
        explicit Timed(Clock::time_point t) : QEvent(eventType()), posted(t) {}
        Clock::time_point posted;
    };
    std::vector<Sample> samples_;
    bool counting_ = true;
};

// The value below which share (0.5 for the median, 0.99 for p99) of the sorted values lie.
inline double quantile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(static_cast<double>(values.size()) * share))];
}

} // namespace ew::bench
