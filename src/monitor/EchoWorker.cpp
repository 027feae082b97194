#include "monitor/EchoWorker.h"

#include "platform/Echo.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>

namespace ew {

namespace {
using SteadyClock = std::chrono::steady_clock;
// An interrupt reaches only a call that already waits; one that was about to begin when the
// program ended is interrupted again after this long.
constexpr auto InterruptRetry = std::chrono::milliseconds(20);
// An attempt that ends within this long (an answering host nearby) is waited for without
// running the event loop, on the window's thread itself: no repaint per line, no loop round
// and no other thread woken per attempt, and the window is never held for longer than a
// fraction of a frame.
constexpr auto QuickAttempt = std::chrono::milliseconds(2);
// Within that wait, queued calls to this thread (the only events that an echo may need to be
// handled before it can answer) are delivered this often.
constexpr auto QuickSlice = std::chrono::microseconds(50);
// Waking a sleeping thread costs more than a nearby host takes to answer, and more than the
// pass's own work per line: each side first looks for the other for this long.
constexpr auto WindowSpin = std::chrono::microseconds(50);
constexpr auto WorkerSpin = std::chrono::microseconds(100);

template <typename Cond> void spinFor(Cond cond, std::chrono::microseconds limit) {
    const auto until = SteadyClock::now() + limit;
    while (!cond() && SteadyClock::now() < until)
        std::this_thread::yield();
}
} // namespace

EchoWorker::EchoWorker(Echo& echo) : echo_(echo), thread_([this] { run(); }) {}

EchoWorker::~EchoWorker() {
    std::unique_lock lock(mutex_);
    quit_ = true;
    dropQueued();
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
    std::unique_lock handover(mutex_);
    // Only this thread hands work over, so the worker stays idle while the attempt begins here.
    // An earlier attempt that was cancelled may still be ending there, on the same socket: then
    // this one is made there, after it.
    bool rest = false;
    if (!busy_ && !queued_) {
        handover.unlock();
        if (const auto done =
                echo_.start(address, packetSize, roundTripMs, timeoutMs,
                            std::chrono::duration_cast<std::chrono::microseconds>(QuickAttempt)))
            return done;
        rest = true;
        handover.lock();
    }
    // An attempt cancelled before the worker took it up is replaced, never made (or, begun
    // here, given up).
    dropQueued();
    queued_ = Job{id, address, packetSize, timeoutMs, roundTripMs, rest};
    handover.unlock();
    postedId_.store(id, std::memory_order_release);
    jobReady_.notify_one();

    // The first half already had the short while in which a reply is waited for unseen.
    if (!rest) {
        if (const auto quick = waitQuickly(id)) {
            roundTripMs = quick->second;
            return quick->first;
        }
    }

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

std::optional<std::pair<std::int16_t, std::int32_t>> EchoWorker::waitQuickly(std::uint64_t id) {
    spinFor([&] { return doneId_.load(std::memory_order_acquire) == id; }, WindowSpin);
    const auto until = SteadyClock::now() + QuickAttempt;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto slice = std::min(until, SteadyClock::now() + QuickSlice);
        if (jobDone_.wait_until(lock, slice, [&] { return finishedId_ == id; }))
            return std::pair{result_, roundTripMs_};
        if (SteadyClock::now() >= until)
            return std::nullopt;
        lock.unlock();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        lock.lock();
    }
}

void EchoWorker::dropQueued() {
    // The second half of an attempt begun on the window's thread holds a socket: give it back.
    if (queued_ && queued_->rest)
        echo_.abandon();
    queued_.reset();
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
    std::uint64_t taken = 0;
    for (;;) {
        spinFor([&] { return postedId_.load(std::memory_order_acquire) != taken; }, WorkerSpin);
        std::unique_lock lock(mutex_);
        jobReady_.wait(lock, [this] { return quit_ || queued_.has_value(); });
        if (quit_)
            return;
        Job job = std::move(*queued_);
        queued_.reset();
        taken = job.id;
        busy_ = true;
        lock.unlock();

        const std::int16_t result =
            job.rest ? echo_.finish(job.roundTripMs)
                     : echo_.ping(job.address, job.packetSize, job.roundTripMs, job.timeoutMs);

        lock.lock();
        busy_ = false;
        finishedId_ = job.id;
        result_ = result;
        roundTripMs_ = job.roundTripMs;
        const bool wake = waiterInLoop_;
        doneId_.store(job.id, std::memory_order_release);
        lock.unlock();
        jobDone_.notify_all();
        if (wake)
            QMetaObject::invokeMethod(this, &EchoWorker::wakeWaiter, Qt::QueuedConnection);
    }
}

} // namespace ew
