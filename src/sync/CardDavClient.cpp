#include "CardDavClient.h"

#include "DavXml.h"

#include <QAuthenticator>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
#include <QTimer>

#if QT_CONFIG(ssl)
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#endif

namespace kelvo::sync {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

struct CardDavClient::Answer
{
    int status = 0;
    QByteArray reason;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QUrl url; // where the answer came from (after redirects)

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

namespace {

constexpr int kMaxRedirects = 5;

const QByteArray kXmlType = QByteArrayLiteral("application/xml; charset=utf-8");

const QByteArray kDiscoveryProps = QByteArrayLiteral(
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:prop>"
    "<D:resourcetype/><D:displayname/><D:current-user-principal/>"
    "<C:addressbook-home-set/><C:supported-address-data/>"
    "</D:prop></D:propfind>");

const QByteArray kListingProps = QByteArrayLiteral(
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/><D:getetag/><D:sync-token/></D:prop></D:propfind>");

RemoteError makeError(RemoteStatus status, int http, QString text)
{
    return RemoteError{status, http, std::move(text)};
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// The path of a collection or resource for comparing: decoded, without a
// trailing slash.
QString comparablePath(const QUrl &url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
           && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(a.scheme() == QLatin1String("https") ? 443 : 80)
                  == b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

QUrl withTrailingSlash(QUrl url)
{
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
        url.setPath(path, QUrl::TolerantMode);
    }
    return url;
}

int versionOf(const QStringList &offered)
{
    for (const QString &v : offered)
        if (v.trimmed() == QLatin1String("4.0"))
            return 4;
    return 3;
}

// Seconds to wait by a Retry-After header (a number or an HTTP date); -1 when
// absent or unreadable.
int retryAfterSeconds(const QByteArray &value)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return -1;
    bool ok = false;
    const qlonglong seconds = trimmed.toLongLong(&ok);
    if (ok)
        return seconds < 0 ? 0 : int(std::min<qlonglong>(seconds, 24 * 3600));
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(trimmed), Qt::RFC2822Date);
    if (!when.isValid())
        return -1;
    const qint64 delta = QDateTime::currentDateTimeUtc().secsTo(when);
    return delta < 0 ? 0 : int(std::min<qint64>(delta, 24 * 3600));
}

QByteArray normalizedFingerprint(const QByteArray &hex)
{
    QByteArray out;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

QString colonHex(const QByteArray &digest)
{
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

} // namespace

CardDavClient::CardDavClient(CardDavSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)), m_nam(std::make_unique<QNetworkAccessManager>())
{
    // user:password@ typed into the address: taken as the credentials when
    // none were given, and never kept in the url.
    const QUrl typed(m_settings.url.contains(QLatin1String("://")) ? m_settings.url
                                                                   : QLatin1String("https://") + m_settings.url);
    if (m_settings.user.isEmpty() && !typed.userName().isEmpty()) {
        m_settings.user = typed.userName();
        if (m_settings.password.isEmpty())
            m_settings.password = typed.password();
    }
    m_nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(m_nam.get(), &QNetworkAccessManager::authenticationRequired, this,
            &CardDavClient::onAuthenticationRequired);
}

CardDavClient::~CardDavClient() = default;

QUrl CardDavClient::normalizedUrl(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return {};
    QUrl url(text.contains(QLatin1String("://")) ? text : QLatin1String("https://") + text, QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return {};
    url.setScheme(scheme);
    url.setUserInfo(QString());
    url.setFragment(QString());
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url;
}

bool CardDavClient::transportAllowed(const QUrl &url, bool allowInsecureHttp)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    if (allowInsecureHttp)
        return true;
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString CardDavClient::redacted(QString text) const
{
    if (!m_settings.password.isEmpty()) {
        text.replace(m_settings.password, QLatin1String("***"));
        const QByteArray basic = (m_settings.user + QLatin1Char(':') + m_settings.password).toUtf8().toBase64();
        text.replace(QString::fromLatin1(basic), QLatin1String("***"));
    }
    return text;
}

void CardDavClient::onAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator)
{
    // One offer per request: credentials the server refused once are not sent
    // again (no loop of 401s). Basic credentials already went with the
    // request, so a Basic challenge means they were refused.
    if (reply != m_current || m_settings.user.isEmpty() || m_authOffers >= 1)
        return;
    const QByteArray challenge = reply->rawHeader("WWW-Authenticate").trimmed();
    if (challenge.left(5).compare("basic", Qt::CaseInsensitive) == 0)
        return;
    ++m_authOffers;
    authenticator->setUser(m_settings.user);
    authenticator->setPassword(m_settings.password);
}

RemoteResult<CardDavClient::Answer> CardDavClient::sendOnce(const QByteArray &method, const QUrl &url,
                                                             const QByteArray &body, const HeaderList &headers)
{
    if (!transportAllowed(url, m_settings.allowInsecureHttp))
        return makeError(RemoteStatus::Insecure, 0,
                         QStringLiteral("plain http to %1 is not allowed: use https, or confirm the unencrypted "
                                        "connection")
                             .arg(url.host()));

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Kelvo"));
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    if (!m_settings.user.isEmpty()) {
        // Basic credentials go with the first request (the transport is https,
        // loopback or confirmed); a Digest server's challenge is answered once.
        request.setRawHeader("Authorization",
                             "Basic "
                                 + (m_settings.user + QLatin1Char(':') + m_settings.password).toUtf8().toBase64());
    }

    ++m_requestCount;
    m_authOffers = 0;
    QNetworkReply *reply = m_nam->sendCustomRequest(request, method, body);
    m_current = reply;

    Answer answer;
    bool overCap = false;
    bool timedOut = false;
    QString certificateProblem;
    QEventLoop loop;
    const qint64 cap = m_settings.maxResponseBytes;

    auto readSome = [&] {
        if (overCap)
            return;
        const qint64 room = cap - answer.body.size();
        if (reply->bytesAvailable() > room) {
            overCap = true;
            reply->abort();
            return;
        }
        answer.body += reply->readAll();
    };
    connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        bool known = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > cap) {
            overCap = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, &loop, readSome);
#if QT_CONFIG(ssl)
    connect(reply, &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError> &errors) {
        QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
        if (certificate.isNull() && !errors.isEmpty())
            certificate = errors.first().certificate();
        const QByteArray digest = certificate.digest(QCryptographicHash::Sha256);
        const QByteArray trusted = normalizedFingerprint(m_settings.trustedCertificateSha256);
        if (!certificate.isNull() && !trusted.isEmpty() && digest.toHex() == trusted) {
            reply->ignoreSslErrors(errors);
            return;
        }
        QStringList reasons;
        for (const QSslError &error : errors)
            reasons.append(error.errorString());
        certificateProblem = QStringLiteral("the server's certificate is not trusted (%1); SHA-256 fingerprint %2")
                                 .arg(reasons.join(QLatin1String("; ")),
                                      certificate.isNull() ? QStringLiteral("unknown") : colonHex(digest));
    });
#endif
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    timer.start(m_settings.requestTimeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    timer.stop();
    if (!overCap && !timedOut)
        readSome();
    m_current = nullptr;
    reply->disconnect(&loop);
    // Deleted here, not later: a caller inside a long run of requests in its
    // thread's own event loop would otherwise keep every reply until the end.
    const std::unique_ptr<QNetworkReply> owned(reply);

    const QString where = url.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery);
    if (overCap)
        return makeError(RemoteStatus::Protocol, 0,
                         QStringLiteral("the answer of %1 is larger than %2 bytes").arg(where).arg(cap));
    if (timedOut)
        return makeError(RemoteStatus::Network, 0,
                         QStringLiteral("no complete answer from %1 within %2 s")
                             .arg(where)
                             .arg(m_settings.requestTimeoutMs / 1000.0));
    if (!certificateProblem.isEmpty())
        return makeError(RemoteStatus::Certificate, 0, certificateProblem);

    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.status == 0) {
        const auto code = reply->error();
        const RemoteStatus status =
            code == QNetworkReply::SslHandshakeFailedError ? RemoteStatus::Certificate : RemoteStatus::Network;
        return makeError(status, 0, redacted(QStringLiteral("%1: %2").arg(where, reply->errorString())));
    }
    answer.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    answer.headers = reply->rawHeaderPairs();
    answer.url = url;
    // A reply cut short after its status line (the server went away) is no
    // answer at all.
    switch (reply->error()) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProtocolFailure:
        return makeError(RemoteStatus::Network, 0,
                         redacted(QStringLiteral("%1: %2").arg(where, reply->errorString())));
    default:
        break;
    }
    return answer;
}

RemoteResult<CardDavClient::Answer> CardDavClient::send(const QByteArray &method, QUrl url, const QByteArray &body,
                                                         const HeaderList &headers)
{
    int redirects = 0;
    int waits = 0;
    for (;;) {
        RemoteResult<Answer> result = sendOnce(method, url, body, headers);
        if (!result)
            return result;
        Answer &answer = result.value();
        if (isRedirect(answer.status)) {
            const QByteArray location = answer.header("Location").trimmed();
            if (location.isEmpty())
                return makeError(RemoteStatus::Protocol, answer.status,
                                 QStringLiteral("a redirect without a target (HTTP %1)").arg(answer.status));
            if (++redirects > kMaxRedirects)
                return makeError(RemoteStatus::Protocol, answer.status,
                                 QStringLiteral("more than %1 redirects").arg(kMaxRedirects));
            const QUrl next = url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
            const QString scheme = next.scheme().toLower();
            if (!next.isValid() || next.host().isEmpty()
                || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
                return makeError(RemoteStatus::Protocol, answer.status, QStringLiteral("a redirect to an unusable address"));
            if (url.scheme() == QLatin1String("https") && scheme != QLatin1String("https"))
                return makeError(RemoteStatus::Insecure, answer.status,
                                 QStringLiteral("the server redirects from https to plain http (%1)")
                                     .arg(next.toDisplayString(QUrl::RemoveUserInfo)));
            url = next;
            continue;
        }
        if (answer.status == 429 || answer.status == 503) {
            if (waits >= m_settings.maxRetryWaits)
                return makeError(RemoteStatus::Busy, answer.status,
                                 QStringLiteral("the server is busy (HTTP %1); try again later").arg(answer.status));
            ++waits;
            int seconds = retryAfterSeconds(answer.header("Retry-After"));
            if (seconds < 0)
                seconds = 1;
            seconds = std::min(seconds, m_settings.maxRetryAfterSeconds);
            if (seconds > 0) {
                QEventLoop pause;
                QTimer::singleShot(seconds * 1000, &pause, &QEventLoop::quit);
                pause.exec(QEventLoop::ExcludeUserInputEvents);
            }
            continue;
        }
        return result;
    }
}

RemoteResult<CardDavClient::Answer> CardDavClient::propfind(const QUrl &url, int depth, const QByteArray &body)
{
    return send("PROPFIND", url, body,
                {{"Depth", QByteArray::number(depth)}, {"Content-Type", kXmlType}});
}

RemoteError CardDavClient::errorOf(const Answer &answer, const QString &what) const
{
    const int code = answer.status;
    const QString text = redacted(QStringLiteral("%1: HTTP %2 %3").arg(what).arg(code).arg(QString::fromLatin1(answer.reason)));
    switch (code) {
    case 401:
        return makeError(RemoteStatus::AuthFailed, code,
                         redacted(QStringLiteral("%1: the server refused the user name or password (HTTP 401)").arg(what)));
    case 403:
        return makeError(RemoteStatus::AuthFailed, code,
                         redacted(QStringLiteral("%1: access forbidden for this user (HTTP 403)").arg(what)));
    case 404:
    case 410:
        return makeError(RemoteStatus::NotFound, code, text);
    case 412:
        return makeError(RemoteStatus::PreconditionFailed, code, text);
    case 413:
        return makeError(RemoteStatus::TooLarge, code, text);
    case 429:
    case 503:
        return makeError(RemoteStatus::Busy, code, text);
    default:
        return makeError(code >= 200 && code < 300 ? RemoteStatus::Protocol : RemoteStatus::Server, code, text);
    }
}

QString CardDavClient::hrefFor(const QString &serverHref, const QUrl &base) const
{
    if (serverHref.startsWith(QLatin1Char('/')))
        return serverHref;
    const QUrl url(serverHref, QUrl::TolerantMode);
    if (url.isRelative())
        return base.resolved(url).path(QUrl::FullyEncoded);
    if (sameOrigin(url, base))
        return url.path(QUrl::FullyEncoded);
    return url.toString(QUrl::FullyEncoded);
}

RemoteResult<QUrl> CardDavClient::resourceUrl(const QString &href) const
{
    if (!m_collection.isValid())
        return makeError(RemoteStatus::Protocol, 0, QStringLiteral("no address book is open"));
    if (href.isEmpty())
        return makeError(RemoteStatus::Protocol, 0, QStringLiteral("an empty resource name"));
    const QUrl given(href, QUrl::TolerantMode);
    if (!given.isValid())
        return makeError(RemoteStatus::Protocol, 0, QStringLiteral("an unusable resource name"));
    const QUrl url = given.isRelative() ? m_collection.resolved(given) : given;
    if (!sameOrigin(url, m_collection))
        return makeError(RemoteStatus::Protocol, 0,
                         QStringLiteral("the resource %1 is not on the address book's server").arg(href));
    return url;
}

// --- discovery ---------------------------------------------------------------

RemoteResult<QList<AddressBookInfo>> CardDavClient::discover()
{
    const QUrl typed = normalizedUrl(m_settings.url);
    if (!typed.isValid())
        return makeError(RemoteStatus::Protocol, 0,
                         QStringLiteral("\"%1\" is not a server address").arg(redacted(m_settings.url)));
    if (!transportAllowed(typed, m_settings.allowInsecureHttp))
        return sendOnce("PROPFIND", typed, {}, {}).error(); // the same refusal, before any traffic

    // Errors that end the discovery at once; anything else tries the next way.
    auto fatal = [](const RemoteError &e) {
        switch (e.status) {
        case RemoteStatus::Network:
        case RemoteStatus::Certificate:
        case RemoteStatus::Insecure:
        case RemoteStatus::Busy:
            return true;
        case RemoteStatus::AuthFailed:
            return e.httpStatus == 401;
        default:
            return false;
        }
    };

    // Depth 0 PROPFIND of one address: its own response.
    auto self = [&](const QUrl &url, QUrl *answeredAt) -> RemoteResult<DavResponse> {
        auto answer = propfind(url, 0, kDiscoveryProps);
        if (!answer)
            return answer.error();
        if (answer.value().status != 207)
            return errorOf(answer.value(), QStringLiteral("PROPFIND %1").arg(url.path()));
        QString why;
        const auto parsed = parseMultistatus(answer.value().body, &why);
        if (!parsed)
            return makeError(RemoteStatus::Protocol, 207, why);
        *answeredAt = answer.value().url;
        const QString wanted = comparablePath(answer.value().url);
        for (const DavResponse &r : parsed->responses)
            if (comparablePath(answer.value().url.resolved(QUrl(r.href))) == wanted)
                return r;
        if (parsed->responses.size() == 1)
            return parsed->responses.first();
        return makeError(RemoteStatus::Protocol, 207, QStringLiteral("the server did not describe %1").arg(url.path()));
    };

    QList<AddressBookInfo> books;
    QUrl context = typed;
    RemoteError firstError;
    DavResponse start;
    bool haveStart = false;
    {
        QUrl at;
        auto r = self(typed, &at);
        if (r) {
            if (r.value().isAddressBook) {
                books.append({withTrailingSlash(at).toString(), r.value().displayName,
                              versionOf(r.value().addressDataVersions)});
                return books;
            }
            start = r.value();
            haveStart = true;
            context = at;
        } else if (fatal(r.error())) {
            return r.error();
        } else {
            firstError = r.error();
        }
    }
    if (!haveStart || (start.principalHrefs.isEmpty() && start.homeSetHrefs.isEmpty())) {
        QUrl at;
        auto r = self(typed.resolved(QUrl(QStringLiteral("/.well-known/carddav"))), &at);
        if (r) {
            start = r.value();
            haveStart = true;
            context = at;
        } else if (fatal(r.error())) {
            return r.error();
        }
    }
    if (!haveStart)
        return firstError;

    QStringList homes = start.homeSetHrefs;
    QUrl homeBase = context;
    if (homes.isEmpty() && !start.principalHrefs.isEmpty()) {
        const QUrl principal = context.resolved(QUrl(start.principalHrefs.first()));
        QUrl at;
        auto r = self(principal, &at);
        if (!r)
            return r.error();
        homes = r.value().homeSetHrefs;
        homeBase = at;
    }
    QList<QUrl> homeUrls;
    for (const QString &home : homes)
        homeUrls.append(homeBase.resolved(QUrl(home)));
    if (homeUrls.isEmpty())
        homeUrls.append(context);

    for (const QUrl &home : homeUrls) {
        auto answer = propfind(home, 1, kDiscoveryProps);
        if (!answer)
            return answer.error();
        if (answer.value().status != 207)
            return errorOf(answer.value(), QStringLiteral("PROPFIND %1").arg(home.path()));
        QString why;
        const auto parsed = parseMultistatus(answer.value().body, &why);
        if (!parsed)
            return makeError(RemoteStatus::Protocol, 207, why);
        for (const DavResponse &r : parsed->responses) {
            if (!r.isAddressBook)
                continue;
            const QUrl url = withTrailingSlash(answer.value().url.resolved(QUrl(r.href)));
            if (!sameOrigin(url, answer.value().url))
                continue;
            books.append({url.toString(), r.displayName, versionOf(r.addressDataVersions)});
        }
    }
    if (books.isEmpty())
        return makeError(RemoteStatus::NotFound, 0,
                         QStringLiteral("no address book found at %1").arg(typed.toDisplayString(QUrl::RemoveUserInfo)));
    return books;
}

RemoteResult<AddressBookInfo> CardDavClient::open()
{
    auto found = discover();
    if (!found)
        return found.error();
    const AddressBookInfo book = found.value().first();
    useAddressBook(book);
    return book;
}

void CardDavClient::useAddressBook(const AddressBookInfo &book)
{
    m_collection = withTrailingSlash(QUrl(book.url, QUrl::TolerantMode));
    m_vcardVersion = book.vcardVersion == 4 ? 4 : 3;
}

QString CardDavClient::collectionUrl() const
{
    return m_collection.toString();
}

int CardDavClient::vcardVersion() const
{
    return m_vcardVersion;
}

// --- listing -----------------------------------------------------------------

RemoteResult<RemoteListing> CardDavClient::list(const QByteArray &syncToken)
{
    if (!m_collection.isValid())
        return makeError(RemoteStatus::Protocol, 0, QStringLiteral("no address book is open"));
    if (!syncToken.isEmpty()) {
        bool refused = false;
        auto changes = syncCollection(syncToken, &refused);
        if (changes || !refused)
            return changes;
    }
    return fullListing();
}

RemoteResult<RemoteListing> CardDavClient::syncCollection(const QByteArray &syncToken, bool *tokenRefused)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<D:sync-collection xmlns:D=\"DAV:\"><D:sync-token>"
                            + xmlEscaped(QString::fromUtf8(syncToken))
                            + "</D:sync-token><D:sync-level>1</D:sync-level>"
                              "<D:prop><D:getetag/></D:prop></D:sync-collection>";
    auto answer = send("REPORT", m_collection, body, {{"Content-Type", kXmlType}});
    if (!answer)
        return answer.error();
    const Answer &a = answer.value();
    if (a.status != 207) {
        switch (a.status) {
        case 401:
        case 404:
        case 410:
            return errorOf(a, QStringLiteral("sync-collection"));
        default:
            // 403 (Radicale), 409, 500 (Xandikos), 507, a valid-sync-token
            // precondition, a server without sync-collection: list it all.
            *tokenRefused = a.status >= 400;
            return errorOf(a, QStringLiteral("sync-collection"));
        }
    }
    QString why;
    const auto parsed = parseMultistatus(a.body, &why);
    if (!parsed)
        return makeError(RemoteStatus::Protocol, 207, QStringLiteral("sync-collection: ") + why);
    RemoteListing listing;
    const QString collectionPath = comparablePath(m_collection);
    for (const DavResponse &r : parsed->responses) {
        const QUrl url = m_collection.resolved(QUrl(r.href));
        if (comparablePath(url) == collectionPath) {
            // The collection itself: 507 says the answer was cut short.
            if (r.status == 507 || r.status >= 400) {
                *tokenRefused = true;
                return makeError(RemoteStatus::Server, r.status, QStringLiteral("sync-collection truncated"));
            }
            continue;
        }
        if (r.status == 404 || r.status == 410) {
            listing.removed.append(hrefFor(r.href, m_collection));
            for (const QString &more : r.moreHrefs)
                listing.removed.append(hrefFor(more, m_collection));
            continue;
        }
        if (r.isCollection || (r.status >= 300))
            continue;
        listing.items.append({hrefFor(r.href, m_collection), r.etag});
    }
    listing.syncToken = parsed->syncToken;
    return listing;
}

RemoteResult<RemoteListing> CardDavClient::fullListing()
{
    auto answer = propfind(m_collection, 1, kListingProps);
    if (!answer)
        return answer.error();
    if (answer.value().status != 207)
        return errorOf(answer.value(), QStringLiteral("PROPFIND listing"));
    QString why;
    const auto parsed = parseMultistatus(answer.value().body, &why);
    if (!parsed)
        return makeError(RemoteStatus::Protocol, 207, QStringLiteral("listing: ") + why);
    RemoteListing listing;
    listing.full = true;
    const QString collectionPath = comparablePath(m_collection);
    listing.items.reserve(parsed->responses.size());
    for (const DavResponse &r : parsed->responses) {
        const QUrl url = m_collection.resolved(QUrl(r.href));
        if (comparablePath(url) == collectionPath) {
            if (r.hasSyncToken)
                listing.syncToken = r.syncToken;
            continue;
        }
        if (r.isCollection || r.status >= 300)
            continue;
        listing.items.append({hrefFor(r.href, m_collection), r.etag});
    }
    return listing;
}

// --- fetching ----------------------------------------------------------------

RemoteResult<QList<RemoteCard>> CardDavClient::fetch(const QStringList &hrefs)
{
    QList<RemoteCard> cards;
    if (hrefs.isEmpty())
        return cards;
    if (!m_collection.isValid())
        return makeError(RemoteStatus::Protocol, 0, QStringLiteral("no address book is open"));
    cards.reserve(hrefs.size());

    // A few cards by multiget first; what that costs a card decides the rest.
    // Servers differ by orders of magnitude here (Radicale answers a hundred
    // hrefs in some milliseconds, Xandikos looks each one up for a fifth of
    // a second), while one addressbook-query hands over the whole book in
    // about a second on either. Many cards, or a slow lookup, take the query.
    const qsizetype probe = std::min<qsizetype>(hrefs.size(), std::max(1, m_settings.fetchProbe));
    QElapsedTimer probeTime;
    probeTime.start();
    if (RemoteResult<Done> got = multiget(hrefs, 0, probe, &cards); !got)
        return got.error();
    const qsizetype rest = hrefs.size() - probe;
    if (rest == 0)
        return cards;
    const double msPerCard = double(probeTime.elapsed()) / double(probe);
    if (rest >= m_settings.wholeBookFetchAt || msPerCard * double(rest) > m_settings.wholeBookFetchAfterMs) {
        QStringList missing;
        if (RemoteResult<Done> got = queryAll(hrefs.mid(probe), &cards, &missing); got) {
            if (missing.isEmpty())
                return cards;
            // Cards the query did not return (a server that leaves some out,
            // or a card added meanwhile) come by multiget.
            if (RemoteResult<Done> again = multiget(missing, 0, missing.size(), &cards); !again)
                return again.error();
            return cards;
        } else if (!queryMayFallBack(got.error().status)) {
            return got.error();
        }
    }
    if (RemoteResult<Done> got = multiget(hrefs, probe, hrefs.size(), &cards); !got)
        return got.error();
    return cards;
}

bool CardDavClient::queryMayFallBack(RemoteStatus status)
{
    // A server that refuses the query (some answer 403 to a report they do
    // not do), or whose whole book is over the answer cap, is asked card by
    // card, as it just answered the multiget; one that is gone, busy or not
    // to be trusted is not asked again.
    return status != RemoteStatus::Network && status != RemoteStatus::Certificate
        && status != RemoteStatus::Insecure && status != RemoteStatus::Busy;
}

RemoteResult<Done> CardDavClient::multiget(const QStringList &hrefs, qsizetype from, qsizetype to,
                                           QList<RemoteCard> *cards)
{
    const int batch = std::max(1, m_settings.multigetBatch);
    for (qsizetype start = from; start < to; start += batch) {
        QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                          "<C:addressbook-multiget xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
                          "<D:prop><D:getetag/><C:address-data/></D:prop>";
        const qsizetype end = std::min<qsizetype>(to, start + batch);
        for (qsizetype i = start; i < end; ++i) {
            auto url = resourceUrl(hrefs[i]);
            if (!url)
                return url.error();
            body += "<D:href>" + xmlEscaped(url.value().path(QUrl::FullyEncoded)) + "</D:href>";
        }
        body += "</C:addressbook-multiget>";
        RemoteResult<Done> got = reportCards(body, QStringLiteral("addressbook-multiget"), [cards](RemoteCard card) {
            cards->append(std::move(card));
        });
        if (!got)
            return got;
    }
    return Done{};
}

RemoteResult<Done> CardDavClient::reportCards(const QByteArray &body, const QString &what,
                                              const std::function<void(RemoteCard)> &take)
{
    auto answer = send("REPORT", m_collection, body, {{"Depth", "1"}, {"Content-Type", kXmlType}});
    if (!answer)
        return answer.error();
    if (answer.value().status != 207)
        return errorOf(answer.value(), what);
    QString why;
    const auto parsed = parseMultistatus(answer.value().body, &why);
    if (!parsed)
        return makeError(RemoteStatus::Protocol, 207, what + QStringLiteral(": ") + why);
    for (const DavResponse &r : parsed->responses) {
        if (r.hasAddressData && r.status < 300)
            take({hrefFor(r.href, m_collection), r.etag, r.addressData});
    }
    return Done{};
}

RemoteResult<Done> CardDavClient::queryAll(const QStringList &wanted, QList<RemoteCard> *cards,
                                           QStringList *missing)
{
    static const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                                   "<C:addressbook-query xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:carddav\">"
                                   "<D:prop><D:getetag/><C:address-data/></D:prop></C:addressbook-query>";
    // Only what was asked for: the rest of the book is not this run's business.
    QSet<QString> open(wanted.cbegin(), wanted.cend());
    RemoteResult<Done> got = reportCards(body, QStringLiteral("addressbook-query"), [&](RemoteCard card) {
        if (open.remove(card.href))
            cards->append(std::move(card));
    });
    if (!got)
        return got;
    for (const QString &href : wanted) {
        if (open.contains(href))
            missing->append(href);
    }
    return Done{};
}

// --- writing -----------------------------------------------------------------

namespace {

// A 207 to PUT or DELETE: the first failure inside it, or Ok.
RemoteError innerFailure(const QByteArray &body, const QString &what)
{
    QString why;
    const auto parsed = parseMultistatus(body, &why);
    if (!parsed)
        return makeError(RemoteStatus::Protocol, 207, what + QStringLiteral(": ") + why);
    for (const DavResponse &r : parsed->responses) {
        int code = r.status >= 300 ? r.status : r.worstPropStatus;
        if (code == 0 && !r.errors.isEmpty())
            code = 500;
        if (code == 0)
            continue;
        const QString text = QStringLiteral("%1: the server answered 207 with %2 inside").arg(what).arg(code);
        switch (code) {
        case 412:
            return makeError(RemoteStatus::PreconditionFailed, code, text);
        case 413:
            return makeError(RemoteStatus::TooLarge, code, text);
        case 401:
        case 403:
            return makeError(RemoteStatus::AuthFailed, code, text);
        default:
            return makeError(RemoteStatus::Server, code, text);
        }
    }
    return {};
}

} // namespace

RemoteResult<PutOutcome> CardDavClient::put(const QString &href, const QByteArray &vcard,
                                            const QByteArray &conditionHeader, const QByteArray &conditionValue)
{
    auto url = resourceUrl(href);
    if (!url)
        return url.error();
    HeaderList headers{{"Content-Type", "text/vcard; charset=utf-8"}};
    if (!conditionHeader.isEmpty())
        headers.append({conditionHeader, conditionValue});
    auto answer = send("PUT", url.value(), vcard, headers);
    if (!answer)
        return answer.error();
    const Answer &a = answer.value();
    const QString what = QStringLiteral("PUT %1").arg(url.value().path());
    if (a.status == 207) {
        const RemoteError inner = innerFailure(a.body, what);
        if (inner.status != RemoteStatus::Ok)
            return inner;
    } else if (a.status < 200 || a.status >= 300) {
        return errorOf(a, what);
    }
    PutOutcome outcome;
    outcome.href = hrefFor(a.url.path(QUrl::FullyEncoded), m_collection);
    const QByteArray location = a.header("Location").trimmed();
    if (a.status == 201 && !location.isEmpty()) {
        const QUrl there = a.url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
        if (there.isValid() && sameOrigin(there, m_collection))
            outcome.href = there.path(QUrl::FullyEncoded);
    }
    outcome.etag = a.header("ETag").trimmed();
    return outcome;
}

RemoteResult<PutOutcome> CardDavClient::create(const QString &href, const QByteArray &vcard)
{
    return put(href, vcard, "If-None-Match", "*");
}

RemoteResult<PutOutcome> CardDavClient::update(const QString &href, const QByteArray &etag, const QByteArray &vcard)
{
    // Without a known ETag an update could overwrite an edit made elsewhere:
    // the caller fetches the server's copy (and its ETag) first.
    if (etag.isEmpty())
        return makeError(RemoteStatus::PreconditionFailed, 0,
                         QStringLiteral("no ETag known for %1: fetch the server's copy first").arg(href));
    return put(href, vcard, "If-Match", etag);
}

RemoteResult<Done> CardDavClient::remove(const QString &href, const QByteArray &etag)
{
    auto url = resourceUrl(href);
    if (!url)
        return url.error();
    HeaderList headers;
    if (!etag.isEmpty())
        headers.append({"If-Match", etag});
    auto answer = send("DELETE", url.value(), {}, headers);
    if (!answer)
        return answer.error();
    const Answer &a = answer.value();
    const QString what = QStringLiteral("DELETE %1").arg(url.value().path());
    if (a.status == 207) {
        const RemoteError inner = innerFailure(a.body, what);
        if (inner.status != RemoteStatus::Ok)
            return inner;
        return Done{};
    }
    if (a.status < 200 || a.status >= 300)
        return errorOf(a, what);
    return Done{};
}

} // namespace kelvo::sync
