#include "app/SessionEnd.h"
#include "app/SingleInstance.h"
#include "app/frmEchoWarden.h"
#include "platform/Privileges.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

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

// The options that QApplication and the platform plug-in take for themselves, as "-name" or
// "--name"; those of the first list take a value, as the next argument or after "=". They are
// read before the window system is reached, so they are set aside here rather than refused.
const QStringList QtValueOptions{
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("geometry"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("title"),
    QStringLiteral("qwindowicon"),     QStringLiteral("icon"),
    QStringLiteral("display"),         QStringLiteral("name"),
    QStringLiteral("visual"),          QStringLiteral("session"),
    QStringLiteral("style"),           QStringLiteral("stylesheet"),
    QStringLiteral("qmljsdebugger")};
const QStringList QtFlagOptions{QStringLiteral("reverse"),     QStringLiteral("sync"),
                                QStringLiteral("widgetcount"), QStringLiteral("testability"),
                                QStringLiteral("nograb"),      QStringLiteral("dograb")};

QStringList programOptions(int argc, char* argv[]) {
    QStringList own;
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const QString name = arg.startsWith(QLatin1String("--")) ? arg.mid(2) : arg.mid(1);
        if (i == 0 || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("--"))
            own << arg;
        else if (QtValueOptions.contains(name))
            ++i; // and its value
        else if (!QtFlagOptions.contains(name) &&
                 !QtValueOptions.contains(name.section(QLatin1Char('='), 0, 0)))
            own << arg;
    }
    return own;
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
    Options options;
    if (!options.parser.parse(programOptions(argc, argv))) {
        std::fprintf(stderr, "EchoWarden: %s\n", qPrintable(options.parser.errorText()));
        return EXIT_FAILURE;
    }
    if (options.parser.isSet(QStringLiteral("version")))
        return answer(QApplication::applicationName() + QLatin1Char(' ') +
                      QApplication::applicationVersion() + QLatin1Char('\n'));
    if (options.parser.isSet(QStringLiteral("help")) ||
        options.parser.isSet(QStringLiteral("help-all"))) {
        // A core application loads no platform plug-in; the usage line names the program as
        // it was started.
        QCoreApplication core(argc, argv);
        return answer(options.parser.helpText());
    }

    // A second start on the same settings ends here, before it reaches the display.
    ew::IniSettingsStore store;
    ew::SingleInstance instance(store);
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
    if (options.parser.isSet(options.start)) {
        // Queued, so that the window is on screen first.
        QTimer::singleShot(0, &window, [&window] { window.startUnwatched(); });
    }
    return ended ? 0 : QApplication::exec();
}
