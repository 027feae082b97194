#include "platform/Launcher.h"

#include <QProcess>
#include <QStandardPaths>

namespace ew {

bool ProcessLauncher::start(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool ProcessLauncher::openInTextEditor(const QString& path) {
    // The desktop's choice first ($VISUAL/$EDITOR only when they name a graphical program
    // we can find), then the common desktop text editors.
    QStringList candidates;
    for (const char* var : {"VISUAL"}) {
        const QString v = qEnvironmentVariable(var);
        if (!v.isEmpty())
            candidates << v;
    }
    candidates << QStringLiteral("gnome-text-editor") << QStringLiteral("gedit")
               << QStringLiteral("kate") << QStringLiteral("kwrite")
               << QStringLiteral("mousepad") << QStringLiteral("pluma")
               << QStringLiteral("xed") << QStringLiteral("leafpad");
    for (const QString& editor : candidates) {
        const QString exe = QStandardPaths::findExecutable(editor);
        if (!exe.isEmpty() && QProcess::startDetached(exe, {path}))
            return true;
    }
    // xdg-open hands the file to whatever the desktop associates with text files.
    const QString xdg = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !xdg.isEmpty() && QProcess::startDetached(xdg, {path});
}

} // namespace ew
