#include "historyview/HistoryChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace ew {

namespace {

const QColor MedianColour(0x20, 0x50, 0xa0);
const QColor BandColour(0x20, 0x50, 0xa0, 0x40);
const QColor DownColour(0xd0, 0x21, 0x21, 0x30);
// Some, most and all of a row's attempts lost.
const QColor LossColours[] = {QColor(0xe0, 0xc0, 0x20), QColor(0xf0, 0x80, 0x20),
                              QColor(0xd0, 0x21, 0x21)};
const char* const LossNames[] = {"some lost", "most lost", "all lost"};
constexpr double MostLost = 0.5;
constexpr double UsPerMs = 1000.0;
constexpr double Headroom = 1.1;
constexpr qreal LossMarkSize = 7;
const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

double ms(qint64 us) {
    return static_cast<double>(us) / UsPerMs;
}

} // namespace

HistoryChart::HistoryChart(QWidget* parent)
    : QWidget(parent), view_(new QChartView(this)), chart_(new QChart()) {
    chart_->legend()->hide();
    view_->setChart(chart_);
    view_->setRenderHint(QPainter::Antialiasing);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
}

int HistoryChart::lossLevel(const Row& row) {
    if (row.losses == 0)
        return -1;
    if (row.losses == row.count)
        return 2;
    return row.losses > row.count * MostLost ? 1 : 0;
}

void HistoryChart::draw(const HistoryPicture& picture) {
    picture_ = picture;
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes())
        chart_->removeAxis(axis);

    auto* x = new QDateTimeAxis;
    x->setFormat(picture.toMs - picture.fromMs > 2 * DayMs ? QStringLiteral("MM-dd")
                                                           : QStringLiteral("HH:mm"));
    x->setRange(QDateTime::fromMSecsSinceEpoch(picture.fromMs),
                QDateTime::fromMSecsSinceEpoch(picture.toMs));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("ms"));
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);
    const auto add = [&](QAbstractSeries* s) {
        chart_->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
    };

    // Scaled to what was measured: a loopback's round trips are hundredths of a millisecond.
    double top = 0;
    for (const auto& stretch : picture.stretches)
        for (const Row& r : stretch)
            top = std::max(top, ms(r.highestUs));
    top = top > 0 ? top * Headroom : 1;

    for (const Span& d : picture.down) {
        auto* upper = new QLineSeries;
        upper->append(static_cast<qreal>(d.fromMs), top);
        upper->append(static_cast<qreal>(d.toMs), top);
        auto* area = new QAreaSeries(upper);
        area->setName(QStringLiteral("down"));
        area->setColor(DownColour);
        area->setBorderColor(Qt::transparent);
        add(area);
    }
    QScatterSeries* losses[3];
    for (int level = 0; level < 3; ++level) {
        losses[level] = new QScatterSeries;
        losses[level]->setName(QLatin1String(LossNames[level]));
        losses[level]->setColor(LossColours[level]);
        losses[level]->setBorderColor(LossColours[level]);
        losses[level]->setMarkerSize(LossMarkSize);
    }
    // One line (and band) per run of answered rows: a row that lost every attempt breaks the
    // line, so a down period is never drawn as a slope from the last reply to the next.
    QLineSeries *median = nullptr, *lowest = nullptr, *highest = nullptr;
    const auto endLine = [&] {
        if (!median)
            return;
        if (picture.resolution != Resolution::Attempts) {
            auto* band = new QAreaSeries(highest, lowest);
            band->setName(QStringLiteral("lowest to highest"));
            band->setColor(BandColour);
            band->setBorderColor(Qt::transparent);
            add(band);
        } else {
            delete lowest;
            delete highest;
        }
        median->setColor(MedianColour);
        add(median);
        connect(median, &QLineSeries::hovered, this, &HistoryChart::hovered);
        median = lowest = highest = nullptr;
    };
    for (const auto& stretch : picture.stretches) {
        for (const Row& r : stretch) {
            if (const int level = lossLevel(r); level >= 0)
                losses[level]->append(static_cast<qreal>(r.atMs), 0);
            if (r.medianUs == LostRoundTrip) {
                endLine();
                continue;
            }
            if (!median) {
                median = new QLineSeries;
                median->setName(QStringLiteral("median"));
                lowest = new QLineSeries;
                highest = new QLineSeries;
            }
            const auto t = static_cast<qreal>(r.atMs);
            median->append(t, ms(r.medianUs));
            lowest->append(t, ms(r.lowestUs));
            highest->append(t, ms(r.highestUs));
        }
        endLine();
    }
    for (QScatterSeries* s : losses)
        add(s);
    y->setRange(0, top);
}

QString HistoryChart::figuresAt(qint64 atMs) const {
    const Row* best = nullptr;
    for (const auto& stretch : picture_.stretches)
        for (const Row& r : stretch)
            if (!best || std::abs(r.atMs - atMs) < std::abs(best->atMs - atMs))
                best = &r;
    if (!best)
        return QString();
    const QString time = QDateTime::fromMSecsSinceEpoch(best->atMs).toString(TimeFormat);
    if (picture_.resolution == Resolution::Attempts)
        return best->losses ? time + QStringLiteral("  lost")
                            : time + QStringLiteral("  %1 ms").arg(msText(best->medianUs));
    QString text = time + QStringLiteral("  %1 of %2 lost").arg(best->losses).arg(best->count);
    if (best->medianUs != LostRoundTrip)
        text += QStringLiteral("\nmedian %1 ms, lowest %2 ms, highest %3 ms")
                    .arg(msText(best->medianUs), msText(best->lowestUs), msText(best->highestUs));
    return text;
}

void HistoryChart::hovered(const QPointF& point, bool state) {
    if (!state) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(QCursor::pos(), figuresAt(static_cast<qint64>(point.x())), view_);
}

} // namespace ew
