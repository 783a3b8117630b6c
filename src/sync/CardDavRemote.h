#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

namespace kelvo::sync {

// What went wrong in a request to the address book server.
enum class RemoteStatus {
    Ok,
    PreconditionFailed, // 412: the ETag given no longer matches, or the href already exists
    TooLarge,           // 413: the server refuses this one resource
    NotFound,           // 404/410
    AuthFailed,         // 401/403 on credentials
    Network,            // connection refused, reset, timed out, DNS
    Certificate,        // TLS certificate not trusted (text names the reason and the SHA-256 fingerprint)
    Insecure,           // plain http to a remote host that the user has not confirmed, or https -> http redirect
    Busy,               // 429/503 after Retry-After waits were used up
    Server,             // any other 4xx/5xx
    Protocol,           // an answer that is not what the protocol allows (bad XML, over the size cap, ...)
};

struct RemoteError
{
    RemoteStatus status = RemoteStatus::Ok;
    int httpStatus = 0; // 0 when no HTTP answer was had
    QString text;       // for the report; never holds a password
};

// A value or a RemoteError.
template<typename T>
class RemoteResult
{
public:
    RemoteResult(T value) : m_v(std::move(value)) {}
    RemoteResult(RemoteError error) : m_v(std::move(error)) {}
    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<0>(m_v); }
    T &value() { return std::get<0>(m_v); }
    const RemoteError &error() const { return std::get<1>(m_v); }

private:
    std::variant<T, RemoteError> m_v;
};

struct Done
{
};

// One address object as listed: its href (path on the server, percent-encoded as
// the server gave it, resolved against the collection) and ETag (quotes kept).
struct RemoteItem
{
    QString href;
    QByteArray etag;
};

struct RemoteListing
{
    bool full = false;          // true: `items` is every resource of the book (a PROPFIND
                                // listing, or a sync-collection without a token)
    QList<RemoteItem> items;    // changed or new since the token (all when full)
    QStringList removed;        // hrefs gone since the token (empty when full)
    QByteArray syncToken;       // the new token; empty when the server gives none
};

struct RemoteCard
{
    QString href;
    QByteArray etag;
    QByteArray vcard; // the resource's bytes as served
};

struct PutOutcome
{
    QString href;    // where the resource now lives (Location honoured)
    QByteArray etag; // empty when the server did not say (counts as unknown)
};

// The address book server, one address book. Every call blocks until it has an
// answer (the caller runs it off the window's thread). Implemented over
// QtNetwork by CardDavClient; tests may put an in-memory server behind it.
class CardDavRemote
{
public:
    virtual ~CardDavRemote() = default;

    // The address book's URL and the vCard version to write (3 or 4).
    virtual QString collectionUrl() const = 0;
    virtual int vcardVersion() const = 0;

    // Changes since `syncToken` by sync-collection; with an empty token, or when
    // the server refuses the token (403, 409, 500, 507 truncation, ...), a full
    // listing (full = true).
    virtual RemoteResult<RemoteListing> list(const QByteArray &syncToken) = 0;

    // The resources at `hrefs` (addressbook-multiget in batches). A href the
    // server no longer has is missing from the answer, not an error.
    virtual RemoteResult<QList<RemoteCard>> fetch(const QStringList &hrefs) = 0;

    // PUT with If-None-Match: * (a new resource).
    virtual RemoteResult<PutOutcome> create(const QString &href, const QByteArray &vcard) = 0;
    // PUT with If-Match: etag.
    virtual RemoteResult<PutOutcome> update(const QString &href, const QByteArray &etag,
                                            const QByteArray &vcard) = 0;
    // DELETE with If-Match: etag (no If-Match when etag is empty).
    virtual RemoteResult<Done> remove(const QString &href, const QByteArray &etag) = 0;
};

} // namespace kelvo::sync
