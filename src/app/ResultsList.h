#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTableView>

namespace ew {

// The lines of the results list. Appending touches only the new row, so the cost of a line
// does not grow with the list.
class ResultLinesModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    void append(const QString& line);
    void clear();
    const QString& line(int row) const { return lines_.at(row); }

private:
    QStringList lines_;
};

// The results list box: an unsorted list of text lines, newest last, one selectable line.
// A table view with one fixed-height column and hidden headers keeps appending and selecting
// cheap at tens of thousands of lines, which a list view does not.
class ResultsList : public QTableView {
    Q_OBJECT
public:
    explicit ResultsList(QWidget* parent = nullptr);

    int count() const;
    QString line(int row) const;
    QStringList lines() const;
    void addLine(const QString& line);
    void clear();
    // The selected line, or -1.
    int currentRow() const;
    void setCurrentRow(int row);

private:
    ResultLinesModel model_;
};

} // namespace ew
