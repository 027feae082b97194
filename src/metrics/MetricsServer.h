#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <chrono>
#include <deque>

class QTcpServer;

namespace ew {

class Figures;

// The figures at /metrics for a fleet's Prometheus, and 200 at /-/healthy, over plain HTTP on
// the event loop's thread. A request is read by a small parser of our own that bounds
// everything an outsider controls: the size of the request head and its header count, the
// time it may take to arrive, the time a reader may leave the answer untaken, and the
// connections at once. GET and HEAD only; every other method is answered 405, every other
// path 404, and anything malformed 400, each then closed. An answer is written a few series
// per turn of the event loop and only as fast as the reader takes it, so a scrape of many
// thousand hosts never holds a pass nor piles up in memory.
class MetricsServer : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int connections = 32;
        int headBytes = 8192; // the request line and the headers together
        int headers = 64;
        std::chrono::milliseconds requestTime{10000}; // from the connection to the head's end
        std::chrono::milliseconds stallTime{10000};   // the reader takes nothing of the answer
        int seriesPerTurn = 50;                       // of all the answers together
        qint64 unsentBytes = 256 * 1024; // written but not yet taken, before the next piece
    };
    // Nobody's exporter (every port of the 9100 to 9999 range that Prometheus keeps for
    // exporters is taken), below the kernel's ephemeral ports, and ending like
    // smokeping_prober's 9374 to be found beside it.
    static constexpr quint16 DefaultPort = 29374;
    static QString defaultListen() { return QStringLiteral("127.0.0.1:29374"); }

    MetricsServer(const Figures& figures, Limits limits, QObject* parent = nullptr);
    explicit MetricsServer(const Figures& figures, QObject* parent = nullptr)
        : MetricsServer(figures, Limits{}, parent) {}
    ~MetricsServer() override;

    // "ADDRESS:PORT", with an IPv6 address in brackets: "[::1]:29374".
    static bool parseListen(const QString& text, QHostAddress* address, quint16* port);
    // False with a sentence for the operator: a malformed address, a port taken or refused.
    bool listen(const QString& addressPort, QString* error);
    void stopListening();
    quint16 port() const;
    int connections() const { return connections_; }

private:
    class Connection;
    void accept();
    // Hands the turn's series out to the answers that can take more, in turn.
    void turn();
    void ready(Connection* connection);

    const Figures& figures_;
    Limits limits_;
    QTcpServer* server_;
    int connections_ = 0;
    std::deque<Connection*> ready_;
    bool turnDue_ = false;
};

} // namespace ew
