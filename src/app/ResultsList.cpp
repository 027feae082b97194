#include "app/ResultsList.h"

#include <QHeaderView>

namespace ew {

int ResultLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant ResultLinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= lines_.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return lines_.at(index.row());
    return {};
}

void ResultLinesModel::append(const QString& line) {
    const int row = static_cast<int>(lines_.size());
    beginInsertRows({}, row, row);
    lines_.append(line);
    endInsertRows();
}

void ResultLinesModel::clear() {
    beginResetModel();
    lines_.clear();
    endResetModel();
}

ResultsList::ResultsList(QWidget* parent) : QTableView(parent), model_(this) {
    setModel(&model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    setShowGrid(false);
    setWordWrap(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTabKeyNavigation(false);
}

int ResultsList::count() const { return model_.rowCount(); }

QString ResultsList::line(int row) const { return model_.line(row); }

QStringList ResultsList::lines() const {
    QStringList all;
    for (int i = 0; i < count(); ++i)
        all << model_.line(i);
    return all;
}

void ResultsList::addLine(const QString& line) { model_.append(line); }

void ResultsList::clear() { model_.clear(); }

int ResultsList::currentRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() : -1;
}

void ResultsList::setCurrentRow(int row) {
    const QModelIndex i = model_.index(row, 0);
    setCurrentIndex(i);
    scrollTo(i);
}

} // namespace ew
