#include "widgets/ResultsList.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

namespace ew {

namespace {
// Pixels between a row's text and its neighbours and the left edge.
constexpr int RowPadding = 2;
constexpr int TextIndent = 2;
} // namespace

ResultsList::ResultsList(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(1);
    updateScrollRange();
}

void ResultsList::addLine(const QString& line) {
    lines_.append(line);
    updateScrollRange();
    if (rowInView(count() - 1))
        viewport()->update();
}

void ResultsList::clear() {
    lines_.clear();
    current_ = -1;
    updateScrollRange();
    viewport()->update();
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
    current_ = row >= 0 && row < count() ? row : -1;
    if (current_ >= 0)
        scrollToRow(current_);
    viewport()->update();
}

int ResultsList::topRow() const {
    return verticalScrollBar()->value();
}

int ResultsList::rowHeight() const {
    return fontMetrics().height() + RowPadding;
}

int ResultsList::fullRows() const {
    return std::max(1, viewport()->height() / rowHeight());
}

void ResultsList::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(fullRows());
    bar->setRange(0, std::max(0, count() - fullRows()));
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

void ResultsList::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int h = rowHeight();
    const int width = viewport()->width();
    const int top = topRow();
    const int last = std::min(count() - 1, top + fullRows());
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    for (int row = top; row <= last; ++row) {
        const QRect rect(0, (row - top) * h, width, h);
        const bool selected = row == current_;
        if (selected)
            painter.fillRect(rect, palette().brush(group, QPalette::Highlight));
        painter.setPen(
            palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(rect.adjusted(TextIndent, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         lines_.at(row));
    }
}

void ResultsList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void ResultsList::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateScrollRange();
}

void ResultsList::scrollContentsBy(int, int) {
    viewport()->update();
}

void ResultsList::mousePressEvent(QMouseEvent* event) {
    const int row = topRow() + static_cast<int>(event->position().y()) / rowHeight();
    if (row < count())
        setCurrentRow(row);
    event->accept();
}

void ResultsList::keyPressEvent(QKeyEvent* event) {
    if (count() == 0)
        return QAbstractScrollArea::keyPressEvent(event);
    const int row = std::max(current_, 0);
    switch (event->key()) {
    case Qt::Key_Up:
        setCurrentRow(std::max(0, row - 1));
        break;
    case Qt::Key_Down:
        setCurrentRow(std::min(count() - 1, row + 1));
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

} // namespace ew
