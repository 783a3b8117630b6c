#pragma once

#include "Result.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

struct sqlite3;

namespace kelvo::sync {

// The address book a data file is synced with. Never a password.
struct BookSettings
{
    QString url;
    QString user;
    QByteArray syncToken;
    int vcardVersion = 3;
};

// One card as last synced: where it lives on the server, its ETag, the UID
// the server copy carries, the hash of the card's content at that moment and
// the server copy itself (the base of the next merge and of the patch).
struct SyncedCard
{
    QUuid id;
    QString href;
    QByteArray etag;
    QString serverUid;
    QByteArray contentHash;
    QByteArray vcard;
    // The server copy holds changes that have not reached the data file yet
    // (a run stopped between the server's update and the save): the next
    // run takes them from `vcard` as a change on the server.
    bool pendingLocal = false;
};

// The sync state file beside a data file (SQLite). It holds the identities
// of the data file's nodes (one blob in tree order, with the hash of the data
// file's bytes they belong to), the address book and the synced cards.
// Every change is a SQLite transaction, so the file is either as before or
// as after; a run records each server action the moment it completes.
class SyncState
{
public:
    ~SyncState();
    SyncState(const SyncState &) = delete;
    SyncState &operator=(const SyncState &) = delete;

    // Opens the state file, making it when missing. A file that is not a
    // state file of this kind (damaged, another program's) is an error
    // with ErrorCode::DataDamaged; the caller may then start it anew
    // (`recreate`), which loses no card.
    static Result<std::unique_ptr<SyncState>> open(const QString &path);
    // Moves a damaged state file aside ("....damaged") and makes a new one.
    static Result<std::unique_ptr<SyncState>> recreate(const QString &path);

    QString path() const { return m_path; }

    // The identities of the data file whose bytes hash to `dataHash`.
    struct TreeIdentities
    {
        QByteArray dataHash;
        QByteArray nodes;
    };
    std::optional<TreeIdentities> treeIdentities() const;
    Result<> setTreeIdentities(const QByteArray &dataHash, const QByteArray &nodes);

    std::optional<BookSettings> book() const;
    Result<> setBook(const BookSettings &book);
    Result<> setSyncToken(const QByteArray &token);

    QHash<QUuid, SyncedCard> cards() const;
    Result<> putCard(const SyncedCard &card);
    Result<> removeCard(const QUuid &id);
    // Forgets every synced card (a new address book).
    Result<> removeAllCards();

    // Server resources the sync passes over (group cards, unreadable ones),
    // by href, with the ETag they were seen with.
    QHash<QString, QByteArray> skipped() const;
    Result<> putSkipped(const QString &href, const QByteArray &etag);
    Result<> removeSkipped(const QString &href);

    // Groups several changes into one transaction.
    Result<> begin();
    Result<> commit();
    void rollback();

private:
    SyncState(QString path, sqlite3 *db);
    Result<> exec(const char *sql);
    Error failure(const QString &what) const;

    QString m_path;
    sqlite3 *m_db = nullptr;
};

} // namespace kelvo::sync
