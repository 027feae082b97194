#pragma once

// What the benchmark programs share: a main that gives the windows their QApplication
// (headless unless told otherwise), the per-attempt counter, timing, the main window on fakes
// (or on a real echo), and running a pass, which is a run of events, to its end.

#include "Aims.h"
#include "app/frmEchoWarden.h"
#include "engine/PingPass.h"
#include "settings/SettingsKeys.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>

namespace ew::bench {

// Runs the benchmarks the command line names (all by default) under a QApplication, then
// afterwards (which prints the figures against their aims); the exit status tells whether a
// figure missed an aim that noise cannot explain.
inline int runBenchmarks(int argc, char** argv, const std::function<void()>& afterwards = {}) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (afterwards)
        afterwards();
    return exitStatus();
}

// The time of one attempt, when all the iterations together made this many.
inline void perAttempt(benchmark::State& state, std::int64_t attempts) {
    state.counters["per_attempt"] = benchmark::Counter(
        static_cast<double>(attempts), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double mb(long kb) {
    return static_cast<double>(kb) / 1024.0;
}

// Runs the event loop until the pass has ended, for at most limit; false when it has not.
// The pass's own timers and the echo's answers wake the loop, so it never spins; a timer of
// its own wakes it at the limit should the pass stall.
inline bool finishPass(PingPass& pass, std::chrono::milliseconds limit = std::chrono::minutes(3)) {
    const QDeadlineTimer deadline(limit);
    QTimer wake;
    wake.start(limit);
    while (pass.running() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !pass.running();
}

// The main window, not yet loaded, on fakes (or on the given settings store and echo), the
// fake echo answering at once (from the event loop) without keeping a record of its calls.
struct BenchWindow {
    explicit BenchWindow(SettingsStore* store = nullptr, Echo* echo = nullptr)
        : window(Platform{echo ? *echo : fakes.echo, store ? *store : fakes.store, fakes.clock,
                          fakes.messages, fakes.launcher, fakes.beeper, fakes.windows}) {
        fakes.echo.recordCalls = false;
        // These measure the pass, the list and the log; the history file has figures of its
        // own, and a bench writes nothing into the user's data folder.
        fakes.store.put(keys::KeepHistory, QStringLiteral("False"));
        window.setEndProgram([] {});
    }
    // Adds 127.0.0.1, 127.0.0.2, ... to the address list.
    void addAddresses(int count) {
        for (int i = 0; i < count; ++i)
            window.ui().lstIPList->addItem(QStringLiteral("127.0.0.%1").arg(i + 1));
    }
    // One whole pass: started, and run in the event loop to its end.
    bool pass(std::chrono::milliseconds limit = std::chrono::minutes(3)) {
        window.pingPass().PingAddresses();
        return finishPass(window.pingPass(), limit);
    }

    test::FakePlatform fakes;
    frmEchoWarden window;
};

} // namespace ew::bench
