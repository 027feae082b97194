#include "app/SessionEnd.h"
#include "app/SingleInstance.h"
#include "app/frmEchoWarden.h"
#include "editors/LogFile.h"
#include "platform/Privileges.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QTimer>
#include <cstring>

namespace {

// --help and --version answer on standard output and end; --start lets an autostart entry
// bring the monitor up at login.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption start{QStringLiteral("start"),
                             QStringLiteral("Start monitoring once the window shows, as a click "
                                            "on Ping would; an existing log is appended to.")};
    Options() {
        parser.setApplicationDescription(QStringLiteral("A small desktop network monitor."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOption(start);
    }
};

// Whether the command line asks only for a text (help or version): that must work where no
// display is, from a terminal or a packaging script, so it is answered before the window
// system is touched.
bool asksForText(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    ew::dropPrivileges(); // before Qt loads anything from paths the environment names
    QApplication::setApplicationName(QStringLiteral("EchoWarden"));
    QApplication::setApplicationVersion(QStringLiteral(EW_VERSION));
    QApplication::setOrganizationName(QStringLiteral("8R1"));
    if (asksForText(argc, argv)) {
        // A core application loads no platform plugin; process() prints and ends the program.
        QCoreApplication core(argc, argv);
        Options options;
        options.parser.process(core);
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);
    Options options;
    options.parser.process(app);

    // Logout, shutdown, kill or Ctrl+C end the program as Exit does: the settings are saved
    // when "Save Settings on exit" is checked, and the attempt in progress is dropped. Caught
    // from here on; handled once the window runs.
    ew::SessionEnd sessionEnd;
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
    // An end asked for while a box of the start-up is open comes before the event loop runs,
    // which then must not start.
    bool ended = false;
    QObject::connect(&sessionEnd, &ew::SessionEnd::endRequested, &window, [&ended, &window] {
        ended = true;
        window.cmdExit_Click();
    });
    window.Form_Load();
    window.show();
    instance.setWindow(&window);
    if (options.parser.isSet(options.start)) {
        // Queued, so that the window is on screen first; a Ping button that the settings left
        // disabled (an empty list, an unset log path) is not pressed, as an operator could not.
        // Nobody is there to answer whether the log is overwritten: it is appended to.
        QTimer::singleShot(0, &window, [&window] {
            QPushButton* ping = window.ui().cmdStartPing;
            if (!ping->isEnabled())
                return;
            window.logFile().appendUnasked();
            ping->click();
        });
    }
    return ended ? 0 : QApplication::exec();
}
