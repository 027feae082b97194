#pragma once

#include <QAbstractListModel>
#include <QStringList>

namespace ew {

// The result lines of the monitor, newest last, one row per line; the display role is the line
// exactly as made (reply and failure marks included), as copies, saved files and the log hold
// it. Views and tests read it as any list model.
//
// The pass keeps it bounded: it empties the list before an entry's lines once it holds more
// than PingPass::MaxResultLines.
class ResultLines : public QAbstractListModel {
    Q_OBJECT
public:
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

private:
    QStringList lines_;
};

} // namespace ew
