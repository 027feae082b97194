// The probe (echowarden-probe) next to what a monitoring fleet would otherwise run, side by side
// in one run, each program alone in a network namespace of its own that holds only loopback,
// all of them running at once:
//
//   (a) 1,000 loopback hosts at once every second, against fping -l -p 1000 -i 1 and
//       prometheus-smokeping-prober -i 1s over the same hosts, the probe's and the prober's
//       /metrics scraped every 15 s: CPU per ping against both, and how long a scrape takes;
//   (b) 10,000 loopback hosts at once every 15 s, against fping -l -p 15000 -i 1, the probe
//       scraped every 15 s: its peak resident memory, CPU per ping, and a whole scrape's time;
//   (c) the same 10,000 hosts with the probe's own parts (monitor, pass, figures and metrics
//       server) in this process over the real echo, while a client scrapes /metrics again and
//       again: the event loop's latency while a scrape is being written, and every reply
//       matched to its own attempt (a wrong match is a fault: it fails the run).
//
// CPU is each process's own and its children's, from /proc; the echo replies that each
// namespace received show that the programs did the same work. Ping sockets are allowed in
// every namespace (the prober uses them); the probe runs as root there, as its service runs
// with CAP_NET_RAW. Needs root (network namespaces); where refused, nothing is measured.

#include "Aims.h"
#include "EventDelays.h"
#include "Programs.h"
#include "core/ProgramState.h"
#include "engine/LogWriter.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "metrics/Figures.h"
#include "metrics/MetricsServer.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "settings/SettingsKeys.h"
#include "support/TestNet.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

namespace {

using namespace ew;
using namespace ew::bench;
using namespace std::chrono_literals;

const std::string ProbeProgram = EW_PROBE;
const std::string Fping = "/usr/bin/fping";
const std::string Prober = "/usr/bin/prometheus-smokeping-prober";
constexpr quint16 ProbePort = MetricsServer::DefaultPort;
constexpr quint16 ProberPort = 9374; // its own default

// EW_BENCH_WINDOW_SECONDS shortens every window, for a quick look while working on this file.
std::chrono::seconds window(std::chrono::seconds full) {
    const int quick = qEnvironmentVariableIntValue("EW_BENCH_WINDOW_SECONDS");
    return quick > 0 ? std::chrono::seconds(quick) : full;
}
// Start-up (the first pass, the prober's thousand pingers) is not what is measured.
constexpr auto Settle = 5s;
constexpr auto StartLimit = 60s;
constexpr auto ScrapeEvery = 15s;
constexpr auto ScrapeLimit = 30s;
constexpr int TimeoutSeconds = 3;

// (c): the event loop is probed this often while the client scrapes, pausing between scrapes.
constexpr auto PostEvery = 5ms;
constexpr int MaxPosts = 20000;
constexpr auto ScrapePause = 1000ms;
constexpr int MaxScrapes = 200;

std::vector<std::string> loopbackHosts(int count) {
    std::vector<std::string> hosts;
    for (int k = 1; k <= count; ++k)
        hosts.push_back(format("127.%d.%d.%d", k >> 16, (k >> 8) & 255, k & 255));
    return hosts;
}

// One GET of /metrics at 127.0.0.1:port, from the calling thread's network namespace, read to
// its end (both servers close the connection after the answer); negative when it failed.
struct Scrape {
    double ms = -1;
    qint64 bytes = 0;
};

Scrape scrapeOnce(quint16 port) {
    Scrape r;
    QTcpSocket s;
    const auto begin = SteadyClock::now();
    const QDeadlineTimer limit(ScrapeLimit);
    s.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    if (!s.waitForConnected(5000))
        return r;
    s.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray head;
    while (!limit.hasExpired() &&
           (s.bytesAvailable() > 0 || s.waitForReadyRead(int(limit.remainingTime())))) {
        const QByteArray got = s.readAll();
        if (head.size() < 16)
            head += got.left(16);
        r.bytes += got.size();
    }
    r.bytes += s.readAll().size();
    if (limit.hasExpired() || !head.startsWith("HTTP/1.1 200"))
        return Scrape{};
    r.ms = 1000.0 * secondsBetween(begin, SteadyClock::now());
    return r;
}

// The probe's settings file: these hosts at once every intervalSeconds, one attempt of 56
// bytes (what fping and the prober send), nothing logged.
void writeSettings(const QString& path, const std::vector<std::string>& hosts, int intervalSeconds,
                   const QString& logPath) {
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.beginGroup(keys::Section);
    QStringList list;
    for (const std::string& h : hosts)
        list << QString::fromStdString(h);
    ini.setValue(keys::IPList, QString(list.join(QLatin1Char(',')) + QLatin1Char(',')));
    ini.setValue(keys::IntervalMinutes, QStringLiteral("False"));
    ini.setValue(keys::IntervalSeconds, QStringLiteral("True"));
    ini.setValue(keys::IntervalTenths, QStringLiteral("False"));
    ini.setValue(keys::Interval, QString::number(intervalSeconds));
    ini.setValue(keys::Attempts, QStringLiteral("1"));
    ini.setValue(keys::Timeout, QString::number(TimeoutSeconds));
    ini.setValue(keys::PingWithBytes, QStringLiteral("56"));
    ini.setValue(keys::PingAtOnce, QStringLiteral("True"));
    ini.setValue(keys::EnableLoggingTotal, QStringLiteral("0"));
    ini.setValue(keys::EnableLoggingFailed, QStringLiteral("0"));
    ini.setValue(keys::LogFilePath, logPath);
    ini.setValue(keys::Unattended, QStringLiteral("False"));
    ini.endGroup();
    ini.sync();
}

// One program in its namespace, and what it used over the measured window.
struct Program {
    std::string name;
    std::vector<std::string> argv;
    quint16 port = 0; // its /metrics, or 0
    std::unique_ptr<test::NetNamespace> ns;
    Child child;
    CpuSample before;
    long repliesBefore = 0;
    double cpuSeconds = 0;
    long replies = 0;
    double seconds = 0;
    long peakKb = 0;
    std::vector<Scrape> scrapes;

    double usPerPing() const { return replies > 0 ? 1e6 * cpuSeconds / double(replies) : 0; }
    double worstScrapeMs() const {
        double worst = 0;
        for (const Scrape& s : scrapes)
            worst = std::max(worst, s.ms < 0 ? 1e9 : s.ms);
        return worst;
    }
    Scrape scrape() const {
        Scrape r;
        ns->run([&] { r = scrapeOnce(port); });
        return r;
    }
};

using Programs = std::vector<std::unique_ptr<Program>>;

// Starts every program in a namespace of its own, lets them settle, and measures them all at
// once for length, scraping those with a port every ScrapeEvery. Empty, or why not.
std::string measure(Programs& programs, std::chrono::seconds length, const QTemporaryDir& dir) {
    std::string why;
    for (auto& p : programs) {
        if (::access(p->argv[0].c_str(), X_OK) != 0)
            return p->argv[0] + " is missing (scripts/install-bench-deps.sh installs it)";
        p->ns = test::NetNamespace::create(&why);
        if (!p->ns)
            return why;
        p->ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647");
        const std::string out =
            dir.filePath(QString::fromStdString(p->name + ".out")).toStdString();
        if (!p->child.start(p->argv, {}, p->ns->path(), out))
            return "cannot start " + p->argv[0];
    }
    const auto ended = [&]() -> std::string {
        for (auto& p : programs)
            if (!p->child.running())
                return p->name + " ended by itself; its output is in " + dir.path().toStdString();
        return {};
    };
    // The prober listens once it has started a pinger for every host, which takes it seconds.
    const QDeadlineTimer listening(StartLimit);
    for (auto& p : programs)
        while (p->port && p->scrape().ms < 0 && !listening.hasExpired() && ended().empty())
            std::this_thread::sleep_for(500ms);
    if (listening.hasExpired())
        return "a program did not serve /metrics within a minute; its output is in " +
               dir.path().toStdString();
    std::this_thread::sleep_for(Settle);
    if (why = ended(); !why.empty())
        return why;
    for (auto& p : programs) {
        p->before = sampleCpuWithChildren(p->child.pid());
        p->repliesBefore = echoRepliesSeen(p->child.pid());
    }
    const auto begin = SteadyClock::now();
    auto nextScrape = begin + 1s;
    while (SteadyClock::now() - begin < length) {
        if (SteadyClock::now() >= nextScrape) {
            for (auto& p : programs)
                if (p->port)
                    p->scrapes.push_back(p->scrape());
            nextScrape += ScrapeEvery;
        }
        std::this_thread::sleep_for(200ms);
        if (why = ended(); !why.empty())
            return why;
    }
    for (auto& p : programs) {
        p->cpuSeconds = cpuSecondsBetween(p->before, sampleCpuWithChildren(p->child.pid()));
        p->replies = echoRepliesSeen(p->child.pid()) - p->repliesBefore;
        p->seconds = secondsBetween(begin, SteadyClock::now());
        p->peakKb = statusKbOf(p->child.pid(), "VmHWM");
    }
    for (auto& p : programs)
        p->child.stop();
    return {};
}

void print(const Program& p) {
    std::string scrapes;
    for (const Scrape& s : p.scrapes)
        scrapes += s.ms < 0 ? " failed" : format(" %.1f ms (%.1f MB)", s.ms, double(s.bytes) / 1e6);
    std::printf("  %-40s %8.1f us of CPU a ping, %.3f cores, %7.1f echo replies/s over %.0f s, "
                "peak resident %.1f MiB%s%s\n",
                p.name.c_str(), p.usPerPing(), p.cpuSeconds / p.seconds,
                double(p.replies) / p.seconds, p.seconds, double(p.peakKb) / 1024.0,
                scrapes.empty() ? "" : "; scrapes:", scrapes.c_str());
    std::fflush(stdout);
}

// Each program keeps its own pace (the probe's interval counts from the end of a pass; fping and
// the prober fall behind their period when a round takes longer), so the figures are per echo
// reply that its namespace received. None may be missing.
bool bothWorked(const Program& ours, const Program& peer) {
    return ours.replies > 0 && peer.replies > 0;
}

std::vector<std::string> with(std::vector<std::string> argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

std::unique_ptr<Program> program(std::string name, std::vector<std::string> argv,
                                 quint16 port = 0) {
    auto p = std::make_unique<Program>();
    p->name = std::move(name);
    p->argv = std::move(argv);
    p->port = port;
    return p;
}

std::vector<std::string> probeArgv(const QTemporaryDir& dir, const std::vector<std::string>& hosts,
                                   int intervalSeconds, const char* name) {
    const QString ini = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".ini"));
    writeSettings(ini, hosts, intervalSeconds, dir.filePath(QStringLiteral("Ping.Log")));
    return {ProbeProgram,
            "--config",
            ini.toStdString(),
            "--listen",
            format("127.0.0.1:%d", ProbePort),
            "--interval",
            format("%ds", intervalSeconds),
            "--at-once"};
}

void thousandEverySecond(const QTemporaryDir& dir) {
    const char* name = "probe, 1000 hosts at once every second";
    const auto hosts = loopbackHosts(1000);
    Programs all;
    all.push_back(program("echowarden-probe", probeArgv(dir, hosts, 1, "thousand"), ProbePort));
    all.push_back(
        program("fping -l -p 1000 -i 1", with({Fping, "-l", "-p", "1000", "-i", "1"}, hosts)));
    all.push_back(program("smokeping-prober -i 1s",
                          with({Prober, "-i", "1s", "--config.file=",
                                format("--web.listen-address=127.0.0.1:%d", ProberPort)},
                               hosts),
                          ProberPort));
    std::printf("1000 loopback hosts every second, side by side, /metrics scraped every 15 s:\n");
    if (const std::string why = measure(all, window(45s), dir); !why.empty())
        return notMeasured(name, why);
    for (const auto& p : all)
        print(*p);
    const Program &ours = *all[0], &fping = *all[1], &prober = *all[2];
    const char* work = bothWorked(ours, fping) ? "" : "; a program received no reply";
    const double toFping = ours.usPerPing() / fping.usPerPing();
    aim(format("%s, CPU per ping / fping's", name),
        format("%.2fx (%.1f us, fping %.1f us%s)", toFping, ours.usPerPing(), fping.usPerPing(),
               work),
        "at most 1.3x", toFping <= 1.3 && !*work);
    const double toProber = ours.usPerPing() / prober.usPerPing();
    aim(format("%s, CPU per ping / smokeping-prober's", name),
        format("1/%.0f (%.1f us, prober %.1f us)", 1 / toProber, ours.usPerPing(),
               prober.usPerPing()),
        "at most 1/20", toProber <= 0.05 && prober.replies > 0);
    aim(format("%s, /metrics answered, slowest of %zu scrapes", name, ours.scrapes.size()),
        format("%.1f ms", ours.worstScrapeMs()), "under 100 ms",
        ours.worstScrapeMs() < 100 && !ours.scrapes.empty());
}

void tenThousandEvery15s(const QTemporaryDir& dir) {
    const char* name = "probe, 10000 hosts at once every 15 s";
    const auto hosts = loopbackHosts(10000);
    Programs all;
    all.push_back(program("echowarden-probe", probeArgv(dir, hosts, 15, "tenthousand"), ProbePort));
    all.push_back(
        program("fping -l -p 15000 -i 1", with({Fping, "-l", "-p", "15000", "-i", "1"}, hosts)));
    std::printf("10000 loopback hosts every 15 s, side by side, /metrics scraped every 15 s:\n");
    if (const std::string why = measure(all, window(60s), dir); !why.empty())
        return notMeasured(name, why);
    for (const auto& p : all)
        print(*p);
    const Program &ours = *all[0], &fping = *all[1];
    aim(format("%s, peak resident memory", name), format("%.1f MiB", double(ours.peakKb) / 1024.0),
        "at most 128 MiB", ours.peakKb > 0 && ours.peakKb <= 128 * 1024);
    const char* work = bothWorked(ours, fping) ? "" : "; a program received no reply";
    const double toFping = ours.usPerPing() / fping.usPerPing();
    aim(format("%s, CPU per ping / fping's", name),
        format("%.2fx (%.1f us, fping %.1f us%s)", toFping, ours.usPerPing(), fping.usPerPing(),
               work),
        "at most 1.3x", toFping <= 1.3 && !*work);
    aim(format("%s, a whole scrape, slowest of %zu", name, ours.scrapes.size()),
        format("%.2f s", ours.worstScrapeMs() / 1000), "under 2 s",
        ours.worstScrapeMs() < 2000 && !ours.scrapes.empty());
}

struct Span {
    SteadyClock::time_point begin, end;
    bool holds(SteadyClock::time_point t) const { return t >= begin && t <= end; }
};

bool within(const std::vector<Span>& spans, SteadyClock::time_point t) {
    return std::any_of(spans.begin(), spans.end(), [t](const Span& s) { return s.holds(t); });
}

// (c): this process's main thread moves into a namespace of its own for good (the last
// measurement), and the probe's parts run on its event loop as echowarden-probe runs them.
void inProcess(int count) {
    const char* name = "probe in process, 10000 hosts at once every 15 s, scraped again and again";
    std::string why;
    const auto ns = test::NetNamespace::create(&why);
    if (!ns || !enterNetNamespace(ns->path()))
        return notMeasured(name, ns ? "cannot enter the namespace" : why);
    const auto hosts = loopbackHosts(count);

    SystemClock clock;
    IcmpEcho echo;
    ProgramState state;
    state.stateFlag = StateFlag::Yes;
    LogWriter log(state, clock);
    PassSettings settings;
    QStringList texts;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        texts << QString::fromStdString(hosts[i]);
        settings.entries.push_back({texts.back(), i + 1});
    }
    settings.attempts = 1;
    settings.packetSize = 56;
    settings.timeoutMs = TimeoutSeconds * 1000;
    settings.atOnce = true;
    Figures figures;
    figures.setEntries(texts);

    // Every reply must come back to the attempt of its own entry, once a pass.
    std::vector<Span> passes;
    std::vector<int> seen;
    long wrong = 0, missed = 0, failed = 0, matched = 0;
    PingPass pass(state, echo, clock, log, [&] {
        passes.push_back({SteadyClock::now(), SteadyClock::time_point::max()});
        seen.assign(hosts.size() + 1, 0);
        return settings;
    });
    QObject::connect(&pass, &PingPass::attemptReported, [&](const Attempt& a) {
        figures.record(a);
        if (!a.reply)
            return void(++failed);
        ++matched;
        const bool known = a.entryId >= 1 && a.entryId <= hosts.size();
        if (!known || a.address != texts[qsizetype(a.entryId - 1)] || ++seen[a.entryId] > 1)
            ++wrong;
    });
    QObject::connect(&pass, &PingPass::passEnded, [&] {
        passes.back().end = SteadyClock::now();
        figures.passEnded(passes.back().end - passes.back().begin);
        missed += std::count(seen.begin() + 1, seen.end(), 0);
    });
    QObject timerOwner;
    Monitor monitor(timerOwner, state, pass, clock, [] {
        return TickSettings{15, TickSettings::Unit::Seconds, false};
    });
    MetricsServer server(figures);
    if (QString error;
        !server.listen(QString::fromStdString(format("127.0.0.1:%d", ProbePort)), &error))
        return notMeasured(name, error.toStdString());

    EventDelays delays;
    std::atomic<bool> running{true}, clientDone{false};
    std::vector<Span> scraping;
    std::vector<Scrape> scrapes;
    std::thread poster([&] {
        for (int i = 0; i < MaxPosts && running; ++i) {
            delays.post();
            std::this_thread::sleep_for(PostEvery);
        }
    });
    // The client's thread is made from this one, so it is in the namespace too. It also takes
    // how long this thread waited for a CPU while the scrapes ran, from its scheduler figures.
    const std::string schedstat = format("/proc/self/task/%d/schedstat", int(::gettid()));
    const auto waitedSeconds = [&schedstat] {
        std::ifstream in(schedstat);
        double running = 0, waiting = 0;
        in >> running >> waiting;
        return waiting / 1e9;
    };
    double waited = 0;
    std::thread client([&] {
        // A fleet's Prometheus scrapes from another machine: here the client takes the CPU
        // only when the probe's thread does not want it (a thread's own nice value, on Linux).
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
        for (int i = 0; i < MaxScrapes && running; ++i) {
            const auto begin = SteadyClock::now();
            const double before = waitedSeconds();
            scrapes.push_back(scrapeOnce(ProbePort));
            scraping.push_back({begin, SteadyClock::now()});
            waited += waitedSeconds() - before;
            std::this_thread::sleep_for(ScrapePause);
        }
        clientDone = true;
    });
    const long repliesBefore = echoRepliesSeen(::getpid());
    monitor.start();
    QEventLoop loop;
    QTimer::singleShot(window(35s), &loop, &QEventLoop::quit);
    loop.exec();
    delays.finish();
    running = false;
    // The scrape under way is served to its end.
    const QDeadlineTimer limit(ScrapeLimit);
    while (!clientDone && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    poster.join();
    client.join();
    delays.drop();
    monitor.shutdown();
    pass.abandon();
    const long received = echoRepliesSeen(::getpid()) - repliesBefore;

    std::vector<double> duringScrape, duringBoth, between;
    for (const EventDelays::Sample& s : delays.samples()) {
        if (!within(scraping, s.posted)) {
            between.push_back(s.ms);
            continue;
        }
        duringScrape.push_back(s.ms);
        if (within(passes, s.posted))
            duringBoth.push_back(s.ms);
    }
    double passSeconds = 0, scrapeSeconds = 0;
    for (const Span& s : scraping)
        scrapeSeconds += secondsBetween(s.begin, s.end);
    int whole = 0;
    for (const Span& p : passes)
        if (p.end != SteadyClock::time_point::max())
            passSeconds += secondsBetween(p.begin, p.end), ++whole;
    std::size_t failedScrapes = 0;
    for (const Scrape& s : scrapes)
        failedScrapes += s.ms < 0;
    std::printf("  %zu scrapes (%zu failed), %d whole passes of %.2f s on average; %zu events "
                "posted during a scrape, %zu of them also during a pass (p99 %.2f ms)\n",
                scrapes.size(), failedScrapes, whole, whole ? passSeconds / whole : 0.0,
                duringScrape.size(), duringBoth.size(), quantile(duringBoth, 0.99));
    // The machine's own share: the same loop between scrapes, and the time the loop's thread
    // was ready to run but had no CPU while a scrape kept it busy.
    std::printf("  %zu events posted between scrapes: p99 %.2f ms, median %.2f ms; during the "
                "%.1f s of scrapes the event loop's thread waited %.0f ms for a CPU\n",
                between.size(), quantile(between, 0.99), quantile(between, 0.5), scrapeSeconds,
                1e3 * waited);
    std::printf("  %ld replies matched, %ld attempts failed, %ld entries without an attempt in "
                "a whole pass; the namespace received %ld echo replies\n",
                matched, failed, missed, received);
    const double p99 = quantile(duringScrape, 0.99);
    aim(format("%s, event latency during a scrape, p99", name),
        format("%.2f ms (median %.2f ms, %zu events)", p99, quantile(duringScrape, 0.5),
               duringScrape.size()),
        "under 5 ms", p99 < 5.0 && duringScrape.size() >= 100 && failedScrapes == 0);
    aim(format("%s, replies matched to the wrong attempt", name),
        format("%ld of %ld%s", wrong, matched,
               whole > 0 && missed == 0 ? "" : " (a pass left entries without an attempt)"),
        "0", wrong == 0 && whole > 0 && missed == 0, Miss::Fails);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        notMeasured("the probe's figures", "no temporary folder");
        return 0;
    }
    // EW_BENCH_ONLY=thousand|tenthousand|inprocess takes one group, for a quick look.
    const QByteArray only = qgetenv("EW_BENCH_ONLY");
    const auto wanted = [&](const char* group) { return only.isEmpty() || only == group; };
    if (wanted("thousand"))
        thousandEverySecond(dir);
    if (wanted("tenthousand"))
        tenThousandEvery15s(dir);
    if (wanted("inprocess"))
        inProcess(10000);
    return exitStatus();
}
