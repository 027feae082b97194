// The cost of one logged attempt: the pass's work for an attempt (echo answered at once by a
// fake, result line, counters, selection) plus its line appended to a real log file, which is
// opened and closed for every line. Compared with the same pass without logging and with
// AppendLogLine alone. "per_attempt" is wall-clock time, file system included.

#include "app/frmEchoWarden.h"
#include "editors/LogFile.h"
#include "monitor/PingPass.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using ew::test::FakePlatform;

// Addresses per pass, one attempt each: the pass's own start-up (reading the settings, the
// path check) is shared by this many attempts, as in a real list.
constexpr int AddressesPerPass = 10;

struct Monitored {
    explicit Monitored(bool logging) : window(fakes.platform()) {
        fakes.echo.recordCalls = false;
        window.setEndProgram([] {});
        window.Form_Load();
        window.ui().txtLog->setText(dir.filePath(QStringLiteral("Ping.Log")));
        if (logging)
            window.ui().chkLogTotal->setChecked(true);
        for (int i = 0; i < AddressesPerPass; ++i)
            window.ui().lstIPList->addItem(QStringLiteral("127.0.0.%1").arg(i + 1));
        window.state().logLineCount = 0;
    }
    QTemporaryDir dir;
    FakePlatform fakes;
    ew::frmEchoWarden window;
};

void perAttempt(benchmark::State& state, std::int64_t attempts) {
    state.counters["per_attempt"] = benchmark::Counter(
        static_cast<double>(attempts), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PassWithLogging(benchmark::State& state) {
    Monitored m(true);
    for (auto _ : state)
        m.window.pingPass().PingAddresses();
    perAttempt(state, state.iterations() * AddressesPerPass);
}
BENCHMARK(BM_PassWithLogging)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_PassWithoutLogging(benchmark::State& state) {
    Monitored m(false);
    for (auto _ : state)
        m.window.pingPass().PingAddresses();
    perAttempt(state, state.iterations() * AddressesPerPass);
}
BENCHMARK(BM_PassWithoutLogging)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_AppendLogLine(benchmark::State& state) {
    Monitored m(true);
    const QString line =
        ew::PingPass::replyLine(QStringLiteral("10:00:00"), QStringLiteral("127.0.0.1"), 1);
    std::int32_t count = 1;
    for (auto _ : state)
        m.window.logFile().AppendLogLine(line, count);
    perAttempt(state, state.iterations());
}
BENCHMARK(BM_AppendLogLine)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
