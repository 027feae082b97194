#include "metrics/Figures.h"
#include "metrics/MetricsServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

namespace ew::test {
namespace {

using namespace std::chrono_literals;

const QString Quoted = QStringLiteral("a\"b\\c");
const QString Local = QStringLiteral("127.0.0.1");

Attempt attempt(const QString& host, std::optional<std::chrono::nanoseconds> rt, int id = 1,
                Failure failure = Failure::TimedOut, const QString& ip = {}) {
    Attempt a;
    a.entryId = std::uint64_t(id), a.address = host, a.reply = rt.has_value();
    a.roundTrip = rt.value_or(0ns), a.failure = rt ? Failure::None : failure, a.ip = ip;
    return a;
}

// Two entries of one text, a name that never answered, one never sent to, one dropped; the ip
// label as the attempts went, with duplicates.
Figures handMade() {
    Figures f;
    f.setEntries({Local, Quoted, QStringLiteral("never"), QStringLiteral("gone")});
    f.setEntries({Local, Quoted, QStringLiteral("never")});
    for (const auto rt : {100us, 3000us})
        f.record(attempt(Local, rt, 1, {}, Local));
    f.record(attempt(Local, 30s, 2));
    for (const char* ip : {"127.0.0.7", "", "127.0.0.7"})
        f.record(attempt(Quoted, std::nullopt, 1, Failure::Unreachable, ip));
    f.record(attempt(QStringLiteral("never"), std::nullopt, 3, Failure::SendError));
    for (const QString& host : {Local, Local, QStringLiteral("gone")})
        f.duplicate(host);
    f.receiveError();
    f.passEnded(1234ms);
    f.setResting(true);
    return f;
}

TEST(Figures, ExpositionOfHandMadeAttemptsByteForByte) {
    QFile golden(QStringLiteral(EW_SOURCE_DIR "/tests/metrics/expected.prom"));
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
    const Figures f = handMade();
    EXPECT_EQ(f.exposition(Figures::Format::Text).toStdString(), golden.readAll().toStdString());
    // OpenMetrics: a counter's family has no "_total", and the end is marked.
    const QByteArray om = f.exposition(Figures::Format::OpenMetrics);
    EXPECT_TRUE(om.contains("# TYPE smokeping_requests counter\nsmokeping_requests_total{"));
    EXPECT_TRUE(om.endsWith("echowarden_resting 1\n# EOF\n"));
    EXPECT_EQ(Figures::formatFor("application/openmetrics-text;version=1.0.0,text/plain;q=0.5"),
              Figures::Format::OpenMetrics);
}

TEST(Figures, UpFollowsTheThreeFailuresRule) {
    // r reply, f failure; the gauge after them ("" while unknown), and the changes counted.
    const std::vector<std::tuple<const char*, const char*, int>> cases{
        {"ff", "", 0}, {"fff", "0", 0}, {"r", "1", 0}, {"rff", "1", 0}, {"fffrfff", "0", 2}};
    for (const auto& [outcomes, up, changes] : cases) {
        Figures f;
        for (const char* c = outcomes; *c; ++c)
            f.record(attempt(Local, *c == 'r' ? std::optional(1ms) : std::nullopt));
        const QByteArray text = f.exposition(Figures::Format::Text);
        const QByteArray upLine = QByteArray("up{host=\"127.0.0.1\"} ") + up;
        EXPECT_EQ(text.contains(upLine), *up != 0) << outcomes;
        const QByteArray changed =
            "changes_total{host=\"127.0.0.1\"} " + QByteArray::number(changes) + '\n';
        EXPECT_TRUE(text.contains(changed)) << outcomes;
    }
}

// Everything the server sends on one connection until it closes it (at most 5 s).
QByteArray exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    if (closed.isEmpty())
        closed.wait(5000);
    return answer;
}

// The sample of host z in an exposition.
int countOf(const QByteArray& text, const QByteArray& name) {
    const QByteArray key = name + "{host=\"z\",ip=\"\",source=\"\"} ";
    const qsizetype at = text.indexOf(key) + key.size();
    return text.mid(at, text.indexOf('\n', at) - at).toInt();
}

struct Served : ::testing::Test {
    Figures figures = handMade();
    MetricsServer::Limits limits;
    std::unique_ptr<MetricsServer> server;
    quint16 start() {
        server = std::make_unique<MetricsServer>(figures, limits);
        QString error;
        EXPECT_TRUE(server->listen(QStringLiteral("127.0.0.1:0"), &error)) << error.toStdString();
        return server->port();
    }
};

TEST_F(Served, EveryRequestIsAnsweredOrClosed) {
    const quint16 port = start();
    const std::vector<std::pair<QByteArray, QByteArray>> cases{
        {"GET /metrics?x=1 HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Type: text/"},
        {"GET /-/healthy HTTP/1.0\n\n", "HTTP/1.1 200 OK\r\n"},
        {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 "},
        {"BREW /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 405 "},
        {"GET metrics\r\n\r\n", "HTTP/1.1 400 "},
        {"GET / HTTP/1.1\r\nno colon\r\n\r\n", "HTTP/1.1 400 "},
        {"GET / HTTP/1.1\r\n" + QByteArray(70, 'h').replace('h', "h:1\r\n") + "\r\n",
         "HTTP/1.1 431 "},
    };
    for (const auto& [request, answer] : cases)
        EXPECT_TRUE(exchange(port, request).startsWith(answer)) << request.left(20).data();
    const QByteArray head = exchange(port, "HEAD /metrics HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(head.startsWith("HTTP/1.1 200 ") && head.endsWith("\r\n\r\n"));
    // A megabyte of header: told so, or cut off; and the server still serves.
    const QByteArray huge = exchange(port, "GET / HTTP/1.1\r\nX: " + QByteArray(1 << 20, 'x'));
    EXPECT_TRUE(huge.isEmpty() || huge.startsWith("HTTP/1.1 431 "));
    EXPECT_TRUE(exchange(port, "GET /metrics HTTP/1.1\r\n\r\n").endsWith("echowarden_resting 1\n"));
}

TEST_F(Served, ASlowClientIsCutOffAtTheRequestTime) {
    limits.requestTime = 1500ms;
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, start());
    QSignalSpy closed(&slow, &QTcpSocket::disconnected);
    QTimer drip;
    const QByteArray request = "GET /metrics HTTP/1.1\r\n\r\n";
    int sent = 0;
    QObject::connect(&drip, &QTimer::timeout, [&] { slow.write(request.mid(sent++, 1)); });
    drip.start(250);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(closed.wait(4000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(slow.readAll().startsWith("HTTP/1.1 408 "));
}

TEST_F(Served, TwoHundredAtOnceAndABigScrapeLeaveTheLoopFree) {
    limits.connections = 8;
    limits.seriesPerTurn = 20;
    for (int i = 0; i < 1000; ++i)
        figures.record(attempt(QStringLiteral("10.%1.%2.1").arg(i / 250).arg(i % 250), 1ms));
    const quint16 port = start();
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    int closed = 0, answered = 0, busy = 0, paced = 0;
    QTimer tick;
    // The pass goes on: host z, the last series, answers at every turn of the loop.
    QObject::connect(&tick, &QTimer::timeout, [&] { figures.record(attempt("z", 1ms)); });
    tick.start(0);
    for (int i = 0; i < 200; ++i) {
        auto& c = clients.emplace_back(std::make_unique<QTcpSocket>());
        QObject::connect(c.get(), &QTcpSocket::disconnected, [&, s = c.get()] {
            const QByteArray a = s->readAll();
            answered += a.startsWith("HTTP/1.1 200 ") && a.endsWith("echowarden_resting 1\n");
            busy += a.startsWith("HTTP/1.1 503 ");
            paced += countOf(a, "smokeping_requests_total") <
                     countOf(a, "smokeping_response_duration_seconds_count");
            ++closed;
        });
        c->connectToHost(QHostAddress::LocalHost, port);
        c->write("GET /metrics HTTP/1.1\r\n\r\n");
    }
    QElapsedTimer clock;
    clock.start();
    while (closed < 200 && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_EQ(closed, 200);
    EXPECT_EQ(answered + busy, 200);
    EXPECT_GE(answered, limits.connections);
    EXPECT_GT(busy, 0);
    // Between z's requests and its replies, each scrape left turns to the pass.
    EXPECT_EQ(paced, answered);
}

} // namespace
} // namespace ew::test
