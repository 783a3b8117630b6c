#include "SyncState.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

namespace kelvo::sync {

namespace {

constexpr int SchemaVersion = 1;

const char *const Schema = R"(
CREATE TABLE IF NOT EXISTS tree(id INTEGER PRIMARY KEY CHECK (id = 1), data_hash BLOB NOT NULL, nodes BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS book(id INTEGER PRIMARY KEY CHECK (id = 1), url TEXT NOT NULL, user TEXT NOT NULL,
                                sync_token BLOB NOT NULL, vcard_version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS cards(uuid BLOB PRIMARY KEY, href TEXT NOT NULL UNIQUE, etag BLOB NOT NULL,
                                 server_uid TEXT NOT NULL, content_hash BLOB NOT NULL, vcard BLOB NOT NULL,
                                 pending INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS skipped(href TEXT PRIMARY KEY, etag BLOB NOT NULL);
)";

// A prepared statement, finalized on the way out.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql) { m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK; }
    ~Statement() { sqlite3_finalize(m_stmt); }
    bool ok() const { return m_ok; }
    void bind(int i, const QByteArray &bytes)
    {
        sqlite3_bind_blob64(m_stmt, i, bytes.isNull() ? "" : bytes.constData(), sqlite3_uint64(bytes.size()),
                            SQLITE_TRANSIENT);
    }
    void bind(int i, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text64(m_stmt, i, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    }
    void bind(int i, int value) { sqlite3_bind_int(m_stmt, i, value); }
    int step() { return sqlite3_step(m_stmt); }
    QByteArray blob(int i) const
    {
        const void *data = sqlite3_column_blob(m_stmt, i);
        return QByteArray(static_cast<const char *>(data), sqlite3_column_bytes(m_stmt, i));
    }
    QString text(int i) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, i));
    }
    int integer(int i) const { return sqlite3_column_int(m_stmt, i); }

private:
    sqlite3_stmt *m_stmt = nullptr;
    bool m_ok = false;
};

QByteArray uuidBytes(const QUuid &id)
{
    return id.toRfc4122();
}

} // namespace

SyncState::SyncState(QString path, sqlite3 *db)
    : m_path(std::move(path))
    , m_db(db)
{
}

SyncState::~SyncState()
{
    sqlite3_close(m_db);
}

Error SyncState::failure(const QString &what) const
{
    return Error{ErrorCode::WriteFailed, m_path,
                 what + QStringLiteral(": ") + QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "no database")};
}

Result<> SyncState::exec(const char *sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure(QStringLiteral("cannot write the sync state"));
    return {};
}

Result<std::unique_ptr<SyncState>> SyncState::open(const QString &path)
{
    sqlite3 *db = nullptr;
    const QByteArray name = QFile::encodeName(path);
    const int opened = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (opened != SQLITE_OK) {
        const QString text = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        sqlite3_close(db);
        return Error{ErrorCode::ReadFailed, path, text};
    }
    std::unique_ptr<SyncState> state(new SyncState(path, db));
    sqlite3_busy_timeout(db, 5000);
    // The version of the layout: a file of another program, or a damaged
    // one, fails here or at the schema.
    int version = -1;
    {
        Statement check(db, "PRAGMA user_version");
        if (!check.ok() || check.step() != SQLITE_ROW)
            return Error{ErrorCode::DataDamaged, path, QString::fromUtf8(sqlite3_errmsg(db))};
        version = check.integer(0);
    }
    if (version != 0 && version != SchemaVersion)
        return Error{ErrorCode::DataDamaged, path, QStringLiteral("not a sync state file of this version")};
    // A new file gets its tables and the write-ahead log (which the file
    // keeps) once; every open only sets how often it flushes.
    if (version == 0
        && (sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) != SQLITE_OK
            || sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK
            || sqlite3_exec(db, Schema, nullptr, nullptr, nullptr) != SQLITE_OK
            || sqlite3_exec(db, "PRAGMA user_version = 1; COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK))
        return Error{ErrorCode::DataDamaged, path, QString::fromUtf8(sqlite3_errmsg(db))};
    if (sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) != SQLITE_OK)
        return Error{ErrorCode::DataDamaged, path, QString::fromUtf8(sqlite3_errmsg(db))};
    // No full integrity check here (it reads every page, tens of megabytes
    // for a million cards): damage met later fails that query, and a state
    // that cannot be read only costs identities, never a card.
    return Result<std::unique_ptr<SyncState>>(std::move(state));
}

Result<std::unique_ptr<SyncState>> SyncState::recreate(const QString &path)
{
    if (QFile::exists(path)) {
        const QString aside = path + QStringLiteral(".damaged-")
                              + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(path, aside))
            return Error{ErrorCode::MoveAsideFailed, path, QStringLiteral("cannot move the damaged sync state aside")};
        QFile::remove(path + QStringLiteral("-journal"));
    }
    return open(path);
}

std::optional<SyncState::TreeIdentities> SyncState::treeIdentities() const
{
    Statement q(m_db, "SELECT data_hash, nodes FROM tree WHERE id = 1");
    if (!q.ok() || q.step() != SQLITE_ROW)
        return std::nullopt;
    return TreeIdentities{q.blob(0), q.blob(1)};
}

Result<> SyncState::setTreeIdentities(const QByteArray &dataHash, const QByteArray &nodes)
{
    Statement q(m_db, "INSERT OR REPLACE INTO tree(id, data_hash, nodes) VALUES(1, ?, ?)");
    if (!q.ok())
        return failure(QStringLiteral("cannot write the identities"));
    q.bind(1, dataHash);
    q.bind(2, nodes);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write the identities"));
    return {};
}

std::optional<BookSettings> SyncState::book() const
{
    Statement q(m_db, "SELECT url, user, sync_token, vcard_version FROM book WHERE id = 1");
    if (!q.ok() || q.step() != SQLITE_ROW)
        return std::nullopt;
    return BookSettings{q.text(0), q.text(1), q.blob(2), q.integer(3) == 4 ? 4 : 3};
}

Result<> SyncState::setBook(const BookSettings &book)
{
    Statement q(m_db, "INSERT OR REPLACE INTO book(id, url, user, sync_token, vcard_version) VALUES(1, ?, ?, ?, ?)");
    if (!q.ok())
        return failure(QStringLiteral("cannot write the address book"));
    q.bind(1, book.url);
    q.bind(2, book.user);
    q.bind(3, book.syncToken);
    q.bind(4, book.vcardVersion);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write the address book"));
    return {};
}

Result<> SyncState::setSyncToken(const QByteArray &token)
{
    Statement q(m_db, "UPDATE book SET sync_token = ? WHERE id = 1");
    if (!q.ok())
        return failure(QStringLiteral("cannot write the sync token"));
    q.bind(1, token);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write the sync token"));
    return {};
}

QHash<QUuid, SyncedCard> SyncState::cards() const
{
    QHash<QUuid, SyncedCard> all;
    Statement q(m_db, "SELECT uuid, href, etag, server_uid, content_hash, vcard, pending FROM cards");
    if (!q.ok())
        return all;
    while (q.step() == SQLITE_ROW) {
        SyncedCard card;
        card.id = QUuid::fromRfc4122(q.blob(0));
        card.href = q.text(1);
        card.etag = q.blob(2);
        card.serverUid = q.text(3);
        card.contentHash = q.blob(4);
        card.vcard = q.blob(5);
        card.pendingLocal = q.integer(6) != 0;
        if (!card.id.isNull())
            all.insert(card.id, card);
    }
    return all;
}

Result<> SyncState::putCard(const SyncedCard &card)
{
    // A href belongs to one card: a card that takes over a href (a retried
    // create adopting its own resource) replaces any row that held it.
    Statement drop(m_db, "DELETE FROM cards WHERE href = ? AND uuid <> ?");
    Statement q(m_db, "INSERT OR REPLACE INTO cards(uuid, href, etag, server_uid, content_hash, vcard, pending) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?)");
    if (!drop.ok() || !q.ok())
        return failure(QStringLiteral("cannot write a synced card"));
    drop.bind(1, card.href);
    drop.bind(2, uuidBytes(card.id));
    if (drop.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write a synced card"));
    q.bind(1, uuidBytes(card.id));
    q.bind(2, card.href);
    q.bind(3, card.etag);
    q.bind(4, card.serverUid);
    q.bind(5, card.contentHash);
    q.bind(6, card.vcard);
    q.bind(7, card.pendingLocal ? 1 : 0);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write a synced card"));
    return {};
}

Result<> SyncState::removeCard(const QUuid &id)
{
    Statement q(m_db, "DELETE FROM cards WHERE uuid = ?");
    if (!q.ok())
        return failure(QStringLiteral("cannot remove a synced card"));
    q.bind(1, uuidBytes(id));
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot remove a synced card"));
    return {};
}

Result<> SyncState::removeAllCards()
{
    return exec("DELETE FROM cards; DELETE FROM skipped;");
}

QHash<QString, QByteArray> SyncState::skipped() const
{
    QHash<QString, QByteArray> all;
    Statement q(m_db, "SELECT href, etag FROM skipped");
    if (!q.ok())
        return all;
    while (q.step() == SQLITE_ROW)
        all.insert(q.text(0), q.blob(1));
    return all;
}

Result<> SyncState::putSkipped(const QString &href, const QByteArray &etag)
{
    Statement q(m_db, "INSERT OR REPLACE INTO skipped(href, etag) VALUES(?, ?)");
    if (!q.ok())
        return failure(QStringLiteral("cannot write a skipped card"));
    q.bind(1, href);
    q.bind(2, etag);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write a skipped card"));
    return {};
}

Result<> SyncState::removeSkipped(const QString &href)
{
    Statement q(m_db, "DELETE FROM skipped WHERE href = ?");
    if (!q.ok())
        return failure(QStringLiteral("cannot write a skipped card"));
    q.bind(1, href);
    if (q.step() != SQLITE_DONE)
        return failure(QStringLiteral("cannot write a skipped card"));
    return {};
}

Result<> SyncState::begin()
{
    return exec("BEGIN IMMEDIATE");
}

Result<> SyncState::commit()
{
    return exec("COMMIT");
}

void SyncState::rollback()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace kelvo::sync
