#include "monitor/PingPass.h"

#include "app/ControlStates.h"
#include "app/ProgramState.h"
#include "editors/LogFile.h"
#include "platform/Beeper.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "ui_frmEchoWarden.h"

namespace ew {

PingPass::PingPass(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls,
                   LogFile& log, Echo& echo, Clock& clock, Beeper& beeper)
    : ui_(ui), state_(state), controls_(controls), log_(log), echo_(echo), clock_(clock),
      beeper_(beeper) {}

QString PingPass::replyLine(const QString& timeOfDay, const QString& address,
                            std::int32_t roundTripMs) {
    return QChar(0x1A) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Reply from ") +
           address + QStringLiteral(", Time:") + QString::number(roundTripMs) +
           QStringLiteral(" ms");
}

QString PingPass::failureLine(const QString& timeOfDay, const QString& address) {
    return QChar(0x2020) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Ping to  ") +
           address + QStringLiteral(" --== F A I L E D ==-- ");
}

void PingPass::PingAddresses() {}
void PingPass::chkBeep_Click() {}

} // namespace ew
