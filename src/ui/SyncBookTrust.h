#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>

namespace kelvo {

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

} // namespace kelvo
