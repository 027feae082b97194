// The pass's own work per attempt (the echo answered at once by a fake, the result line, the
// counters, the selection of the newest line, no log) with an empty results list and with a
// list at its 30000-line bound, and the process's resident memory with a full list. The cost
// per attempt must not grow with the list: a results view whose layout work grows with its
// rows would make long unattended runs slower and slower.

#include "app/ResultsList.h"
#include "app/frmEchoWarden.h"
#include "monitor/PingPass.h"
#include "support/Fakes.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

using ew::test::FakePlatform;

// Addresses per pass, one attempt each: the bound is checked before every address.
constexpr int AddressesPerPass = 10;
constexpr int FullList = ew::PingPass::MaxResultLines;
constexpr double BytesPerMiB = 1024.0 * 1024.0;

struct Monitored {
    Monitored() : window(fakes.platform()) {
        fakes.echo.recordCalls = false;
        window.setEndProgram([] {});
        window.Form_Load();
        for (int i = 0; i < AddressesPerPass; ++i)
            window.findChild<QListWidget*>(QStringLiteral("lstIPList"))
                ->addItem(QStringLiteral("127.0.0.%1").arg(i + 1));
        window.show();
        QCoreApplication::processEvents();
    }
    // Found by name: the benchmarks build without the window's generated design header.
    ew::ResultsList& list() {
        return *window.findChild<ew::ResultsList*>(QStringLiteral("lstPingResults"));
    }
    void pass() { window.pingPass().PingAddresses(); }
    // Grows the list to lines by passes, as a long run would.
    void fillTo(int lines) {
        while (list().count() + AddressesPerPass <= lines)
            pass();
        QCoreApplication::processEvents();
    }
    FakePlatform fakes;
    ew::frmEchoWarden window;
};

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) / BytesPerMiB;
}

void perAttempt(benchmark::State& state) {
    state.counters["per_attempt"] =
        benchmark::Counter(static_cast<double>(state.iterations() * AddressesPerPass),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
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
    perAttempt(state);
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
        for (int round = 1; round <= 6; ++round) {
            for (int i = 0; i < FullList / AddressesPerPass; ++i)
                m.pass();
            QCoreApplication::processEvents();
            if (round == 3 || round == 6)
                state.counters["rss_after_" + std::to_string(round) + "_more_bounds_MiB"] =
                    residentMiB();
        }
        state.counters["lines_at_end"] = m.list().count();
    }
}
BENCHMARK(BM_ResidentMemoryFullList)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
