#pragma once

#include <QDialog>
#include <memory>

class QLineEdit;
class QCheckBox;
namespace Ui {
class frmSchedule;
}

namespace ew {

struct ShownHour;
struct ProgramState;
class SettingsStore;
class Settings;
class MessageBoxes;

// The modal schedule dialog of the unattended mode: whether the mode is enabled and the range
// of hours it excludes, shown on the 12-hour clock, stored on the 24-hour clock.
class frmSchedule : public QDialog {
    Q_OBJECT
public:
    frmSchedule(ProgramState& state, SettingsStore& store, Settings& settings,
                MessageBoxes& messages, QWidget& mainWindow, QWidget* parent = nullptr);
    ~frmSchedule() override;

    Ui::frmSchedule& ui() { return *ui_; }

    // Centres the dialog on the screen and fills it from the store and UnattendedState.
    void Form_Load();
    void cmdOK_Click();

protected:
    // Neither button is the default or the cancel button: Enter and Esc do nothing here.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void centreOnScreen();
    void showMainWindow();
    void showHour(QLineEdit& box, QCheckBox& pm, const ShownHour& shown);

    std::unique_ptr<Ui::frmSchedule> ui_;
    ProgramState& state_;
    SettingsStore& store_;
    Settings& settings_;
    MessageBoxes& messages_;
    QWidget& main_;
    // While a stored hour is put into its box, which the wrap rule leaves alone.
    bool loading_ = false;
};

} // namespace ew
