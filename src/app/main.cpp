#include "app/SessionEnd.h"
#include "app/SingleInstance.h"
#include "app/frmEchoWarden.h"
#include "platform/Privileges.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// The options that QApplication and the platform plug-in take for themselves, as "-name" or
// "--name", are read before the window system is reached: the parser knows them too, hidden
// from the help, so that it does not refuse them.
void setAside(QCommandLineParser& parser, const char* names, const QString& valueName) {
    for (const QString& name : QString::fromLatin1(names).split(QLatin1Char(' '))) {
        QCommandLineOption qt(name, QString(), valueName);
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
}

// A text asked for on the command line, on standard output; whether all of it got there (a
// full disk or a closed pipe makes the answer a failure, not a success).
int answer(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
                             std::size_t(bytes.size()) &&
                         std::fflush(stdout) == 0 && !std::ferror(stdout);
    return written ? EXIT_SUCCESS : EXIT_FAILURE;
}

} // namespace

int main(int argc, char* argv[]) {
    ew::dropPrivileges(); // before Qt loads anything from paths the environment names
    QApplication::setApplicationName(QStringLiteral("EchoWarden"));
    QApplication::setApplicationVersion(QStringLiteral(EW_VERSION));
    QApplication::setOrganizationName(QStringLiteral("8R1"));
    // The command line is read before the window system is touched: a wrong option, the help
    // and the version must work where no display is, from a terminal or a packaging script.
    // --help and --version answer on standard output and end; --start lets an autostart entry
    // bring the monitor up at login.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("A small desktop network monitor."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Start monitoring once the window shows, as a "
                                                  "click on Ping would; an existing log is "
                                                  "appended to."));
    parser.addOption(start);
    setAside(parser,
             "platform platformpluginpath platformtheme plugin qwindowgeometry geometry "
             "qwindowtitle title qwindowicon icon display name visual session style stylesheet "
             "qmljsdebugger",
             QStringLiteral("value"));
    setAside(parser, "reverse sync widgetcount testability nograb dograb", QString());
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "EchoWarden: %s\n", qPrintable(parser.errorText()));
        return EXIT_FAILURE;
    }
    if (parser.isSet(QStringLiteral("version")))
        return answer(QApplication::applicationName() + QLatin1Char(' ') +
                      QApplication::applicationVersion() + QLatin1Char('\n'));
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        // A core application loads no platform plug-in; the usage line names the program as
        // it was started.
        QCoreApplication core(argc, argv);
        return answer(parser.helpText());
    }

    // A second start on the same settings ends here, before it reaches the display.
    ew::IniSettingsStore store;
    ew::SingleInstance instance(store.location(ew::keys::App));
    if (!instance.claim())
        return EXIT_SUCCESS;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);

    // Logout, shutdown, kill or Ctrl+C end the program as Exit does: the settings are saved
    // when "Save Settings on exit" is checked, and the attempt in progress is dropped. Caught
    // from here on; handled once the window runs.
    ew::SessionEnd sessionEnd;
    ew::IcmpEcho echo;
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
    if (parser.isSet(start)) // queued, so that the window is on screen first
        QTimer::singleShot(0, &window, [&window] { window.startUnwatched(); });
    return ended ? 0 : QApplication::exec();
}
