#pragma once

#include <QDialog>
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

    // Starts the first system-information program found in the system's program directory.
    void cmdSysInfo_Click();

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
