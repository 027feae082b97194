#include "monitor/EchoWorker.h"

#include "platform/Echo.h"

#include <QEventLoop>
#include <chrono>

namespace ew {

namespace {
// An interrupt reaches only a call that already waits; one that was about to begin when the
// program ended is interrupted again after this long.
constexpr auto InterruptRetry = std::chrono::milliseconds(20);
} // namespace

EchoWorker::EchoWorker(Echo& echo) : echo_(echo), thread_([this] { run(); }) {}

EchoWorker::~EchoWorker() {
    std::unique_lock lock(mutex_);
    quit_ = true;
    queued_.reset();
    jobReady_.notify_one();
    while (busy_) {
        lock.unlock();
        echo_.interrupt();
        lock.lock();
        jobDone_.wait_for(lock, InterruptRetry, [this] { return !busy_; });
    }
    lock.unlock();
    thread_.join();
}

std::optional<std::int16_t> EchoWorker::ping(const std::string& address, std::int16_t packetSize,
                                             std::int32_t& roundTripMs, std::int16_t timeoutMs) {
    cancelled_ = false;
    const std::uint64_t id = ++lastId_;
    {
        // An attempt cancelled before the worker took it up is replaced, never made.
        const std::lock_guard lock(mutex_);
        queued_ = Job{id, address, packetSize, timeoutMs, roundTripMs};
    }
    jobReady_.notify_one();

    QEventLoop loop;
    loop_ = &loop;
    std::optional<std::int16_t> outcome;
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (finishedId_ == id) {
                waiterInLoop_ = false;
                roundTripMs = roundTripMs_;
                outcome = result_;
                break;
            }
            if (cancelled_) {
                waiterInLoop_ = false;
                break;
            }
            waiterInLoop_ = true;
        }
        // Left when the worker finishes an attempt (this one or an earlier, cancelled one: then
        // the loop is entered again), on cancel(), or when the application quits: an event loop
        // entered after that returns at once with -1, and the attempt counts as cancelled.
        if (loop.exec() < 0)
            cancelled_ = true;
    }
    loop_ = nullptr;
    return outcome;
}

void EchoWorker::cancel() {
    cancelled_ = true;
    echo_.interrupt();
    if (loop_)
        loop_->quit();
}

void EchoWorker::wakeWaiter() {
    if (loop_)
        loop_->quit();
}

void EchoWorker::run() {
    for (;;) {
        std::unique_lock lock(mutex_);
        jobReady_.wait(lock, [this] { return quit_ || queued_.has_value(); });
        if (quit_)
            return;
        Job job = std::move(*queued_);
        queued_.reset();
        busy_ = true;
        lock.unlock();

        const std::int16_t result =
            echo_.ping(job.address, job.packetSize, job.roundTripMs, job.timeoutMs);

        lock.lock();
        busy_ = false;
        finishedId_ = job.id;
        result_ = result;
        roundTripMs_ = job.roundTripMs;
        const bool wake = waiterInLoop_;
        lock.unlock();
        jobDone_.notify_all();
        if (wake)
            QMetaObject::invokeMethod(this, &EchoWorker::wakeWaiter, Qt::QueuedConnection);
    }
}

} // namespace ew
