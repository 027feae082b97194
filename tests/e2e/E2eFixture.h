#pragma once

// The fixture of the end-to-end tests: a sandbox, a private X server and the operator, the
// program started on them (inside a private network when a test asks for one) and worked
// through its main window, with the screenshots and program output kept under
// <build>/e2e-artifacts/<test>/.

#include "e2e/OperatorFiles.h"
#include "e2e/XSession.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <iostream>
#include <vector>

namespace ew::e2e {

// A control's design rectangle in twips, in client-area coordinates.
struct DesignRect {
    int left;
    int top;
    int width;
    int height;
};

namespace controls {
constexpr int TwipsPerPixel = 15;
// Frames place their children relative to themselves.
constexpr int Frame1Left = 2400, Frame1Top = 3120;
constexpr int Frame2Left = 120, Frame2Top = 5400;

constexpr DesignRect cmdStartPing{120, 120, 855, 315};
constexpr DesignRect cmdStopPing{1080, 120, 855, 315};
constexpr DesignRect cmdExit{3720, 120, 975, 315};
constexpr DesignRect cmdSave{1680, 2640, 1335, 315};
constexpr DesignRect cmdSettings{3120, 2640, 1575, 315};
constexpr DesignRect txtIPAddress{120, 3240, 2175, 285};
constexpr DesignRect cmdAdd{120, 3600, 555, 315};
constexpr DesignRect txtInterval{Frame1Left + 120, Frame1Top + 240, 375, 285};
constexpr DesignRect optSeconds{Frame1Left + 720, Frame1Top + 840, 255, 255};
constexpr DesignRect optMilSeconds{3120, 3720, 1335, 255};
constexpr DesignRect txtAttempts{Frame1Left + 120, Frame1Top + 1440, 375, 285};
constexpr DesignRect txtNumBytes{2520, 4920, 375, 285};
constexpr DesignRect txtTimeout{2520, 5280, 375, 285};
constexpr DesignRect chkBeep{Frame2Left + 120, Frame2Top + 240, 255, 255};
constexpr DesignRect chkLogTotal{Frame2Left + 120, Frame2Top + 480, 255, 255};
constexpr DesignRect txtLog{2520, 5880, 2175, 285};
constexpr DesignRect cmdSetLog{2520, 6240, 735, 250};
// A plain spot of the window that no help text belongs to (the Label4 row).
constexpr DesignRect restingPlace{120, 2640, 1245, 300};

// Client sizes in pixels: with the settings panel, and the short window without it.
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
constexpr int ShortClientHeightPx = 3000 / TwipsPerPixel + 435 / TwipsPerPixel;
constexpr int ClientWidthPx = 4815 / TwipsPerPixel;
} // namespace controls

// The schedule dialog's controls (it has no menu bar; the hour boxes lie in its frame at 240, 120).
namespace schedule {
constexpr DesignRect txtTo{240 + 1680, 120 + 600, 375, 285};
constexpr DesignRect chkPMTo{240 + 2340, 120 + 630, 225, 225};
constexpr DesignRect chkUnattended{360, 1440, 225, 225};
constexpr DesignRect cmdOK{240, 1800, 1215, 375};
constexpr DesignRect cmdCancel{2160, 1800, 1215, 375};
} // namespace schedule

inline QPoint centre(const DesignRect& r) {
    return {(r.left + r.width / 2) / controls::TwipsPerPixel,
            (r.top + r.height / 2) / controls::TwipsPerPixel};
}

class E2eTest : public ::testing::Test {
protected:
    static constexpr auto AppearLimit = 30s;
    static constexpr int MaxMenuBarPx = 100;
    // The help pop-up hides within one poll (1 s) once the pointer leaves its control.
    static constexpr auto TipLimit = 4s;
    // Longer than the slowest pass of these tests plus its interval.
    static constexpr auto QuietAfterStop = 3s;
    static constexpr auto StopLimit = 20s;

    void SetUp() override {
        ASSERT_TRUE(box_.valid()) << "no sandbox for the program";
        std::string why;
        if (!x_.start(box_.root(), &why))
            GTEST_SKIP() << "no X server for the end-to-end tests: " << why;
        op_ = std::make_unique<Operator>(x_);
    }

    // What the program and the server said, and the files it left, stay beside the pictures.
    void TearDown() override {
        program_.reset();
        std::error_code ec;
        fs::create_directories(artifacts(), ec);
        for (const fs::path& f : {box_.root() / "program-output.txt", box_.root() / "xvfb.log",
                                  box_.settingsFile(), box_.defaultLog()})
            fs::copy_file(f, artifacts() / f.filename(), fs::copy_options::overwrite_existing, ec);
        x_.stop();
    }

    static fs::path artifacts() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return fs::path(EW_BINARY).parent_path() / "e2e-artifacts" /
               (std::string(info->test_suite_name()) + "." + info->name());
    }

    // Starts the program (in the private network's client side when one was made), waits for
    // its main window and measures its menu bar: the window's height less the design's client
    // area, the settings panel being shown at start.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Program>();
        if (!program_->start(box_, x_, net_ && net_->usable() ? net_->client().path() : ""))
            return ::testing::AssertionFailure() << "echowarden did not start";
        const auto id = op_->findWindow("Echo Warden", AppearLimit);
        const auto size = id ? op_->size(*id) : std::nullopt;
        if (!size)
            return ::testing::AssertionFailure() << "no window \"Echo Warden\": " << output();
        window_ = *id;
        menuBar_ = size->height() - controls::FullClientHeightPx;
        if (menuBar_ < 0 || menuBar_ >= MaxMenuBarPx)
            return ::testing::AssertionFailure() << "a window " << size->height() << " high";
        return ::testing::AssertionSuccess();
    }

    // Exit, and the program ends by itself without a crash.
    ::testing::AssertionResult exitProgram() {
        if (!click(controls::cmdExit))
            return ::testing::AssertionFailure() << "could not click Exit";
        return program_->endedCleanly() << " after Exit: " << output();
    }

    // A silent host in a private network, or nullopt (with the reason printed) where this
    // machine cannot make one; the program then runs in that network's client side.
    std::optional<std::string> silentHost() {
        if (!net_)
            net_ = std::make_unique<test::TestNet>();
        const auto host = net_->usable() ? net_->addSilentHost() : std::nullopt;
        if (!host)
            std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
        return host ? std::optional(host->ipv4) : std::nullopt;
    }

    bool shoot(const QString& window, const std::string& name) {
        return op_->screenshot(window, artifacts() / (name + ".png"));
    }

    // The log stops growing: no pass runs any more.
    static ::testing::AssertionResult logSettles(const fs::path& log) {
        const auto size = [&] { return fs::exists(log) ? fs::file_size(log) : 0; };
        auto last = size();
        auto stableSince = Clock::now();
        const bool settled = waitUntil(
            [&] {
                if (const auto now = size(); now != last) {
                    last = now;
                    stableSince = Clock::now();
                }
                return Clock::now() - stableSince >= QuietAfterStop;
            },
            StopLimit);
        return settled ? ::testing::AssertionSuccess()
                       : ::testing::AssertionFailure() << "the log kept growing";
    }
    ::testing::AssertionResult stopAndSettle(const fs::path& log) {
        if (!click(controls::cmdStopPing))
            return ::testing::AssertionFailure() << "could not click Stop";
        return logSettles(log);
    }

    // Result lines in the log so far (all runs), counting only complete lines.
    static std::size_t loggedEntries(const fs::path& log) {
        const std::string bytes = readFile(log);
        const auto cut = bytes.rfind("\r\n");
        std::size_t n = 0;
        if (cut != std::string::npos) {
            for (const LogRun& r : parseLog(bytes.substr(0, cut + 2), true).runs)
                n += r.entries.size();
        }
        return n;
    }

    std::string output() const { return readFile(box_.programOutput()); }

    Settings storedSettings() const {
        const std::string bytes = readFile(box_.settingsFile());
        return parseIniGroup(bytes, "EchoWarden").value_or(Settings{{"<unreadable>", bytes}});
    }

    // --- the operator's work on the main window ---

    QPoint at(const DesignRect& r) const { return centre(r) + QPoint(0, menuBar_); }

    // Clicks the middle of a control. The pointer first goes there and the click waits until
    // no help pop-up left over from the last place covers it.
    bool click(const DesignRect& r) {
        return op_->moveTo(window_, at(r)) &&
               waitUntil([&] { return op_->windowUnderPointer() == window_; }, TipLimit) &&
               op_->clickHere();
    }

    // Replaces the whole text of a box as an operator does: click, select all, type.
    bool setText(const DesignRect& box, const QString& text) {
        return click(box) && op_->key("ctrl+a") && op_->type(text);
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
        ASSERT_TRUE(click(controls::cmdSetLog));
        ASSERT_TRUE(click(controls::optSeconds));
        ASSERT_TRUE(setText(controls::txtInterval, "1"));
        ASSERT_TRUE(setText(controls::txtTimeout, "1"));
    }

    // Rests the pointer on a plain spot and waits until only the main window shows (no help
    // pop-up, no box), e.g. before a screenshot.
    bool rest() {
        return op_->moveTo(window_, at(controls::restingPlace)) &&
               waitUntil(
                   [&] { return op_->visibleWindowsOf(program_->pid()) == QStringList{window_}; },
                   TipLimit);
    }

    // Opens File > Unattended with the keyboard; the schedule dialog's window.
    std::optional<QString> openSchedule() {
        if (!op_->focus(window_) || !op_->key("alt+f") || !op_->key("Return"))
            return std::nullopt;
        return op_->findWindow("Schedule", WindowLimit);
    }
    // Presses a button of the schedule dialog, which then goes.
    bool closeSchedule(const std::optional<QString>& dialog, const DesignRect& button) {
        return dialog && op_->click(*dialog, centre(button)) &&
               waitUntil([&] { return !op_->findWindow("Schedule"); }, WindowLimit);
    }

    // Waits for a message box of this title, keeps its picture when named, and answers it with
    // a key; true when it went.
    bool answerBox(const QString& title, const QString& key, const std::string& picture = {}) {
        const auto box = op_->findWindow(title, WindowLimit);
        if (!box)
            return false;
        EXPECT_TRUE(picture.empty() || shoot(*box, picture)) << picture;
        return op_->focus(*box) && op_->key(key) &&
               waitUntil([&] { return !op_->findWindow(title); }, WindowLimit);
    }

    Sandbox box_;
    XServer x_;
    std::unique_ptr<Operator> op_;
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Program> program_;
    QString window_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
