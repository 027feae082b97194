#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QWidget;

namespace ew {

struct ProgramState;
class SettingsStore;
class Settings;
class ControlStates;
class MessageBoxes;
class frmSchedule;

// The File > Unattended command: saves the settings and opens the modal schedule dialog.
class Schedule : public QObject {
    Q_OBJECT
public:
    Schedule(QAction& mnuUnattended, QWidget& window, ProgramState& state, SettingsStore& store,
             Settings& settings, ControlStates& controls, MessageBoxes& messages);

    void mnuUnattended_Click();

Q_SIGNALS:
    // Emitted once the dialog is loaded and shown, before its modal loop runs.
    void dialogOpened(frmSchedule* dialog);

private:
    QAction& mnuUnattended_;
    QWidget& window_;
    ProgramState& state_;
    SettingsStore& store_;
    Settings& settings_;
    ControlStates& controls_;
    MessageBoxes& messages_;
    QPointer<frmSchedule> dialog_;
};

} // namespace ew
