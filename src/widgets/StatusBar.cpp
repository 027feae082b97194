#include "widgets/StatusBar.h"

#include "core/TimeText.h"
#include "platform/Clock.h"

#include <QLabel>
#include <QTimer>

namespace ew {

namespace {

// Design widths in pixels at 96 dpi. Together they are wider than the window, which would hide
// the date and time panels past its right edge; the panels share the bar's width in these
// proportions instead so all four stay readable.
constexpr std::array<int, StatusBar::PanelCount> PanelWidths = {176, 153, 129, 100};
constexpr int ClockRefreshMs = 1000;

const std::array<const char*, StatusBar::PanelCount> PanelTips = {
    "Number of the pings made since the program started", "Number of FAILED Pings", "Current date",
    "Current time"};

} // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    // In the short window the bar lies over the hidden settings panel: it must cover it.
    setAutoFillBackground(true);
    for (int i = 0; i < PanelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
        label->setToolTip(QString::fromLatin1(PanelTips[i]));
        panels_[i] = label;
    }
    panels_[0]->setText(QStringLiteral("Pings:"));
    panels_[1]->setText(QStringLiteral("Failed: 0"));
    tick_ = new QTimer(this);
    tick_->setInterval(ClockRefreshMs);
    connect(tick_, &QTimer::timeout, this, &StatusBar::refreshDateTime);
}

QString StatusBar::panelText(int panel) const {
    return panels_.at(panel - 1)->text();
}

void StatusBar::setPanelText(int panel, const QString& text) {
    panels_.at(panel - 1)->setText(text);
}

QString StatusBar::panelToolTip(int panel) const {
    return panels_.at(panel - 1)->toolTip();
}

QLabel* StatusBar::panel(int panel) const {
    return panels_.at(panel - 1);
}

void StatusBar::setClock(const Clock* clock) {
    clock_ = clock;
    refreshDateTime();
    tick_->start();
}

void StatusBar::refreshDateTime() {
    if (!clock_)
        return;
    const QDateTime now = clock_->now();
    panels_[2]->setText(shortDateText(now.date()));
    panels_[3]->setText(timeOfDayText(now.time()));
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    int designTotal = 0;
    for (const int w : PanelWidths)
        designTotal += w;
    int x = 0;
    for (int i = 0; i < PanelCount; ++i) {
        const int w = i + 1 == PanelCount ? width() - x : PanelWidths[i] * width() / designTotal;
        panels_[i]->setGeometry(x, 2, w - 2, height() - 3);
        x += w;
    }
}

} // namespace ew
