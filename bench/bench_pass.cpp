// The pass's own work per attempt (the echo answered at once by a fake, the result line, the
// counters, the selection of the newest line, no log) with an empty results list and with a
// list at its 30000-line bound, and the process's resident memory with a full list. The cost
// per attempt must not grow with the list: a results view whose layout work grows with its
// rows would make long unattended runs slower and slower.

#include "BenchSupport.h"
#include "faults/LongRun.h"
#include "monitor/PingPass.h"
#include "widgets/ResultsList.h"

namespace {

using namespace ew;

// Addresses per pass, one attempt each: the bound is checked before every address.
constexpr int AddressesPerPass = 10;
constexpr int FullList = PingPass::MaxResultLines;
constexpr int MoreBounds = 6;

struct Monitored : bench::BenchWindow {
    Monitored() {
        window.Form_Load();
        addAddresses(AddressesPerPass);
        window.show();
        QCoreApplication::processEvents();
    }
    ResultsList& list() { return *window.ui().lstPingResults; }
    void pass() { window.pingPass().PingAddresses(); }
    // Grows the list to lines by passes, as a long run would.
    void fillTo(int lines) {
        while (list().count() + AddressesPerPass <= lines)
            pass();
        QCoreApplication::processEvents();
    }
};

double residentMiB() {
    return bench::mb(faults::residentKb());
}

// Each timed pass starts from the same list length: range(0) lines before the pass.
void BM_PassPerAttempt(benchmark::State& state) {
    Monitored m;
    const int start = static_cast<int>(state.range(0));
    m.fillTo(start);
    for (auto _ : state) {
        state.PauseTiming();
        if (start == 0)
            m.list().clear();
        else
            m.list().truncate(start);
        // Between passes the window repaints, as it does between ticks.
        QCoreApplication::processEvents();
        state.ResumeTiming();
        m.pass();
    }
    bench::perAttempt(state, state.iterations() * AddressesPerPass);
    state.counters["lines"] = m.list().count();
}
BENCHMARK(BM_PassPerAttempt)
    ->Arg(0)
    ->Arg(FullList / 2)
    ->Arg(FullList - AddressesPerPass)
    ->Unit(benchmark::kMicrosecond);

// Resident memory with the list at its bound, and after more bounds' worth of attempts: the
// list is emptied above the bound, so memory levels off instead of growing with the run.
void BM_ResidentMemoryFullList(benchmark::State& state) {
    for (auto _ : state) {
        Monitored m;
        const double empty = residentMiB();
        m.fillTo(FullList);
        state.counters["rss_empty_list_MiB"] = empty;
        state.counters["rss_full_list_MiB"] = residentMiB();
        for (int round = 1; round <= MoreBounds; ++round) {
            for (int i = 0; i < FullList / AddressesPerPass; ++i)
                m.pass();
            QCoreApplication::processEvents();
            if (round == MoreBounds / 2 || round == MoreBounds)
                state.counters["rss_after_" + std::to_string(round) + "_more_bounds_MiB"] =
                    residentMiB();
        }
        state.counters["lines_at_end"] = m.list().count();
    }
}
BENCHMARK(BM_ResidentMemoryFullList)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return ew::bench::runBenchmarks(argc, argv);
}
