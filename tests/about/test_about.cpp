#include "about/About.h"
#include "about/frmAbout.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"
#include "ui_frmAbout.h"

#include <QFile>
#include <QTemporaryDir>

namespace ew::test {
namespace {

class AboutTest : public MainWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(programs.isValid());
        qputenv("EW_SYSTEM_PROGRAM_DIR", programs.path().toLocal8Bit());
        MainWindowTest::SetUp();
        load();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        qunsetenv("EW_SYSTEM_PROGRAM_DIR");
    }
    frmAbout* open() {
        ui().mnuAbout->trigger();
        return window->about().box();
    }
    // A file in the system's program folder; a program only when executable.
    QString addProgram(const char* name, bool executable = true) {
        QFile f(programs.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write("#!/bin/sh\n") > 0);
        if (executable)
            f.setPermissions(f.permissions() | QFile::ExeOwner);
        return f.fileName();
    }

    QTemporaryDir programs;
};

// Each opening saves the settings first and switches the tips off; the same modeless box
// comes to the front where the operator left it.
TEST_F(AboutTest, EachOpeningSavesAndBringsTheSameModelessBoxToTheFront) {
    ui().txtAttempts->setText(QStringLiteral("7"));
    frmAbout* first = open();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("7"));
    EXPECT_FALSE(window->toolTips().isLoaded());
    EXPECT_TRUE(first->isVisible() && window->isEnabled());
    first->move(first->pos() + QPoint(30, 30));
    const QPoint moved = first->pos();
    fakes.store.values.clear();
    EXPECT_EQ(open(), first);
    EXPECT_EQ(first->pos(), moved);
    EXPECT_TRUE(fakes.store.value(keys::Attempts).has_value());
    first->close();
}

// System Info starts the first tool of its list that is an executable program, with no
// arguments; with none, or one that does not start, it says so.
TEST_F(AboutTest, SystemInfoStartsTheFirstToolFoundOrSaysItIsUnavailable) {
    const FakeMessageBoxes::Box unavailable{
        QStringLiteral("System Information Is Unavailable At This Time"),
        QStringLiteral("EchoWarden"), MsgIcon::None, MsgButtons::Ok};
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    addProgram("hardinfo", false);
    box->cmdSysInfo_Click();
    EXPECT_TRUE(fakes.launcher.started.empty());
    addProgram("lshw-gtk");
    fakes.launcher.succeed = false;
    box->cmdSysInfo_Click();
    EXPECT_EQ(fakes.messages.shown, std::vector({unavailable, unavailable}));

    addProgram("cpu-x");
    const QString kinfo = addProgram("kinfocenter");
    fakes.launcher.succeed = true;
    fakes.launcher.started.clear();
    box->ui().cmdSysInfo->click();
    ASSERT_EQ(fakes.launcher.started.size(), 1u);
    EXPECT_EQ(fakes.launcher.started[0].program, kinfo);
    EXPECT_TRUE(fakes.launcher.started[0].arguments.isEmpty());
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
    box->close();
}

} // namespace
} // namespace ew::test
