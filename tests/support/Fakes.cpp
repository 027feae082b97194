#include "support/Fakes.h"

#include <QThread>

namespace ew::test {

struct FakeEcho::Handover {
    std::mutex mutex;
    std::condition_variable changed;
    bool taken = false;       // the window's thread is answering
    bool interrupted = false; // before it took it up: the answer is never made
    std::optional<Outcome> outcome;
};

FakeEcho::Outcome FakeEcho::answer(const Call& call) {
    if (recordCalls)
        calls.push_back(call);
    if (onCall)
        onCall(call);
    Outcome o = defaultOutcome;
    if (!script.empty()) {
        o = script.front();
        script.pop_front();
    }
    return o;
}

std::int16_t FakeEcho::ping(const std::string& address, std::int16_t packetSize,
                            std::int32_t& roundTripMs, std::int16_t timeoutMs) {
    const Call call{address, packetSize, timeoutMs};
    const int asked = interrupts_.load();
    // As it stood when the call began: onCall may slow down the calls that follow.
    const int delay = delayMs == WaitTimeout ? timeoutMs : delayMs.load();
    QCoreApplication* app = QCoreApplication::instance();
    Outcome o{};
    if (!onCall) {
        const std::lock_guard lock(mutex_);
        o = answer(call);
    } else if (!app || QThread::currentThread() == app->thread()) {
        o = answer(call);
    } else {
        auto h = std::make_shared<Handover>();
        {
            const std::lock_guard lock(mutex_);
            if (interrupts_.load() != asked)
                return Interrupted;
            pending_ = h;
        }
        // The lambda owns the handover: it may run after the call gave up, when the fake is
        // gone, and then touches the fake no more.
        QMetaObject::invokeMethod(
            app,
            [this, h, call] {
                {
                    const std::lock_guard lock(h->mutex);
                    if (h->interrupted)
                        return;
                    h->taken = true;
                }
                const Outcome answered = answer(call);
                const std::lock_guard lock(h->mutex);
                h->outcome = answered;
                h->changed.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(h->mutex);
        h->changed.wait(lock, [&] { return h->outcome || (h->interrupted && !h->taken); });
        if (!h->outcome)
            return Interrupted;
        o = *h->outcome;
    }
    if (delay > 0) {
        std::unique_lock lock(mutex_);
        if (interrupted_.wait_for(lock, std::chrono::milliseconds(delay),
                                  [&] { return interrupts_.load() != asked; }))
            return Interrupted;
    }
    if (o.result == 0)
        roundTripMs = o.roundTripMs;
    return o.result;
}

void FakeEcho::interrupt() {
    const std::lock_guard lock(mutex_);
    ++interrupts_;
    if (const auto h = pending_.lock()) {
        const std::lock_guard handover(h->mutex);
        h->interrupted = true;
        h->changed.notify_all();
    }
    interrupted_.notify_all();
}

} // namespace ew::test
