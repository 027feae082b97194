#include "about/About.h"
#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"
#include "ui_frmAbout.h"

namespace ew::test {
namespace {

// Each opening saves the settings first and switches the tips off; the same modeless box comes
// to the front where the operator left it. Its System Info starts the first tool of its list
// that is an executable program, with no arguments; with none, or one that does not start, it
// says so.
TEST_F(MainWindowTest, AboutSavesComesBackAndStartsTheFirstSystemInfoToolFound) {
    QTemporaryDir programs;
    qputenv("EW_SYSTEM_PROGRAM_DIR", programs.path().toLocal8Bit());
    const auto add = [&](const char* name, QFile::Permissions p = QFile::ExeOwner) {
        QFile f(programs.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.setPermissions(QFile::ReadOwner | p));
        return f.fileName();
    };
    load();
    ui().txtAttempts->setText(QStringLiteral("7"));
    ui().mnuAbout->trigger();
    frmAbout* box = window->about().box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("7"));
    EXPECT_FALSE(window->toolTips().window());
    EXPECT_TRUE(box->isVisible() && window->isEnabled());
    box->move(box->pos() + QPoint(30, 30));
    const QPoint moved = box->pos();
    fakes.store.values.clear();
    ui().mnuAbout->trigger();
    EXPECT_EQ(window->about().box(), box);
    EXPECT_EQ(box->pos(), moved);
    EXPECT_TRUE(fakes.store.value(keys::Attempts).has_value());

    add("hardinfo", {});
    box->cmdSysInfo_Click();
    EXPECT_TRUE(fakes.launcher.started.empty());
    add("lshw-gtk");
    fakes.launcher.succeed = false;
    box->cmdSysInfo_Click();
    const FakeMessageBoxes::Box unavailable{"System Information Is Unavailable At This Time",
                                            "EchoWarden", MsgIcon::None, MsgButtons::Ok};
    EXPECT_EQ(fakes.messages.shown, std::vector({unavailable, unavailable}));
    add("cpu-x");
    const QString kinfo = add("kinfocenter");
    fakes.launcher.succeed = true;
    box->ui().cmdSysInfo->click();
    ASSERT_EQ(fakes.launcher.started.size(), 2u); // lshw-gtk, which did not start, then kinfocenter
    EXPECT_EQ(fakes.launcher.started[1].program, kinfo);
    EXPECT_TRUE(fakes.launcher.started[1].arguments.isEmpty());
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
}

} // namespace
} // namespace ew::test
