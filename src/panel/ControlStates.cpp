#include "panel/ControlStates.h"

#include "core/Convert.h"
#include "panel/CheckValue.h"
#include "panel/RestoreDefaults.h"
#include "ui_frmEchoWarden.h"
#include "widgets/StatusBar.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>

namespace ew {

namespace {

constexpr int TwipsPerPixel = 15;
// The design's client area, and the bottom of the Label4/cmdSettings row plus a margin: the
// short window ends there, with the status bar under it.
constexpr int DesignClientWidthTwips = 4815;
constexpr int FullClientHeightTwips = 6990;
constexpr int ShortAreaHeightTwips = 3000;
constexpr int StatusBarHeightTwips = 435;

const QString ShowCaption = QStringLiteral("Show Settings >>");
const QString HideCaption = QStringLiteral("<< Hide Settings");

constexpr int px(int twips) {
    return twips / TwipsPerPixel;
}

} // namespace

ControlStates::ControlStates(Ui::frmEchoWarden& ui, QMainWindow& window)
    : ui_(ui), window_(window) {
    connect(ui_.cmdSettings, &QPushButton::clicked, this, [this] {
        const bool show = !panelShown();
        showPanel(show);
        ui_.cmdSave->setVisible(show);
        ui_.cmdSettings->setText(show ? HideCaption : ShowCaption);
    });
}

void ControlStates::showPanel(bool shown) {
    const int statusH = px(StatusBarHeightTwips);
    const int areaH = shown ? px(FullClientHeightTwips) - statusH : px(ShortAreaHeightTwips);
    const int width = px(DesignClientWidthTwips);
    ui_.centralwidget->setFixedSize(width, areaH + statusH);
    ui_.StatusBar1->setGeometry(0, areaH, width, statusH);
    const int menuH = window_.menuBar()->sizeHint().height();
    window_.setFixedSize(width, menuH + areaH + statusH);

    // Placed by the outer frame; a screen smaller than the window gives negative places, kept.
    const QScreen* screen = window_.screen(); // the primary screen while it has none of its own
    if (!screen)
        return;
    const QRect avail = screen->geometry();
    const QSize extra = (window_.frameGeometry().size() - window_.size()).expandedTo({0, 0});
    const int outerW = width + extra.width();
    const int outerH = menuH + areaH + statusH + extra.height();
    window_.move(avail.x() + (avail.width() - outerW) / 2,
                 avail.y() + (avail.height() - outerH) / (shown ? 3 : 2));
}

bool ControlStates::panelShown() const {
    return ui_.cmdSettings->text() != ShowCaption;
}

void ControlStates::ToggleControls() {
    // The notice over the results list is the lock: its own visibility flag, not whether it
    // is on screen (the window may not be shown yet).
    const bool unlock = ui_.txtPathError->isHidden();
    ui_.cmdStartPing->setEnabled(unlock);
    if (unlock) {
        ui_.lstPingResults->setVisible(true);
        UpdateRestoreMenu();
    } else {
        ui_.mnuRestore->setEnabled(false);
        // Stop is only ever disabled here; Start and Stop of the monitor decide when it is usable.
        ui_.cmdStopPing->setEnabled(false);
    }
    // Exit, the log path box and its Set button stay usable, as the notice tells the operator.
    ui_.mnuSSave->setEnabled(unlock);
    ui_.mnuAbout->setEnabled(unlock);
    QWidget* const editors[] = {ui_.cmdOpenLog,  ui_.cmdSettings, ui_.txtIPAddress, ui_.cmdAdd,
                                ui_.cmdRemove,   ui_.cmdClear,    ui_.lstIPList,    ui_.cmdSave,
                                ui_.txtInterval, ui_.vsbInterval, ui_.optSeconds,   ui_.Label2,
                                ui_.optMinutes,  ui_.Label1,      ui_.txtAttempts,  ui_.vsbAttempts,
                                ui_.txtNumBytes, ui_.vsbNumBytes, ui_.txtTimeout,   ui_.vsbTimeout,
                                ui_.chkBeep,     ui_.chkLogTotal, ui_.chkLogFailed, ui_.lblBeep,
                                ui_.lblLogTotal, ui_.lblLogFailed};
    for (QWidget* w : editors)
        w->setEnabled(unlock);
    // With every ping logged, the failed-pings box stays checked and out of reach.
    if (unlock && isChecked(*ui_.chkLogTotal))
        ui_.chkLogFailed->setEnabled(false);
}

void ControlStates::UpdateRestoreMenu() {
    // A text that is not a whole number in the 16-bit range differs from any default.
    const auto differs = [](const QLineEdit& box, std::int16_t reference) {
        const auto value = toInt16(box.text());
        return !value || *value != reference;
    };
    const bool differ = differs(*ui_.txtTimeout, restore::Timeout) ||
                        differs(*ui_.txtNumBytes, restore::NumBytes) ||
                        differs(*ui_.txtInterval, restore::Interval) ||
                        differs(*ui_.txtAttempts, restore::Attempts) ||
                        checkValue(*ui_.chkLogFailed) != restore::LogFailed ||
                        checkValue(*ui_.chkBeep) != restore::Beep ||
                        ui_.optMinutes->isChecked() != restore::Minutes;
    ui_.mnuRestore->setEnabled(differ);
}

} // namespace ew
