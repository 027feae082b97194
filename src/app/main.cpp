#include "app/SessionEnd.h"
#include "app/SingleInstance.h"
#include "app/frmEchoWarden.h"
#include "editors/LogFile.h"
#include "platform/DisplayBuffer.h"
#include "platform/Privileges.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIconEngine>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <fontconfig/fontconfig.h>
#include <thread>

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

// A standard icon of a style that is read only when it is first drawn. The menu bar asks for
// its extension arrow as it is built, though the arrow only shows when the menus do not fit;
// reading it would load every image plug-in a few milliseconds before the window shows.
class LaterIcon final : public QIconEngine {
public:
    LaterIcon(QStyle* style, QStyle::StandardPixmap which) : style_(style), which_(which) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return false; }
    QIconEngine* clone() const override { return new LaterIcon(style_, which_); }

private:
    QIcon& icon() {
        if (!read_ && style_)
            icon_ = style_->standardIcon(which_);
        read_ = true;
        return icon_;
    }
    QPointer<QStyle> style_;
    QStyle::StandardPixmap which_;
    QIcon icon_;
    bool read_ = false;
};

// The application's own style (as the desktop or -style chose it), with the extension arrows
// read late.
class LaterArrows final : public QProxyStyle {
public:
    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override {
        if (which == SP_ToolBarHorizontalExtensionButton ||
            which == SP_ToolBarVerticalExtensionButton)
            return QIcon(new LaterIcon(baseStyle(), which));
        return QProxyStyle::standardIcon(which, option, widget);
    }
};

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

    // On X11 the window's backing store goes to the server through the socket, not through
    // MIT-SHM shared memory: before each paint into shared memory that the server may still be
    // reading, Qt waits for a round trip to the server, and for the few lines that change each
    // second that costs this program and the X server more than sending the pixels (some 10 %
    // of the CPU of each while monitoring, bench_operator). The variable is read once, as the
    // connection opens, and is not handed down to programs that the window starts.
    const bool shmAsked = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (!shmAsked)
        qputenv("QT_XCB_NO_MITSHM", "1");
    // Fontconfig reads its configuration (some milliseconds of XML) when the first font is
    // asked for, which the window's first layout does just before the window shows. It reads
    // it here instead, on a thread of its own, while the application connects to the display.
    std::thread fonts([] { FcInit(); });
    QApplication app(argc, argv);
    fonts.join();
    if (!shmAsked)
        qunsetenv("QT_XCB_NO_MITSHM");
    ew::widenDisplayBuffer();
    QApplication::setQuitOnLastWindowClosed(true);
    QApplication::setStyle(new LaterArrows);
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
