#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace ew {

// The result lines of the monitor, newest last, one row per line; the display role is the line
// exactly as made (reply and failure marks included), as copies, saved files and the log hold
// it. Views and tests read it as any list model.
//
// The list is bounded by emptying, not by dropping its oldest lines: before an entry's lines a
// list holding more than Bound lines is emptied, so it never holds more than Bound lines plus
// the attempts of one entry.
class ResultLines : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int Bound = 30000;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    int count() const { return static_cast<int>(lines_.size()); }
    const QString& line(int row) const { return lines_.at(row); }
    const QStringList& lines() const { return lines_; }

    void addLine(const QString& line);
    void clear();
    // Keeps the first rows lines (measurements reuse a list of a given length).
    void truncate(int rows);
    // Called before an entry's lines: empties a list that holds more than Bound lines.
    void makeRoom();

private:
    QStringList lines_;
};

} // namespace ew
