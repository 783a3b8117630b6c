#pragma once

// The address book server over HTTP(S): CardDAV (RFC 6352) with WebDAV
// sync-collection (RFC 6578), on QtNetwork. Every call blocks in a local event
// loop until the answer is in, the request's overall time is up or its body
// passes the size cap; a client belongs to the thread that made it (it owns its
// QNetworkAccessManager), and any thread may make one.

#include "CardDavRemote.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QAuthenticator;

namespace kelvo::sync {

struct CardDavSettings
{
    QString url;      // what the user typed: a server address or the address book's own URL
    QString user;     // empty: no credentials are offered
    QString password; // kept in memory only; never put into an error text
    // Plain http to a host that is not a loopback address (the user confirmed it).
    bool allowInsecureHttp = false;
    // The SHA-256 fingerprint (hex, any case, colons allowed) of a certificate
    // the user chose to trust although it does not verify.
    QByteArray trustedCertificateSha256;

    // One request, from sending to the last byte. Generous: a server answers a
    // first listing of a large book only when it has read every card.
    int requestTimeoutMs = 300'000;
    qint64 maxResponseBytes = 256LL << 20; // a larger answer is a Protocol error
    int multigetBatch = 100;              // hrefs per addressbook-multiget
    // A fetch reads this many cards by multiget first. It asks for the whole
    // book by one addressbook-query when this many more are wanted, or when
    // the multiget pace would take longer than this for the rest.
    int fetchProbe = 10;
    qsizetype wholeBookFetchAt = 1000;
    double wholeBookFetchAfterMs = 3000;
    int maxRetryWaits = 3;                // Retry-After waits per request on 429/503
    int maxRetryAfterSeconds = 30;        // a longer Retry-After is waited this long
};

// An address book found by discovery.
struct AddressBookInfo
{
    QString url;          // absolute, ends with "/"
    QString displayName;
    int vcardVersion = 3; // 4 when the server offers vCard 4.0
};

class CardDavClient : public QObject, public CardDavRemote
{
    Q_OBJECT
public:
    explicit CardDavClient(CardDavSettings settings, QObject *parent = nullptr);
    ~CardDavClient() override;

    const CardDavSettings &settings() const { return m_settings; }

    // Finds the address books from the settings' url: the url itself when it
    // is an address book; else the server's (/.well-known/carddav, the user's
    // principal, its addressbook-home-set, the books there). Does not choose.
    RemoteResult<QList<AddressBookInfo>> discover();

    // Discovers and takes the address book at the settings' url, or else the
    // first one the server lists. Needed before list/fetch/create/...
    RemoteResult<AddressBookInfo> open();
    // Takes a known address book without asking the server (a later run).
    void useAddressBook(const AddressBookInfo &book);

    QString collectionUrl() const override;
    int vcardVersion() const override;
    RemoteResult<RemoteListing> list(const QByteArray &syncToken) override;
    RemoteResult<QList<RemoteCard>> fetch(const QStringList &hrefs) override;
    RemoteResult<PutOutcome> create(const QString &href, const QByteArray &vcard) override;
    RemoteResult<PutOutcome> update(const QString &href, const QByteArray &etag, const QByteArray &vcard) override;
    RemoteResult<Done> remove(const QString &href, const QByteArray &etag) override;

    // Requests sent so far (redirect steps, authentication rounds and waits
    // after Retry-After each count), for tests and benchmarks.
    int requestCount() const { return m_requestCount; }

    // The url as the user typed it made absolute: "https://" when no scheme was
    // given; user and password parts dropped. Invalid: an empty QUrl.
    static QUrl normalizedUrl(const QString &typed);
    // True when plain http may go to `url` under `settings` (a loopback host,
    // or the user allowed it); always true for https.
    static bool transportAllowed(const QUrl &url, bool allowInsecureHttp);

    struct Answer; // one finished HTTP exchange (in CardDavClient.cpp)

private:
    RemoteResult<Done> multiget(const QStringList &hrefs, qsizetype from, qsizetype to, QList<RemoteCard> *cards);
    RemoteResult<Done> queryAll(const QStringList &wanted, QList<RemoteCard> *cards, QStringList *missing);
    static bool queryMayFallBack(RemoteStatus status);
    // One REPORT answered by a multistatus of cards: each card with its data
    // goes to `take`.
    RemoteResult<Done> reportCards(const QByteArray &body, const QString &what,
                                   const std::function<void(RemoteCard)> &take);
    RemoteResult<Answer> send(const QByteArray &method, QUrl url, const QByteArray &body,
                              const QList<std::pair<QByteArray, QByteArray>> &headers);
    RemoteResult<Answer> sendOnce(const QByteArray &method, const QUrl &url, const QByteArray &body,
                                  const QList<std::pair<QByteArray, QByteArray>> &headers);
    RemoteResult<Answer> propfind(const QUrl &url, int depth, const QByteArray &body);
    RemoteResult<RemoteListing> syncCollection(const QByteArray &syncToken, bool *tokenRefused);
    RemoteResult<RemoteListing> fullListing();
    RemoteResult<PutOutcome> put(const QString &href, const QByteArray &vcard,
                                 const QByteArray &conditionHeader, const QByteArray &conditionValue);
    RemoteResult<QUrl> resourceUrl(const QString &href) const;
    QString hrefFor(const QString &serverHref, const QUrl &base) const;
    RemoteError errorOf(const Answer &answer, const QString &what) const;
    QString redacted(QString text) const;
    void onAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

    CardDavSettings m_settings;
    std::unique_ptr<QNetworkAccessManager> m_nam;
    QUrl m_collection;
    int m_vcardVersion = 3;
    int m_requestCount = 0;
    QNetworkReply *m_current = nullptr;
    int m_authOffers = 0; // credentials offered for the request in flight
};

} // namespace kelvo::sync
