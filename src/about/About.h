#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace ew {

struct ProgramState;
class Settings;
class ToolTips;
class Launcher;
class MessageBoxes;
class frmAbout;

// The Help > About command: saves the settings, unloads the help pop-up and shows the
// modeless About box (or brings it to the front).
class About : public QObject {
    Q_OBJECT
public:
    About(QWidget& window, ProgramState& state, Settings& settings, ToolTips& tips,
          Launcher& launcher, MessageBoxes& messages);
    ~About() override;

    void mnuAbout_Click();
    frmAbout* box() const;

private:
    void centreOverMainWindow();

    QWidget& window_;
    ProgramState& state_;
    Settings& settings_;
    ToolTips& tips_;
    Launcher& launcher_;
    MessageBoxes& messages_;
    QPointer<frmAbout> box_;
};

} // namespace ew
