#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QLineEdit;
class QToolButton;
namespace Ui {
class frmSchedule;
}

namespace ew {

struct ProgramState;
class SettingsStore;
class Settings;
class ControlStates;
class MessageBoxes;

// An up-down spinner bound to a text box: each step takes the number in the box, moves it by
// one within the spinner's range and writes the new number into the box (which raises the
// box's change rule, as typing would).
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setBuddy(QLineEdit* buddy) { buddy_ = buddy; }
    void setRange(int minimum, int maximum) { min_ = minimum, max_ = maximum; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void stepBy(int steps);

    QLineEdit* buddy_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 0;
    // The spinner's own position: where the last step ended, or the box's number when it held
    // one at the step.
    int value_ = 0;
};

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
    void showMainWindow();
    void showHour(QLineEdit& box, QCheckBox& pm, const std::optional<QString>& stored);

    std::unique_ptr<Ui::frmSchedule> ui_;
    ProgramState& state_;
    SettingsStore& store_;
    Settings& settings_;
    MessageBoxes& messages_;
    QWidget& main_;
    // While a stored hour is put into its box, which the wrap rule leaves alone.
    bool loading_ = false;
};

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
