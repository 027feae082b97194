#include "core/ResultLines.h"

namespace ew {

int ResultLines::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant ResultLines::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return lines_.at(index.row());
}

void ResultLines::addLine(const QString& line) {
    beginInsertRows({}, count(), count());
    lines_.append(line);
    endInsertRows();
}

void ResultLines::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

void ResultLines::truncate(int rows) {
    if (rows < 0 || rows >= count())
        return;
    beginRemoveRows({}, rows, count() - 1);
    lines_.resize(rows);
    endRemoveRows();
}

} // namespace ew
