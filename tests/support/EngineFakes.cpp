#include "support/EngineFakes.h"

#include <QElapsedTimer>
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
    const EchoOutcome outcome{o.result, o.result == 0 ? std::chrono::milliseconds(o.roundTripMs)
                                                      : std::chrono::milliseconds(0)};
    if (delay > 0) {
        QTimer::singleShot(delay, Qt::PreciseTimer, &context_,
                           [this, id, outcome] { answer(id, outcome); });
        return id;
    }
    // Answers that come at once go out together, as the real echo reads replies that came
    // together in one wake-up: for up to its span, then the event loop turns.
    due_.push_back({id, outcome});
    if (due_.size() == 1)
        QTimer::singleShot(0, &context_, [this] { answerDue(); });
    return id;
}

void FakeEcho::answer(std::uint64_t id, const EchoOutcome& outcome) {
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    const Done done = std::move(it->second);
    pending_.erase(it);
    done(outcome);
}

void FakeEcho::answerDue() {
    QElapsedTimer span;
    span.start();
    while (!due_.empty() && span.elapsed() < 2) {
        const auto [id, outcome] = due_.front();
        due_.pop_front();
        answer(id, outcome);
    }
    if (!due_.empty())
        QTimer::singleShot(0, &context_, [this] { answerDue(); });
}

void FakeEcho::cancel(std::uint64_t attempt) {
    cancels_ += static_cast<int>(pending_.erase(attempt));
}

} // namespace ew::test
