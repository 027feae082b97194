#include "app/frmEchoWarden.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("EchoWarden"));
    QApplication::setOrganizationName(QStringLiteral("8R1"));
    QApplication::setQuitOnLastWindowClosed(true);

    ew::IcmpEcho echo;
    ew::IniSettingsStore store;
    ew::SystemClock clock;
    ew::QtMessageBoxes messages;
    ew::ProcessLauncher launcher;
    ew::SystemBeeper beeper;
    ew::QtWindowProbe windows;
    ew::frmEchoWarden window(ew::Platform{echo, store, clock, messages, launcher, beeper, windows});
    window.Form_Load();
    window.show();
    return QApplication::exec();
}
