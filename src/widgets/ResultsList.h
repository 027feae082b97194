#pragma once

#include <QAbstractScrollArea>
#include <QStringList>

namespace ew {

// The results list box: an unsorted list of text lines, newest last, one selectable line.
//
// It paints only the rows in view, all of one fixed height, and scrolls by whole rows, so
// appending a line, selecting it and scrolling it into view cost the same at 30000 lines as at
// none. (Qt's item views keep per-row layout data that every inserted row invalidates; at the
// list's 30000-line bound that made each appended line several times dearer.)
class ResultsList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ResultsList(QWidget* parent = nullptr);

    int count() const { return static_cast<int>(lines_.size()); }
    QString line(int row) const { return lines_.at(row); }
    const QStringList& lines() const { return lines_; }
    void addLine(const QString& line);
    void clear();
    // Keeps the first count lines (measurements reuse a list of a given length).
    void truncate(int count);
    // The selected line, or -1.
    int currentRow() const { return current_; }
    // Selects a line and scrolls it into view; -1 selects none.
    void setCurrentRow(int row);

    // The first row in view, and the height of every row in pixels.
    int topRow() const;
    int rowHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Rows that fit wholly into the viewport (at least one).
    int fullRows() const;
    void updateScrollRange();
    void scrollToRow(int row);
    bool rowInView(int row) const;

    QStringList lines_;
    int current_ = -1;
};

} // namespace ew
