#pragma once

#include "CardDavClient.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

namespace kelvo::sync {

// What the user allowed for the address book beside the address itself: a
// certificate to trust although it does not verify (its SHA-256 fingerprint)
// and plain http to a host that is not this computer. Kept in the sync state
// file (a table of its own next to the book's settings); never a password.
struct SyncBookTrust
{
    QByteArray trustedCertificateSha256; // hex, empty: none
    bool allowInsecureHttp = false;
};

SyncBookTrust LoadSyncBookTrust(const QString &statePath);
Result<> SaveSyncBookTrust(const QString &statePath, const SyncBookTrust &trust);

// `settings` widened by what the user allowed for the book: plain http when
// either allows it; the trusted certificate unless `settings` names one.
// Used by the window and by kelvo-tool sync alike.
CardDavSettings WithBookTrust(CardDavSettings settings, const SyncBookTrust &trust);

// The same with the trust kept in the state file at `statePath`, for the
// book kept there at `keptBookUrl`: settings for any other address (or when
// no book is kept) come back as they were, since the user allowed nothing
// for it. A state file that cannot be read allows nothing.
CardDavSettings WithKeptBookTrust(CardDavSettings settings, const QString &statePath, const QString &keptBookUrl);

} // namespace kelvo::sync
