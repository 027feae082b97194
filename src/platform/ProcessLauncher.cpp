#include "platform/Launcher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace ew {

namespace {

// Graphical text editors looked for on PATH, in this order: those of the common desktops
// first (GNOME, KDE, Xfce, MATE, Cinnamon, LXQt), then small stand-alone ones. Terminal
// editors ($EDITOR, $VISUAL) are not used: started without a terminal they show nothing.
const QStringList TextEditors =
    QStringLiteral(
        "gnome-text-editor gedit kate kwrite mousepad pluma xed featherpad leafpad geany")
        .split(QLatin1Char(' '));
// Hands the file to whatever the desktop associates with it, when none of the above is there.
const QString DesktopOpener = QStringLiteral("xdg-open");

bool startFound(const QString& name, const QString& file) {
    const QString exe = QStandardPaths::findExecutable(name);
    return !exe.isEmpty() && QProcess::startDetached(exe, {file});
}

} // namespace

bool ProcessLauncher::start(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool ProcessLauncher::openInTextEditor(const QString& path) {
    // The path goes over as one argument, blanks and all. Made absolute against our working
    // directory (where a bare log name is written), so a name that begins with '-' cannot
    // pass for an option of the editor.
    const QString file = QFileInfo(path).absoluteFilePath();
    for (const QString& editor : TextEditors) {
        if (startFound(editor, file))
            return true;
    }
    return startFound(DesktopOpener, file);
}

} // namespace ew
