#include "about/About.h"
#include "about/EtchedLine.h"
#include "about/frmAbout.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "tooltips/ToolTips.h"
#include "ui_frmAbout.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace ew::test {
namespace {

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

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
    // A program file in the system's program directory.
    QString addProgram(const QString& name, bool executable = true) {
        const QString path = programs.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFile::ExeOwner);
        return path;
    }
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QTemporaryDir programs;
};

TEST_F(AboutTest, DesignTextsFontsAndButtons) {
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    Ui::frmAbout& u = box->ui();
    EXPECT_EQ(box->windowTitle(), QStringLiteral("About EchoWarden"));
    EXPECT_EQ(u.lblTitle->text(), QStringLiteral("Echo Warden"));
    EXPECT_EQ(u.lblVersion->text(), QStringLiteral("Version 1.3"));
    EXPECT_EQ(u.lblDescription->text(),
              QStringLiteral("For help position the cursor over control or textbox you need "
                             "information about, wait for 1 second and read the tooltips."));
    EXPECT_TRUE(u.lblDescription->wordWrap());
    EXPECT_FALSE(u.Label1->text().isEmpty());
    EXPECT_FALSE(u.Label2->text().isEmpty());
    EXPECT_TRUE(u.Label1->font().bold());
    EXPECT_EQ(u.lblTitle->font().family(), QStringLiteral("Bookman Old Style"));
    // 24 points, or less where the face standing in for it would not fit.
    EXPECT_LE(u.lblTitle->font().pointSize(), 24);
    EXPECT_GE(u.lblTitle->font().pointSize(), 16);
    EXPECT_LE(u.lblTitle->fontMetrics().horizontalAdvance(u.lblTitle->text()), u.lblTitle->width());
    EXPECT_EQ(u.lblTitle->font().weight(), QFont::DemiBold);
    EXPECT_EQ(u.lblVersion->font().pointSize(), 12);
    EXPECT_TRUE(u.lblVersion->font().bold());
    EXPECT_DOUBLE_EQ(u.lblDescription->font().pointSizeF(), 9.75);
    EXPECT_FALSE(u.picIcon->pixmap().isNull());
    EXPECT_EQ(u.picIcon->pixmap().size(), QSize(24, 22));
    EXPECT_EQ(u.cmdOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(u.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    EXPECT_TRUE(u.cmdOK->isDefault());
    EXPECT_EQ(u.cmdOK->size(), QSize(116, 23));
    EXPECT_EQ(box->size(), QSize(283, 232));
    EXPECT_FALSE(box->isModal());
    EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    // The etched separator: grey over white.
    const QImage line = u.Line1->grab().toImage();
    const int x = line.width() / 2;
    EXPECT_EQ(QColor(line.pixel(x, 0)), QColor(128, 128, 128));
    EXPECT_EQ(QColor(line.pixel(x, 1)), QColor(255, 255, 255));
    EXPECT_EQ(QColor(line.pixel(x, 2)), QColor(255, 255, 255));
    box->close();
}

TEST_F(AboutTest, OpeningSavesUnloadsTheTipsAndLeavesTheMainWindowUsable) {
    ASSERT_TRUE(window->toolTips().isLoaded());
    ui().txtAttempts->setText(QStringLiteral("7"));
    const auto writes = fakes.store.writes.size();
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    EXPECT_GT(fakes.store.writes.size(), writes);
    EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("7"));
    EXPECT_FALSE(window->toolTips().isLoaded());
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(window->isEnabled());
    QTest::mouseClick(box->ui().cmdOK, Qt::LeftButton);
    settle();
    EXPECT_EQ(window->about().box(), nullptr);
    // Closing changes nothing for the tips: they stay off.
    EXPECT_FALSE(window->toolTips().isLoaded());
}

TEST_F(AboutTest, OpeningTwiceSavesAgainAndBringsTheSameBoxToTheFront) {
    frmAbout* first = open();
    ASSERT_NE(first, nullptr);
    first->move(first->pos() + QPoint(30, 30));
    const QPoint moved = first->pos();
    fakes.store.values.clear();
    frmAbout* second = open();
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->pos(), moved);
    EXPECT_TRUE(fakes.store.value(keys::Attempts).has_value());
    EXPECT_EQ(window->findChildren<frmAbout*>().size(), 1);
    first->close();
}

TEST_F(AboutTest, CentredOverTheMainWindow) {
    window->move(40, 30);
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    const QPoint offset = box->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);
    box->close();
}

TEST_F(AboutTest, EnterEscOkAndTheCloseBoxCloseIt) {
    for (int way = 0; way < 4; ++way) {
        frmAbout* box = open();
        ASSERT_NE(box, nullptr);
        QPointer<frmAbout> watch(box);
        switch (way) {
        case 0:
            QTest::keyClick(box, Qt::Key_Return);
            break;
        case 1:
            QTest::keyClick(box, Qt::Key_Escape);
            break;
        case 2:
            QTest::mouseClick(box->ui().cmdOK, Qt::LeftButton);
            break;
        default:
            box->close();
            break;
        }
        settle();
        EXPECT_TRUE(watch.isNull()) << way;
        EXPECT_EQ(window->about().box(), nullptr) << way;
    }
    EXPECT_TRUE(fakes.launcher.started.empty());
}

TEST_F(AboutTest, SystemInfoStartsTheFirstToolFound) {
    addProgram(QStringLiteral("cpu-x"));
    const QString kinfo = addProgram(QStringLiteral("kinfocenter"));
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->ui().cmdSysInfo, Qt::LeftButton);
    ASSERT_EQ(fakes.launcher.started.size(), 1u);
    EXPECT_EQ(fakes.launcher.started.front().program, kinfo);
    EXPECT_TRUE(fakes.launcher.started.front().arguments.isEmpty());
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_TRUE(box->isVisible());
    box->close();
}

TEST_F(AboutTest, SystemInfoWithoutAToolOrWhenItCannotStartSaysSo) {
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    auto expectUnavailable = [&](std::size_t boxes) {
        ASSERT_EQ(fakes.messages.shown.size(), boxes);
        const auto& m = fakes.messages.shown.back();
        EXPECT_EQ(m.text, kUnavailable);
        EXPECT_EQ(m.title, QStringLiteral("EchoWarden"));
        EXPECT_EQ(m.icon, MsgIcon::None);
        EXPECT_EQ(m.buttons, MsgButtons::Ok);
        EXPECT_TRUE(box->isVisible());
    };
    box->StartSysInfo();
    EXPECT_TRUE(fakes.launcher.started.empty());
    expectUnavailable(1);

    // A file that is no program does not count.
    addProgram(QStringLiteral("hardinfo"), false);
    box->StartSysInfo();
    EXPECT_TRUE(fakes.launcher.started.empty());
    expectUnavailable(2);

    addProgram(QStringLiteral("lshw-gtk"));
    fakes.launcher.succeed = false;
    box->cmdSysInfo_Click();
    EXPECT_EQ(fakes.launcher.started.size(), 1u);
    expectUnavailable(3);
    box->close();
}

TEST(AboutPrograms, TheToolsLookedForInOrder) {
    EXPECT_EQ(frmAbout::sysInfoPrograms(),
              QStringList({"hardinfo2", "hardinfo", "kinfocenter", "lshw-gtk", "cpu-x"}));
}

} // namespace
} // namespace ew::test
