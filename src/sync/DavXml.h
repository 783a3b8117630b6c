#pragma once

// Reading the XML answers of a WebDAV / CardDAV server: multistatus (PROPFIND,
// REPORT sync-collection and addressbook-multiget, a 207 to PUT or DELETE) and
// the error bodies of refused requests. Elements are matched by namespace URI
// and local name, never by prefix. The reader refuses a document type
// declaration (so no entity of the server's can expand), nesting deeper than
// `kDavMaxDepth` and more than `kDavMaxResponses` responses; the caller caps
// the bytes before they get here.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kelvo::sync {

inline constexpr int kDavMaxDepth = 64;
inline constexpr int kDavMaxResponses = 1'000'000;

// One <response>: the properties of a resource as the server answered them.
// Only properties inside a propstat with a 2xx status are taken; a property the
// server did not give is left empty / false.
struct DavResponse
{
    QString href;           // the first <href>, as written (percent-encoding kept)
    QStringList moreHrefs;  // further <href>s of a response that has one status for several
    int status = 0;         // the response's own <status> (0 when it has none, e.g. only propstats)
    int worstPropStatus = 0; // the highest non-2xx propstat status (0 when none)

    bool hasEtag = false;
    QByteArray etag;        // quotes kept
    bool hasAddressData = false;
    QByteArray addressData; // UTF-8
    bool isCollection = false;
    bool isAddressBook = false;
    QStringList principalHrefs; // DAV:current-user-principal
    QStringList homeSetHrefs;   // CARDDAV:addressbook-home-set
    QStringList addressDataVersions; // CARDDAV:supported-address-data, the versions of text/vcard
    bool hasSyncToken = false;
    QByteArray syncToken;       // DAV:sync-token as a property (PROPFIND)
    QString displayName;
    QStringList errors;         // the conditions of the response's <error>, as "{ns}name"
};

struct DavMultistatus
{
    QList<DavResponse> responses;
    bool hasSyncToken = false;
    QByteArray syncToken; // the top-level DAV:sync-token of a sync-collection answer
};

// Parses a multistatus body. On failure returns nothing and sets `error` to a
// short reason (no part of the document is quoted).
std::optional<DavMultistatus> parseMultistatus(const QByteArray &xml, QString *error);

// The conditions named by a <DAV:error> body (e.g. "{DAV:}valid-sync-token");
// empty for anything else, including bad XML.
QStringList parseDavErrorConditions(const QByteArray &xml);

// "HTTP/1.1 404 Not Found" -> 404; 0 when the line is not a status line.
int parseStatusLine(QStringView line);

} // namespace kelvo::sync
