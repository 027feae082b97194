// Resident memory of the main window on fakes, in a process of its own so that nothing else
// has grown the heap first: with an empty results list, with the list at its 30000-line bound,
// and after several more bounds' worth of attempts. The list is emptied above its bound, so
// memory must level off instead of growing with the run.

#include "BenchSupport.h"
#include "LongRun.h"
#include "engine/PingPass.h"
#include "widgets/ResultsList.h"

#include <cstdio>

namespace {

using namespace ew;

constexpr int AddressesPerPass = 10;
// Two attempts an address, so that the list is seen between the attempts too: it is at its
// longest in the middle of a pass, just before it is emptied.
constexpr int AttemptsPerAddress = 2;
constexpr int FullList = PingPass::MaxResultLines;
constexpr int MoreBounds = 6;
// How far memory may end above where it stood with the first full list: the allocator keeps
// some freed memory, but a list or a log that keeps what it should drop grows without end.
constexpr double AllowedGrowthMiB = 4.0;
constexpr double FullListMiB = 16.0;

double residentMiB() {
    return bench::mb(faults::residentKb());
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::BenchWindow w;
    w.window.Form_Load();
    w.addAddresses(AddressesPerPass);
    w.window.ui().txtAttempts->setText(QString::number(AttemptsPerAddress));
    w.window.show();
    QCoreApplication::processEvents();
    ResultsList& list = *w.window.ui().lstPingResults;
    int most = 0;
    w.fakes.echo.onCall = [&](const test::FakeEcho::Call&) { most = std::max(most, list.count()); };
    const auto pass = [&] {
        w.pass();
        QCoreApplication::processEvents();
    };

    const double empty = residentMiB();
    while (list.count() + AddressesPerPass * AttemptsPerAddress <= FullList)
        pass();
    const double full = residentMiB();
    std::printf("resident memory, every %d attempts after the first full list (MiB):", FullList);
    double last = full;
    for (int round = 1; round <= MoreBounds; ++round) {
        for (int i = 0; i < FullList / AddressesPerPass / AttemptsPerAddress; ++i)
            pass();
        last = residentMiB();
        std::printf(" %.1f", last);
    }
    std::printf("\n");

    using bench::aim;
    using bench::format;
    aim("resident memory, full results list over empty",
        format("%+.1f MiB (empty %.1f MiB, %d lines %.1f MiB)", full - empty, empty, FullList,
               full),
        format("at most %.0f MiB", FullListMiB), full - empty <= FullListMiB);
    aim(format("resident memory after %d more bounds' worth of attempts", MoreBounds),
        format("%+.1f MiB over the first full list (%.1f MiB)", last - full, last),
        format("at most %+.0f MiB", AllowedGrowthMiB), last - full <= AllowedGrowthMiB,
        bench::Miss::Fails);
    // The list is emptied before an address once it is past its bound, so it can hold the
    // bound and the attempts of one address, never more.
    const int bound = FullList + AttemptsPerAddress;
    aim("results list, most lines in the run", format("%d", most), format("at most %d", bound),
        most <= bound, bench::Miss::Fails);
    return bench::exitStatus();
}
