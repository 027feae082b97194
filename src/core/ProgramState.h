#pragma once

#include <QString>
#include <cstdint>

namespace ew {

// The change and click rules of the setting controls stay quiet while the program itself
// fills them (Dont); Timer and NoTimer carry the interval timer's state while monitoring.
enum class StateFlag { Dont, Yes, Timer, NoTimer };

// Whether ApplyLogPath reports a bad path and asks about an existing log.
enum class AskOverwrite { Dont, Yes };

// The program state shared by the main window's subsystems. One instance, owned by the main
// window, handed by reference to whoever reads or writes it.
struct ProgramState {
    StateFlag stateFlag = StateFlag::Dont;
    AskOverwrite askOverwrite = AskOverwrite::Dont;
    QString logPath;
    bool logPathInvalid = false;
    // Lines logged since the last Start; only "none yet" versus "some" matters, so it
    // saturates instead of wrapping.
    std::int32_t logLineCount = 0;
    // Failed attempts shown in the status bar; wide enough for runs of many days.
    std::int64_t failedCount = 0;
    // Time of day of the end of the last pass, as shown to the operator.
    QString lastPassTime;
    // Where the system's programs live (always ends in a '/').
    QString windowsDir;
    std::int16_t lastScrollValue = 0;
    std::int16_t unattendedFromHour = 0;
    std::int16_t unattendedToHour = 0;
    // "True" or "False" once the schedule dialog has been opened; empty before.
    QString unattendedState;
};

} // namespace ew
