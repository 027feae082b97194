#include "monitor/Monitor.h"

#include "app/ControlStates.h"
#include "app/ProgramState.h"
#include "editors/LogFile.h"
#include "monitor/PingPass.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"

#include <QTimer>

namespace ew {

namespace {
constexpr int Timer1DesignIntervalMs = 3000;
}

Monitor::Monitor(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, PingPass& pass,
                 ControlStates& controls, LogFile& log, ToolTips& tips, Clock& clock,
                 MessageBoxes& messages)
    : ui_(ui), window_(window), state_(state), pass_(pass), controls_(controls), log_(log),
      tips_(tips), clock_(clock), messages_(messages), timer1_(new QTimer(&window)) {
    timer1_->setObjectName(QStringLiteral("Timer1"));
    // Coarse timers fire up to 5% early, which would shorten the operator's intervals.
    timer1_->setTimerType(Qt::PreciseTimer);
    timer1_->setInterval(Timer1DesignIntervalMs);
}

void Monitor::cmdStartPing_Click() {}
void Monitor::cmdStopPing_Click() {}
void Monitor::Timer1_Timer() {}
void Monitor::shutdown() { timer1_->stop(); }

} // namespace ew
