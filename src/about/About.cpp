#include "about/About.h"

#include "about/frmAbout.h"
#include "settings/Settings.h"
#include "tooltips/ToolTips.h"
#include <QAction>

namespace ew {

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
        centreOverMainWindow();
    }
    box_->show();
    // Shown, the box has a frame of its own and the place can be exact.
    if (fresh)
        centreOverMainWindow();
    box_->raise();
    box_->activateWindow();
}

void About::centreOverMainWindow() {
    // Until the box has a frame of its own, the main window's shows what the window manager
    // adds around it.
    QSize outer = box_->frameGeometry().size();
    if (outer == box_->size())
        outer += window_.frameGeometry().size() - window_.geometry().size();
    QRect place(QPoint(), outer);
    place.moveCenter(window_.frameGeometry().center());
    box_->move(place.topLeft());
}

frmAbout* About::box() const {
    return box_;
}

} // namespace ew
