#include "app/SingleInstance.h"
#include "app/frmEchoWarden.h"
#include "platform/Privileges.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QTimer>

int main(int argc, char* argv[]) {
    ew::dropPrivileges(); // before Qt loads anything from paths the environment names
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("EchoWarden"));
    QApplication::setApplicationVersion(QStringLiteral(EW_VERSION));
    QApplication::setOrganizationName(QStringLiteral("8R1"));
    QApplication::setQuitOnLastWindowClosed(true);

    // --help and --version answer on standard output and end; --start lets an autostart entry
    // bring the monitor up at login.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A small desktop network monitor."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Start monitoring once the window shows, as a "
                                                  "click on Ping would."));
    parser.addOption(start);
    parser.process(app);

    ew::IcmpEcho echo;
    ew::IniSettingsStore store;
    ew::SingleInstance instance(store);
    if (!instance.claim())
        return 0;
    ew::SystemClock clock;
    ew::QtMessageBoxes messages;
    ew::ProcessLauncher launcher;
    ew::SystemBeeper beeper;
    ew::QtWindowProbe windows;
    ew::DBusNotifier notifier;
    ew::frmEchoWarden window(
        ew::Platform{echo, store, clock, messages, launcher, beeper, windows, notifier});
    window.Form_Load();
    window.show();
    instance.setWindow(&window);
    if (parser.isSet(start)) {
        // Queued, so that the window is on screen first; a Ping button that the settings left
        // disabled (an empty list, an unset log path) is not pressed, as an operator could not.
        QTimer::singleShot(0, &window, [&window] {
            QPushButton* ping = window.ui().cmdStartPing;
            if (ping->isEnabled())
                ping->click();
        });
    }
    return QApplication::exec();
}
