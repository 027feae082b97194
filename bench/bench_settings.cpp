// The time to save and to load the settings with a long address list, through the real INI
// store in a temporary configuration folder; and the address list encoding alone, whose cost
// must grow in step with the list (no text rebuilt per item).

#include "app/frmEchoWarden.h"
#include "platform/SettingsStore.h"
#include "settings/Settings.h"
#include "settings/SettingsCodec.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using ew::test::FakePlatform;

constexpr int LongList = 10000;

QStringList addresses(int count) {
    QStringList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 0xff).arg(i & 0xff);
    return list;
}

struct Window {
    explicit Window(ew::SettingsStore& store)
        : window(ew::Platform{fakes.echo, store, fakes.clock, fakes.messages, fakes.launcher,
                              fakes.beeper, fakes.windows}) {
        window.setEndProgram([] {});
    }
    FakePlatform fakes;
    ew::frmEchoWarden window;
};

void BM_SaveSettings(benchmark::State& state) {
    ew::IniSettingsStore store;
    Window w(store);
    w.window.Form_Load();
    w.window.ui().lstIPList->clear();
    w.window.ui().lstIPList->addItems(addresses(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        if (!w.window.settings().cmdSave_Click())
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
        ew::IniSettingsStore store;
        Window w(store);
        w.window.Form_Load();
        w.window.ui().lstIPList->clear();
        w.window.ui().lstIPList->addItems(addresses(count));
        w.window.settings().cmdSave_Click();
        file = store.location(QStringLiteral("8R1"));
    }
    QDateTime stamp = QDateTime::currentDateTime();
    std::unique_ptr<ew::IniSettingsStore> store;
    std::unique_ptr<Window> w;
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
        store = std::make_unique<ew::IniSettingsStore>();
        w = std::make_unique<Window>(*store);
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
        benchmark::DoNotOptimize(ew::encodeList(list));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EncodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

void BM_DecodeList(benchmark::State& state) {
    const QString text = ew::encodeList(addresses(static_cast<int>(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(ew::decodeList(text));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DecodeList)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

} // namespace

int main(int argc, char** argv) {
    // QSettings finds the configuration folder once per process: set it before anything else.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    QStandardPaths::setTestModeEnabled(false);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
