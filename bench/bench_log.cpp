// The cost of one logged attempt: the pass's work for an attempt (echo answered at once by a
// fake through the event loop, result line, counters, selection; the pass run to its end) plus its
// line appended to a real log file, which is opened and closed for every line. Compared with the
// same pass without logging and with AppendLogLine alone. "per_attempt" is wall-clock time, file
// system included.

#include "BenchSupport.h"
#include "editors/LogFile.h"
#include "engine/LogWriter.h"
#include "engine/PingPass.h"

#include <QTemporaryDir>

#include <map>
#include <string>

namespace {

using namespace ew;

// Addresses per pass, one attempt each: the pass's own start-up (reading the settings, the
// path check) is shared by this many attempts, as in a real list.
constexpr int AddressesPerPass = 10;
// A logged attempt costs an unlogged one plus the appended line, and little more.
constexpr double MostOverSum = 1.2;

// Microseconds per attempt of each benchmark's last run, the one Google Benchmark reports.
std::map<std::string, double> g_us;

template <typename Fn> void timed(benchmark::State& state, const char* name, int per, Fn fn) {
    double seconds = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        fn();
        seconds += bench::secondsSince(begin);
    }
    bench::perAttempt(state, state.iterations() * per);
    g_us[name] = 1e6 * seconds / static_cast<double>(state.iterations() * per);
}

struct Monitored : bench::BenchWindow {
    explicit Monitored(bool logging) {
        window.Form_Load();
        window.ui().txtLog->setText(dir.filePath(QStringLiteral("Ping.Log")));
        if (logging)
            window.ui().chkLogTotal->setChecked(true);
        addAddresses(AddressesPerPass);
        window.state().logLineCount = 0;
    }
    QTemporaryDir dir;
};

void BM_Pass(benchmark::State& state, bool logging) {
    Monitored m(logging);
    timed(state, logging ? "logged" : "unlogged", AddressesPerPass, [&] { m.pass(); });
}
BENCHMARK_CAPTURE(BM_Pass, WithLogging, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Pass, WithoutLogging, false)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_AppendLogLine(benchmark::State& state) {
    Monitored m(true);
    const QString line =
        PingPass::replyLine(QStringLiteral("10:00:00"), QStringLiteral("127.0.0.1"), 1);
    std::int32_t count = 1;
    timed(state, "append", 1, [&] { m.window.logWriter().AppendLogLine(line, count, true); });
}
BENCHMARK(BM_AppendLogLine)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return ew::bench::runBenchmarks(argc, argv, [] {
        using namespace ew::bench;
        if (g_us.size() != 3)
            return;
        const double sum = g_us["unlogged"] + g_us["append"];
        aim("logged attempt",
            format("%.1f us (unlogged attempt %.1f us + appended line %.1f us = %.1f us)",
                   g_us["logged"], g_us["unlogged"], g_us["append"], sum),
            format("at most %.1fx that sum", MostOverSum), g_us["logged"] <= MostOverSum * sum);
    });
}
