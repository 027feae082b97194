#pragma once

#include <QAccessibleWidget>
#include <QHash>

namespace ew {

class ResultsList;

// What a screen reader sees of the results list: a list with one item per line, the selected
// line's item marked selected. It also answers as a one-column table, which is how assistive
// technology asks a list for its row count and its selected rows.
//
// Item interfaces are made only for the rows a reader asks about, so a list at its 30000-line
// bound costs nothing until somebody looks.
class ResultsListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ResultsListAccessible(ResultsList* list);
    ~ResultsListAccessible() override;

    // The factory for QAccessible::installFactory.
    static QAccessibleInterface* create(const QString& className, QObject* object);

    ResultsList* list() const;

    // QAccessibleInterface
    // The description is the list's notice while it has one: what a reader most needs to hear.
    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int columnCount() const override { return 1; }
    int rowCount() const override;
    int selectedCellCount() const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    QList<QAccessibleInterface*> selectedCells() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {}

private:
    mutable QHash<int, QAccessible::Id> items_;
};

} // namespace ew
