#include "widgets/ResultsList.h"

#include "platform/MessageBoxes.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QSaveFile>

// What the operator can do with the lines: copy one or all, save them, and the context menu
// that offers these.

namespace ew {

void ResultsList::contextMenuEvent(QContextMenuEvent* event) {
    // From the keyboard the menu opens at the selected line (or the list's top) rather than
    // wherever the pointer happens to rest.
    QPoint at = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        const QRect row = visualRect(current_);
        const bool shown = current_ >= 0 && viewport()->rect().contains(row);
        at = viewport()->mapToGlobal(shown ? row.bottomLeft() : QPoint(0, 0));
    }
    QMenu* menu = contextMenu();
    const QList<QAction*> actions = menu->actions();
    actions.at(0)->setEnabled(current_ >= 0);
    for (QAction* a : actions.mid(1))
        a->setEnabled(count() > 0);
    // popup() rather than exec(): the window's timers and the pass go on while it is open.
    if (!menu->isVisible())
        menu->popup(at);
    event->accept();
}

QMenu* ResultsList::contextMenu() {
    if (menu_)
        return menu_;
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("mnuResults"));
    QAction* copyLine = menu_->addAction(tr("&Copy"), this, &ResultsList::copy);
    copyLine->setObjectName(QStringLiteral("mnuResultsCopy"));
    copyLine->setShortcut(QKeySequence::Copy); // shown beside the item; the list handles the key
    copyLine->setShortcutContext(Qt::WidgetShortcut);
    QAction* copyEvery = menu_->addAction(tr("Copy &All"), this, &ResultsList::copyAll);
    copyEvery->setObjectName(QStringLiteral("mnuResultsCopyAll"));
    menu_->addSeparator();
    QAction* save = menu_->addAction(tr("&Save As..."), this, &ResultsList::saveAs);
    save->setObjectName(QStringLiteral("mnuResultsSaveAs"));
    return menu_;
}

void ResultsList::copy() {
    if (current_ >= 0)
        QGuiApplication::clipboard()->setText(lines_.line(current_));
}

void ResultsList::copyAll() {
    if (count() == 0)
        return;
    // Line feeds between the lines, as the desktop's editors and terminals expect; no break
    // after the last, so that a paste into a terminal runs nothing by itself.
    QGuiApplication::clipboard()->setText(lines().join(QLatin1Char('\n')));
}

void ResultsList::saveAs() {
    const QString path = askSaveFileName_
                             ? askSaveFileName_(this)
                             : QFileDialog::getSaveFileName(
                                   this, QStringLiteral("Save As"), QString(),
                                   QStringLiteral("Text files (*.txt *.log);;All files (*)"));
    if (path.isEmpty())
        return;
    QByteArray out;
    for (const QString& l : lines()) // the log's encoding and line ends: they compare byte for byte
        out += l.toLocal8Bit() + "\r\n";
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(out) == out.size() && file.commit())
        return;
    const QString text =
        tr("Could not save the results to %1.").arg(QDir::toNativeSeparators(path));
    QtMessageBoxes qtBoxes;
    (messages_ ? *messages_ : qtBoxes)
        .show(this, text, QStringLiteral("EchoWarden"), MsgIcon::Critical, MsgButtons::Ok);
}

} // namespace ew
