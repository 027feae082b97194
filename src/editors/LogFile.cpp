#include "editors/LogFile.h"

#include "core/ProgramState.h"
#include "engine/LogWriter.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "platform/Launcher.h"
#include "platform/MessageBoxes.h"
#include "platform/SystemDirs.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>

namespace ew {

namespace {

const QString OverwriteTitle = QStringLiteral("Log File");
const QString OverwriteText =
    QStringLiteral("The log already exists.Ovewrite? Select No to append.");
const QString OpenErrorTitle = QStringLiteral("Error opening log");
const QString MissingLogText = QStringLiteral("The log file doesn't exists.");
const QString NoEditorText = QStringLiteral("No text editor could be started to show the log "
                                            "file %1.\rOpen it with an editor of your choice.");
const QString WriteErrorTitle = QStringLiteral("Error writing log");
const QString WriteFailedText =
    QStringLiteral("The log file %1 cannot be written.\r%2\r"
                   "Pinging goes on; lines that cannot be written are not logged.");
const QString DeleteFailedText =
    QStringLiteral("The log file %1 cannot be deleted.\r%2\rNew lines are appended to it.");
const QString InvalidPathTitle = QStringLiteral("Invalid directory");
const QString InvalidPathText =
    QStringLiteral("The log file path is invalid.\rPlease enter a valid path.");
const QString FolderPathText =
    QStringLiteral("The log file path is a folder.\rPlease enter the path of a file.");

// A file of that name (not a directory) is there to be overwritten, appended to or shown.
bool isLogFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// A path written for Windows ("C:\Logs\Ping.Log", "\\server\logs\Ping.Log") names no place
// here: taken as it stands it would put the log in a file of that odd name in the current folder.
bool isWindowsPath(const QString& path) {
    const bool driveLetter = path.size() >= 2 && path[1] == QLatin1Char(':') &&
                             path[0].isLetter() && path[0].unicode() < 0x80;
    return driveLetter || path.startsWith(QLatin1Char('\\'));
}

// Whether lines can be appended to the file: an existing file that may be written, or a new
// one in a folder that may be written.
bool isWritablePlace(const QFileInfo& file) {
    if (file.exists())
        return file.isWritable();
    const QFileInfo folder(file.absolutePath());
    return folder.isDir() && folder.isWritable();
}

} // namespace

LogFile::LogFile(Controls ui, QWidget& window, ProgramState& state, ControlStates& controls,
                 LogWriter& writer, MessageBoxes& messages, Launcher& launcher)
    : ui_(ui), window_(window), state_(state), controls_(controls), messages_(messages),
      launcher_(launcher) {
    connect(&writer, &LogWriter::writeFailed, this,
            [this](const QString& path, const QString& why) {
                showError(WriteFailedText.arg(path, why), WriteErrorTitle);
            });
    connect(&ui_.cmdSetLog, &QPushButton::clicked, this, [this] {
        ui_.txtPathError.hide();
        controls_.ToggleControls(); // unlocks, and the results show again
        state_.askOverwrite = AskOverwrite::Yes;
        ApplyLogPath();
    });
    connect(&ui_.cmdOpenLog, &QPushButton::clicked, this, &LogFile::cmdOpenLog_Click);
    connect(&ui_.txtLog, &QLineEdit::textChanged, this, [this] {
        // An edited path must be set before pinging can start.
        if (state_.stateFlag == StateFlag::Dont)
            return;
        ui_.cmdSetLog.setEnabled(true);
        ui_.cmdStartPing.setEnabled(false);
    });
    // Check boxes raise their click rule whenever their value changes, also from code.
    connect(&ui_.chkLogTotal, &QCheckBox::stateChanged, this, [this] {
        // Logging every ping includes the failed ones; the box is forced and locked.
        const bool total = isChecked(ui_.chkLogTotal);
        setCheckValue(ui_.chkLogFailed, total ? 1 : 0);
        ui_.chkLogFailed.setEnabled(!total);
        logBoxChanged(total);
    });
    connect(&ui_.chkLogFailed, &QCheckBox::stateChanged, this,
            [this] { logBoxChanged(isChecked(ui_.chkLogFailed)); });
}

QString LogFile::defaultLogPath() {
    return QDir(defaultLogDir()).filePath(QStringLiteral("Ping.Log"));
}

void LogFile::showError(const QString& text, const QString& title) {
    messages_.show(&window_, text, title, MsgIcon::Critical, MsgButtons::Ok);
}

void LogFile::refusePath(bool folder) {
    showError(folder ? FolderPathText : InvalidPathText, InvalidPathTitle);
    ui_.lstPingResults.hide();
    ui_.txtPathError.show();
    controls_.ToggleControls();
}

bool LogFile::loggingOn() const {
    return isChecked(ui_.chkLogTotal) || isChecked(ui_.chkLogFailed);
}

void LogFile::logBoxChanged(bool shown) {
    ui_.txtLog.setVisible(shown);
    ui_.cmdSetLog.setVisible(shown);
    if (shown)
        ApplyLogPath();
    controls_.UpdateRestoreMenu();
}

void LogFile::ApplyLogPath() {
    if (!loggingOn()) {
        ui_.txtLog.setVisible(false);
        ui_.cmdSetLog.setVisible(false);
        return;
    }
    if (ui_.txtLog.text().isEmpty()) {
        state_.logPath = defaultLogPath();
        // The box is filled by the program, not edited: its change rule must not lock Start.
        state_.stateFlag = StateFlag::Dont;
        ui_.txtLog.setText(state_.logPath);
        state_.stateFlag = StateFlag::Yes;
        ui_.cmdSetLog.setEnabled(false);
        // LogPathInvalid keeps a failure recorded earlier until a typed path passes.
    } else if (!checkTypedPath()) {
        return;
    }
    settleExistingFile();
}

bool LogFile::checkTypedPath() {
    state_.logPath = ui_.txtLog.text();
    const QFileInfo file(state_.logPath);
    // A folder, a place that cannot be written or a path for another system is refused
    // whatever its form; otherwise a path with a separator past its first character names a
    // file in an existing folder, and anything else (a bare file name) is taken as it stands.
    const bool folder = file.isDir();
    if (!folder && !isWindowsPath(state_.logPath) && isWritablePlace(file)) {
        if (state_.logPath.lastIndexOf(QLatin1Char('/')) >= 1) {
            ui_.cmdSetLog.setEnabled(false);
            state_.logPathInvalid = false;
        }
        return true;
    }

    state_.logPathInvalid = true;
    if (state_.askOverwrite != AskOverwrite::Dont)
        refusePath(folder);
    return false;
}

bool LogFile::appendUnasked() {
    if (state_.askOverwrite == AskOverwrite::Dont || !loggingOn() || state_.logPathInvalid ||
        !isLogFile(state_.logPath))
        return false;
    state_.askOverwrite = AskOverwrite::Dont;
    std::fprintf(stderr,
                 "EchoWarden: started with --start, so the log %s is appended to, "
                 "not overwritten.\n",
                 qPrintable(QDir::toNativeSeparators(state_.logPath)));
    return true;
}

void LogFile::settleExistingFile() {
    if (state_.askOverwrite == AskOverwrite::Dont)
        return;
    if (isLogFile(state_.logPath) &&
        messages_.show(&window_, OverwriteText, OverwriteTitle, MsgIcon::Information,
                       MsgButtons::YesNo) == MsgAnswer::Yes) {
        QFile file(state_.logPath);
        if (!file.remove())
            showError(DeleteFailedText.arg(state_.logPath, file.errorString()), WriteErrorTitle);
        ui_.lstPingResults.clear();
        state_.failedCount = 0;
        ui_.StatusBar1.setPanelText(2, QStringLiteral("Failed: 0"));
    }
    // Settled only once answered: a second call reached while the box is open asks again.
    state_.askOverwrite = AskOverwrite::Dont;
}

void LogFile::cmdOpenLog_Click() {
    // Always the path that was set, never an edit of txtLog that has not been set yet.
    if (!isLogFile(state_.logPath))
        showError(MissingLogText, OpenErrorTitle);
    // Without an editor the button would seem to do nothing at all.
    else if (!launcher_.openInTextEditor(state_.logPath))
        showError(NoEditorText.arg(state_.logPath), OpenErrorTitle);
}

} // namespace ew
