#pragma once

#include "app/frmEchoWarden.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"

#include <gtest/gtest.h>
#include <memory>

namespace ew::test {

// A main window on fakes, not yet loaded: tests prepare the store, then call load().
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { window = makeWindow(); }
    void TearDown() override { window.reset(); }

    std::unique_ptr<frmEchoWarden> makeWindow() {
        auto w = std::make_unique<frmEchoWarden>(fakes.platform());
        w->setEndProgram([this] { ++endRequests; });
        return w;
    }
    void load() { window->Form_Load(); }
    // The program started again on the same store.
    void restart() {
        window.reset();
        window = makeWindow();
        load();
    }
    Ui::frmEchoWarden& ui() { return window->ui(); }
    ProgramState& state() { return window->state(); }
    QStringList ipList() {
        QStringList out;
        for (int i = 0; i < ui().lstIPList->count(); ++i)
            out << ui().lstIPList->item(i)->text();
        return out;
    }

    FakePlatform fakes;
    std::unique_ptr<frmEchoWarden> window;
    int endRequests = 0;
};

} // namespace ew::test
