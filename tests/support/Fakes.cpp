#include "support/Fakes.h"

#include <QTimer>

namespace ew::test {

std::uint64_t FakeEcho::start(const QString& address, int packetSize, int timeoutMs, Done done) {
    const Call call{address.toStdString(), packetSize, timeoutMs};
    if (recordCalls)
        calls.push_back(call);
    if (onCall)
        onCall(call); // may set the delay of this very attempt
    const int delay = delayMs == WaitTimeout ? timeoutMs : delayMs;
    Outcome o = defaultOutcome;
    if (!script.empty()) {
        o = script.front();
        script.pop_front();
    }
    const std::uint64_t id = ++lastId_;
    pending_.emplace(id, std::move(done));
    QTimer::singleShot(delay, Qt::PreciseTimer, &context_, [this, id, o] {
        const auto it = pending_.find(id);
        if (it == pending_.end())
            return;
        const Done answer = std::move(it->second);
        pending_.erase(it);
        answer({o.result, o.result == 0 ? std::chrono::milliseconds(o.roundTripMs)
                                        : std::chrono::milliseconds(0)});
    });
    return id;
}

void FakeEcho::cancel(std::uint64_t attempt) {
    cancels_ += static_cast<int>(pending_.erase(attempt));
}

} // namespace ew::test
