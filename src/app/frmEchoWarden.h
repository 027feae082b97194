#pragma once

#include "core/ProgramState.h"
#include "platform/Platform.h"

#include <QMainWindow>
#include <functional>
#include <memory>

namespace Ui {
class frmEchoWarden;
}

namespace ew {

class ControlStates;
class ToolTips;
class LogFile;
class LogWriter;
class NumericFields;
class PingPass;
class Monitor;
class MonitorControls;
class AddressList;
class Settings;
class Schedule;
class About;
class HostWatch;
class ServeFigures;
class HostTracker;
class HistoryStore;
class SlowAbove;
class HistoryWindows;

// The main window and the composition root: it owns the widgets, the shared program state and
// one object per subsystem, each handed exactly what it needs.
class frmEchoWarden : public QMainWindow {
    Q_OBJECT
public:
    explicit frmEchoWarden(Platform platform, QWidget* parent = nullptr);
    ~frmEchoWarden() override;

    // Start-up: window height and place, the address list, the settings.
    void Form_Load();
    void cmdExit_Click();
    void mnuExit_Click();
    // --start: Ping as if pressed, unless the settings left it disabled (an empty list, an unset
    // log path), as an operator could not press it then. Nobody is there to answer whether the
    // log is overwritten: it is appended to.
    void startUnwatched();

    // How the program ends; tests replace it to see that it was asked to.
    void setEndProgram(std::function<void()> end) { endProgram_ = std::move(end); }

    Ui::frmEchoWarden& ui() { return *ui_; }
    ProgramState& state() { return state_; }
    ControlStates& controlStates() { return *controls_; }
    ToolTips& toolTips() { return *tips_; }
    LogFile& logFile() { return *log_; }
    LogWriter& logWriter() { return *logWriter_; }
    PingPass& pingPass() { return *pass_; }
    Monitor& monitor() { return *monitor_; }
    MonitorControls& monitorControls() { return *monitorControls_; }
    AddressList& addressList() { return *addresses_; }
    Settings& settings() { return *settings_; }
    Schedule& schedule() { return *schedule_; }
    About& about() { return *about_; }
    HostWatch& hostWatch() { return *hosts_; }
    HistoryStore& history() { return *history_; }
    HistoryWindows& historyWindows() { return *historyWindows_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void endProgram();
    // The history file listens to the pass as the marks do.
    void wireHistory();

    Platform platform_;
    std::unique_ptr<Ui::frmEchoWarden> ui_;
    ProgramState state_;
    std::unique_ptr<ControlStates> controls_;
    std::unique_ptr<ToolTips> tips_;
    std::unique_ptr<LogWriter> logWriter_;
    std::unique_ptr<LogFile> log_;
    std::unique_ptr<NumericFields> numeric_;
    std::unique_ptr<MonitorControls> monitorControls_;
    std::unique_ptr<PingPass> pass_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<HostTracker> hostTracker_;
    std::unique_ptr<ServeFigures> serveFigures_;
    std::unique_ptr<HostWatch> hosts_;
    std::unique_ptr<HistoryStore> history_;
    std::unique_ptr<SlowAbove> slowAbove_;
    std::unique_ptr<HistoryWindows> historyWindows_;
    std::unique_ptr<AddressList> addresses_;
    std::unique_ptr<Settings> settings_;
    std::unique_ptr<Schedule> schedule_;
    std::unique_ptr<About> about_;
    std::function<void()> endProgram_;
    bool ending_ = false;
};

} // namespace ew
