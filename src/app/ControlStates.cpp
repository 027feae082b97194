#include "app/ControlStates.h"

#include "app/ProgramState.h"
#include "app/StatusBar.h"
#include "ui_frmEchoWarden.h"

#include <QGuiApplication>
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

constexpr int px(int twips) { return twips / TwipsPerPixel; }

} // namespace

ControlStates::ControlStates(Ui::frmEchoWarden& ui, QMainWindow& window, ProgramState& state)
    : ui_(ui), window_(window), state_(state) {
    connect(ui_.cmdSettings, &QPushButton::clicked, this, &ControlStates::cmdSettings_Click);
}

void ControlStates::showPanel(bool shown) {
    const int statusH = px(StatusBarHeightTwips);
    const int areaH = shown ? px(FullClientHeightTwips) - statusH : px(ShortAreaHeightTwips);
    const int width = px(DesignClientWidthTwips);
    ui_.centralwidget->setFixedSize(width, areaH + statusH);
    ui_.StatusBar1->setGeometry(0, areaH, width, statusH);
    const int menuH = window_.menuBar() ? window_.menuBar()->sizeHint().height() : 0;
    window_.setFixedSize(width, menuH + areaH + statusH);

    // Place by the outer frame: the full window a third of the free height from the top, the
    // short one half-way. A screen smaller than the window gives negative places, kept as is.
    const QScreen* screen = window_.screen() ? window_.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->geometry();
    const QRect frame = window_.frameGeometry();
    const int extraW = frame.width() - window_.width();
    const int extraH = frame.height() - window_.height();
    const int outerW = width + std::max(0, extraW);
    const int outerH = menuH + areaH + statusH + std::max(0, extraH);
    const int divisor = shown ? 3 : 2;
    window_.move(avail.x() + (avail.width() - outerW) / 2,
                 avail.y() + (avail.height() - outerH) / divisor);
}

bool ControlStates::panelShown() const { return ui_.cmdSettings->text() != ShowCaption; }

void ControlStates::cmdSettings_Click() {}
void ControlStates::ToggleControls() {}
void ControlStates::UpdateRestoreMenu() {}

} // namespace ew
