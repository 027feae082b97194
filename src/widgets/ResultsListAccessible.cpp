#include "widgets/ResultsListAccessible.h"

#include "widgets/ResultsList.h"

#include <QPointer>

namespace ew {

namespace {

// One line of the list. It stands for a row number, not for a text: after the list is emptied
// and filled again it reads the new line of that row, and it is invalid while the list is
// shorter than its row.
class ResultsLineAccessible : public QAccessibleInterface {
public:
    ResultsLineAccessible(ResultsList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return list_ ? QAccessible::queryAccessibleInterface(list_) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? list_->line(row_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect r = list_->visualRect(row_);
        return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.readOnly = true;
        const bool selected = list_->currentRow() == row_;
        s.selected = selected;
        s.focused = selected && list_->hasFocus();
        if (!list_->viewport()->rect().intersects(list_->visualRect(row_)))
            s.offscreen = true;
        return s;
    }

private:
    QPointer<ResultsList> list_;
    int row_;
};

} // namespace

ResultsListAccessible::ResultsListAccessible(ResultsList* list)
    : QAccessibleWidget(list, QAccessible::List) {}

ResultsListAccessible::~ResultsListAccessible() {
    for (const QAccessible::Id id : std::as_const(items_))
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface* ResultsListAccessible::create(const QString& className, QObject* object) {
    if (className == QLatin1String("ew::ResultsList"))
        if (auto* list = qobject_cast<ResultsList*>(object))
            return new ResultsListAccessible(list);
    return nullptr;
}

ResultsList* ResultsListAccessible::list() const {
    return static_cast<ResultsList*>(widget());
}

QString ResultsListAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Description && !list()->notice().isEmpty())
        return list()->notice();
    return QAccessibleWidget::text(t);
}

int ResultsListAccessible::childCount() const {
    return list()->count();
}

QAccessibleInterface* ResultsListAccessible::child(int index) const {
    if (index < 0 || index >= list()->count())
        return nullptr;
    const auto found = items_.constFind(index);
    if (found != items_.constEnd())
        return QAccessible::accessibleInterface(*found);
    auto* item = new ResultsLineAccessible(list(), index);
    items_.insert(index, QAccessible::registerAccessibleInterface(item));
    return item;
}

int ResultsListAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child)
        return -1;
    const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
    const int row = items_.key(id, -1);
    return row < list()->count() ? row : -1;
}

QAccessibleInterface* ResultsListAccessible::childAt(int x, int y) const {
    const QPoint p = list()->viewport()->mapFromGlobal(QPoint(x, y));
    if (!list()->viewport()->rect().contains(p))
        return nullptr;
    return child(list()->topRow() + p.y() / list()->rowHeight());
}

void* ResultsListAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* ResultsListAccessible::cellAt(int row, int column) const {
    return column == 0 ? child(row) : nullptr;
}

int ResultsListAccessible::rowCount() const {
    return list()->count();
}

int ResultsListAccessible::selectedCellCount() const {
    return selectedRowCount();
}

int ResultsListAccessible::selectedRowCount() const {
    return list()->currentRow() >= 0 ? 1 : 0;
}

QList<QAccessibleInterface*> ResultsListAccessible::selectedCells() const {
    if (list()->currentRow() < 0)
        return {};
    return {child(list()->currentRow())};
}

QList<int> ResultsListAccessible::selectedRows() const {
    if (list()->currentRow() < 0)
        return {};
    return {list()->currentRow()};
}

bool ResultsListAccessible::isRowSelected(int row) const {
    return row >= 0 && row == list()->currentRow();
}

bool ResultsListAccessible::selectRow(int row) {
    if (row < 0 || row >= list()->count())
        return false;
    list()->setCurrentRow(row);
    return true;
}

bool ResultsListAccessible::unselectRow(int row) {
    if (!isRowSelected(row))
        return false;
    list()->setCurrentRow(-1);
    return true;
}

} // namespace ew
