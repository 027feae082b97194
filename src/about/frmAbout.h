#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class frmAbout;
}

namespace ew {

struct ProgramState;
class Launcher;
class MessageBoxes;

// The About box: title, version, how to get help, and a button that starts the desktop's
// system-information tool. Modeless; it deletes itself when closed.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(const ProgramState& state, Launcher& launcher, MessageBoxes& messages,
             QWidget* parent = nullptr);
    ~frmAbout() override;

    Ui::frmAbout& ui() { return *ui_; }

    void cmdOK_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();

    // The system-information programs looked for in the system's program directory, first
    // found first started.
    static QStringList sysInfoPrograms();

protected:
    // Esc presses OK, as the box's cancel button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::frmAbout> ui_;
    const ProgramState& state_;
    Launcher& launcher_;
    MessageBoxes& messages_;
};

} // namespace ew
