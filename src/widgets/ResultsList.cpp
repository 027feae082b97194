#include "widgets/ResultsList.h"

#include "core/ResultMarks.h"

#include <QAccessible>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <utility>

namespace ew {

namespace {
constexpr int TextIndent = 2; // pixels left of the text

// A text shown over the lines, in a box with room around and inside it, so that it reads as a
// note rather than as a line.
void paintNotice(QPainter& painter, const QWidget& viewport, const QString& notice) {
    const int space = viewport.fontMetrics().height() / 2;
    const QRect room = viewport.rect().adjusted(space, space, -space, -space);
    const QRect text = viewport.fontMetrics().boundingRect(
        room.adjusted(space, space, -space, -space), Qt::AlignHCenter | Qt::TextWordWrap, notice);
    const QRect box = text.adjusted(-space, -space, space, space) & room;
    painter.fillRect(box, viewport.palette().brush(QPalette::Base));
    painter.setPen(viewport.palette().color(QPalette::Mid));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(viewport.palette().color(QPalette::Text));
    painter.drawText(text & box, Qt::AlignHCenter | Qt::TextWordWrap, notice);
}
} // namespace

ResultsList::ResultsList(QWidget* parent) : QAbstractScrollArea(parent) {
    QAccessible::installFactory(&ResultsList::accessible); // once: it keeps no twins
    setFocusPolicy(Qt::StrongFocus);
    // The lines are Latin letters, digits and marks: laid out without a shaper they look the
    // same, and a line costs a quarter of the time to lay out (most of drawing a new line).
    QFont plain;
    plain.setStyleStrategy(QFont::PreferNoShaping);
    setFont(plain);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);    // a row
    horizontalScrollBar()->setSingleStep(20); // pixels
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, &ResultsList::applyNow);
    shown_.start();
    // Screen readers hear of every change (updateAccessibility does nothing while none listens).
    connect(&lines_, &ResultLines::rowsInserted, this, [this](auto, int first, int last) {
        applyLater();
        QAccessibleTableModelChangeEvent event(this,
                                               QAccessibleTableModelChangeEvent::RowsInserted);
        event.setFirstRow(first);
        event.setLastRow(last);
        QAccessible::updateAccessibility(&event);
    });
    connect(&lines_, &ResultLines::rowsRemoved, this, &ResultsList::linesRemoved);
    connect(&lines_, &ResultLines::modelReset, this, &ResultsList::linesRemoved);
}

void ResultsList::linesRemoved() {
    if (current_ >= count())
        current_ = -1;
    widest_ = 0;
    shownCount_ = 0;
    applyNow();
    viewport()->update();
    QAccessibleTableModelChangeEvent event(this, QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
}

void ResultsList::setCurrentRow(int row) {
    const int previous = current_;
    current_ = row >= 0 && row < count() ? row : -1;
    follow_ = current_ >= 0;
    applyLater();
    if (current_ < 0 || current_ == previous || !QAccessible::isActive())
        return;
    QAccessibleInterface* item = QAccessible::queryAccessibleInterface(this)->child(current_);
    QAccessibleEvent selection(item, QAccessible::Selection), focus(item, QAccessible::Focus);
    QAccessible::updateAccessibility(&selection);
    if (hasFocus())
        QAccessible::updateAccessibility(&focus);
}

void ResultsList::applyLater() {
    if (!pace_.isActive()) // else what comes now shows with what waits
        pace_.start(static_cast<int>(std::max<qint64>(0, PaceMs - shown_.elapsed())));
}

void ResultsList::applyNow() {
    pace_.stop();
    shown_.start();
    QScrollBar* rows = verticalScrollBar();
    rows->setPageStep(fullRows());
    rows->setRange(0, std::max(0, count() - fullRows()));
    QScrollBar* columns = horizontalScrollBar();
    columns->setPageStep(viewport()->width());
    columns->setRange(0, std::max(0, widest_ + 2 * TextIndent - viewport()->width()));
    if (std::exchange(follow_, false) && current_ >= 0)
        rows->setValue(std::clamp(rows->value(), current_ - fullRows() + 1, current_));
    // Only what changed is drawn again: the rows that came and the selection that moved. The
    // rows already shown were moved with the scroll (scrollContentsBy).
    const int top = rows->value();
    const auto rowsFrom = [&](int first, int last) {
        first = std::max(first, top);
        last = std::min(last, top + fullRows());
        if (first <= last)
            viewport()->update(0, (first - top) * rowHeight(), viewport()->width(),
                               (last - first + 1) * rowHeight());
    };
    rowsFrom(shownCount_, count() - 1);
    for (const int row : {shownCurrent_, current_})
        rowsFrom(row, row);
    shownCount_ = count();
    shownCurrent_ = current_;
}

int ResultsList::topRow() const {
    if (pace_.isActive())
        const_cast<ResultsList*>(this)->applyNow();
    return verticalScrollBar()->value();
}

QRect ResultsList::visualRect(int row) const {
    return QRect(0, (row - topRow()) * rowHeight(), viewport()->width(), rowHeight());
}

void ResultsList::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int h = rowHeight();
    const int top = verticalScrollBar()->value();
    const int last = std::min(count() - 1, top + fullRows());
    // The rows the event asks for; the others keep their pixels.
    const int first = top + event->rect().top() / h;
    const int end = std::min(last, top + event->rect().bottom() / h);
    const int x = TextIndent - horizontalScrollBar()->value();
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    for (int row = first; row <= end; ++row) {
        const QRect rect(0, (row - top) * h, viewport()->width(), h);
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
        // A reply line opens with character 26, which our fonts draw as a box: an arrow is
        // drawn in its place. The line keeps it: copies, saved files and the log must match.
        QString shown = lines_.line(row);
        if (shown.startsWith(QChar(ReplyMark)))
            shown[0] = QChar(char16_t(0x2192));
        // Laid out as it is drawn: rows already shown keep their pixels as the lines scroll.
        QStaticText text(shown);
        text.setTextFormat(Qt::PlainText);
        painter.drawStaticText(QPointF(x, rect.y() + RowPadding / 2), text);
        if (const int width = qCeil(text.size().width()); width > widest_) {
            widest_ = width;
            applyLater(); // not while painting: a scroll bar that comes lays the area out again
        }
    }
    if (!notice_.isEmpty())
        paintNotice(painter, *viewport(), notice_);
}

void ResultsList::setNotice(const QString& text) {
    if (text == notice_)
        return;
    notice_ = text;
    viewport()->update(); // and what lay under the notice
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

void ResultsList::resizeEvent(QResizeEvent* event) {
    // A selected row that was wholly in view stays so: the horizontal scroll bar coming under
    // the newest line must not hide it.
    const int top = topRow(), shownRows = std::max(1, event->oldSize().height() / rowHeight());
    follow_ = follow_ || (current_ >= top && current_ < top + shownRows);
    QAbstractScrollArea::resizeEvent(event);
    applyNow(); // the viewport is drawn whole when its size changes
}

void ResultsList::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        widest_ = 0;
        applyNow();
        viewport()->update();
    }
}

void ResultsList::scrollContentsBy(int dx, int dy) {
    // The lines shown move with their pixels, and only the rows that come into view are drawn;
    // the notice stays where it is while the lines move under it, so with one all is drawn.
    if (notice_.isEmpty())
        viewport()->scroll(dx, dy * rowHeight());
    else
        viewport()->update();
}

void ResultsList::mousePressEvent(QMouseEvent* event) {
    const int row = topRow() + static_cast<int>(event->position().y()) / rowHeight();
    if (row < count()) {
        setCurrentRow(row);
        applyNow();
    }
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
    const int row = std::max(current_, 0), page = fullRows(), end = count() - 1;
    const QHash<int, int> to = {{Qt::Key_Up, row - 1},
                                {Qt::Key_Down, current_ + 1},
                                {Qt::Key_PageUp, row - page},
                                {Qt::Key_PageDown, row + page},
                                {Qt::Key_Home, 0},
                                {Qt::Key_End, end}};
    if (count() == 0 || !to.contains(event->key()))
        return QAbstractScrollArea::keyPressEvent(event);
    setCurrentRow(std::clamp(to.value(event->key()), 0, end));
    applyNow();
    event->accept();
}

} // namespace ew
