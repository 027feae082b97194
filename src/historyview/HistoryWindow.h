#pragma once

#include "history/HistoryRows.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

class QComboBox;
class QPushButton;

namespace ew {

class Clock;
class HistoryChart;
class HistoryDb;
class HistoryStore;

// The history of one entry, drawn from the file, so that it is there after a restart. Each
// range reads its own step: 10 minutes and an hour the attempts, a day and a week the minutes,
// 90 days the hours. It follows the attempts the store writes while it is open.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    struct Range {
        const char* name;
        qint64 spanMs;
        Resolution resolution;
    };
    static const std::vector<Range>& ranges();

    HistoryWindow(QString key, HistoryStore& store, Clock& clock, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    const QString& key() const { return key_; }
    void setRange(int index);
    void redraw();
    HistoryChart& chart() const { return *chart_; }

    // Export History... and Export All History...: the rows of the range shown, of this entry
    // or of every entry, as CSV. False when the file could not be written.
    bool exportTo(const QString& path, bool allEntries);

private:
    void askExport(bool allEntries);
    void written(const QStringList& keys);

    QString key_;
    HistoryStore& store_;
    Clock& clock_;
    std::unique_ptr<HistoryDb> db_;
    QComboBox* range_;
    HistoryChart* chart_;
    QTimer redrawLater_; // passes a tenth of a second apart redraw once a second
};

// One history window per entry: asking again for an open one brings it up.
class HistoryWindows : public QObject {
    Q_OBJECT
public:
    HistoryWindows(HistoryStore& store, Clock& clock, QWidget& owner);
    ~HistoryWindows() override;
    HistoryWindow& show(const QString& key);
    HistoryWindow* find(const QString& key) const { return open_.value(key); }

private:
    HistoryStore& store_;
    Clock& clock_;
    QWidget& owner_;
    QHash<QString, QPointer<HistoryWindow>> open_;
};

} // namespace ew
