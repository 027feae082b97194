#include "tooltips/ToolTips.h"

#include "tooltips/frmToolTips.h"
#include "ui_frmEchoWarden.h"

namespace ew {

ToolTips::ToolTips(Ui::frmEchoWarden& ui, QWidget& mainWindow, WindowProbe& windows)
    : ui_(ui), main_(mainWindow), windows_(windows) {}
ToolTips::~ToolTips() = default;

bool ToolTips::isLoaded() const { return false; }
void ToolTips::load() {}
void ToolTips::unload() {}
void ToolTips::setTimerEnabled(bool) {}
bool ToolTips::timerEnabled() const { return false; }
void ToolTips::setTimerInterval(int) {}
int ToolTips::timerInterval() const { return 0; }
void ToolTips::hidePopup() {}
bool ToolTips::popupVisible() const { return false; }
QString ToolTips::popupText() const { return {}; }
frmToolTips* ToolTips::window() const { return popup_; }
void ToolTips::Timer2_Timer() {}
void ToolTips::ShowTip(const QString&) {}
void ToolTips::txtIPAddress_MouseMove() {}
QString ToolTips::helpText(const QString&) { return {}; }

} // namespace ew
