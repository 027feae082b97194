#pragma once

#include "widgets/CharAdvances.h"
#include "widgets/GlyphLine.h"
#include "widgets/PaintPace.h"

#include <QAbstractScrollArea>
#include <QStringList>
#include <QVarLengthArray>
#include <functional>

class QMenu;
class QPainter;

namespace ew {

class MessageBoxes;

// The results list box: an unsorted list of text lines, newest last, one selectable line.
//
// It paints only the rows in view, all of one fixed height, and scrolls by whole rows, so
// appending a line, selecting it and scrolling it into view cost the same at 30000 lines as at
// none. (Qt's item views keep per-row layout data that every inserted row invalidates; at the
// list's 30000-line bound that made each appended line several times dearer.) A new line moves
// what is already drawn up by one row and paints only the rows that changed.
//
// The operator can read it all: the keys move the selection, Ctrl+C copies the selected line,
// and a context menu copies one or all lines or saves them to a file. Screen readers see a list
// with one item per line.
//
// A notice (why nothing is being pinged, say) can lie over the lines in a box at the top. It is
// no line: copies, saved files and the log never hold it, and the lines go on underneath.
class ResultsList : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Asks the operator where to save the lines; an empty answer cancels.
    using SaveFileNameAsker = std::function<QString(QWidget* parent)>;

    explicit ResultsList(QWidget* parent = nullptr);
    ~ResultsList() override;

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
    // Where a row is drawn, in viewport coordinates (it may lie outside the viewport).
    QRect visualRect(int row) const;
    // The width the widest line needs, in pixels.
    int contentWidth() const { return widest_; }
    // A line as it is drawn: the reply mark shows as a right arrow.
    static QString displayText(const QString& line);

    // A text shown over the lines, and the list's accessible description; empty for none.
    void setNotice(const QString& text);
    QString notice() const { return notice_; }

    // Ctrl+C and the context menu's items.
    void copy();
    void copyAll();
    // Asks for a file name and writes every line, each ended by CR LF as in the log.
    void saveAs();
    // Writes every line to path; false when the file could not be written.
    bool saveTo(const QString& path) const;
    void setSaveFileNameAsker(SaveFileNameAsker asker) { askSaveFileName_ = std::move(asker); }
    // Where a failed save is told; without it, Qt's own message box.
    void setMessageBoxes(MessageBoxes* messages) { messages_ = messages; }
    // The context menu, built on first use; shown without blocking.
    QMenu* contextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Rows that fit wholly into the viewport (at least one).
    int fullRows() const;
    void updateScrollRange();
    void updateHorizontalRange();
    void scrollToRow(int row);
    // Lines added and a row selected within one turn of the event loop come into view together:
    // the scroll bar is set, what is drawn moved and the new rows painted once a turn, however
    // many lines came in it. Added lines are paced besides: lines that come faster than an eye
    // follows them show together a few times a second. What the operator does shows at the
    // next turn, with whatever waits. What reads the view's geometry applies what is pending
    // first.
    void applyLater(bool paced = false);
    void applyPending();
    // The first row in view and where a row is drawn, as they are now: pending changes aside.
    int shownTop() const;
    QRect rowRect(int row) const;
    bool rowInView(int row) const;
    void updateRow(int row);
    void updateOverKept(int row);
    void markPending(int row);
    void popupMenu(const QPoint& globalPos);
    static QString askSaveFileNameWithDialog(QWidget* parent);
    // The drawn width of a line, summed from per-character advances: far cheaper than laying
    // the text out, and kerning moves it by a pixel or two at most.
    int lineWidth(const QString& line);
    int charAdvance(QChar c);
    void resetMetrics();
    void notifyAccessible(int row, int eventType);
    // Where the notice's box lies in the viewport, and its text inside it.
    QRect noticeRect(QRect* textRect = nullptr) const;
    void paintNotice(QPainter& painter) const;

    QStringList lines_;
    int current_ = -1;
    int widest_ = 0;
    // Lines whose rows were brought into view so far, and whether the selection is to be.
    int appliedCount_ = 0;
    int paintedCount_ = 0; // lines there were at the last paint
    // The line drawn selected in the last whole row, as it was drawn; row -1 when that row shows
    // anything else.
    struct Kept {
        int row = -1;
        bool focus = false;
        int x = 0;
        int width = 0;
    } kept_;
    bool overKept_ = false; // the scroll just made left the last whole row as it was
    bool applyPending_ = false;
    bool applyQueued_ = false; // the call that applies is posted
    // The row drawn selected while the newly selected line waits for its pace: it is drawn
    // plain again as the new line shows.
    int unselected_ = -1;
    PaintPace pace_{this, [this] { applyPending(); }};
    bool follow_ = false;
    CharAdvances advances_{this};
    // 0 until measured: the list's font is seldom its last while the window is being built.
    mutable int rowHeight_ = 0;
    // Rows marked for repainting since the last paint. A scroll moves the drawn pixels, stale
    // ones of these rows included, so it marks them again at their new places.
    QVarLengthArray<int, 4> pendingRows_;
    bool pendingOverflow_ = false;
    GlyphLine glyphs_;
    QString notice_;
    QMenu* menu_ = nullptr;
    SaveFileNameAsker askSaveFileName_;
    MessageBoxes* messages_ = nullptr;
};

} // namespace ew
