// Settings > Ping all addresses at once: the real pass (PingPass with the real echo, in the
// main window on an offscreen display) against fping over the same entries, both inside the
// client namespace of a private test network, so that no packet leaves this machine:
//
//   (a) 100 entries, 20 of them silent, one attempt of 1 s each: the pass's time against
//       fping -C 1 -t 1000 -i 1 over the same entries;
//   (b) 1000 entries, 100 of them silent: time and CPU of a pass against fping's;
//   (c) 1000 entries, three attempts each, with a responder that answers some requests twice
//       and some long after their time-out: no reply may be matched to the wrong attempt (a
//       fault: it fails the run);
//   (d) (a) and (b) again one after another, for comparison.
//
// The answering entries are loopback addresses of the client namespace (127.0.0.1 up), which
// its kernel answers; the silent ones are addresses of one test host that ignores echo requests
// (10.77.200.10 and on, all on its one interface: a namespace per silent host would take
// minutes to make). Needs root (network namespaces); where it is refused, nothing is measured.

#include "BenchSupport.h"
#include "Programs.h"
#include "Responder.h"
#include "echo.h"
#include "platform/Echo.h"
#include "support/TestNet.h"
#include "widgets/ResultsList.h"

#include <QTemporaryFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <thread>

namespace {

using namespace ew;
using namespace ew::bench;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int Runs = 3; // medians of this many, taking turns with fping
constexpr int TimeoutMs = 1000;
constexpr int SilentHost = 200; // 10.77.200.0/24: above the test hosts TestNet numbers
constexpr int FirstSilent = 10; // 10.77.200.10 and on
constexpr auto PassLimit = 200s;
const std::string Fping = "/usr/bin/fping";

// (c): a short time-out, a prompt reply after PromptMs, a late one well after the time-out,
// spread over LateSpreadMs so that late replies keep landing in the entry's later attempts.
constexpr int MatchAttempts = 3;
constexpr int MatchTimeoutMs = 200;
constexpr int PromptMs = 5;
constexpr int LateSpreadMs = 1500;
constexpr auto DuplicateAfter = 3ms;

QString loopback(int k) {
    return QStringLiteral("127.0.%1.%2").arg(k / 256).arg(k % 256);
}

// count entries, every silentEvery-th one silent, the rest 127.0.0.1 and on.
QStringList entries(int count, int silentEvery) {
    QStringList list;
    int answering = 0, silent = 0;
    for (int i = 1; i <= count; ++i)
        list << (i % silentEvery == 0
                     ? QStringLiteral("10.77.%1.%2").arg(SilentHost).arg(FirstSilent + silent++)
                     : loopback(++answering));
    return list;
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    int replies = 0;
    int failures = 0;
    bool ok = false;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// fping over entries inside the namespace at netns, to its end (killed by its pid after
// PassLimit); its own CPU from its resource usage, its per-host summary counted.
Run fping(const QStringList& list, const std::string& netns) {
    Run r;
    std::vector<std::string> argv{Fping, "-C", "1", "-t", std::to_string(TimeoutMs), "-i", "1"};
    for (const QString& a : list)
        argv.push_back(a.toStdString());
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    QTemporaryFile out;
    if (!out.open())
        return r;
    const auto begin = SteadyClock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return r;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(out.handle(), 1);
        ::dup2(out.handle(), 2);
        if (!enterNetNamespace(netns))
            ::_exit(126);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    pid_t ended = 0;
    while ((ended = ::wait4(pid, &status, WNOHANG, &usage)) == 0 &&
           SteadyClock::now() - begin < PassLimit)
        std::this_thread::sleep_for(1ms);
    r.seconds = secondsSince(begin);
    if (ended != pid) {
        ::kill(pid, SIGKILL);
        ::wait4(pid, &status, 0, &usage);
        return r;
    }
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    r.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    // Besides a line per reply ("127.0.0.1 : [0], 64 bytes, ..."), a summary per host:
    // "127.0.0.1 : 0.04" for a reply, "10.77.200.10 : -" for none. fping ends with 1 when any
    // host did not answer.
    std::ifstream in(out.fileName().toStdString());
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(" : ");
        if (colon != std::string::npos &&
            line.compare(colon + 3, 1, "[") != 0) // not a reply's line
            ++(line.compare(colon + 3, 1, "-") == 0 ? r.failures : r.replies);
    }
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    return r;
}

// The main window on the real echo, loaded with these entries and settings.
struct Window : BenchWindow {
    Window(Echo& echo, const QStringList& list, bool atOnce, int attempts, int timeoutMs)
        : BenchWindow(nullptr, &echo) {
        window.Form_Load();
        auto& ui = window.ui();
        ui.lstIPList->addItems(list);
        ui.txtAttempts->setText(QString::number(attempts));
        ui.txtTimeout->setText(QString::number(timeoutMs / 1000.0));
        ui.txtNumBytes->setText(QStringLiteral("56")); // what fping sends
        ui.mnuPingAtOnce->setChecked(atOnce);
        window.show();
        QCoreApplication::processEvents();
        QObject::connect(&window.pingPass(), &PingPass::attemptReported,
                         [this](const Attempt& a) { ++(a.reply ? replies : failures); });
    }
    Run run() {
        replies = failures = 0;
        Run r;
        const double cpu = processCpuSeconds();
        const auto begin = SteadyClock::now();
        r.ok = pass(PassLimit);
        r.seconds = secondsSince(begin);
        r.cpuSeconds = processCpuSeconds() - cpu;
        r.replies = replies;
        r.failures = failures;
        return r;
    }
    int replies = 0;
    int failures = 0;
};

std::string describe(const Run& r) {
    return format("%.3f s, %.1f ms CPU, %d replies, %d failed", r.seconds, 1e3 * r.cpuSeconds,
                  r.replies, r.failures);
}

// Runs passes and fping in turn; prints each and gives the medians.
void compare(const char* name, const QStringList& list, const std::string& netns, double mostTime,
             double mostCpu) {
    IcmpEcho echo;
    Window w(echo, list, true, 1, TimeoutMs);
    std::vector<double> ours, ourCpu, theirs, theirCpu;
    const int silent = static_cast<int>(list.filter(QStringLiteral("10.77.")).size());
    bool sameWork = true;
    for (int i = 0; i < Runs; ++i) {
        const Run a = w.run();
        const Run f = fping(list, netns);
        std::printf("  %s, run %d: at once %s; fping %s\n", name, i + 1, describe(a).c_str(),
                    describe(f).c_str());
        if (!a.ok || !f.ok)
            return notMeasured(name, a.ok ? "fping did not run to its end"
                                          : "the pass did not end within its limit");
        sameWork = sameWork && a.failures == silent && f.failures == silent &&
                   a.replies == list.size() - silent && f.replies == a.replies;
        ours.push_back(a.seconds);
        ourCpu.push_back(a.cpuSeconds);
        theirs.push_back(f.seconds);
        theirCpu.push_back(f.cpuSeconds);
    }
    const char* work = sameWork ? "" : "; NOT the same replies and failures, see above";
    const double time = median(ours) / median(theirs);
    aim(format("%s, pass time / fping's", name),
        format("%.2fx (median of %d: %.3f s, fping %.3f s%s)", time, Runs, median(ours),
               median(theirs), work),
        format("at most %.1fx", mostTime), time <= mostTime && sameWork);
    if (mostCpu > 0) {
        const double cpu = median(ourCpu) / median(theirCpu);
        aim(format("%s, CPU per pass / fping's", name),
            format("%.2fx (median of %d: %.1f ms, fping %.1f ms)", cpu, Runs, 1e3 * median(ourCpu),
                   1e3 * median(theirCpu)),
            format("at most %.1fx", mostCpu), cpu <= mostCpu);
    }
}

// The same entries one after another: every silent entry waits out its whole time-out.
void inTurn(const char* name, const QStringList& list) {
    IcmpEcho echo;
    Window w(echo, list, false, 1, TimeoutMs);
    const Run r = w.run();
    if (!r.ok)
        return notMeasured(name, "the pass did not end within its limit");
    aim(name, describe(r), "none", true);
}

// (c) in a namespace of its own whose loopback addresses a Responder answers.
void wrongMatches() {
    const char* name = "at once, 1000 entries x 3 attempts, replies late and twice, replies "
                       "matched to the wrong attempt";
    std::string why;
    const auto ns = test::NetNamespace::create(&why);
    if (!ns || !ns->setSysctl("net.ipv4.icmp_echo_ignore_all", "1") ||
        !ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647"))
        return notMeasured(name, ns ? "no sysctl" : why);
    // 127.0.b.c is entry b * 256 + c: every fourth answered late, every third twice.
    const auto index = [](const sockaddr_storage& to) {
        return ntohl(reinterpret_cast<const sockaddr_in&>(to).sin_addr.s_addr) & 0xFFFF;
    };
    const auto late = [](unsigned entry) { return entry % 4 == 0; };
    std::atomic<bool> stop{false};
    std::atomic<int> opened{0};
    std::thread serving([&] {
        ns->run([&] {
            Responder r(
                [&](const sockaddr_storage& to, std::size_t) {
                    const unsigned entry = index(to);
                    return std::optional(std::chrono::milliseconds(
                        late(entry)
                            ? MatchTimeoutMs + 30 + static_cast<int>(entry * 37 % LateSpreadMs)
                            : PromptMs));
                },
                DuplicateAfter, [&](const sockaddr_storage& to) { return index(to) % 3 == 0; });
            opened = r.open() ? 1 : -1;
            if (opened > 0)
                r.serve(stop, 120s);
        });
    });
    for (int i = 0; i < 500 && opened == 0; ++i)
        std::this_thread::sleep_for(10ms);
    QStringList list;
    for (int k = 1; k <= 1000; ++k)
        list << loopback(k);
    if (opened <= 0 || !enterNetNamespace(ns->path())) {
        stop = true;
        serving.join();
        return notMeasured(name, "the responder could not open its raw sockets");
    }
    for (const auto& [mode, kind] : {std::pair{ECHO_SOCKET_RAW_ONLY, "raw socket"},
                                     std::pair{ECHO_SOCKET_DGRAM_ONLY, "ping socket"}}) {
        IcmpEcho echo(mode);
        Window w(echo, list, true, MatchAttempts, MatchTimeoutMs);
        long wrong = 0, prompt = 0, promptLost = 0, lateTimedOut = 0, twice = 0;
        long duplicates = 0, strayDuplicates = 0; // the latter for entries answered once
        const auto entryOf = [](const QString& text) {
            in_addr ip{};
            inet_pton(AF_INET, text.toLatin1().constData(), &ip);
            return ntohl(ip.s_addr) & 0xFFFF;
        };
        QObject::connect(&w.window.pingPass(), &PingPass::duplicateReply, [&](const QString& text) {
            const unsigned entry = entryOf(text);
            ++(entry % 3 == 0 && !late(entry) ? duplicates : strayDuplicates);
        });
        QObject::connect(&w.window.pingPass(), &PingPass::attemptReported, [&](const Attempt& a) {
            const unsigned entry = entryOf(a.address);
            twice += a.reply && entry % 3 == 0;
            const double ms = std::chrono::duration<double, std::milli>(a.roundTrip).count();
            if (late(entry))
                a.reply ? ++wrong : ++lateTimedOut;
            else if (++prompt; !a.reply)
                ++promptLost;
            // The send's own timestamp is taken just after the request left.
            else if (ms < PromptMs - 1)
                ++wrong;
        });
        const Run r = w.run();
        const long total = 1000L * MatchAttempts;
        std::printf("  %s: %.2f s; %ld prompt attempts, %ld of them without a reply; %ld late "
                    "attempts timed out\n",
                    kind, r.seconds, prompt, promptLost, lateTimedOut);
        aim(format("%s, %s", name, kind),
            format("%ld of %d%s", wrong, r.replies + r.failures,
                   r.ok && r.replies + r.failures == total ? "" : " (the pass did not end)"),
            "0", r.ok && wrong == 0 && r.replies + r.failures == total, Miss::Fails);
        // The second replies to the last attempts may come after the pass has ended.
        aim(format("%s, %s, duplicate replies counted", name, kind),
            format("%ld of %ld, %ld for entries answered once", duplicates, twice, strayDuplicates),
            "99 % to all, none for entries answered once",
            duplicates * 100 >= twice * 99 && duplicates <= twice && strayDuplicates == 0,
            Miss::Fails);
    }
    stop = true;
    serving.join();
}

// The silent test host: its namespace wired to the client by the test network's own script,
// and count addresses more on its interface.
std::unique_ptr<test::NetNamespace> silentHost(const test::TestNet& net, int count,
                                               std::string* why) {
    auto host = test::NetNamespace::create(why);
    if (!host)
        return nullptr;
    std::string out;
    const std::string script = EW_SOURCE_DIR "/scripts/testnet-host.sh";
    if (!host->exec(
            {"sh", script, net.client().path(), host->path(), std::to_string(SilentHost), "silent"},
            &out) ||
        !host->exec({"sh", "-c",
                     format("for i in $(seq %d %d); do ip addr add 10.77.%d.$i/24 dev eth0; done",
                            FirstSilent, FirstSilent + count - 1, SilentHost)},
                    &out)) {
        *why = "cannot wire up the silent host: " + out;
        return nullptr;
    }
    return host;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    test::TestNet net;
    std::string why = net.whyNot();
    const auto host = net.usable() ? silentHost(net, 100, &why) : nullptr;
    if (!host || ::access(Fping.c_str(), X_OK) != 0 || !enterNetNamespace(net.client().path())) {
        if (why.empty())
            why = "no fping (scripts/install-bench-deps.sh installs it)";
        notMeasured("at once, pass time and CPU against fping", why);
    } else {
        const QStringList hundred = entries(100, 5);
        const QStringList thousand = entries(1000, 10);
        compare("at once, 100 entries (20 silent), 1 attempt, 1 s time-out", hundred,
                net.client().path(), 1.2, 0);
        compare("at once, 1000 entries (100 silent), 1 attempt, 1 s time-out", thousand,
                net.client().path(), 1.5, 1.5);
        inTurn("one after another, 100 entries (20 silent), 1 attempt, 1 s time-out", hundred);
        inTurn("one after another, 1000 entries (100 silent), 1 attempt, 1 s time-out", thousand);
    }
    wrongMatches();
    return exitStatus();
}
