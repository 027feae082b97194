#include "metrics/MetricsServer.h"

#include "metrics/Figures.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>

namespace ew {

namespace {

constexpr QByteArrayView HeadEnd = "\r\n\r\n";
constexpr QByteArrayView BareHeadEnd = "\n\n"; // a hand-typed request (nc, telnet)
constexpr std::chrono::milliseconds RefusedGrace{1000};
// Accepting stops at an error such as running out of descriptors; it is tried again after this.
constexpr std::chrono::milliseconds AcceptRetry{1000};

struct Status {
    int code;
    const char* reason;
};
constexpr Status Ok{200, "OK"};
constexpr Status BadRequest{400, "Bad Request"};
constexpr Status NotFound{404, "Not Found"};
constexpr Status NotAllowed{405, "Method Not Allowed"};
constexpr Status TimedOut{408, "Request Timeout"};
constexpr Status TooLarge{431, "Request Header Fields Too Large"};
constexpr Status Busy{503, "Service Unavailable"};

QByteArray statusLine(Status s) {
    return "HTTP/1.1 " + QByteArray::number(s.code) + ' ' + s.reason + "\r\n";
}

// A short answer in one piece; extra: further header lines, each ending in CR LF.
QByteArray plainAnswer(Status s, bool withBody, const QByteArray& extra = {}) {
    const QByteArray body = QByteArray(s.reason) + '\n';
    QByteArray out = statusLine(s) + "Content-Type: text/plain; charset=utf-8\r\n" +
                     "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + extra +
                     "Connection: close\r\n\r\n";
    return withBody ? out + body : out;
}

struct Request {
    QByteArray method;
    QByteArray path;
    QByteArray accept;
};

// The head up to its blank line: the request line and the header lines.
std::optional<Request> parseHead(QByteArrayView head) {
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3 || !first[2].startsWith("HTTP/1.") || !first[1].startsWith('/'))
        return std::nullopt;
    const qsizetype query = first[1].indexOf('?');
    Request r{first[0], query < 0 ? first[1] : first[1].left(query), {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (line.isEmpty())
            continue;
        if (colon <= 0)
            return std::nullopt;
        if (line.left(colon).trimmed().toLower() == "accept")
            r.accept += line.mid(colon + 1);
    }
    return r;
}

} // namespace

// One client: its request head, then its answer, then the end.
class MetricsServer::Connection : public QObject {
public:
    Connection(MetricsServer& server, QTcpSocket* socket)
        : QObject(&server), server_(server), socket_(socket), timer_(new QTimer(this)) {
        socket_->setParent(this);
        ++server_.connections_;
        timer_->setSingleShot(true);
        timer_->start(server_.limits_.requestTime);
        connect(timer_, &QTimer::timeout, this, &Connection::timeUp);
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::read);
        connect(socket_, &QTcpSocket::bytesWritten, this, &Connection::written);
        connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(socket_, &QTcpSocket::errorOccurred, this, &QObject::deleteLater);
    }
    ~Connection() override {
        --server_.connections_;
        std::erase(server_.ready_, this);
    }

    // Past the limit of connections: told so, and closed soon whether read or not, so that a
    // flood holds few descriptors.
    void refuse() {
        finish(plainAnswer(Busy, true));
        timer_->start(std::min(server_.limits_.stallTime, RefusedGrace));
    }

    // The next piece, once the reader has taken most of the last; the series it wrote.
    int pump(int maxSeries) {
        if (!writer_ || socket_->state() != QAbstractSocket::ConnectedState ||
            socket_->bytesToWrite() > server_.limits_.unsentBytes)
            return 0; // bytesWritten brings it back
        QByteArray piece;
        int written = 0;
        if (!writer_->next(piece, maxSeries, &written)) {
            writer_.reset();
            finish(piece);
        } else {
            socket_->write(piece);
            server_.ready(this);
        }
        return written;
    }

private:
    void read() {
        const QByteArray data = socket_->readAll();
        if (answering_)
            return; // whatever follows the head is not read: only drained
        head_ += data;
        qsizetype end = head_.indexOf(HeadEnd);
        if (end < 0)
            end = head_.indexOf(BareHeadEnd);
        if (end < 0) {
            if (head_.size() > server_.limits_.headBytes ||
                head_.count('\n') > server_.limits_.headers)
                finish(plainAnswer(TooLarge, true));
            return;
        }
        if (end > server_.limits_.headBytes ||
            head_.left(end).count('\n') > server_.limits_.headers)
            return finish(plainAnswer(TooLarge, true));
        answer(parseHead(QByteArrayView(head_).first(end)));
        head_.clear();
    }

    void answer(const std::optional<Request>& request) {
        if (!request)
            return finish(plainAnswer(BadRequest, true));
        const bool head = request->method == "HEAD";
        if (!head && request->method != "GET")
            return finish(plainAnswer(NotAllowed, true, "Allow: GET, HEAD\r\n"));
        if (request->path == "/-/healthy")
            return finish(plainAnswer(Ok, !head));
        if (request->path != "/metrics")
            return finish(plainAnswer(NotFound, !head));
        const Figures::Format format = Figures::formatFor(request->accept);
        const QByteArray headers = statusLine(Ok) +
                                   "Content-Type: " + Figures::contentType(format) +
                                   "\r\nConnection: close\r\n\r\n";
        if (head)
            return finish(headers);
        answering_ = true;
        socket_->write(headers);
        writer_ = std::make_unique<Figures::Writer>(server_.figures_, format);
        timer_->start(server_.limits_.stallTime);
        server_.ready(this);
    }

    void written() {
        if (writer_) {
            timer_->start(server_.limits_.stallTime);
            server_.ready(this);
        }
    }

    void timeUp() {
        if (!answering_)
            return finish(plainAnswer(TimedOut, true));
        // A reader that stopped taking: nobody to tell.
        socket_->abort();
        deleteLater();
    }

    void finish(const QByteArray& last) {
        answering_ = true;
        socket_->write(last);
        socket_->disconnectFromHost(); // once what is written has gone
        // A reader that takes nothing of it holds no connection past the stall time.
        timer_->start(server_.limits_.stallTime);
    }

    MetricsServer& server_;
    QTcpSocket* socket_;
    QTimer* timer_;
    QByteArray head_;
    bool answering_ = false;
    std::unique_ptr<Figures::Writer> writer_;
};

MetricsServer::MetricsServer(const Figures& figures, Limits limits, QObject* parent)
    : QObject(parent), figures_(figures), limits_(limits), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, &MetricsServer::accept);
    connect(server_, &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(AcceptRetry, server_, &QTcpServer::resumeAccepting); });
}

MetricsServer::~MetricsServer() {
    // The connections count themselves off here: before this object is gone.
    const QObjectList children = this->children();
    for (QObject* child : children)
        if (child != server_)
            delete child;
}

bool MetricsServer::parseListen(const QString& text, QHostAddress* address, quint16* port) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        return false; // an IPv6 address needs its brackets
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address->setAddress(host))
        return false;
    *port = static_cast<quint16>(number);
    return true;
}

bool MetricsServer::listen(const QString& addressPort, QString* error) {
    QHostAddress address;
    quint16 port = 0;
    if (!parseListen(addressPort, &address, &port)) {
        *error = QStringLiteral("\"%1\" is no ADDRESS:PORT to listen on").arg(addressPort);
        return false;
    }
    server_->close();
    if (!server_->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(addressPort, server_->errorString());
        return false;
    }
    return true;
}

void MetricsServer::stopListening() {
    server_->close();
}

quint16 MetricsServer::port() const {
    return server_->serverPort();
}

void MetricsServer::ready(Connection* connection) {
    if (std::find(ready_.begin(), ready_.end(), connection) == ready_.end())
        ready_.push_back(connection);
    if (!turnDue_) {
        turnDue_ = true;
        QTimer::singleShot(0, this, &MetricsServer::turn);
    }
}

void MetricsServer::turn() {
    turnDue_ = false;
    int budget = limits_.seriesPerTurn;
    // Each answer waiting now gets at most one piece this turn; one that wants more queues
    // again, for the next turn.
    for (std::size_t waiting = ready_.size(); waiting > 0 && budget > 0; --waiting) {
        Connection* c = ready_.front();
        ready_.pop_front();
        budget -= std::max(1, c->pump(budget));
    }
    if (!ready_.empty() && !turnDue_) {
        turnDue_ = true;
        QTimer::singleShot(0, this, &MetricsServer::turn);
    }
}

void MetricsServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        auto* c = new Connection(*this, socket);
        if (connections_ > limits_.connections)
            c->refuse();
    }
}

} // namespace ew
