#include "widgets/ResultsList.h"

#include "platform/MessageBoxes.h"
#include "widgets/ResultsListAccessible.h"

#include <QAccessible>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <mutex>

namespace ew {

namespace {
// Pixels between a row's text and its neighbours and the left edge.
constexpr int RowPadding = 2;
constexpr int TextIndent = 2;
// A horizontal step of the scroll bar's arrows.
constexpr int HorizontalStep = 20;

// The reply mark opens every reply line. The font the list was designed with drew it as a
// right arrow; ours would show a box, so the arrow is drawn in its place. The text itself
// keeps the mark: copies, saved files and the log must match each other.
constexpr char16_t ReplyMark = 0x001A;
constexpr char16_t RightArrow = 0x2192;

// Saved files end each line like the log file does.
constexpr char LineEnd[] = "\r\n";

const char* const SaveTitle = "Save As";
const char* const SaveFilter = "Text files (*.txt *.log);;All files (*)";
const char* const AppTitle = "EchoWarden";
} // namespace

ResultsList::ResultsList(QWidget* parent) : QAbstractScrollArea(parent) {
    static std::once_flag accessibleFactory;
    std::call_once(accessibleFactory,
                   [] { QAccessible::installFactory(&ResultsListAccessible::create); });

    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(HorizontalStep);
    resetMetrics();
    updateScrollRange();
    askSaveFileName_ = [](QWidget* parentWidget) {
        return QFileDialog::getSaveFileName(parentWidget, QString::fromLatin1(SaveTitle), QString(),
                                            QString::fromLatin1(SaveFilter));
    };
}

ResultsList::~ResultsList() = default;

void ResultsList::addLine(const QString& line) {
    lines_.append(line);
    const int width = lineWidth(line);
    if (width > widest_) {
        widest_ = width;
        updateHorizontalRange();
    }
    updateScrollRange();
    const int row = count() - 1;
    updateRow(row);
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this,
                                               QAccessibleTableModelChangeEvent::RowsInserted);
        event.setFirstRow(row);
        event.setLastRow(row);
        QAccessible::updateAccessibility(&event);
    }
}

void ResultsList::clear() {
    lines_.clear();
    current_ = -1;
    widest_ = 0;
    updateHorizontalRange();
    updateScrollRange();
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&event);
    }
}

void ResultsList::truncate(int rows) {
    if (rows < 0 || rows >= count())
        return;
    lines_.resize(rows);
    if (current_ >= rows)
        current_ = -1;
    updateScrollRange();
    viewport()->update();
}

void ResultsList::setCurrentRow(int row) {
    const int previous = current_;
    current_ = row >= 0 && row < count() ? row : -1;
    if (current_ >= 0)
        scrollToRow(current_);
    if (previous == current_)
        return;
    updateRow(previous);
    updateRow(current_);
    if (current_ >= 0) {
        notifyAccessible(current_, QAccessible::Selection);
        if (hasFocus())
            notifyAccessible(current_, QAccessible::Focus);
    }
}

int ResultsList::topRow() const {
    return verticalScrollBar()->value();
}

int ResultsList::rowHeight() const {
    return fontMetrics().height() + RowPadding;
}

QRect ResultsList::visualRect(int row) const {
    const int h = rowHeight();
    return QRect(0, (row - topRow()) * h, viewport()->width(), h);
}

QString ResultsList::displayText(const QString& line) {
    if (!line.startsWith(QChar(ReplyMark)))
        return line;
    QString shown = line;
    shown[0] = QChar(RightArrow);
    return shown;
}

int ResultsList::fullRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

void ResultsList::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int rows = fullRows();
    if (bar->pageStep() != rows)
        bar->setPageStep(rows);
    bar->setRange(0, std::max(0, count() - rows));
}

void ResultsList::updateHorizontalRange() {
    QScrollBar* bar = horizontalScrollBar();
    const int page = viewport()->width();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, widest_ + 2 * TextIndent - page));
}

void ResultsList::scrollToRow(int row) {
    const int top = topRow();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + fullRows())
        verticalScrollBar()->setValue(row - fullRows() + 1);
}

bool ResultsList::rowInView(int row) const {
    const int top = topRow();
    return row >= top && row <= top + fullRows();
}

void ResultsList::updateRow(int row) {
    if (row < 0 || !rowInView(row))
        return;
    viewport()->update(visualRect(row));
    repaintPending_ = true;
}

void ResultsList::paintEvent(QPaintEvent* event) {
    repaintPending_ = false;
    QPainter painter(viewport());
    const int h = rowHeight();
    const int width = viewport()->width();
    const int top = topRow();
    const QRect dirty = event->rect();
    const int first = top + dirty.top() / h;
    const int last = std::min(count() - 1, top + dirty.bottom() / h);
    const int x = TextIndent - horizontalScrollBar()->value();
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    for (int row = first; row <= last; ++row) {
        const QRect rect(0, (row - top) * h, width, h);
        const bool selected = row == current_;
        if (selected) {
            painter.fillRect(rect, palette().brush(group, QPalette::Highlight));
            if (hasFocus()) {
                QStyleOptionFocusRect focus;
                focus.initFrom(this);
                focus.rect = rect;
                focus.backgroundColor = palette().color(group, QPalette::Highlight);
                style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
            }
        }
        painter.setPen(
            palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QRect(x, rect.y(), widest_ + width, h), Qt::AlignLeft | Qt::AlignVCenter,
                         displayText(lines_.at(row)));
    }
}

void ResultsList::resizeEvent(QResizeEvent* event) {
    // A selected row that was wholly in view stays so: the horizontal scroll bar appearing
    // under the newest line must not hide it.
    const int oldRows = std::max(1, event->oldSize().height() / rowHeight());
    const bool keep = current_ >= topRow() && current_ < topRow() + oldRows;
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    updateHorizontalRange();
    if (keep)
        scrollToRow(current_);
}

void ResultsList::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        resetMetrics();
        updateScrollRange();
        updateHorizontalRange();
    }
}

void ResultsList::focusInEvent(QFocusEvent* event) {
    // Only the selected row looks different with the focus.
    updateRow(current_);
    QWidget::focusInEvent(event);
}

void ResultsList::focusOutEvent(QFocusEvent* event) {
    updateRow(current_);
    QWidget::focusOutEvent(event);
}

void ResultsList::scrollContentsBy(int dx, int dy) {
    // dy counts rows, dx pixels. Move what is drawn and let only the uncovered strip repaint,
    // unless nothing drawn would stay in view.
    const int shift = dy * rowHeight();
    if (repaintPending_ || std::abs(shift) >= viewport()->height() ||
        std::abs(dx) >= viewport()->width())
        viewport()->update();
    else
        viewport()->scroll(dx, shift);
}

void ResultsList::mousePressEvent(QMouseEvent* event) {
    const int row = topRow() + static_cast<int>(event->position().y()) / rowHeight();
    if (row < count())
        setCurrentRow(row);
    event->accept();
}

void ResultsList::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return event->accept();
    }
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos());
        contextMenuEvent(&menuEvent);
        return event->accept();
    }
    if (count() == 0)
        return QAbstractScrollArea::keyPressEvent(event);
    const int row = std::max(current_, 0);
    switch (event->key()) {
    case Qt::Key_Up:
        setCurrentRow(std::max(0, row - 1));
        break;
    case Qt::Key_Down:
        setCurrentRow(std::min(count() - 1, current_ + 1));
        break;
    case Qt::Key_PageUp:
        setCurrentRow(std::max(0, row - fullRows()));
        break;
    case Qt::Key_PageDown:
        setCurrentRow(std::min(count() - 1, row + fullRows()));
        break;
    case Qt::Key_Home:
        setCurrentRow(0);
        break;
    case Qt::Key_End:
        setCurrentRow(count() - 1);
        break;
    default:
        return QAbstractScrollArea::keyPressEvent(event);
    }
    event->accept();
}

void ResultsList::contextMenuEvent(QContextMenuEvent* event) {
    // From the keyboard the menu opens at the selected line (or the list's top) rather than
    // wherever the pointer happens to rest.
    QPoint at = event->globalPos();
    if (event->reason() != QContextMenuEvent::Mouse) {
        const QRect row = current_ >= 0 && rowInView(current_) ? visualRect(current_) : QRect();
        at = viewport()->mapToGlobal(row.isNull() ? QPoint(0, 0) : row.bottomLeft());
    }
    popupMenu(at);
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

void ResultsList::popupMenu(const QPoint& globalPos) {
    QMenu* menu = contextMenu();
    if (menu->isVisible())
        return;
    const QList<QAction*> actions = menu->actions();
    actions.at(0)->setEnabled(current_ >= 0);
    for (QAction* a : actions.mid(1))
        a->setEnabled(count() > 0);
    // popup() rather than exec(): the window's timers and the pass go on while it is open.
    menu->popup(globalPos);
}

void ResultsList::copy() {
    if (current_ >= 0)
        QGuiApplication::clipboard()->setText(lines_.at(current_));
}

void ResultsList::copyAll() {
    if (count() == 0)
        return;
    // Line feeds between the lines, as the desktop's editors and terminals expect; no break
    // after the last, so that a paste into a terminal runs nothing by itself.
    QGuiApplication::clipboard()->setText(lines_.join(QLatin1Char('\n')));
}

void ResultsList::saveAs() {
    const QString path = askSaveFileName_ ? askSaveFileName_(this) : QString();
    if (path.isEmpty() || saveTo(path))
        return;
    const QString text =
        tr("Could not save the results to %1.").arg(QDir::toNativeSeparators(path));
    if (messages_) {
        messages_->show(this, text, QString::fromLatin1(AppTitle), MsgIcon::Critical,
                        MsgButtons::Ok);
    } else {
        QtMessageBoxes boxes;
        boxes.show(this, text, QString::fromLatin1(AppTitle), MsgIcon::Critical, MsgButtons::Ok);
    }
}

bool ResultsList::saveTo(const QString& path) const {
    QByteArray out;
    for (const QString& l : lines_) {
        // The log's own encoding, so a saved list and the log compare byte for byte.
        out += l.toLocal8Bit();
        out += LineEnd;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(out) == out.size() && file.commit();
}

int ResultsList::charAdvance(QChar c) {
    const char16_t code = c.unicode() == ReplyMark ? RightArrow : c.unicode();
    if (code < latin1Advances_.size()) {
        int& advance = latin1Advances_[code];
        if (advance < 0)
            advance = fontMetrics().horizontalAdvance(QChar(code));
        return advance;
    }
    const auto found = otherAdvances_.constFind(code);
    if (found != otherAdvances_.constEnd())
        return *found;
    const int advance = fontMetrics().horizontalAdvance(QChar(code));
    otherAdvances_.insert(code, advance);
    return advance;
}

int ResultsList::lineWidth(const QString& line) {
    int width = 0;
    for (const QChar c : line)
        width += charAdvance(c);
    return width;
}

void ResultsList::resetMetrics() {
    latin1Advances_.fill(-1);
    otherAdvances_.clear();
    widest_ = 0;
    for (const QString& l : std::as_const(lines_))
        widest_ = std::max(widest_, lineWidth(l));
}

void ResultsList::notifyAccessible(int row, int eventType) {
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this);
    QAccessibleInterface* item = list ? list->child(row) : nullptr;
    if (!item)
        return;
    QAccessibleEvent event(item, static_cast<QAccessible::Event>(eventType));
    QAccessible::updateAccessibility(&event);
}

} // namespace ew
