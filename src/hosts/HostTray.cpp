#include "hosts/HostTray.h"

#include "hosts/HostMarks.h"

#include <QPushButton>
#include <QSystemTrayIcon>

namespace ew {

HostTray::HostTray(Buttons buttons, QWidget& window)
    : buttons_(buttons), window_(window), icon_(new QSystemTrayIcon(this)) {
    pingStop_ = menu_.addAction(buttons_.start.text());
    connect(pingStop_, &QAction::triggered, this,
            [this] { (buttons_.start.isEnabled() ? buttons_.start : buttons_.stop).click(); });
    connect(menu_.addAction(tr("Show")), &QAction::triggered, this, &HostTray::raiseWindow);
    menu_.addSeparator();
    connect(menu_.addAction(buttons_.exit.text()), &QAction::triggered, &buttons_.exit,
            &QPushButton::click);
    connect(&menu_, &QMenu::aboutToShow, this, &HostTray::updateMenu);
    icon_->setContextMenu(&menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            raiseWindow();
    });
    show(false, false, QString());
    icon_->show();
}

HostTray::~HostTray() {
    icon_->setContextMenu(nullptr);
}

void HostTray::show(bool monitoring, bool someDown, const QString& tip) {
    icon_->setIcon(trayMark(window_.windowIcon(), monitoring, someDown));
    icon_->setToolTip(tip.isEmpty() ? window_.windowTitle() : tip);
}

void HostTray::updateMenu() {
    // One item for the two buttons: whichever the window would let the operator press.
    QPushButton* button = buttons_.start.isEnabled() ? &buttons_.start : &buttons_.stop;
    pingStop_->setText(button->text());
    pingStop_->setEnabled(button->isEnabled());
}

void HostTray::raiseWindow() {
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.show();
    window_.raise();
    window_.activateWindow();
}

} // namespace ew
