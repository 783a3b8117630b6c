#include "SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

namespace kelvo {

namespace {

const QByteArray ShowRequest = QByteArrayLiteral("show\n");
constexpr qint64 MaxRequestBytes = 64;

} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_lock(name, folder)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::lockFilePath() const
{
    return m_lock.filePath();
}

QString SingleInstance::serverPath() const
{
    return QDir(m_lock.folder()).filePath(m_name + QStringLiteral(".socket"));
}

bool SingleInstance::acquire()
{
    if (m_primary)
        return true;
    const Result<> taken = m_lock.tryLock();
    if (!taken) {
        if (taken.error().code == ErrorCode::InUse)
            return false;
        // The folder is not writable: run without protection rather than
        // not at all.
        qWarning("Kelvo: cannot create the lock file %s", qPrintable(lockFilePath()));
    }
    m_primary = true;
    listen();
    return true;
}

void SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, any socket file left here is a crashed copy's.
    QLocalServer::removeServer(serverPath());
    if (!m_server->listen(serverPath())) {
        qWarning("Kelvo: cannot listen on %s: %s", qPrintable(serverPath()), qPrintable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::readRequest);
}

void SingleInstance::readRequest()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray request = socket->read(MaxRequestBytes);
            socket->disconnectFromServer();
            if (request == ShowRequest)
                Q_EMIT showRequested();
        });
    }
}

bool SingleInstance::askRunningCopyToShow(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(serverPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(ShowRequest);
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

} // namespace kelvo
