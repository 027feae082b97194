#pragma once

// The fixture of the end-to-end tests: a sandbox, a private X server and the operator, the
// program started on them (inside a private network when a test asks for one) and worked
// through its main window. A failed test leaves its sandbox behind and names it.

#include "e2e/OperatorFiles.h"
#include "e2e/XSession.h"
#include "support/TestNet.h"

#include <QPoint>

#include <iostream>

namespace ew::e2e {

// A control's design rectangle in twips, in client-area coordinates.
struct DesignRect {
    int left, top, width, height;
};

namespace controls {
constexpr int TwipsPerPixel = 15;
constexpr int Frame1Left = 2400, Frame1Top = 3120, Frame2Left = 120, Frame2Top = 5400;
constexpr DesignRect cmdStartPing{120, 120, 855, 315}, cmdStopPing{1080, 120, 855, 315},
    cmdExit{3720, 120, 975, 315}, txtIPAddress{120, 3240, 2175, 285}, cmdAdd{120, 3600, 555, 315},
    txtInterval{Frame1Left + 120, Frame1Top + 240, 375, 285},
    optSeconds{Frame1Left + 720, Frame1Top + 840, 255, 255},
    txtAttempts{Frame1Left + 120, Frame1Top + 1440, 375, 285}, txtTimeout{2520, 5280, 375, 285},
    chkLogTotal{Frame2Left + 120, Frame2Top + 480, 255, 255}, txtLog{2520, 5880, 2175, 285},
    cmdSetLog{2520, 6240, 735, 250},
    restingPlace{120, 2640, 1245, 300}; // a plain spot no help text belongs to
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
} // namespace controls

inline QPoint centre(const DesignRect& r) {
    return {(r.left + r.width / 2) / controls::TwipsPerPixel,
            (r.top + r.height / 2) / controls::TwipsPerPixel};
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!x_.start(box_.root() / "xvfb.log"))
            GTEST_SKIP() << "no X server for the end-to-end tests (Xvfb, xdotool)";
    }
    void TearDown() override {
        program_.reset();
        box_.dir.setAutoRemove(!HasFailure());
        if (HasFailure())
            std::cout << "[ sandbox  ] " << box_.root() << "\n";
    }

    // Starts the program (in the private network's client side when one was made) and waits
    // for its main window, whose height less the design's client area is the menu bar.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Process>();
        const std::string netns = net_ && net_->usable() ? net_->client().path() : "";
        if (e2e::startProgram(*program_, box_, x_, netns))
            if (const auto id = x_.findWindow("Echo Warden", 30s)) {
                window_ = *id;
                menuBar_ = shellValue({"getwindowgeometry", window_}, "HEIGHT").toInt() -
                           controls::FullClientHeightPx;
                return ::testing::AssertionSuccess();
            }
        return ::testing::AssertionFailure() << "no window \"Echo Warden\": " << output();
    }
    // Exit, and the program ends by itself with code 0.
    ::testing::AssertionResult exitProgram() {
        if (!click(controls::cmdExit))
            return ::testing::AssertionFailure() << "could not click Exit";
        return program_->endedCleanly() << " after Exit: " << output();
    }
    // A host that never answers, or nullopt (the reason printed) where none can be made here;
    // the program then runs in that network's client side.
    std::optional<std::string> silentHost() {
        if (!net_)
            net_ = std::make_unique<test::TestNet>();
        const auto host = net_->usable() ? net_->addSilentHost() : std::nullopt;
        if (!host)
            std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
        return host ? std::optional(host->ipv4) : std::nullopt;
    }

    // A value of xdotool's --shell output, e.g. HEIGHT of getwindowgeometry.
    QString shellValue(QStringList command, const QString& name) {
        command.insert(1, "--shell");
        const QStringList values = x_.xdo(command).value_or(QStringList());
        return values.filter(QRegularExpression("^" + name + "=")).value(0).section('=', 1);
    }
    // Clicks the middle of a control, once no help pop-up left from the last place covers it.
    bool click(const DesignRect& r) {
        const QPoint at = centre(r) + QPoint(0, menuBar_);
        return x_.xdo({"mousemove", "--window", window_, QString::number(at.x()),
                       QString::number(at.y())}) &&
               waitUntil([&] { return shellValue({"getmouselocation"}, "WINDOW") == window_; },
                         4s) &&
               x_.xdo({"click", "1"});
    }
    // Replaces the whole text of a box as an operator does: click, select all, type.
    bool setText(const DesignRect& box, const QString& text) {
        return click(box) && x_.xdo({"key", "ctrl+a"}) && x_.xdo({"type", "--delay", "20", text});
    }
    bool addAddress(const std::string& address) {
        return setText(controls::txtIPAddress, QString::fromStdString(address)) &&
               click(controls::cmdAdd);
    }
    // Adds the addresses, checks "Log all pings", sets the log (to log when given, else as
    // shown) and pings every second with a time-out of 1 s.
    void setUpMonitoring(const std::vector<std::string>& addresses, const fs::path& log = {}) {
        for (const std::string& a : addresses)
            ASSERT_TRUE(addAddress(a));
        ASSERT_TRUE(click(controls::chkLogTotal));
        ASSERT_TRUE(log.empty() || setText(controls::txtLog, qpath(log)));
        ASSERT_TRUE(click(controls::cmdSetLog) && click(controls::optSeconds));
        ASSERT_TRUE(setText(controls::txtInterval, "1") && setText(controls::txtTimeout, "1"));
    }
    // Rests the pointer on a plain spot until only the main window shows (no help pop-up).
    bool rest() {
        const QPoint at = centre(controls::restingPlace) + QPoint(0, menuBar_);
        const QStringList pid{"search", "--onlyvisible", "--pid",
                              QString::number(program_->processId())};
        return x_.xdo({"mousemove", "--window", window_, QString::number(at.x()),
                       QString::number(at.y())}) &&
               waitUntil([&] { return x_.xdo(pid) == QStringList{window_}; }, 4s);
    }
    // Waits for a message box of this title and answers it with a key; true when it went.
    bool answerBox(const QString& title, const QString& key) {
        const auto box = x_.findWindow(title, WindowLimit);
        return box && x_.xdo({"windowfocus", *box}) && x_.xdo({"key", key}) &&
               waitUntil([&] { return !x_.findWindow(title); }, WindowLimit);
    }

    // Result lines in the log so far (all runs), counting complete lines only.
    static std::size_t loggedEntries(const fs::path& log) {
        const std::string bytes = readFile(log);
        std::size_t n = 0;
        for (const auto& run : parseLog(bytes.substr(0, bytes.rfind("\r\n") + 2), true).runs)
            n += run.size();
        return n;
    }
    bool logGrows(std::size_t more) {
        const std::size_t wanted = loggedEntries(box_.defaultLog()) + more;
        return waitUntil([&] { return loggedEntries(box_.defaultLog()) >= wanted; }, 60s);
    }
    std::string output() const { return readFile(box_.programOutput()); }
    Settings storedSettings() const {
        return readSettings(qpath(box_.settingsFile())).value_or(Settings{{"<unreadable>", ""}});
    }

    Sandbox box_;
    XServer x_;
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Process> program_;
    QString window_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
