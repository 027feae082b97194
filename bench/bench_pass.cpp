// The pass's work per attempt (the echo answered at once by a fake, from the event loop; the
// result line, the counters, the selection of the newest line, no log) with an empty results
// list, half full and at its 30000-line bound. The pass runs in the event loop to its end, so
// the window's repaints while it runs count too; once more with the window hidden, for the
// pass's work alone. The cost per attempt must not grow with the list: a results view
// whose layout work grows with its rows would make long unattended runs slower and slower.
// (Memory with a full list is measured in a process of its own, bench_memory.)

#include "BenchSupport.h"
#include "engine/PingPass.h"
#include "widgets/ResultsList.h"

#include <ctime>
#include <map>

namespace {

using namespace ew;

// Addresses per pass, one attempt each: the bound is checked before every address.
constexpr int AddressesPerPass = 10;
constexpr int FullList = PingPass::MaxResultLines;
constexpr double MostUsPerAttempt = 10.0;
constexpr double MostGrowth = 1.5;
// A list longer than the window shows: every line added scrolls, as at the bound. (Into an
// empty list the first lines are added without scrolling, which is cheaper.)
constexpr int ScrollingList = 200;

// CPU microseconds per attempt of each list length's last run, the one Google Benchmark
// reports. CPU time, all threads of the process: on a machine shared with other work, wall
// time would also count the moments this process waited for a core.
std::map<int, double> g_usPerAttempt;
// The same with the window hidden: the pass's work without the repaints that its lines cause
// while it runs (the window repaints whenever the event loop turns, so a pass of lines that come
// one by one repaints more than once).
double g_usHidden = -1;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Monitored : bench::BenchWindow {
    explicit Monitored(bool shown = true) {
        window.Form_Load();
        addAddresses(AddressesPerPass);
        if (shown)
            window.show();
        QCoreApplication::processEvents();
    }
    ResultsList& list() { return *window.ui().lstPingResults; }
    // Grows the list to lines by passes, as a long run would.
    void fillTo(int lines) {
        while (list().count() + AddressesPerPass <= lines)
            pass();
        QCoreApplication::processEvents();
    }
};

// Each timed pass starts from the same list length, range(0) lines, in the state a pass leaves
// the list in at every length: the newest line selected and scrolled into view, the window
// repainted (as it is between ticks).
void BM_PassPerAttempt(benchmark::State& state) {
    const bool shown = state.range(1) != 0;
    Monitored m(shown);
    const int start = static_cast<int>(state.range(0));
    m.fillTo(start);
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (start == 0)
            m.list().clear();
        else
            m.list().model().truncate(start);
        m.list().setCurrentRow(m.list().count() - 1);
        QCoreApplication::processEvents();
        state.ResumeTiming();
        const double begin = processCpuSeconds();
        m.pass();
        seconds += processCpuSeconds() - begin;
    }
    bench::perAttempt(state, state.iterations() * AddressesPerPass);
    (shown ? g_usPerAttempt[start] : g_usHidden) =
        1e6 * seconds / static_cast<double>(state.iterations() * AddressesPerPass);
    state.counters["lines"] = m.list().count();
}
BENCHMARK(BM_PassPerAttempt)
    ->Args({0, 1})
    ->Args({ScrollingList, 1})
    ->Args({FullList / 2, 1})
    ->Args({FullList - AddressesPerPass, 1})
    ->Args({ScrollingList, 0})
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return ew::bench::runBenchmarks(argc, argv, [] {
        using namespace ew::bench;
        for (const auto& [lines, us] : g_usPerAttempt)
            aim(format("pass work per attempt at %d lines", lines), format("%.2f us of CPU", us),
                format("at most %.0f us", MostUsPerAttempt), us <= MostUsPerAttempt);
        if (g_usHidden >= 0)
            aim(format("pass work per attempt at %d lines, window hidden (no repaints)",
                       ScrollingList),
                format("%.2f us of CPU", g_usHidden), "none", true);
        if (g_usPerAttempt.contains(ScrollingList) && g_usPerAttempt.size() == 4) {
            const double growth =
                g_usPerAttempt.rbegin()->second / g_usPerAttempt.at(ScrollingList);
            aim(format("pass work per attempt, full list over %d lines", ScrollingList),
                format("%.2fx", growth), format("at most %.1fx", MostGrowth), growth <= MostGrowth);
        }
    });
}
