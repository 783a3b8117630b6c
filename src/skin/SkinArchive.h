#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

namespace kelvo {

// Shows a notice (a text with one OK button) to the user. The skin never
// talks to the user itself; the window side passes its own notice here.
using SkinNoticeCallback = std::function<void(const QString &text)>;

inline constexpr qint32 SkinArchiveVersion = 20000;
inline constexpr int SkinArchiveMaxEntries = 1001;
inline constexpr qsizetype SkinArchiveHeaderSize = 16;

// The notice for an archive of another format version; the two sentences
// are separated by a single carriage return.
QString olderSkinFileNotice();

// ASCII A-Z to a-z; every other byte stays.
QByteArray skinLowerCase(QByteArrayView text);

// Splits the entry-name text into names: it ends at its first NUL byte; lines
// break at CR LF, lone CR and lone LF; a break at the very end adds no entry.
// Stops after `limit` + 1 names when `limit` >= 0, so a caller can refuse a
// list that is too long without building all of it.
QList<QByteArray> splitSkinEntryNames(QByteArrayView text, qsizetype limit = -1);

// Reads one skin archive: decompresses it, checks its version and keeps the
// entry list and the data area for lookups by name.
class TSkinReader
{
public:
    explicit TSkinReader(SkinNoticeCallback notice = {});

    // `compressed` is the LZHUF stream (length field first). On a wrong
    // version the older-skin notice goes through the notice callback. Every
    // failure leaves the reader empty and sets errorString().
    bool readArchive(QByteArrayView compressed);
    // The same for an already decompressed archive.
    bool readPayload(QByteArrayView payload);

    QString errorString() const { return m_error; }
    qint32 version() const { return m_version; }

    qsizetype count() const { return m_names.size(); }
    // Names as read, lower-cased.
    const QList<QByteArray> &names() const { return m_names; }
    const QList<qint64> &sizes() const { return m_sizes; }
    const QList<qint64> &offsets() const { return m_offsets; } // within the data area
    QByteArray entry(qsizetype index) const;
    const QByteArray &dataArea() const { return m_data; }

    // The bytes of the first entry whose name equals `name` once `name` is
    // lower-cased; empty when there is none.
    QByteArray entryByName(QByteArrayView name) const;

    struct NamedEntry
    {
        bool found = false;
        QByteArray name;
        QByteArray data;
    };
    // The first entry whose (lower-cased) name contains `text` as it is,
    // case-sensitively. An empty text finds nothing.
    NamedEntry entryByNamePart(QByteArrayView text) const;

private:
    bool fail(const QString &reason);
    void clear();

    SkinNoticeCallback m_notice;
    QString m_error;
    qint32 m_version = 0;
    QList<QByteArray> m_names;
    QList<qint64> m_sizes;
    QList<qint64> m_offsets;
    QByteArray m_data;
};

// One entry to pack into an archive.
struct SkinArchiveEntry
{
    QByteArray name;
    QByteArray data;
};

struct SkinArchiveBuild
{
    bool ok = false;
    QByteArray bytes;
    QString error;
};

// The decompressed archive for `entries`, names joined by CR LF. Refuses more
// than SkinArchiveMaxEntries entries and names holding CR, LF or NUL.
SkinArchiveBuild buildSkinPayload(const QList<SkinArchiveEntry> &entries);
// The same, compressed: the archive as it is stored.
SkinArchiveBuild buildSkinArchive(const QList<SkinArchiveEntry> &entries);

// The stored skin property: the archive's length as a 32-bit little-endian
// signed integer, then the archive.
QByteArray makeStoredSkinProperty(QByteArrayView archive);

struct StoredSkinProperty
{
    bool ok = false;        // false when the property is damaged
    bool hasSkin = false;   // length > 0
    QByteArrayView archive; // the archive bytes (inside the given property)
    QString error;
};
StoredSkinProperty parseStoredSkinProperty(QByteArrayView property);

} // namespace kelvo
