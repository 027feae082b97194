#include "widgets/ResultsList.h"

#include "core/ResultMarks.h"

#include "widgets/ResultsListAccessible.h"
#include "widgets/RowScrollBar.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>
#include <mutex>
#include <utility>

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
constexpr char16_t RightArrow = 0x2192;
} // namespace

ResultsList::ResultsList(QWidget* parent) : QAbstractScrollArea(parent) {
    static std::once_flag accessibleFactory;
    std::call_once(accessibleFactory,
                   [] { QAccessible::installFactory(&ResultsListAccessible::create); });

    setVerticalScrollBar(new RowScrollBar(Qt::Vertical, this));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(HorizontalStep);
    resetMetrics();
    verticalScrollBar()->setRange(0, 0);
    askSaveFileName_ = &ResultsList::askSaveFileNameWithDialog;
}

ResultsList::~ResultsList() = default;

void ResultsList::addLine(const QString& line) {
    lines_.append(line);
    const int width = lineWidth(line);
    if (width > widest_) {
        widest_ = width;
        updateHorizontalRange();
    }
    applyLater(true);
    const int row = count() - 1;
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
    appliedCount_ = 0;
    current_ = -1;
    unselected_ = -1;
    kept_ = {};
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
    kept_ = {};
    appliedCount_ = std::min(appliedCount_, rows);
    if (current_ >= rows)
        current_ = -1;
    if (unselected_ >= rows)
        unselected_ = -1;
    updateScrollRange();
    viewport()->update();
}

void ResultsList::setCurrentRow(int row) {
    const int previous = current_;
    current_ = row >= 0 && row < count() ? row : -1;
    // A line still to be applied is selected as it shows: nothing is drawn before, and the row
    // selected until then is drawn plain where the scroll that brings the line in leaves it.
    const bool waits = applyPending_ && current_ >= appliedCount_;
    if (current_ >= 0) {
        follow_ = true;
        if (!waits)
            applyLater();
    }
    if (previous == current_)
        return;
    if (waits) {
        if (unselected_ < 0)
            unselected_ = previous;
    } else {
        updateRow(previous);
        updateRow(current_);
    }
    if (current_ >= 0) {
        notifyAccessible(current_, QAccessible::Selection);
        if (hasFocus())
            notifyAccessible(current_, QAccessible::Focus);
    }
}

int ResultsList::topRow() const {
    const_cast<ResultsList*>(this)->applyPending();
    return shownTop();
}

int ResultsList::shownTop() const {
    return verticalScrollBar()->value();
}

QRect ResultsList::visualRect(int row) const {
    const_cast<ResultsList*>(this)->applyPending();
    return rowRect(row);
}

QRect ResultsList::rowRect(int row) const {
    const int h = rowHeight();
    return QRect(0, (row - shownTop()) * h, viewport()->width(), h);
}

void ResultsList::applyLater(bool paced) {
    applyPending_ = true;
    if (applyQueued_ || (paced && !pace_.mayShow()))
        return;
    applyQueued_ = true; // what waits for the pace comes with it: applyPending stops its timer
    // Before the repaint, which Qt posts at a lower priority.
    QMetaObject::invokeMethod(this, &ResultsList::applyPending, Qt::QueuedConnection);
}

void ResultsList::applyPending() {
    applyQueued_ = false;
    if (!applyPending_)
        return;
    pace_.cancel();
    applyPending_ = false;
    auto* bar = static_cast<RowScrollBar*>(verticalScrollBar());
    bar->hold();
    updateScrollRange();
    if (follow_ && current_ >= 0)
        scrollToRow(current_);
    bar->release();
    follow_ = false;
    if (unselected_ >= 0)
        updateRow(std::exchange(unselected_, -1));
    // The new lines in view: after the scroll, which moved what was drawn.
    const int first = std::max(appliedCount_, shownTop());
    const int last = std::min(count() - 1, shownTop() + fullRows());
    for (int row = first; row <= last; ++row) {
        if (row == current_ && overKept_)
            updateOverKept(row);
        else
            updateRow(row);
    }
    overKept_ = false;
    appliedCount_ = count();
}

// The newly selected line in the last whole row, over the selected line that a scroll left
// there: only where their texts differ.
void ResultsList::updateOverKept(int row) {
    const auto span =
        kept_.row >= 0 && kept_.row < count()
            ? advances_.changed(displayText(lines_.at(kept_.row)), displayText(lines_.at(row)))
            : std::nullopt;
    if (!span)
        return updateRow(row);
    const int x = TextIndent - horizontalScrollBar()->value();
    const QRect rect = rowRect(row);
    viewport()->update(
        QRect(QPoint(x + span->first, rect.top()), QPoint(x + span->second, rect.bottom())) & rect);
    markPending(row); // a later scroll before the paint marks the whole row again
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
    const int maximum = std::max(0, count() - rows);
    // A new range makes the scroll area lay out its scroll bars and viewport again, on a queued
    // call. That matters only when the bar comes or goes, not for each of a long list's lines.
    const bool sameNeed = (maximum > 0) == (bar->maximum() > 0) && bar->value() <= maximum;
    const QSignalBlocker quiet(sameNeed ? bar : nullptr);
    bar->setRange(0, maximum);
}

void ResultsList::updateHorizontalRange() {
    QScrollBar* bar = horizontalScrollBar();
    const int page = viewport()->width();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, widest_ + 2 * TextIndent - page));
}

void ResultsList::scrollToRow(int row) {
    const int top = shownTop();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + fullRows())
        verticalScrollBar()->setValue(row - fullRows() + 1);
}

bool ResultsList::rowInView(int row) const {
    const int top = shownTop();
    return row >= top && row <= top + fullRows();
}

void ResultsList::updateRow(int row) {
    // A line not yet applied is drawn when it is, after the scroll that brings it into view.
    if (row < 0 || (applyPending_ && row >= appliedCount_) || !rowInView(row))
        return;
    viewport()->update(rowRect(row));
    markPending(row);
}

void ResultsList::markPending(int row) {
    if (pendingRows_.size() < pendingRows_.capacity())
        pendingRows_.append(row);
    else
        pendingOverflow_ = true;
}

void ResultsList::paintEvent(QPaintEvent* event) {
    paintedCount_ = count();
    pendingRows_.clear();
    pendingOverflow_ = false;
    QPainter painter(viewport());
    const int h = rowHeight();
    const int width = viewport()->width();
    const int top = shownTop();
    const QRect dirty = event->rect();
    const int first = top + dirty.top() / h;
    const int last = std::min(count() - 1, top + dirty.bottom() / h);
    const int x = TextIndent - horizontalScrollBar()->value();
    const int baseline = RowPadding / 2 + fontMetrics().ascent();
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
        // Drawn at a baseline rather than into a rectangle: one line needs no text layout. Kept
        // glyphs rather than drawText or a QStaticText: in a program that wakes once a second
        // to draw a line or two, text shaping is most of the paint (measured, bench_operator).
        glyphs_.draw(painter, QPointF(x, rect.y() + baseline), displayText(lines_.at(row)));
    }
    if (!notice_.isEmpty() && dirty.intersects(noticeRect()))
        paintNotice(painter);
    // What the last whole row shows now, with all that was asked drawn.
    const int lastWhole = top + fullRows() - 1;
    kept_ = lastWhole == current_ && lastWhole < count()
                ? Kept{current_, hasFocus(), horizontalScrollBar()->value(), width}
                : Kept{};
}

void ResultsList::setNotice(const QString& text) {
    if (text == notice_)
        return;
    notice_ = text;
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QRect ResultsList::noticeRect(QRect* textRect) const {
    // Room around the box and inside it, so it reads as a note rather than as a line.
    const int space = fontMetrics().height() / 2;
    const QRect room = viewport()->rect().adjusted(space, space, -space, -space);
    const QRect text = fontMetrics().boundingRect(room.adjusted(space, space, -space, -space),
                                                  Qt::AlignHCenter | Qt::TextWordWrap, notice_);
    if (textRect)
        *textRect = text;
    return text.adjusted(-space, -space, space, space).intersected(room);
}

void ResultsList::paintNotice(QPainter& painter) const {
    QRect text;
    const QRect box = noticeRect(&text);
    painter.fillRect(box, palette().brush(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(text & box, Qt::AlignHCenter | Qt::TextWordWrap, notice_);
}

void ResultsList::resizeEvent(QResizeEvent* event) {
    // A selected row that was wholly in view stays so: the horizontal scroll bar appearing
    // under the newest line must not hide it.
    applyPending();
    const int oldRows = std::max(1, event->oldSize().height() / rowHeight());
    const bool keep = current_ >= shownTop() && current_ < shownTop() + oldRows;
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
        viewport()->update();
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
    // The notice stays where it is while the lines move under it.
    overKept_ = false;
    if (pendingOverflow_ || !notice_.isEmpty() || std::abs(shift) >= viewport()->height() ||
        std::abs(dx) >= viewport()->width()) {
        viewport()->update();
        return;
    }
    // Following the newest line, the strip under the last whole row shows no line before the
    // scroll nor after it: only the whole rows move, and the strip is not drawn again.
    // When the selected line was in the last whole row and the new selected line comes there,
    // that row keeps its pixels, highlight and all: the new line is drawn over the old one
    // where their texts differ, and only the rows above move.
    const int lastWhole = fullRows() - 1;
    const int top = shownTop();
    if (dy < 0 && dx == 0 && top + dy + fullRows() >= paintedCount_ &&
        top + fullRows() >= count()) {
        overKept_ = kept_.row >= 0 && kept_.row == top + dy + lastWhole &&
                    current_ == top + lastWhole && current_ >= appliedCount_ && -dy < lastWhole &&
                    kept_.focus == hasFocus() && kept_.x == horizontalScrollBar()->value() &&
                    kept_.width == viewport()->width();
        const int moved = overKept_ ? lastWhole : fullRows();
        viewport()->scroll(0, shift, QRect(0, 0, viewport()->width(), moved * rowHeight()));
        if (!overKept_)
            kept_ = {};
    } else {
        viewport()->scroll(dx, shift);
        kept_ = {};
    }
    const QVarLengthArray<int, 4> pending = pendingRows_;
    pendingRows_.clear();
    for (const int row : pending)
        updateRow(row);
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

int ResultsList::charAdvance(QChar c) {
    return advances_.of(c.unicode() == ReplyMark ? RightArrow : c.unicode());
}

int ResultsList::lineWidth(const QString& line) {
    int width = 0;
    for (const QChar c : line)
        width += charAdvance(c);
    return width;
}

int ResultsList::rowHeight() const {
    if (rowHeight_ == 0)
        rowHeight_ = fontMetrics().height() + RowPadding;
    return rowHeight_;
}

void ResultsList::resetMetrics() {
    rowHeight_ = 0;
    advances_.reset();
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
