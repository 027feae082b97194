#pragma once

#include <QDate>
#include <QLabel>
#include <QWidget>
#include <array>

class QTimer;

namespace ew {

class Clock;

// The status bar docked at the bottom of the main window: four sunken panels laid out at
// their design widths. Panels 1 and 2 are written by the program; panels 3 and 4 show the
// current date and time and keep themselves current.
//
// The time panel shows hours and minutes, as a desktop clock does, so the clock wakes the program
// once a minute, just after the minute changes, and not every second.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int PanelCount = 4;

    explicit StatusBar(QWidget* parent = nullptr);

    // Panels are numbered from 1, as the operator sees them.
    QString panelText(int panel) const { return at(panel).text(); }
    void setPanelText(int panel, const QString& text) { at(panel).setText(text); }

    // Starts the date and time panels on the given clock.
    void setClock(const Clock* clock);
    void refreshDateTime();
    // How long until the clock looks again, in ms (while a clock is set).
    int msToNextRefresh() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel& at(int panel) const { return *panels_.at(panel - 1); }

    std::array<QLabel*, PanelCount> panels_{};
    QTimer* tick_ = nullptr;
    const Clock* clock_ = nullptr;
    QDate shownDate_;
};

} // namespace ew
