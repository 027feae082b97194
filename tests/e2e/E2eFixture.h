#pragma once

// The fixture of the end-to-end tests: a sandbox folder, a private X server and the operator,
// the program started on them (inside a private network when a test asks for one) and worked
// through its main window.

#include "e2e/OperatorFiles.h"
#include "e2e/XSession.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>
#include <iostream>

namespace ew::e2e {

// A control's design rectangle in twips, in client-area coordinates.
struct DesignRect {
    int left, top, width, height;
};

namespace controls {
constexpr int TwipsPerPixel = 15;
constexpr DesignRect cmdStartPing{120, 120, 855, 315}, cmdStopPing{1080, 120, 855, 315},
    cmdExit{3720, 120, 975, 315};
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
} // namespace controls

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!x_.start(box_.filePath("xvfb.log")))
            GTEST_SKIP() << "no X server for the end-to-end tests (Xvfb, xdotool)";
    }
    // A failed test leaves its sandbox (the program's output, log and settings) behind.
    void TearDown() override {
        program_.reset();
        box_.setAutoRemove(!HasFailure());
        if (HasFailure())
            std::cout << "[ sandbox  ] " << box_.path().toStdString() << "\n";
    }

    // Starts the program (in the private network's client side when one was made) and waits
    // for its main window, whose height less the design's client area is the menu bar.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Process>();
        const std::string netns = net_ && net_->usable() ? net_->client().path() : "";
        if (e2e::startProgram(*program_, QDir(box_.path()), x_, netns))
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
        if (click(controls::cmdExit) && waitUntil([&] { return !program_->running(); }, 20s) &&
            program_->exitStatus() == QProcess::NormalExit && program_->exitCode() == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Exit did not end it cleanly: " << output();
    }
    // A host that never answers, or nullopt (the reason printed) where none can be made here;
    // the program then runs in that network's client side.
    std::optional<std::string> silentHost() {
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
        const int x = (r.left + r.width / 2) / controls::TwipsPerPixel;
        const int y = (r.top + r.height / 2) / controls::TwipsPerPixel + menuBar_;
        return x_.xdo({"mousemove", "--window", window_, QString::number(x), QString::number(y)}) &&
               waitUntil([&] { return shellValue({"getmouselocation"}, "WINDOW") == window_; },
                         4s) &&
               x_.xdo({"click", "1"});
    }
    // Waits for a message box of this title and answers it with a key; true when it went.
    bool answerBox(const QString& title, const QString& key) {
        const auto box = x_.findWindow(title, WindowLimit);
        return box && x_.xdo({"windowfocus", *box}) && x_.xdo({"key", key}) &&
               waitUntil([&] { return !x_.findWindow(title); }, WindowLimit);
    }

    std::string log() const { return readFile(box_.filePath("Ping.Log")).toStdString(); }
    // Waits for more result lines in the log, counting complete lines only.
    bool logGrows(std::size_t more) {
        const auto entries = [&] {
            const std::string bytes = log();
            std::size_t n = 0;
            for (const auto& run : parseLog(bytes.substr(0, bytes.rfind("\r\n") + 2), true).runs)
                n += run.size();
            return n;
        };
        const std::size_t wanted = entries() + more;
        return waitUntil([&] { return entries() >= wanted; }, 60s);
    }
    std::string output() const { return readFile(box_.filePath("output.txt")).toStdString(); }
    QString settingsFile() const { return box_.filePath("config/8R1/8R1.ini"); }

    QTemporaryDir box_;
    XServer x_;
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Process> program_;
    QString window_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
