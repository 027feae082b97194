#include "support/MainWindowFixture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace ew::test {
namespace {

using ServeFigures = MainWindowTest;

TEST_F(ServeFigures, ATakenPortIsToldOnceAndAFreeOneServes) {
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const quint16 port = taken.serverPort();
    fakes.store.values.insert(QStringLiteral("8R1/EchoWarden/ServeMetrics"), "True");
    fakes.store.values.insert(QStringLiteral("8R1/EchoWarden/MetricsListen"),
                              QStringLiteral("127.0.0.1:%1").arg(port));
    load();
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    EXPECT_EQ(fakes.messages.shown[0].title, "Serve figures for Prometheus");
    EXPECT_TRUE(ui().mnuServeMetrics->isChecked());
    ui().mnuServeMetrics->trigger(); // off
    ui().mnuServeMetrics->trigger(); // on again: still taken, and told no more
    EXPECT_EQ(fakes.messages.shown.size(), 1u);

    taken.close();
    ui().mnuServeMetrics->trigger();
    ui().mnuServeMetrics->trigger();
    QTcpSocket scraper;
    QSignalSpy closed(&scraper, &QTcpSocket::disconnected);
    scraper.connectToHost(QHostAddress::LocalHost, port);
    scraper.write("GET /metrics HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(closed.wait(5000));
    EXPECT_TRUE(scraper.readAll().startsWith("HTTP/1.1 200 OK"));
}

} // namespace
} // namespace ew::test
