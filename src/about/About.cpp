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
