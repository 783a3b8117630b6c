#pragma once

// A real address book server for the tests: Debian's radicale or xandikos,
// started on a free loopback port in a temporary folder, waited for, and
// killed when the object goes (also when a test fails half-way). Tests skip
// (QSKIP) only when the server program is not installed.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <utility>

namespace kelvo::test {

class DavTestServer
{
public:
    enum class Kind { Radicale, Xandikos };

    explicit DavTestServer(Kind kind);
    ~DavTestServer();
    DavTestServer(const DavTestServer &) = delete;
    DavTestServer &operator=(const DavTestServer &) = delete;

    Kind kind() const { return m_kind; }
    static QString name(Kind kind);
    // The program's path; empty when it is not installed.
    static QString program(Kind kind);

    // With a password (radicale only: htpasswd, plain): requests without the
    // right one are refused. Without, radicale takes any user and password
    // (and needs some user); xandikos takes none.
    void requirePassword(const QString &user, const QString &password);
    // Over https (radicale only), with a self-signed certificate for
    // 127.0.0.1 made by openssl at start; its SHA-256 fingerprint (hex).
    void useTls() { m_tls = true; }
    QByteArray certificateSha256() const { return m_certificateSha256; }

    // Starts the server and waits until it answers (at most ~20 s); then makes
    // an address book (radicale: extended MKCOL of /USER/kelvo-book/;
    // xandikos: the one its --defaults make). False with errorString() when
    // it could not.
    bool start();
    // Starts the stopped server again on its folder and port (a server that
    // comes back after a crash).
    bool restart();
    QString errorString() const { return m_error; }
    bool isRunning() const;

    // Stops the server hard (SIGKILL); mid-run on request. A stopped server
    // answers nothing (connections refused).
    void kill();
    // Stops the server's process without ending it (SIGSTOP): connections are
    // accepted by the kernel but nothing answers. resume() undoes it.
    void freeze();
    void resume();

    QString user() const { return m_user; }
    QString password() const { return m_password; }
    quint16 port() const { return m_port; }
    QString rootUrl() const;  // "http://127.0.0.1:PORT/"
    QString bookUrl() const;  // the address book made by start()
    QString bookPath() const; // its path, "/.../"
    QString folder() const { return m_dir ? m_dir->path() : QString(); }

    // A plain HTTP request to the server (the second device of the tests),
    // with the server's credentials. Status 0 when there was no answer.
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray header(const QByteArray &name) const;
    };
    Reply request(const QByteArray &method, const QString &pathOrUrl, const QByteArray &body = {},
                  const QList<std::pair<QByteArray, QByteArray>> &headers = {}) const;

    // A small vCard 3.0 with this UID and full name.
    static QByteArray vcard(const QString &uid, const QString &fullName, const QString &extraLines = {});

private:
    bool startOnce(bool again);

    Kind m_kind;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_user = QStringLiteral("kelvo");
    QString m_password = QStringLiteral("secret");
    bool m_auth = false;
    bool m_tls = false;
    QByteArray m_certificateSha256;
    quint16 m_port = 0;
    QString m_bookPath;
    QString m_error;
};

} // namespace kelvo::test
