// The time to save and to load the settings with a long address list, through the real INI
// store in a temporary configuration folder; and the address list encoding alone, whose cost
// must grow in step with the list (no text rebuilt per item).

#include "BenchSupport.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "settings/SettingsCodec.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>

namespace {

using namespace ew;

constexpr int LongList = 10000;
constexpr double MostSaveMs = 40;
constexpr double MostLoadMs = 10;
// Per item, the longest list's encoding may cost this much more than the shortest's.
constexpr double MostPerItemGrowth = 2.0;

// Milliseconds of each benchmark's last run (per list length for the encodings).
std::map<std::string, double> g_ms;

double msSince(std::chrono::steady_clock::time_point begin) {
    return 1e3 * bench::secondsSince(begin);
}

QStringList addresses(int count) {
    QStringList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 0xff).arg(i & 0xff);
    return list;
}

// A loaded window on the real store whose address list is count long.
std::unique_ptr<bench::BenchWindow> windowWithList(SettingsStore& store, int count) {
    auto w = std::make_unique<bench::BenchWindow>(&store);
    w->window.Form_Load();
    w->window.ui().lstIPList->clear();
    w->window.ui().lstIPList->addItems(addresses(count));
    return w;
}

void BM_SaveSettings(benchmark::State& state) {
    IniSettingsStore store;
    const auto w = windowWithList(store, static_cast<int>(state.range(0)));
    double ms = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (!w->window.settings().cmdSave_Click())
            state.SkipWithError("the settings could not be saved");
        ms += msSince(begin);
    }
    g_ms["save"] = ms / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SaveSettings)->Arg(LongList)->Unit(benchmark::kMillisecond);

// Start-up as Form_Load does it (the address list, then ReadSettings) in a fresh window on a
// fresh store, from a file that QSettings has to parse again.
void BM_LoadSettings(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    QString file;
    {
        IniSettingsStore store;
        windowWithList(store, count)->window.settings().cmdSave_Click();
        file = store.location(QStringLiteral("8R1"));
    }
    QDateTime stamp = QDateTime::currentDateTime();
    std::unique_ptr<IniSettingsStore> store;
    std::unique_ptr<bench::BenchWindow> w;
    double ms = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.reset();
        store.reset();
        // A new time stamp makes QSettings parse the file again instead of using its cache.
        stamp = stamp.addSecs(1);
        QFile f(file);
        if (!f.open(QIODevice::ReadWrite) ||
            !f.setFileTime(stamp, QFileDevice::FileModificationTime))
            state.SkipWithError("the settings file could not be touched");
        f.close();
        store = std::make_unique<IniSettingsStore>();
        w = std::make_unique<bench::BenchWindow>(store.get());
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        w->window.Form_Load();
        ms += msSince(begin);
    }
    g_ms["load"] = ms / static_cast<double>(state.iterations());
    if (!w || w->window.ui().lstIPList->count() != count)
        state.SkipWithError("the list did not come back whole");
    w.reset();
}
BENCHMARK(BM_LoadSettings)->Arg(LongList)->Unit(benchmark::kMillisecond);

void BM_EncodeList(benchmark::State& state) {
    const QStringList list = addresses(static_cast<int>(state.range(0)));
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeList(list));
    g_ms["encode " + std::to_string(state.range(0))] =
        msSince(begin) / static_cast<double>(state.iterations());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EncodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

void BM_DecodeList(benchmark::State& state) {
    const QString text = encodeList(addresses(static_cast<int>(state.range(0))));
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeList(text));
    g_ms["decode " + std::to_string(state.range(0))] =
        msSince(begin) / static_cast<double>(state.iterations());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DecodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

} // namespace

int main(int argc, char** argv) {
    // QSettings finds the configuration folder once per process: set it before anything else.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    return ew::bench::runBenchmarks(argc, argv, [] {
        using namespace ew::bench;
        aim(format("settings save, %d addresses", LongList), format("%.1f ms", g_ms["save"]),
            format("at most %.0f ms", MostSaveMs), g_ms["save"] <= MostSaveMs);
        aim(format("settings load, %d addresses", LongList), format("%.1f ms", g_ms["load"]),
            format("at most %.0f ms", MostLoadMs), g_ms["load"] <= MostLoadMs);
        for (const char* what : {"encode", "decode"}) {
            const double small = g_ms[std::string(what) + " 1000"] / 1000;
            const double large = g_ms[std::string(what) + " 100000"] / 100000;
            aim(format("address list %s, per item at 100000 over at 1000", what),
                format("%.2fx (%.0f ns, %.0f ns)", large / small, 1e6 * large, 1e6 * small),
                format("at most %.1fx", MostPerItemGrowth), large <= MostPerItemGrowth * small);
        }
    });
}
