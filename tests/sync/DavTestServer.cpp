#include "DavTestServer.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

namespace kelvo::test {

namespace {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

} // namespace

DavTestServer::DavTestServer(Kind kind) : m_kind(kind) {}

DavTestServer::~DavTestServer()
{
    kill();
}

QString DavTestServer::name(Kind kind)
{
    return kind == Kind::Radicale ? QStringLiteral("radicale") : QStringLiteral("xandikos");
}

QString DavTestServer::program(Kind kind)
{
    if (kind == Kind::Radicale)
        return QFile::exists(QStringLiteral("/usr/bin/radicale")) ? QStringLiteral("/usr/bin/radicale") : QString();
    return QStandardPaths::findExecutable(QStringLiteral("xandikos"));
}

void DavTestServer::requirePassword(const QString &user, const QString &password)
{
    m_auth = true;
    m_user = user;
    m_password = password;
}

QString DavTestServer::rootUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2/").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_port);
}

QString DavTestServer::bookUrl() const
{
    return rootUrl().chopped(1) + m_bookPath;
}

QString DavTestServer::bookPath() const
{
    return m_bookPath;
}

bool DavTestServer::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

bool DavTestServer::start()
{
    if (program(m_kind).isEmpty()) {
        m_error = name(m_kind) + QStringLiteral(" is not installed");
        return false;
    }
    // A port found free may be taken by someone else before the server binds
    // it: a few tries.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(false))
            return true;
        kill();
    }
    return false;
}

bool DavTestServer::restart()
{
    if (!m_dir || m_port == 0) {
        m_error = QStringLiteral("the server was never started");
        return false;
    }
    kill();
    if (m_kind == Kind::Xandikos) {
        // Killed while it wrote, xandikos leaves git's index lock behind and
        // refuses every write until it is gone, as an administrator would
        // find after a crash; the restart removes it.
        QDirIterator it(m_dir->filePath(QStringLiteral("data")), {QStringLiteral("index.lock")},
                        QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            QFile::remove(it.next());
    }
    return startOnce(true);
}

bool DavTestServer::startOnce(bool again)
{
    if (!again) {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid()) {
            m_error = QStringLiteral("no temporary folder");
            return false;
        }
        m_port = freeLoopbackPort();
    }
    if (m_port == 0) {
        m_error = QStringLiteral("no free loopback port");
        return false;
    }
    QStringList arguments;
    if (m_kind == Kind::Radicale) {
        arguments << QStringLiteral("--config") << QString() << QStringLiteral("--server-hosts")
                  << QStringLiteral("127.0.0.1:%1").arg(m_port) << QStringLiteral("--storage-filesystem-folder")
                  << m_dir->filePath(QStringLiteral("collections"));
        if (m_auth) {
            const QString users = m_dir->filePath(QStringLiteral("users"));
            QFile file(users);
            if (!file.open(QIODevice::WriteOnly)) {
                m_error = QStringLiteral("cannot write the htpasswd file");
                return false;
            }
            file.write((m_user + QLatin1Char(':') + m_password + QLatin1Char('\n')).toUtf8());
            file.close();
            arguments << QStringLiteral("--auth-type") << QStringLiteral("htpasswd")
                      << QStringLiteral("--auth-htpasswd-filename") << users
                      << QStringLiteral("--auth-htpasswd-encryption") << QStringLiteral("plain");
        }
        if (m_tls) {
            const QString certificate = m_dir->filePath(QStringLiteral("cert.pem"));
            const QString key = m_dir->filePath(QStringLiteral("key.pem"));
            if (!QFileInfo::exists(certificate)) {
                QProcess openssl;
                openssl.start(QStringLiteral("openssl"),
                              {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                               QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                               QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                               QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate});
                if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
                    m_error = QStringLiteral("openssl could not make a certificate");
                    return false;
                }
            }
            const QList<QSslCertificate> made = QSslCertificate::fromPath(certificate);
            if (made.isEmpty()) {
                m_error = QStringLiteral("the certificate openssl made cannot be read");
                return false;
            }
            m_certificateSha256 = made.first().digest(QCryptographicHash::Sha256).toHex();
            arguments << QStringLiteral("--server-ssl") << QStringLiteral("True") << QStringLiteral("--server-certificate")
                      << certificate << QStringLiteral("--server-key") << key;
        }
        m_bookPath = QStringLiteral("/%1/kelvo-book/").arg(m_user);
    } else {
        arguments << QStringLiteral("--defaults") << QStringLiteral("-d") << m_dir->filePath(QStringLiteral("data"))
                  << QStringLiteral("-l") << QStringLiteral("127.0.0.1") << QStringLiteral("-p")
                  << QString::number(m_port);
        m_bookPath = QStringLiteral("/user/contacts/addressbook/");
    }
    m_process = std::make_unique<QProcess>();
    m_process->setStandardOutputFile(m_dir->filePath(QStringLiteral("server.log")));
    m_process->setStandardErrorFile(m_dir->filePath(QStringLiteral("server.log")), QIODevice::Append);
    m_process->start(program(m_kind), arguments);
    if (!m_process->waitForStarted(10000)) {
        m_error = name(m_kind) + QStringLiteral(" did not start: ") + m_process->errorString();
        return false;
    }
    QDeadlineTimer deadline(20000);
    for (;;) {
        if (m_process->state() == QProcess::NotRunning) {
            QFile log(m_dir->filePath(QStringLiteral("server.log")));
            log.open(QIODevice::ReadOnly);
            m_error = name(m_kind) + QStringLiteral(" ended: ") + QString::fromUtf8(log.readAll().right(2000));
            return false;
        }
        if (request("OPTIONS", QStringLiteral("/")).status != 0)
            break;
        if (deadline.hasExpired()) {
            m_error = name(m_kind) + QStringLiteral(" does not answer on port ") + QString::number(m_port);
            return false;
        }
        QThread::msleep(50);
    }
    if (again) {
        m_error.clear();
        return true;
    }
    if (m_kind == Kind::Radicale) {
        const QByteArray mkcol =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<D:mkcol xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop>"
            "<D:resourcetype><D:collection/><C:addressbook/></D:resourcetype>"
            "<D:displayname>Kelvo</D:displayname></D:prop></D:set></D:mkcol>";
        const Reply made = request("MKCOL", m_bookPath, mkcol, {{"Content-Type", "application/xml"}});
        if (made.status != 201) {
            m_error = QStringLiteral("MKCOL %1 answered %2").arg(m_bookPath).arg(made.status);
            return false;
        }
    } else {
        const Reply there = request("PROPFIND", m_bookPath, {}, {{"Depth", "0"}});
        if (there.status != 207) {
            m_error = QStringLiteral("xandikos has no address book at %1 (%2)").arg(m_bookPath).arg(there.status);
            return false;
        }
    }
    m_error.clear();
    return true;
}

void DavTestServer::kill()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
}

void DavTestServer::freeze()
{
    if (isRunning())
        ::kill(pid_t(m_process->processId()), SIGSTOP);
}

void DavTestServer::resume()
{
    if (isRunning())
        ::kill(pid_t(m_process->processId()), SIGCONT);
}

QByteArray DavTestServer::Reply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

DavTestServer::Reply DavTestServer::request(const QByteArray &method, const QString &pathOrUrl,
                                            const QByteArray &body,
                                            const QList<std::pair<QByteArray, QByteArray>> &headers) const
{
    QNetworkAccessManager nam;
    const QUrl url = pathOrUrl.startsWith(QLatin1String("http")) ? QUrl(pathOrUrl) : QUrl(rootUrl()).resolved(QUrl(pathOrUrl));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Authorization", "Basic " + (m_user + QLatin1Char(':') + m_password).toUtf8().toBase64());
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/xml"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = nam.sendCustomRequest(request, method, body);
    if (m_tls) // the second device knows the server's own certificate
        reply->ignoreSslErrors();
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, [reply] { reply->abort(); });
    if (!reply->isFinished())
        loop.exec();
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    for (const auto &pair : reply->rawHeaderPairs())
        out.headers.append({pair.first, pair.second});
    delete reply;
    return out;
}

QByteArray DavTestServer::vcard(const QString &uid, const QString &fullName, const QString &extraLines)
{
    QString text = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\n").arg(uid, fullName);
    if (!extraLines.isEmpty()) {
        text += extraLines;
        if (!text.endsWith(QLatin1String("\r\n")))
            text += QLatin1String("\r\n");
    }
    text += QLatin1String("END:VCARD\r\n");
    return text.toUtf8();
}

} // namespace kelvo::test
