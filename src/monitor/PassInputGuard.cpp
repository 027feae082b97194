#include "monitor/PassInputGuard.h"

#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QShortcutEvent>

namespace ew {

namespace {

bool isInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

bool isMouse(QEvent::Type type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove;
}

QPoint mousePos(QEvent* event) {
    return static_cast<QMouseEvent*>(event)->position().toPoint();
}

} // namespace

PassInputGuard::PassInputGuard(Ui::frmEchoWarden& ui) : ui_(ui) {}

PassInputGuard::~PassInputGuard() {
    release();
}

void PassInputGuard::engage() {
    if (engaged_ || !qApp)
        return;
    modalBefore_ = QApplication::activeModalWidget();
    qApp->installEventFilter(this);
    engaged_ = true;
}

void PassInputGuard::release() {
    if (!engaged_)
        return;
    if (qApp)
        qApp->removeEventFilter(this);
    engaged_ = false;
}

bool PassInputGuard::eventFilter(QObject* watched, QEvent* event) {
    return isInput(event->type()) && !allowed(watched, event);
}

bool PassInputGuard::allowed(QObject* receiver, QEvent* event) const {
    const QEvent::Type type = event->type();
    // The window system's windows hand their input on to the widget under the pointer or with
    // the focus, which is judged then.
    if (receiver->isWindowType())
        return true;
    if (receiver == ui_.cmdStopPing || receiver == ui_.cmdExit)
        return true;
    QWidget* const modal = QApplication::activeModalWidget();
    if (modal && modal != modalBefore_ && receiver->isWidgetType() &&
        static_cast<QWidget*>(receiver)->window() == modal)
        return true;
    // Hovering changes nothing, except over the menu bar, where it would open another menu
    // while File is open.
    if (type == QEvent::MouseMove && receiver != ui_.menubar)
        return true;

    QAction* const fileMenu = ui_.mnuFile->menuAction();
    if (type == QEvent::Shortcut) {
        const auto* shortcut = static_cast<QShortcutEvent*>(event);
        return receiver == ui_.mnuExit ||
               (receiver == ui_.menubar &&
                shortcut->key() == QKeySequence::mnemonic(ui_.mnuFile->title()));
    }

    if (receiver == ui_.menubar) {
        if (isMouse(type)) {
            QAction* over = ui_.menubar->actionAt(mousePos(event));
            return over == nullptr || over == fileMenu;
        }
        return (type == QEvent::KeyPress || type == QEvent::KeyRelease) &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    }

    if (receiver == ui_.mnuFile) {
        if (isMouse(type)) {
            QAction* over = ui_.mnuFile->actionAt(mousePos(event));
            return over == nullptr || over == ui_.mnuExit;
        }
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
            return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Escape:
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            return ui_.mnuFile->activeAction() == ui_.mnuExit;
        default:
            // Exit's own access key.
            return static_cast<QKeyEvent*>(event)->key() ==
                   QKeySequence::mnemonic(ui_.mnuExit->text())[0].key();
        }
    }
    return false;
}

} // namespace ew
