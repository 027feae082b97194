// How alive the window stays during a pass, which runs as events on the window's thread:
// another thread posts an event to the window's thread every few milliseconds, and the delay
// from posting to handling is taken for each. Once while a pass waits on a host that never
// answers (a fake echo), and once while the real echo pings 1000 loopback addresses, one after
// another and all at once (Settings > Ping all addresses at once), where every reply's line is
// the window thread's work. Also the tenth-seconds rate at an interval of 1 with short passes.
// Timings only print MISS against their aim; a pass that does not make its attempts, or events
// that never arrive, end the program with a failure.

#include "BenchSupport.h"
#include "EventDelays.h"
#include "echo.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "platform/Echo.h"
#include "widgets/ResultsList.h"

#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace ew;
using SteadyClock = std::chrono::steady_clock;

constexpr int Attempts = 3;
constexpr int LoopbackEntries = 1000;
// One after another, a loopback attempt takes some 20 us: this many make a pass long enough
// for the probes to see it.
constexpr int LoopbackAttemptsInTurn = 25;
constexpr auto PostEvery = std::chrono::milliseconds(5);
constexpr int MaxPosts = 20000; // bounds the posting thread whatever happens to the pass
constexpr double AimP99Ms = 5.0;
constexpr int RateSeconds = 10;
constexpr double AimPassesPerSecond = 9.9;

void print(const char* name, double figure, const char* unit, const char* aim, bool ok) {
    std::printf("%s: %.2f %s (aim: %s) %s\n", name, figure, unit, aim, ok ? "ok" : "MISS");
}

// The delays of probes posted every PostEvery while w's pass runs to its end, with the number
// of lines it should make; false (and why on standard error) when it does not make them.
bool latencyDuringAPass(const char* what, bench::BenchWindow& w, int lines) {
    // The window's first layout and paint after it was shown are not the pass's.
    QCoreApplication::processEvents();
    bench::EventDelays receiver;
    std::atomic<bool> passing{true};
    std::thread poster([&] {
        for (int i = 0; i < MaxPosts && passing; ++i) {
            receiver.post();
            std::this_thread::sleep_for(PostEvery);
        }
    });
    const auto begin = SteadyClock::now();
    const bool ended = w.pass(std::chrono::minutes(1));
    const double seconds = bench::secondsSince(begin);
    // Probes that wait when the pass ends are handled now; those posted later (while the
    // poster sleeps its last few milliseconds) are no pass's latency and are not counted.
    receiver.finish();
    passing = false;
    poster.join();
    receiver.drop();

    const std::vector<double> d = receiver.delaysMs();
    const int made = w.window.ui().lstPingResults->count();
    if (!ended || made != lines || d.size() < 10) {
        std::fprintf(stderr, "%s: the pass made %d lines (want %d)%s; %zu probes handled\n", what,
                     made, lines, ended ? "" : " and did not end", d.size());
        return false;
    }
    const double median = bench::quantile(d, 0.5);
    const double p99 = bench::quantile(d, 0.99);
    std::printf("# %s: %zu probes over a pass of %.2f s\n", what, d.size(), seconds);
    print(bench::format("window event latency during a pass, %s, median", what).c_str(), median,
          "ms", "under 5 ms at p99", p99 < AimP99Ms);
    print(bench::format("window event latency during a pass, %s, p99", what).c_str(), p99, "ms",
          "under 5 ms", p99 < AimP99Ms);
    return true;
}

// Attempts attempts of a second each at a host that never answers.
bool silentHost() {
    bench::BenchWindow w;
    w.window.Form_Load();
    w.window.show();
    auto& ui = w.window.ui();
    ui.lstIPList->addItem(QStringLiteral("silent"));
    ui.txtAttempts->setText(QString::number(Attempts));
    ui.txtTimeout->setText(QStringLiteral("1"));
    w.fakes.echo.fail(Attempts);
    w.fakes.echo.delayMs = 1000; // the time-out
    return latencyDuringAPass("host that never answers (fake echo)", w, Attempts);
}

// The real echo to 127.0.0.1 ... 127.0.3.232, once one after another and once all at once.
bool loopbackEntries() {
    IcmpEcho echo;
    bool ok = true;
    for (const bool atOnce : {false, true}) {
        bench::BenchWindow w(nullptr, &echo);
        w.window.Form_Load();
        w.window.show();
        auto& ui = w.window.ui();
        for (int i = 1; i <= LoopbackEntries; ++i)
            ui.lstIPList->addItem(QStringLiteral("127.0.%1.%2").arg(i / 256).arg(i % 256));
        const int attempts = atOnce ? 1 : LoopbackAttemptsInTurn;
        ui.txtAttempts->setText(QString::number(attempts));
        ui.txtTimeout->setText(QStringLiteral("1"));
        ui.mnuPingAtOnce->setChecked(atOnce);
        ok = latencyDuringAPass(atOnce ? "1000 loopback entries at once (real echo)"
                                       : "1000 loopback entries x 25 one after another (real echo)",
                                w, LoopbackEntries * attempts) &&
             ok;
    }
    return ok;
}

// Tenth-seconds at N = 1 against an echo that answers at once: the real Timer1 drives it.
bool tenthSecondRate() {
    bench::BenchWindow w;
    w.window.Form_Load();
    auto& ui = w.window.ui();
    ui.lstIPList->addItem(QStringLiteral("127.0.0.1"));
    ui.txtAttempts->setText(QStringLiteral("1"));
    ui.txtInterval->setText(QStringLiteral("1"));
    ui.optMilSeconds->setChecked(true);
    ui.cmdStartPing->setEnabled(true);
    ui.cmdStartPing->click();
    const auto first = w.window.pingPass().pingCount();
    const auto start = SteadyClock::now();
    while (SteadyClock::now() - start < std::chrono::seconds(RateSeconds))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // the timer wakes it
    const double secs = std::chrono::duration<double>(SteadyClock::now() - start).count();
    const auto passes = w.window.pingPass().pingCount() - first;
    ui.cmdStopPing->click();
    if (passes <= 0) {
        std::fprintf(stderr, "no tenth-second pass ran\n");
        return false;
    }
    print("tenth-second passes per second", static_cast<double>(passes) / secs, "/s", "9.9 or more",
          static_cast<double>(passes) / secs >= AimPassesPerSecond);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool ok = silentHost() && loopbackEntries() && tenthSecondRate();
    return ok ? 0 : 1;
}
