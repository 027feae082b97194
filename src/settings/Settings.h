#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QWidget;
namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class SettingsStore;
class ControlStates;
class ToolTips;
class MessageBoxes;

// The per-user settings: loading into the controls, saving from them, the address list
// encoding, Restore Defaults and the save-on-exit toggle.
class Settings : public QObject {
    Q_OBJECT
public:
    Settings(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, SettingsStore& store,
             ControlStates& controls, ToolTips& tips, MessageBoxes& messages);

    // Start-up: says so when the store could not be read (its values are then missing), then
    // reads "IPList" and adds its items to the address list.
    void loadAddressList();
    void ReadSettings();
    // Writes every setting and the address list. False when the store could not be written
    // (the operator is told once until a save succeeds again).
    bool cmdSave_Click();
    void mnuRestore_Click();

private:
    std::optional<QString> get(const QString& key);
    void save(const QString& key, const QString& value);

    Ui::frmEchoWarden& ui_;
    QWidget& window_;
    ProgramState& state_;
    SettingsStore& store_;
    ControlStates& controls_;
    ToolTips& tips_;
    MessageBoxes& messages_;
    // The operator has been told that the store cannot be written; reset by a good save.
    bool saveFailureReported_ = false;
};

} // namespace ew
