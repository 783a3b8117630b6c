#include "SyncBookTrust.h"

#include <QFile>

#include <sqlite3.h>

namespace kelvo::sync {

namespace {

constexpr const char *CreateTable =
    "CREATE TABLE IF NOT EXISTS book_trust(id INTEGER PRIMARY KEY CHECK (id = 1), "
    "certificate_sha256 BLOB NOT NULL, insecure_http INTEGER NOT NULL)";

struct Db
{
    sqlite3 *db = nullptr;
    ~Db() { sqlite3_close(db); }
};

Error stateError(sqlite3 *db, const QString &path)
{
    return Error{ErrorCode::WriteFailed, path, QString::fromUtf8(db ? sqlite3_errmsg(db) : "cannot open")};
}

} // namespace

SyncBookTrust LoadSyncBookTrust(const QString &statePath)
{
    SyncBookTrust trust;
    if (!QFile::exists(statePath))
        return trust;
    Db d;
    if (sqlite3_open_v2(QFile::encodeName(statePath).constData(), &d.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return trust;
    sqlite3_busy_timeout(d.db, 5000);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(d.db, "SELECT certificate_sha256, insecure_http FROM book_trust WHERE id = 1", -1, &st,
                           nullptr)
        != SQLITE_OK)
        return trust; // no such table yet: nothing was allowed
    if (sqlite3_step(st) == SQLITE_ROW) {
        trust.trustedCertificateSha256 = QByteArray(static_cast<const char *>(sqlite3_column_blob(st, 0)),
                                                    sqlite3_column_bytes(st, 0));
        trust.allowInsecureHttp = sqlite3_column_int(st, 1) != 0;
    }
    sqlite3_finalize(st);
    return trust;
}

Result<> SaveSyncBookTrust(const QString &statePath, const SyncBookTrust &trust)
{
    Db d;
    if (sqlite3_open_v2(QFile::encodeName(statePath).constData(), &d.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return stateError(d.db, statePath);
    sqlite3_busy_timeout(d.db, 5000);
    if (sqlite3_exec(d.db, CreateTable, nullptr, nullptr, nullptr) != SQLITE_OK)
        return stateError(d.db, statePath);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(d.db, "INSERT OR REPLACE INTO book_trust(id, certificate_sha256, insecure_http) "
                                 "VALUES (1, ?, ?)",
                           -1, &st, nullptr)
        != SQLITE_OK)
        return stateError(d.db, statePath);
    sqlite3_bind_blob(st, 1, trust.trustedCertificateSha256.constData(),
                      static_cast<int>(trust.trustedCertificateSha256.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 2, trust.allowInsecureHttp ? 1 : 0);
    const int stepped = sqlite3_step(st);
    sqlite3_finalize(st);
    if (stepped != SQLITE_DONE)
        return stateError(d.db, statePath);
    return {};
}

CardDavSettings WithBookTrust(CardDavSettings settings, const SyncBookTrust &trust)
{
    settings.allowInsecureHttp = settings.allowInsecureHttp || trust.allowInsecureHttp;
    if (settings.trustedCertificateSha256.isEmpty())
        settings.trustedCertificateSha256 = trust.trustedCertificateSha256;
    return settings;
}

CardDavSettings WithKeptBookTrust(CardDavSettings settings, const QString &statePath, const QString &keptBookUrl)
{
    if (keptBookUrl.isEmpty() || settings.url != keptBookUrl)
        return settings;
    return WithBookTrust(std::move(settings), LoadSyncBookTrust(statePath));
}

} // namespace kelvo::sync
