#pragma once

// A tiny HTTP/1.1 server on a loopback port for answers a real address book
// server never gives (redirect chains, 207 to PUT, 413, 429, endless bodies,
// hostile XML). Each request gets one answer from `handler`, then the
// connection closes. Runs in the test's thread: the client's own event loop
// serves it while it waits.

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <utility>

namespace kelvo::test {

struct FakeRequest
{
    QByteArray method;
    QByteArray target;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

class FakeHttpServer : public QObject
{
public:
    // What to send back: raw bytes, or one of the special behaviours.
    struct Answer
    {
        QByteArray raw;
        bool endless = false; // headers, then body bytes until the client goes
        bool silent = false;  // never answers
    };
    std::function<Answer(const FakeRequest &)> handler;
    QList<FakeRequest> requests;

    // With a TLS configuration: https (connections are handed over once
    // their handshake is done).
    explicit FakeHttpServer(const QSslConfiguration *tls = nullptr)
    {
        if (tls) {
            auto server = std::make_unique<QSslServer>();
            server->setSslConfiguration(*tls);
            m_server = std::move(server);
        } else {
            m_server = std::make_unique<QTcpServer>();
        }
        m_server->listen(QHostAddress::LocalHost, 0);
        QObject::connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    quint16 port() const { return m_server->serverPort(); }
    QString url(const QString &path = QStringLiteral("/")) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(qobject_cast<QSslServer *>(m_server.get()) ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(port())
            .arg(path);
    }

    static Answer reply(int status, const QByteArray &body = {},
                        const QList<std::pair<QByteArray, QByteArray>> &headers = {})
    {
        QByteArray raw = "HTTP/1.1 " + QByteArray::number(status) + " Fake\r\n";
        for (const auto &[name, value] : headers)
            raw += name + ": " + value + "\r\n";
        raw += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        return {raw};
    }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        FakeRequest request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        const Answer answer = handler ? handler(request) : reply(500);
        if (answer.silent)
            return;
        if (answer.endless) {
            socket->write("HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml\r\nConnection: close\r\n\r\n"
                          "<D:multistatus xmlns:D=\"DAV:\">");
            auto more = [socket] {
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < (1 << 20))
                    socket->write(QByteArray(64 * 1024, ' '));
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
            more();
            return;
        }
        socket->write(answer.raw);
        socket->disconnectFromHost();
    }

    std::unique_ptr<QTcpServer> m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace kelvo::test
