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

#include <memory>

namespace {

using namespace ew;

constexpr int LongList = 10000;

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
    for (auto _ : state) {
        if (!w->window.settings().cmdSave_Click())
            state.SkipWithError("the settings could not be saved");
    }
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
        w->window.Form_Load();
    }
    if (!w || w->window.ui().lstIPList->count() != count)
        state.SkipWithError("the list did not come back whole");
    w.reset();
}
BENCHMARK(BM_LoadSettings)->Arg(LongList)->Unit(benchmark::kMillisecond);

void BM_EncodeList(benchmark::State& state) {
    const QStringList list = addresses(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeList(list));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EncodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

void BM_DecodeList(benchmark::State& state) {
    const QString text = encodeList(addresses(static_cast<int>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeList(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DecodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

} // namespace

int main(int argc, char** argv) {
    // QSettings finds the configuration folder once per process: set it before anything else.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    return ew::bench::runBenchmarks(argc, argv);
}
