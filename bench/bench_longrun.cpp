// The long runs: 200000 attempts through the real window with an echo that answers at once
// (the results list's bound, resident memory, open files, the log), and 10000 real echoes
// to 127.0.0.1, one after another through the event loop, while ping floods loopback (every
// reply matched to its own request).

#include "BenchSupport.h"
#include "LongRun.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using namespace ew;
using bench::mb;

constexpr long LongRunAttempts = 200000;
constexpr long EchoCount = 10000;
constexpr int EchoPayload = 56;
constexpr int EchoTimeoutMs = 2000;
// How far resident memory may end above where it stood after the first full list.
constexpr long AllowedGrowthKb = 4 * 1024;
constexpr double MostLostShare = 0.001;
constexpr double MostUsPerLoggedAttempt = 30;

void BM_LongRunFakeEcho(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("Ping.Log"));
        bench::BenchWindow w;
        faults::prepareLongRun(w.fakes, logPath);
        w.window.Form_Load();
        const int filesBefore = faults::openFileCount();
        long rssAtFirstFullList = -1;
        long rssMost = 0;
        long nextSample = PingPass::MaxResultLines;
        QString progression;
        const auto begin = std::chrono::steady_clock::now();
        const int mostLines = faults::runLongRun(w.window, w.fakes.echo, LongRunAttempts, [&] {
            const long rss = faults::residentKb();
            const long attempts = w.window.pingPass().pingCount();
            rssMost = std::max(rssMost, rss);
            if (rssAtFirstFullList < 0 && attempts >= PingPass::MaxResultLines)
                rssAtFirstFullList = rss;
            if (attempts >= nextSample) {
                progression += QStringLiteral(" %1").arg(mb(rss), 0, 'f', 1);
                nextSample += PingPass::MaxResultLines;
            }
        });
        const double seconds = bench::secondsSince(begin);
        const long attempts = long(w.window.pingPass().pingCount());
        const long rssEnd = faults::residentKb();
        const int filesAfter = faults::openFileCount();
        QFile log(logPath);
        const QByteArray bytes = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();

        std::printf("long run, fake echo answering at once, every attempt logged:\n"
                    "  attempts run                 %ld (%.1f us each)\n"
                    "  results list, most lines     %d (bound %d + %d attempts of one address)\n"
                    "  resident after 30000 lines   %.1f MB\n"
                    "  resident at its peak         %.1f MB (process high-water mark %.1f MB)\n"
                    "  resident at the end          %.1f MB (%+.1f MB: %s)\n"
                    "  open files before / after    %d / %d (%s)\n"
                    "  log lines / headers          %lld / %lld\n"
                    "  resident every 30000 attempts (MB):%s\n",
                    attempts, seconds * 1e6 / double(attempts), mostLines, PingPass::MaxResultLines,
                    faults::AttemptsPerAddress, mb(rssAtFirstFullList), mb(rssMost),
                    mb(faults::peakResidentKb()), mb(rssEnd), mb(rssEnd - rssAtFirstFullList),
                    rssEnd - rssAtFirstFullList <= AllowedGrowthKb ? "bounded" : "GREW",
                    filesBefore, filesAfter, filesAfter == filesBefore ? "steady" : "GREW",
                    static_cast<long long>(bytes.count("\r\n")),
                    static_cast<long long>(bytes.count("Started log on")), qPrintable(progression));
        using bench::aim;
        using bench::format;
        using bench::Miss;
        const int bound = PingPass::MaxResultLines + faults::AttemptsPerAddress;
        aim("long run, results list most lines", format("%d", mostLines),
            format("at most %d", bound), mostLines <= bound, Miss::Fails);
        aim("long run, resident memory at the end over the first full list",
            format("%+.1f MiB", mb(rssEnd - rssAtFirstFullList)),
            format("at most %+.0f MiB", mb(AllowedGrowthKb)),
            rssEnd - rssAtFirstFullList <= AllowedGrowthKb, Miss::Fails);
        aim("long run, open files after over before", format("%+d", filesAfter - filesBefore), "+0",
            filesAfter <= filesBefore, Miss::Fails);
        aim("long run, time per logged attempt",
            format("%.1f us", seconds * 1e6 / double(attempts)),
            format("at most %.0f us", MostUsPerLoggedAttempt),
            seconds * 1e6 / double(attempts) <= MostUsPerLoggedAttempt);
        state.counters["attempts"] = double(attempts);
        state.counters["list_most_lines"] = mostLines;
        state.counters["rss_30000_MB"] = mb(rssAtFirstFullList);
        state.counters["rss_peak_MB"] = mb(rssMost);
        state.counters["rss_end_MB"] = mb(rssEnd);
        state.counters["fds_before"] = filesBefore;
        state.counters["fds_after"] = filesAfter;
    }
}
BENCHMARK(BM_LongRunFakeEcho)->Iterations(1)->Unit(benchmark::kSecond);

void BM_LoopbackEchoUnderFlood(benchmark::State& state) {
    for (auto _ : state) {
        faults::LoopbackFlood flood;
        std::string why;
        if (!flood.start(&why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        faults::EchoTally tally;
        IcmpEcho echo;
        const auto begin = std::chrono::steady_clock::now();
        tally.echo(echo, EchoCount, QStringLiteral("127.0.0.1"), EchoPayload, EchoTimeoutMs);
        const double seconds = bench::secondsSince(begin);
        const std::string summary = flood.stop();
        std::printf("real echoes to 127.0.0.1 while ping -f floods loopback:\n"
                    "  echoes                       %ld (%.1f us each, slowest %.2f ms)\n"
                    "  replies matched              %ld\n"
                    "  lost (no reply)              %ld\n"
                    "  duplicated or foreign        %ld\n"
                    "  the flood                    %s\n",
                    tally.calls, seconds * 1e6 / double(tally.calls), tally.slowestMs,
                    tally.matched, tally.lost, tally.foreign, summary.c_str());
        bench::aim("echoes under a loopback flood, replies not our own",
                   bench::format("%ld of %ld", tally.foreign, tally.calls), "0", tally.foreign == 0,
                   bench::Miss::Fails);
        bench::aim("echoes under a loopback flood, lost",
                   bench::format("%ld of %ld", tally.lost, tally.calls),
                   bench::format("at most %.1f%%", 100 * MostLostShare),
                   double(tally.lost) <= MostLostShare * double(tally.calls));
        state.counters["echoes"] = double(tally.calls);
        state.counters["matched"] = double(tally.matched);
        state.counters["lost"] = double(tally.lost);
        state.counters["duplicated"] = double(tally.foreign);
    }
}
BENCHMARK(BM_LoopbackEchoUnderFlood)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    return ew::bench::runBenchmarks(argc, argv);
}
