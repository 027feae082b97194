#pragma once

// The fixture of the end-to-end tests: a sandbox, a private X server and the operator, the
// program started on them (inside a private network when a test asks for one), and the
// screenshots and program output kept under <build>/e2e-artifacts/<test>/.

#include "e2e/MainWindowDriver.h"
#include "e2e/OperatorFiles.h"
#include "e2e/ProgramUnderTest.h"
#include "e2e/XSession.h"
#include "support/TestNet.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

namespace ew::e2e {

// The schedule dialog's controls (twips; the dialog has no menu bar; the hour boxes lie in
// its frame at 240, 120).
namespace schedule {
constexpr DesignRect txtTo{240 + 1680, 120 + 600, 375, 285};
constexpr DesignRect chkPMTo{240 + 2340, 120 + 630, 225, 225};
constexpr DesignRect chkUnattended{360, 1440, 225, 225};
constexpr DesignRect cmdOK{240, 1800, 1215, 375};
constexpr DesignRect cmdCancel{2160, 1800, 1215, 375};
} // namespace schedule

inline int centreX(const DesignRect& r) {
    return (r.left + r.width / 2) / controls::TwipsPerPixel;
}
inline int centreY(const DesignRect& r) {
    return (r.top + r.height / 2) / controls::TwipsPerPixel;
}

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(box_.valid()) << "no sandbox for the program";
        std::string why;
        if (!x_.start(box_.root(), &why))
            GTEST_SKIP() << "no X server for the end-to-end tests: " << why;
        op_ = std::make_unique<Operator>(x_);
    }

    void TearDown() override {
        if (program_)
            program_->kill();
        // What the program and the server said stays beside the screenshots.
        std::error_code ec;
        fs::create_directories(artifacts(), ec);
        for (const char* name : {"program-output.txt", "xvfb.log"})
            fs::copy_file(box_.root() / name, artifacts() / name,
                          fs::copy_options::overwrite_existing, ec);
        fs::copy_file(box_.settingsFile(), artifacts() / "8R1.ini",
                      fs::copy_options::overwrite_existing, ec);
        fs::copy_file(box_.defaultLog(), artifacts() / "Ping.Log",
                      fs::copy_options::overwrite_existing, ec);
        x_.stop();
    }

    static fs::path artifacts() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return fs::path(EW_BINARY).parent_path() / "e2e-artifacts" /
               (std::string(info->test_suite_name()) + "." + info->name());
    }

    // Starts the program (in the private network's client side when one was made) and waits
    // for its main window.
    ::testing::AssertionResult startProgram() {
        program_ = std::make_unique<Program>();
        const std::string ns = net_ && net_->usable() ? net_->client().path() : std::string();
        if (!program_->start(box_, x_, ns))
            return ::testing::AssertionFailure() << "echowarden did not start";
        window_ = std::make_unique<MainWindowDriver>(*op_, *program_);
        if (!window_->appear())
            return ::testing::AssertionFailure()
                   << "no window \"Echo Warden\" appeared: " << output();
        return ::testing::AssertionSuccess();
    }

    // Exit, and the program ends by itself without a crash.
    ::testing::AssertionResult exitProgram() {
        if (!window_->click(controls::cmdExit))
            return ::testing::AssertionFailure() << "could not click Exit";
        if (!program_->endedCleanly())
            return ::testing::AssertionFailure()
                   << "after Exit the program " << program_->endDescription() << ": " << output();
        return ::testing::AssertionSuccess();
    }

    // A silent host in a private network, or nullopt (with the reason printed) where this
    // machine cannot make one; the program then runs in that network's client side.
    std::optional<std::string> silentHost() {
        if (!net_)
            net_ = std::make_unique<test::TestNet>();
        if (!net_->usable()) {
            std::cout << "[ skipped  ] the host that never answers: " << net_->whyNot() << "\n";
            return std::nullopt;
        }
        const auto host = net_->addSilentHost();
        if (!host) {
            std::cout << "[ skipped  ] the host that never answers could not be made\n";
            return std::nullopt;
        }
        return host->ipv4;
    }

    bool shoot(const QString& window, const std::string& name) {
        const fs::path file = artifacts() / (name + ".png");
        if (!op_->screenshot(window, file))
            return false;
        const auto colours = op_->colourCount(file);
        // A real window has text, frames and buttons: far more than a blank capture's colours.
        return colours && *colours > MinScreenshotColours;
    }

    // Stop, then the log stops growing: no pass runs after Stop has been handled.
    ::testing::AssertionResult stopAndSettle(const fs::path& log) {
        if (!window_->click(controls::cmdStopPing))
            return ::testing::AssertionFailure() << "could not click Stop";
        auto size = fs::exists(log) ? fs::file_size(log) : 0;
        auto stableSince = Clock::now();
        const bool settled = waitUntil(
            [&] {
                const auto now = fs::exists(log) ? fs::file_size(log) : 0;
                if (now != size) {
                    size = now;
                    stableSince = Clock::now();
                }
                return Clock::now() - stableSince >= QuietAfterStop;
            },
            StopLimit);
        return settled ? ::testing::AssertionSuccess()
                       : ::testing::AssertionFailure() << "the log kept growing after Stop";
    }

    // Result lines in the log so far (all runs), counting only complete lines.
    static std::size_t loggedEntries(const fs::path& log) {
        const std::string bytes = readFile(log);
        const auto cut = bytes.rfind("\r\n");
        if (cut == std::string::npos)
            return 0;
        const ParsedLog parsed = parseLog(bytes.substr(0, cut + 2), true);
        std::size_t n = 0;
        for (const LogRun& r : parsed.runs)
            n += r.entries.size();
        return n;
    }

    std::string output() const { return readFile(box_.programOutput()); }

    static constexpr int MinScreenshotColours = 8;
    // Longer than the slowest pass of these tests plus its interval.
    static constexpr auto QuietAfterStop = 3s;
    static constexpr auto StopLimit = 20s;

    Sandbox box_;
    XServer x_;
    std::unique_ptr<Operator> op_;
    std::unique_ptr<test::TestNet> net_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<MainWindowDriver> window_;
};

} // namespace ew::e2e
