#include "widgets/ResultsList.h"

#include <QAccessibleWidget>
#include <QPointer>

namespace ew {

namespace {

// One line of the list. It stands for a row number, not for a text: after the list is emptied
// and filled again it reads the new line of that row, and it is invalid while the list is
// shorter than its row.
class LineAccessible : public QAccessibleInterface {
public:
    LineAccessible(ResultsList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->count(); }
    QObject* object() const override { return nullptr; }
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
        const QRect r = isValid() ? list_->visualRect(row_) : QRect();
        return r.isNull() ? r : QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.invalid = !isValid();
        if (s.invalid)
            return s;
        s.selectable = s.focusable = s.readOnly = true;
        s.selected = list_->currentRow() == row_;
        s.focused = s.selected && list_->hasFocus();
        s.offscreen = !list_->viewport()->rect().intersects(list_->visualRect(row_));
        return s;
    }

private:
    QPointer<ResultsList> list_;
    int row_;
};

// The list, with one item per line, the selected line's item marked. Items are made only for
// the rows a reader asks about, so a full list costs nothing until somebody looks.
class ListAccessible : public QAccessibleWidget {
public:
    explicit ListAccessible(ResultsList* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~ListAccessible() override {
        for (const QAccessible::Id id : std::as_const(items_))
            QAccessible::deleteAccessibleInterface(id);
    }
    ResultsList* list() const { return static_cast<ResultsList*>(widget()); }

    // The description is the list's notice while it has one: what a reader most needs to hear.
    QString text(QAccessible::Text t) const override {
        const bool notice = t == QAccessible::Description && !list()->notice().isEmpty();
        return notice ? list()->notice() : QAccessibleWidget::text(t);
    }
    int childCount() const override { return list()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= list()->count())
            return nullptr;
        if (const auto found = items_.constFind(index); found != items_.constEnd())
            return QAccessible::accessibleInterface(*found);
        auto* item = new LineAccessible(list(), index);
        items_.insert(index, QAccessible::registerAccessibleInterface(item));
        return item;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int row =
            items_.key(QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child)), -1);
        return row < list()->count() ? row : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint p = list()->viewport()->mapFromGlobal(QPoint(x, y));
        return list()->viewport()->rect().contains(p)
                   ? child(list()->topRow() + p.y() / list()->rowHeight())
                   : nullptr;
    }

private:
    mutable QHash<int, QAccessible::Id> items_;
};

} // namespace

QAccessibleInterface* ResultsList::accessible(const QString& className, QObject* object) {
    if (className == QLatin1String("ew::ResultsList"))
        if (auto* list = qobject_cast<ResultsList*>(object))
            return new ListAccessible(list);
    return nullptr;
}

} // namespace ew
