#include "platform/Launcher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace ew {

namespace {

// Graphical text editors looked for on PATH, in this order: those of the common desktops
// first (GNOME, KDE, Xfce, MATE, Cinnamon, LXQt), then small stand-alone ones. Terminal
// editors ($EDITOR, $VISUAL) are not used: started without a terminal they show nothing. When
// none is there, xdg-open hands the file to whatever the desktop associates with it.
const QStringList TextEditors = QStringLiteral("gnome-text-editor gedit kate kwrite mousepad "
                                               "pluma xed featherpad leafpad geany xdg-open")
                                    .split(QLatin1Char(' '));

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
        const QString exe = QStandardPaths::findExecutable(editor);
        if (!exe.isEmpty() && QProcess::startDetached(exe, {file}))
            return true;
    }
    return false;
}

} // namespace ew
