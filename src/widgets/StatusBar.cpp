#include "widgets/StatusBar.h"

#include "core/TimeText.h"
#include "platform/Clock.h"

#include <QLabel>
#include <QTimer>
#include <numeric>

namespace ew {

namespace {

// Design widths in pixels at 96 dpi. Together they are wider than the window, which would hide
// the date and time panels past its right edge; the panels share the bar's width in these
// proportions instead so all four stay readable.
constexpr std::array<int, StatusBar::PanelCount> PanelWidths = {176, 153, 129, 100};
// The clock looks again this long after the minute changes, so that it never looks just before.
constexpr int PastTheMinuteMs = 20;
constexpr int PanelIndent = 3;

const std::array<const char*, StatusBar::PanelCount> PanelTips = {
    "Number of the pings made since the program started", "Number of FAILED Pings", "Current date",
    "Current time"};

} // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    // In the short window the bar lies over the hidden settings panel: it must cover it.
    setAutoFillBackground(true);
    // The panels' texts are Latin letters and digits, which look the same laid out without a
    // shaper; the pings panel changes at every attempt.
    QFont plain;
    plain.setStyleStrategy(QFont::PreferNoShaping);
    for (int i = 0; i < PanelCount; ++i) {
        auto* panel = new QLabel(this);
        panel->setFont(plain);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(PanelIndent);
        panel->setTextFormat(Qt::PlainText);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        panel->setToolTip(QString::fromLatin1(PanelTips[i]));
        panels_[i] = panel;
    }
    panels_[0]->setText(QStringLiteral("Pings:"));
    panels_[1]->setText(QStringLiteral("Failed: 0"));
    tick_ = new QTimer(this);
    tick_->setSingleShot(true);
    // A coarse timer may come 5 % late, three seconds at a minute: the minute must change on time.
    tick_->setTimerType(Qt::PreciseTimer);
    connect(tick_, &QTimer::timeout, this, &StatusBar::refreshDateTime);
}

void StatusBar::setClock(const Clock* clock) {
    clock_ = clock;
    refreshDateTime();
}

int StatusBar::msToNextRefresh() const {
    return tick_->isActive() ? tick_->remainingTime() : -1;
}

void StatusBar::refreshDateTime() {
    if (!clock_)
        return;
    const QDateTime now = clock_->now();
    // The date is formatted only when it changes: once a day rather than every second.
    if (now.date() != shownDate_) {
        shownDate_ = now.date();
        panels_[2]->setText(shortDateText(shownDate_));
    }
    panels_[3]->setText(shortTimeText(now.time()));
    // Timed afresh from the clock each minute: a clock set forward or back is followed within
    // a minute, and no lateness adds up.
    const QTime t = now.time();
    tick_->start(60000 - (t.second() * 1000 + t.msec()) + PastTheMinuteMs);
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int designTotal = std::accumulate(PanelWidths.begin(), PanelWidths.end(), 0);
    int x = 0;
    for (int i = 0; i < PanelCount; ++i) {
        const int w = i + 1 == PanelCount ? width() - x : PanelWidths[i] * width() / designTotal;
        panels_[i]->setGeometry(x, 2, w - 2, height() - 3);
        x += w;
    }
}

} // namespace ew
