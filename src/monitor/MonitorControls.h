#pragma once

#include "engine/Attempt.h"
#include "settings/UsedNumber.h"

#include <QObject>
#include <array>
#include <cstdint>

namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class PingPass;
class Monitor;
class LogWriter;
class ControlStates;
class LogFile;
class ToolTips;
class Beeper;

// Where the operator starts and stops the monitor, and where the window reads its controls
// into what a pass and a tick work on and shows what the pass reports: the lines, the counts
// and the beep.
class MonitorControls : public QObject {
    Q_OBJECT
public:
    MonitorControls(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls,
                    LogFile& log, ToolTips& tips, Beeper& beeper);
    // The pass and the monitor read through this object, so they come after it.
    void attach(PingPass& pass, Monitor& monitor, LogWriter& writer);

    void cmdStartPing_Click();
    void cmdStopPing_Click();

    // What the next pass works on, once the log path has been checked (ApplyLogPath).
    PassSettings passSettings();
    TickSettings tickSettings() const;

private:
    // Says over the results why monitoring pings nothing now (an empty list, the unattended
    // hours), and which boxes the passes cannot use as they stand.
    void showNotice();
    void entryBegun();
    void countsChanged(std::int64_t pings, std::int64_t failed, bool failedNow);
    const UsedNumber& used(NumberBox box) const { return used_[static_cast<std::size_t>(box)]; }

    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    LogFile& log_;
    ToolTips& tips_;
    Beeper& beeper_;
    Monitor* monitor_ = nullptr;
    LogWriter* writer_ = nullptr;
    std::uint64_t lastEntryId_ = 0;
    std::array<UsedNumber, 4> used_; // what each box's text is used as, by NumberBox
};

} // namespace ew
