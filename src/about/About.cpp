#include "about/About.h"

#include "core/ProgramState.h"
#include "platform/Launcher.h"
#include "platform/MessageBoxes.h"
#include "platform/SystemDirs.h"
#include "platform/WindowProbe.h"
#include "settings/Settings.h"
#include "tooltips/ToolTips.h"
#include "ui_frmAbout.h"

#include <QAction>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>

namespace ew {

namespace {

const QString kAppTitle = QStringLiteral("EchoWarden");
const QString kSysInfoUnavailable =
    QStringLiteral("System Information Is Unavailable At This Time");

// Graphical system-information viewers of the common Linux desktops, as their Debian
// packages install them in /usr/bin.
const QStringList kSysInfoPrograms = {
    QStringLiteral("hardinfo2"),   // HardInfo2
    QStringLiteral("hardinfo"),    // HardInfo (package hardinfo)
    QStringLiteral("kinfocenter"), // KDE Info Center
    QStringLiteral("lshw-gtk"),    // hardware lister (package lshw-gtk)
    QStringLiteral("cpu-x"),       // CPU-X
};

const QStringList kTitleFamilies = {QStringLiteral("Bookman Old Style"),
                                    QStringLiteral("URW Bookman"), QStringLiteral("URW Bookman L"),
                                    QStringLiteral("TeX Gyre Bonum")};
constexpr int kTitlePointSize = 24;
constexpr int kTitleMinPointSize = 16;
constexpr double kDescriptionPointSize = 9.75;

constexpr QSize kPictureSize(24, 22);

// The program's emblem (a dark blue tile with an echo arc over a dot) at the picture's size.
QPixmap emblem() {
    QPixmap pixmap(kPictureSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0.5, 0.5, kPictureSize.width() - 1.0, kPictureSize.height() - 1.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x4e, 0x79));
    p.drawRoundedRect(tile, 4, 4);
    const QColor echo(0x9f, 0xe8, 0x70);
    const QPointF centre(tile.center().x(), tile.center().y() + 2);
    p.setBrush(echo);
    p.drawEllipse(centre, 2.2, 2.2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(echo, 1.6));
    for (const double r : {5.5, 8.5})
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    return pixmap;
}

} // namespace

frmAbout::frmAbout(const ProgramState& state, Launcher& launcher, MessageBoxes& messages,
                   QWidget* parent)
    : QDialog(parent, FixedDialog), ui_(std::make_unique<Ui::frmAbout>()), state_(state),
      launcher_(launcher), messages_(messages) {
    ui_->setupUi(this);
    setFixedSize(size());
    setAttribute(Qt::WA_DeleteOnClose);

    QFont title = ui_->lblTitle->font();
    title.setFamilies(kTitleFamilies);
    title.setStyleHint(QFont::Serif);
    title.setPointSize(kTitlePointSize);
    title.setWeight(QFont::DemiBold);
    // A stand-in for the design's face may run wider; step it down until the title fits.
    while (title.pointSize() > kTitleMinPointSize &&
           QFontMetrics(title).horizontalAdvance(ui_->lblTitle->text()) > ui_->lblTitle->width())
        title.setPointSize(title.pointSize() - 1);
    ui_->lblTitle->setFont(title);
    QFont description = ui_->lblDescription->font();
    description.setFamily(ui_->lblVersion->font().family());
    description.setPointSizeF(kDescriptionPointSize);
    ui_->lblDescription->setFont(description);
    ui_->picIcon->setPixmap(emblem());

    connect(ui_->cmdOK, &QPushButton::clicked, this, &QWidget::close);
    connect(ui_->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

frmAbout::~frmAbout() = default;

void frmAbout::cmdSysInfo_Click() {
    const QString dir = state_.windowsDir.isEmpty() ? systemProgramDir() : state_.windowsDir;
    for (const QString& name : kSysInfoPrograms) {
        const QFileInfo program(dir + name);
        if (!program.isFile() || !program.isExecutable())
            continue;
        if (launcher_.start(program.filePath(), {}))
            return;
        break;
    }
    messages_.show(this, kSysInfoUnavailable, kAppTitle, MsgIcon::None, MsgButtons::Ok);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui_->cmdOK->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void EtchedLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(0, 0, width(), 1, QColor(128, 128, 128));
    p.fillRect(0, 1, width(), 2, Qt::white);
}

About::About(QWidget& window, ProgramState& state, Settings& settings, ToolTips& tips,
             Launcher& launcher, MessageBoxes& messages)
    : window_(window), state_(state), settings_(settings), tips_(tips), launcher_(launcher),
      messages_(messages) {
    if (auto* menu = window_.findChild<QAction*>(QStringLiteral("mnuAbout")))
        connect(menu, &QAction::triggered, this, &About::mnuAbout_Click);
}

About::~About() {
    delete box_.data();
}

void About::mnuAbout_Click() {
    settings_.cmdSave_Click();
    // The box tells the operator how to use the tips; they stay off until something switches
    // the polling on again.
    tips_.unload();
    const bool fresh = !box_;
    if (fresh) {
        box_ = new frmAbout(state_, launcher_, messages_, &window_);
        centreFrame(*box_, window_, window_.frameGeometry());
    }
    box_->show();
    // Shown, the box has a frame of its own and the place can be exact.
    if (fresh)
        centreFrame(*box_, window_, window_.frameGeometry());
    box_->raise();
    box_->activateWindow();
}

} // namespace ew
