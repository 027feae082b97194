#pragma once

#include <QWidget>
#include <array>

class QLabel;
class QTimer;

namespace ew {

class Clock;

// The status bar docked at the bottom of the main window: four sunken panels laid out at
// their design widths. Panels 1 and 2 are written by the program; panels 3 and 4 show the
// current date and time and keep themselves current.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int PanelCount = 4;

    explicit StatusBar(QWidget* parent = nullptr);

    // Panels are numbered from 1, as the operator sees them.
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);
    QString panelToolTip(int panel) const;
    QLabel* panel(int panel) const;

    // Starts the date and time panels on the given clock.
    void setClock(const Clock* clock);
    void refreshDateTime();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QLabel*, PanelCount> panels_{};
    QTimer* tick_ = nullptr;
    const Clock* clock_ = nullptr;
};

} // namespace ew
