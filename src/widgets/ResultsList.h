#pragma once

#include "core/ResultLines.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <functional>

class QAccessibleInterface;
class QMenu;

namespace ew {

class MessageBoxes;

// The results list box: a view of the result lines, newest last, one selectable line. It draws
// only the rows in view and scrolls by whole rows, so a line costs the same at 30000 lines as
// at none (Qt's item views lay every row out again on each insert). Lines that come faster
// than an eye follows them show together, a few times a second; what the operator does shows
// at once, with whatever waits. A notice (why nothing is being pinged, say) can lie over the
// lines; it is no line, and copies, saved files and the log never hold it.
class ResultsList : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Asks the operator where to save the lines (Qt's file dialog by default); empty cancels.
    using SaveFileNameAsker = std::function<QString(QWidget* parent)>;
    static constexpr int PaceMs = 250; // the longest wait before a line shows

    explicit ResultsList(QWidget* parent = nullptr);

    ResultLines& model() { return lines_; }
    int count() const { return lines_.count(); }
    QString line(int row) const { return lines_.line(row); }
    const QStringList& lines() const { return lines_.lines(); }
    void addLine(const QString& line) { lines_.addLine(line); }
    void clear() { lines_.clear(); }
    int currentRow() const { return current_; } // -1 for none
    // Selects a line and brings it into view; -1 selects none.
    void setCurrentRow(int row);

    // The first row in view and where a row lies in the viewport, with what waits shown.
    int topRow() const;
    int rowHeight() const { return fontMetrics().height() + RowPadding; }
    QRect visualRect(int row) const;

    // A text shown over the lines, and the list's accessible description; empty for none.
    void setNotice(const QString& text);
    QString notice() const { return notice_; }

    // Ctrl+C and the context menu's items. Saved lines end in CR LF, as in the log.
    void copy();
    void copyAll();
    void saveAs();
    void setSaveFileNameAsker(SaveFileNameAsker asker) { askSaveFileName_ = std::move(asker); }
    // Where a failed save is told; without it, Qt's own message box.
    void setMessageBoxes(MessageBoxes* messages) { messages_ = messages; }
    // The context menu, built on first use; shown without blocking.
    QMenu* contextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static constexpr int RowPadding = 2; // pixels between the rows' texts
    // Shows what waits: the scroll ranges, the selected line brought into view, the rows drawn.
    void applyNow();
    // A pace after the last showing, or at the next turn of the event loop.
    void applyLater();
    void linesRemoved();
    // Rows wholly in view.
    int fullRows() const { return std::max(1, viewport()->height() / rowHeight()); }
    static QAccessibleInterface* accessible(const QString& className, QObject* object);

    ResultLines lines_;
    int current_ = -1;
    bool follow_ = false; // the selected line is to be brought into view
    // The line count and selection last shown: the rows that changed since are drawn again.
    int shownCount_ = 0;
    int shownCurrent_ = -1;
    QTimer pace_;
    QElapsedTimer shown_;
    // The widest line drawn so far. Measuring each line as it comes would cost more than all
    // the rest of an attempt.
    int widest_ = 0;
    QString notice_;
    QMenu* menu_ = nullptr;
    SaveFileNameAsker askSaveFileName_;
    MessageBoxes* messages_ = nullptr;
};

} // namespace ew
