// The cost of one logged attempt: the pass's work for an attempt (echo answered at once by a
// fake, result line, counters, selection) plus its line appended to a real log file, which is
// opened and closed for every line. Compared with the same pass without logging and with
// AppendLogLine alone. "per_attempt" is wall-clock time, file system included.

#include "BenchSupport.h"
#include "editors/LogFile.h"
#include "monitor/PingPass.h"

#include <QTemporaryDir>

namespace {

using namespace ew;

// Addresses per pass, one attempt each: the pass's own start-up (reading the settings, the
// path check) is shared by this many attempts, as in a real list.
constexpr int AddressesPerPass = 10;

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
    for (auto _ : state)
        m.window.pingPass().PingAddresses();
    bench::perAttempt(state, state.iterations() * AddressesPerPass);
}
BENCHMARK_CAPTURE(BM_Pass, WithLogging, true)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Pass, WithoutLogging, false)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_AppendLogLine(benchmark::State& state) {
    Monitored m(true);
    const QString line =
        PingPass::replyLine(QStringLiteral("10:00:00"), QStringLiteral("127.0.0.1"), 1);
    std::int32_t count = 1;
    for (auto _ : state)
        m.window.logFile().AppendLogLine(line, count);
    bench::perAttempt(state, state.iterations());
}
BENCHMARK(BM_AppendLogLine)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return ew::bench::runBenchmarks(argc, argv);
}
