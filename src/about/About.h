#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

namespace Ui {
class frmAbout;
}

namespace ew {

struct ProgramState;
class Settings;
class ToolTips;
class Launcher;
class MessageBoxes;

// The About box: title, version, how to get help, and a button that starts the desktop's
// system-information tool. Modeless; Esc closes it as OK does, and it deletes itself when closed.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(const ProgramState& state, Launcher& launcher, MessageBoxes& messages,
             QWidget* parent = nullptr);
    ~frmAbout() override;

    Ui::frmAbout& ui() { return *ui_; }

    // Starts the first system-information program found in the system's program directory.
    void cmdSysInfo_Click();

private:
    std::unique_ptr<Ui::frmAbout> ui_;
    const ProgramState& state_;
    Launcher& launcher_;
    MessageBoxes& messages_;
};

// The Help > About command: saves the settings, unloads the help pop-up and shows the
// modeless About box (or brings it to the front).
class About : public QObject {
    Q_OBJECT
public:
    About(QWidget& window, ProgramState& state, Settings& settings, ToolTips& tips,
          Launcher& launcher, MessageBoxes& messages);
    ~About() override;

    void mnuAbout_Click();
    frmAbout* box() const { return box_; }

private:
    QWidget& window_;
    ProgramState& state_;
    Settings& settings_;
    ToolTips& tips_;
    Launcher& launcher_;
    MessageBoxes& messages_;
    QPointer<frmAbout> box_;
};

} // namespace ew
