// What an operator pays for the real program, next to what the same job costs with the
// command-line pingers and what any Qt window costs:
//
//   - CPU per monitored second, 127.0.0.1 and ::1 every second, against a hello-world window
//     with its text new every second (the least that any monitor which draws costs) and two
//     mtr --gtk -i 1 windows (the graphical monitor next to which an operator would set this
//     one), with fping -l -p 1000 and two iputils ping -i 1 printed for scale; and ten loopback
//     addresses at the tenth-seconds interval against fping -l -p 100 on the same ten;
//   - idle CPU, not monitoring, against a hello-world window;
//   - the time from exec to the window being mapped, against the same hello-world;
//   - passes per second at the tenth-seconds interval.
//
// The programs run one after another (two cores cannot give side-by-side runs the same
// machine), on a display server of this benchmark's own, each pinging program in a network
// namespace of its own with only loopback in it: no packet leaves it, and no other program's
// echo traffic on this machine wakes the one measured. Ping sockets are allowed there, as a
// desktop system allows them. CPU is the process's own (all threads, and its children: mtr
// sends through a helper), from /proc; the echo replies its namespace received show that each
// program did the same work.

#include "Aims.h"
#include "MapWatch.h"
#include "Programs.h"
#include "settings/SettingsKeys.h"
#include "support/TestNet.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

using namespace ew;
using namespace ew::bench;
using namespace std::chrono_literals;

// EW_BENCH_WINDOW_SECONDS shortens every window, for a quick look while working on this file.
std::chrono::seconds window(std::chrono::seconds full) {
    const int quick = qEnvironmentVariableIntValue("EW_BENCH_WINDOW_SECONDS");
    return quick > 0 ? std::chrono::seconds(quick) : full;
}
const auto MonitorWindow = window(60s);
const auto PassWindow = window(30s);
// Start-up work is not what is measured: the figures start this long after the window shows.
constexpr auto Settle = 2s;
constexpr auto WindowLimit = 15s;
constexpr int StartRuns = 8; // after one run of each that only warms the file cache

const std::string Program = EW_BINARY;
const std::string Hello = EW_HELLO;
const std::string Fping = "/usr/bin/fping";
const std::string IputilsPing = "/usr/bin/ping";
const std::string Mtr = "/usr/bin/mtr";

QStringList loopbackAddresses(int count) {
    QStringList list;
    for (int i = 1; i <= count; ++i)
        list << QStringLiteral("127.0.0.%1").arg(i);
    return list;
}

struct Measured {
    double cpuSeconds = 0;
    double serverCpuSeconds = 0; // the X server's meanwhile: what drawing costs it
    double seconds = 0;
    long replies = 0;
    bool networked = false;
    std::string why;    // empty when measured
    bool fault = false; // a program died or showed no window: not the machine's doing
    double percent() const { return 100.0 * cpuSeconds / seconds; }
    double repliesPerSecond() const { return static_cast<double>(replies) / seconds; }
};

class Bench {
public:
    bool ready(std::string* why) {
        if (!dir_.isValid()) {
            *why = "no temporary folder";
            return false;
        }
        QDir(dir_.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(dir_.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);
        if (!x_.start(out("Xvfb"), why))
            return false;
        watch_ = std::make_unique<MapWatch>(x_.display());
        if (!watch_->ok()) {
            *why = "cannot open the display " + x_.display();
            return false;
        }
        return true;
    }

    // The program's own settings: these addresses, every interval one second or one tenth.
    void configure(const QStringList& addresses, bool tenths) {
        QSettings ini(dir_.filePath(QStringLiteral("8R1/8R1.ini")), QSettings::IniFormat);
        ini.clear();
        ini.beginGroup(keys::Section);
        const auto put = [&](const QString& key, const QString& value) {
            ini.setValue(key, value);
        };
        put(keys::IPList, addresses.join(QLatin1Char(',')) + QLatin1Char(','));
        put(keys::IntervalMinutes, QStringLiteral("False"));
        put(keys::IntervalSeconds, tenths ? QStringLiteral("False") : QStringLiteral("True"));
        put(keys::IntervalTenths, tenths ? QStringLiteral("True") : QStringLiteral("False"));
        put(keys::Interval, QStringLiteral("1"));
        put(keys::Attempts, QStringLiteral("1"));
        put(keys::Timeout, QStringLiteral("3"));
        put(keys::PingWithBytes, QStringLiteral("56")); // what fping and ping send
        put(keys::Beep, QStringLiteral("0"));
        put(keys::EnableLoggingTotal, QStringLiteral("0"));
        put(keys::EnableLoggingFailed, QStringLiteral("0"));
        put(keys::LogFilePath, dir_.filePath(QStringLiteral("Ping.Log")));
        put(keys::SaveSettingsOnExit, QStringLiteral("False"));
        put(keys::Unattended, QStringLiteral("False"));
        ini.endGroup();
        ini.sync();
    }

    // Runs the programs together for window, measured from Settle after they started (after
    // the first window was mapped, when awaitWindow), inside a namespace of loopback only
    // when networked. CPU is summed over the programs.
    Measured run(const std::vector<std::vector<std::string>>& programs, bool awaitWindow,
                 bool networked, std::chrono::seconds window) {
        Measured m;
        m.networked = networked;
        std::unique_ptr<test::NetNamespace> ns;
        if (networked) {
            ns = test::NetNamespace::create(&m.why);
            if (!ns)
                return m;
            ns->setSysctl("net.ipv4.ping_group_range", "0 2147483647");
        }
        watch_->drain();
        std::vector<std::unique_ptr<Child>> children;
        for (const auto& argv : programs) {
            if (::access(argv[0].c_str(), X_OK) != 0) {
                m.why = argv[0] + " is missing (scripts/install-bench-deps.sh installs it)";
                return m;
            }
            children.push_back(std::make_unique<Child>());
            // An output file each: two of the same program must not share one (two mtr
            // windows on one file: one of them waits on the other's lock for good).
            children.back()->start(argv, environment(), ns ? ns->path() : std::string(),
                                   out(argv[0].substr(argv[0].rfind('/') + 1) + "-" +
                                       std::to_string(children.size())));
        }
        if (awaitWindow && !watch_->nextMap(WindowLimit)) {
            m.why = "no window was shown within 15 s; the programs' output is kept in " + keep();
            m.fault = true;
            return m;
        }
        std::this_thread::sleep_for(Settle);
        const auto sampleAll = [&] {
            std::vector<CpuSample> samples;
            for (auto& c : children)
                samples.push_back(sampleCpuWithChildren(c->pid()));
            return samples;
        };
        const pid_t inNamespace = children.front()->pid();
        const auto before = sampleAll();
        const CpuSample serverBefore = sampleCpuWithChildren(x_.pid());
        const long repliesBefore = networked ? echoRepliesSeen(inNamespace) : 0;
        const auto begin = SteadyClock::now();
        for (auto left = window; left.count() > 0; left -= 1s) {
            std::this_thread::sleep_for(1s);
            for (auto& c : children) {
                if (!c->running()) {
                    m.why = "a program ended by itself; its output is kept in " + keep();
                    m.fault = true;
                    return m;
                }
            }
        }
        const auto after = sampleAll();
        m.serverCpuSeconds = cpuSecondsBetween(serverBefore, sampleCpuWithChildren(x_.pid()));
        m.replies = networked ? echoRepliesSeen(inNamespace) - repliesBefore : 0;
        m.seconds = secondsBetween(begin, SteadyClock::now());
        for (size_t i = 0; i < children.size(); ++i)
            m.cpuSeconds += cpuSecondsBetween(before[i], after[i]);
        return m;
    }

    // Wall time from exec to the first window mapped, in ms; negative when none was.
    double startToWindow(const std::string& program) {
        watch_->drain();
        Child child;
        const auto begin = SteadyClock::now();
        child.start({program}, environment(), {}, out("start"));
        const auto mapped = watch_->nextMap(WindowLimit);
        return mapped ? 1000.0 * secondsBetween(begin, *mapped) : -1.0;
    }

private:
    std::string keep() {
        dir_.setAutoRemove(false);
        return dir_.path().toStdString();
    }
    std::vector<std::string> environment() const {
        const std::string home = dir_.path().toStdString();
        // GTK (mtr) without the accessibility bus, which a display of our own does not have.
        return {"QT_QPA_PLATFORM=xcb",
                "DISPLAY=" + x_.display(),
                "XDG_CONFIG_HOME=" + home,
                "XDG_DATA_HOME=" + home + "/data",
                "XDG_RUNTIME_DIR=" + home + "/run",
                "DBUS_SESSION_BUS_ADDRESS=disabled:",
                "NO_AT_BRIDGE=1",
                "GDK_BACKEND=x11"};
    }
    std::string out(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name + ".out")).toStdString();
    }

    QTemporaryDir dir_;
    DisplayServer x_;
    std::unique_ptr<MapWatch> watch_;
};

void printRun(const char* name, const Measured& m) {
    if (m.why.empty() && m.networked)
        std::printf("  %-40s %6.3f ms of CPU a second (%.4f%% of a core), %5.1f echo replies/s "
                    "over %.0f s; X server meanwhile %.3f ms a second\n",
                    name, 10 * m.percent(), m.percent(), m.repliesPerSecond(), m.seconds,
                    1000 * m.serverCpuSeconds / m.seconds);
    else if (m.why.empty())
        std::printf("  %-40s %6.3f ms of CPU a second (%.4f%% of a core) over %.0f s; X server "
                    "meanwhile %.3f ms a second\n",
                    name, 10 * m.percent(), m.percent(), m.seconds,
                    1000 * m.serverCpuSeconds / m.seconds);
    else
        std::printf("  %-40s not measured: %s\n", name, m.why.c_str());
    std::fflush(stdout);
}

// A yardstick that used less CPU than this (10 us a second) is compared as if it had used this
// much: a window that sleeps through the whole run has no ratio.
constexpr double LeastPeerPercent = 0.001;

// Why a figure cannot be had: a program that died or showed no window fails the run, a
// program that is not installed does not.
void unmeasured(const std::string& name, const Measured& m) {
    if (m.fault)
        aim(name, "not measured: " + m.why, "every program keeps running", false, Miss::Fails);
    else
        notMeasured(name, m.why);
}

// The ratio of two runs against its aim, or why it cannot be had.
void compare(const std::string& name, const Measured& ours, const Measured& peer,
             const char* peerName, double most) {
    if (!ours.why.empty() || !peer.why.empty())
        return unmeasured(name, ours.why.empty() ? peer : ours);
    const double ratio = ours.percent() / std::max(peer.percent(), LeastPeerPercent);
    aim(name,
        format("%.2fx (EchoWarden %.4f%%, %s %.4f%% of a core%s)", ratio, ours.percent(), peerName,
               peer.percent(), peer.percent() < LeastPeerPercent ? ", taken as 0.001%" : ""),
        format("at most %.1fx", most), ratio <= most);
}

void monitoringFigures(Bench& b) {
    std::printf("CPU while monitoring 127.0.0.1 and ::1 every second:\n");
    b.configure({QStringLiteral("127.0.0.1"), QStringLiteral("::1")}, false);
    const Measured ours = b.run({{Program, "--start"}}, true, true, MonitorWindow);
    printRun("EchoWarden --start", ours);
    const Measured fping =
        b.run({{Fping, "-l", "-p", "1000", "127.0.0.1", "::1"}}, false, true, MonitorWindow);
    printRun("fping -l -p 1000 127.0.0.1 ::1", fping);
    const Measured pings =
        b.run({{IputilsPing, "-i", "1", "127.0.0.1"}, {IputilsPing, "-i", "1", "::1"}}, false, true,
              MonitorWindow);
    printRun("ping -i 1 127.0.0.1 + ping -i 1 ::1", pings);
    // mtr pings as root here (its package makes it so elsewhere).
    const Measured mtr =
        b.run({{Mtr, "--gtk", "-i", "1", "127.0.0.1"}, {Mtr, "--gtk", "-i", "1", "::1"}}, true,
              true, MonitorWindow);
    printRun("mtr --gtk -i 1 127.0.0.1 + ::1 (windows)", mtr);
    const Measured counting = b.run({{Hello, "--count"}}, true, false, MonitorWindow);
    printRun("hello-world window, text new every second", counting);
    compare("monitoring CPU, 2 hosts every second, EchoWarden / hello-world window counting", ours,
            counting, "hello-world", 1.5);
    compare("monitoring CPU, 2 hosts every second, EchoWarden / two mtr --gtk windows", ours, mtr,
            "mtr", 0.5);
    // For scale only: a window's floor alone is 1.5 to 3 times what fping costs.
    if (ours.why.empty() && fping.why.empty())
        std::printf("  EchoWarden / fping: %.2fx\n",
                    ours.percent() / std::max(fping.percent(), LeastPeerPercent));
    if (ours.why.empty() && pings.why.empty())
        std::printf("  EchoWarden / two iputils ping: %.2fx\n",
                    ours.percent() / std::max(pings.percent(), LeastPeerPercent));
    if (counting.why.empty() && fping.why.empty())
        std::printf("  hello-world window with its text new every second / fping: %.2fx\n",
                    counting.percent() / std::max(fping.percent(), LeastPeerPercent));

    std::printf("CPU while monitoring 127.0.0.1 to 127.0.0.10 every tenth of a second:\n");
    const QStringList ten = loopbackAddresses(10);
    b.configure(ten, true);
    const Measured oursTen = b.run({{Program, "--start"}}, true, true, MonitorWindow);
    printRun("EchoWarden --start", oursTen);
    std::vector<std::string> fpingTen{Fping, "-l", "-p", "100"};
    for (const QString& a : ten)
        fpingTen.push_back(a.toStdString());
    const Measured fpingTenRun = b.run({fpingTen}, false, true, MonitorWindow);
    printRun("fping -l -p 100 127.0.0.1 ... 127.0.0.10", fpingTenRun);
    compare("monitoring CPU, 10 hosts every tenth, EchoWarden / fping", oursTen, fpingTenRun,
            "fping", 1.0);
}

void passRateFigure(Bench& b) {
    b.configure({QStringLiteral("127.0.0.1")}, true);
    const Measured m = b.run({{Program, "--start"}}, true, true, PassWindow);
    const std::string name = "tenth-seconds passes per second, 1 host";
    if (!m.why.empty())
        return unmeasured(name, m);
    const double rate = m.repliesPerSecond();
    aim(name, format("%.3f", rate), "9.9 or more", rate >= 9.9);
}

void idleFigures(Bench& b) {
    std::printf("Idle CPU, not monitoring:\n");
    b.configure({QStringLiteral("127.0.0.1"), QStringLiteral("::1")}, false);
    const Measured ours = b.run({{Program}}, true, false, MonitorWindow);
    printRun("EchoWarden", ours);
    const Measured hello = b.run({{Hello}}, true, false, MonitorWindow);
    printRun("hello-world window", hello);
    compare("idle CPU, EchoWarden / hello-world window", ours, hello, "hello-world", 5.0);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void startFigures(Bench& b) {
    std::vector<double> ours, hello;
    for (int i = 0; i <= StartRuns; ++i) {
        // Turn about, so that neither always starts right after the other has ended.
        const double a = b.startToWindow(i % 2 ? Program : Hello);
        const double h = b.startToWindow(i % 2 ? Hello : Program);
        if (a < 0 || h < 0)
            return aim("start to window shown", "not measured: a window did not show within 15 s",
                       "every program shows its window", false, Miss::Fails);
        if (i > 0) {
            ours.push_back(i % 2 ? a : h);
            hello.push_back(i % 2 ? h : a);
        }
    }
    const double ratio = median(ours) / median(hello);
    aim("start to window shown, EchoWarden / hello-world window",
        format("%.2fx (median of %d: EchoWarden %.1f ms, hello-world %.1f ms)", ratio, StartRuns,
               median(ours), median(hello)),
        "at most 2.0x", ratio <= 2.0);
}

} // namespace

int main() {
    Bench b;
    std::string why;
    if (!b.ready(&why)) {
        notMeasured("the real program's figures", why);
        return 0;
    }
    // EW_BENCH_ONLY=start|idle|monitoring|rate takes one group, for a quick look while working.
    const QByteArray only = qgetenv("EW_BENCH_ONLY");
    const auto wanted = [&](const char* group) { return only.isEmpty() || only == group; };
    if (wanted("start"))
        startFigures(b);
    if (wanted("idle"))
        idleFigures(b);
    if (wanted("monitoring"))
        monitoringFigures(b);
    if (wanted("rate"))
        passRateFigure(b);
    return exitStatus();
}
