#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

class QEventLoop;

namespace ew {

class Echo;

// Makes the echo calls of a pass, one at a time, so that the window's thread never waits long:
// an attempt begins on the window's thread, and one that has not ended within a short while
// (a host that is slow, silent, or a name to look up) is waited out on a thread of its own
// while the window's thread runs its event loop: the window repaints, its clock keeps time and
// Stop and Exit get through however long a host takes not to answer. A nearby host's attempt
// thus wakes no other thread. No widget is touched off the window's thread: the worker only
// calls the echo.
class EchoWorker : public QObject {
    Q_OBJECT
public:
    explicit EchoWorker(Echo& echo);
    // Interrupts an attempt in progress and joins the thread, so none outlives the program.
    ~EchoWorker() override;
    EchoWorker(const EchoWorker&) = delete;
    EchoWorker& operator=(const EchoWorker&) = delete;

    // One attempt, from the window's thread, with the echo's contract. Returns when the attempt
    // ends, or with nullopt as soon as cancel() is called meanwhile: that attempt's outcome is
    // dropped (the echo call itself ends in the background, interrupted).
    std::optional<std::int16_t> ping(const std::string& address, std::int16_t packetSize,
                                     std::int32_t& roundTripMs, std::int16_t timeoutMs);

    // Stop or Exit: interrupts the attempt in progress and lets ping() return at once.
    void cancel();

private:
    struct Job {
        std::uint64_t id;
        std::string address;
        std::int16_t packetSize;
        std::int16_t timeoutMs;
        std::int32_t roundTripMs;
        bool rest; // the second half of an attempt the window's thread began
    };

    void run();
    // The outcome (result, round trip) when the attempt ends within a short while.
    std::optional<std::pair<std::int16_t, std::int32_t>> waitQuickly(std::uint64_t id);
    void wakeWaiter();
    // With mutex_ held: a job the worker has not taken up is not made.
    void dropQueued();

    Echo& echo_;
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::condition_variable jobDone_;
    // Guarded by mutex_.
    std::optional<Job> queued_;
    bool busy_ = false;
    bool quit_ = false;
    bool waiterInLoop_ = false;
    std::uint64_t finishedId_ = 0;
    std::int16_t result_ = 0;
    std::int32_t roundTripMs_ = 0;
    // The last job handed over and the last finished, readable without the lock, so that each
    // side can look for the other's next step a few microseconds before it sleeps.
    std::atomic<std::uint64_t> postedId_{0};
    std::atomic<std::uint64_t> doneId_{0};
    // Window's thread only.
    std::uint64_t lastId_ = 0;
    bool cancelled_ = false;
    QEventLoop* loop_ = nullptr;
    std::thread thread_;
};

} // namespace ew
