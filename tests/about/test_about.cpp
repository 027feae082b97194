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
#include <functional>

namespace ew::test {
namespace {

const FakeMessageBoxes::Box kUnavailable{
    QStringLiteral("System Information Is Unavailable At This Time"), QStringLiteral("EchoWarden"),
    MsgIcon::None, MsgButtons::Ok};

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
        frmAbout* box = window->about().box();
        EXPECT_NE(box, nullptr);
        return box;
    }
    // A program file in the system's program directory.
    QString addProgram(const QString& name, bool executable = true) {
        QFile f(programs.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        if (executable)
            f.setPermissions(f.permissions() | QFile::ExeOwner);
        return f.fileName();
    }
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    QTemporaryDir programs;
};

TEST_F(AboutTest, DesignTextsFontsButtonsAndPlace) {
    window->move(40, 30);
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
    EXPECT_FALSE(u.Label1->text().isEmpty() || u.Label2->text().isEmpty());
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
    EXPECT_EQ(u.picIcon->pixmap().size(), QSize(24, 22));
    EXPECT_EQ(u.cmdOK->text(), QStringLiteral("OK"));
    EXPECT_EQ(u.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    EXPECT_TRUE(u.cmdOK->isDefault());
    EXPECT_EQ(u.cmdOK->size(), QSize(116, 23));
    EXPECT_EQ(box->size(), QSize(283, 232));
    EXPECT_FALSE(box->isModal());
    EXPECT_FALSE(box->windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    // Centred over the main window.
    const QPoint offset = box->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2);

    // The etched separator: grey over white.
    const QImage line = u.Line1->grab().toImage();
    const int x = line.width() / 2;
    EXPECT_EQ(QColor(line.pixel(x, 0)), QColor(128, 128, 128));
    EXPECT_EQ(QColor(line.pixel(x, 1)), QColor(255, 255, 255));
    EXPECT_EQ(QColor(line.pixel(x, 2)), QColor(255, 255, 255));
    box->close();
}

TEST_F(AboutTest, EachOpeningSavesAndBringsTheSameModelessBoxToTheFront) {
    ASSERT_TRUE(window->toolTips().isLoaded());
    ui().txtAttempts->setText(QStringLiteral("7"));
    frmAbout* first = open();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("7"));
    EXPECT_FALSE(window->toolTips().isLoaded());
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(window->isEnabled());

    first->move(first->pos() + QPoint(30, 30));
    const QPoint moved = first->pos();
    fakes.store.values.clear();
    EXPECT_EQ(open(), first);
    EXPECT_EQ(first->pos(), moved);
    EXPECT_TRUE(fakes.store.value(keys::Attempts).has_value());
    EXPECT_EQ(window->findChildren<frmAbout*>().size(), 1);
    first->close();
}

TEST_F(AboutTest, EnterEscOkAndTheCloseBoxCloseIt) {
    const std::function<void(frmAbout*)> ways[] = {
        [](frmAbout* b) { QTest::keyClick(b, Qt::Key_Return); },
        [](frmAbout* b) { QTest::keyClick(b, Qt::Key_Escape); },
        [](frmAbout* b) { QTest::mouseClick(b->ui().cmdOK, Qt::LeftButton); },
        [](frmAbout* b) { b->close(); }};
    for (std::size_t way = 0; way < std::size(ways); ++way) {
        QPointer<frmAbout> box(open());
        ASSERT_FALSE(box.isNull());
        ways[way](box);
        settle();
        EXPECT_TRUE(box.isNull()) << way;
        EXPECT_EQ(window->about().box(), nullptr) << way;
    }
    EXPECT_TRUE(fakes.launcher.started.empty());
    // Closing changes nothing for the tips: they stay off.
    EXPECT_FALSE(window->toolTips().isLoaded());
}

TEST_F(AboutTest, SystemInfoStartsTheFirstToolFoundOrSaysItIsUnavailable) {
    EXPECT_EQ(frmAbout::sysInfoPrograms().join(' '),
              QStringLiteral("hardinfo2 hardinfo kinfocenter lshw-gtk cpu-x"));
    frmAbout* box = open();
    ASSERT_NE(box, nullptr);
    box->StartSysInfo(); // none there
    // A file that is no program does not count.
    addProgram(QStringLiteral("hardinfo"), false);
    box->StartSysInfo();
    EXPECT_TRUE(fakes.launcher.started.empty());
    EXPECT_EQ(fakes.messages.shown, std::vector({kUnavailable, kUnavailable}));

    // One that cannot start.
    const QString lshw = addProgram(QStringLiteral("lshw-gtk"));
    fakes.launcher.succeed = false;
    box->cmdSysInfo_Click();
    EXPECT_EQ(fakes.launcher.started.size(), 1u);
    EXPECT_EQ(fakes.messages.shown.size(), 3u);
    EXPECT_EQ(fakes.messages.shown.back(), kUnavailable);

    // The first in the list's order starts, with no arguments; the box stays open.
    addProgram(QStringLiteral("cpu-x"));
    const QString kinfo = addProgram(QStringLiteral("kinfocenter"));
    fakes.launcher.succeed = true;
    fakes.launcher.started.clear();
    QTest::mouseClick(box->ui().cmdSysInfo, Qt::LeftButton);
    ASSERT_EQ(fakes.launcher.started.size(), 1u);
    EXPECT_EQ(fakes.launcher.started.front().program, kinfo);
    EXPECT_TRUE(fakes.launcher.started.front().arguments.isEmpty());
    EXPECT_EQ(fakes.messages.shown.size(), 3u);
    EXPECT_TRUE(box->isVisible());
    box->close();
}

} // namespace
} // namespace ew::test
