#pragma once

#include "history/HistoryRows.h"

#include <QWidget>
#include <vector>

class QChart;
class QChartView;
class QLineSeries;

namespace ew {

// What a history window draws: the rows of one entry, split where the program was not
// monitoring, and the spans in which the host gave no reply.
struct HistoryPicture {
    Resolution resolution = Resolution::Attempts;
    qint64 fromMs = 0, toMs = 0;
    std::vector<std::vector<Row>> stretches;
    std::vector<Span> down;
};

// The chart behind one small class, so that another chart module can take its place: the
// median as a line, the lowest to highest round trip as a band around it, losses as marks
// along the bottom in a colour by how much was lost, and down spans shaded.
class HistoryChart : public QWidget {
    Q_OBJECT
public:
    explicit HistoryChart(QWidget* parent = nullptr);

    void draw(const HistoryPicture& picture);
    // The figures shown for a point in time: its row's time and round trips.
    QString figuresAt(qint64 atMs) const;
    QChart& chart() const { return *chart_; }

    // How much of a row's attempts were lost, as the colour of its mark: some, most, all.
    static int lossLevel(const Row& row);

private:
    void hovered(const QPointF& point, bool state);

    QChartView* view_;
    QChart* chart_;
    HistoryPicture picture_;
};

} // namespace ew
