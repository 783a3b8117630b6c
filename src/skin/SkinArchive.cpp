#include "SkinArchive.h"

#include "Lzhuf.h"

#include <QtEndian>

namespace kelvo {

namespace {

quint32 readU32(QByteArrayView bytes, qsizetype offset)
{
    return qFromLittleEndian<quint32>(bytes.data() + offset);
}

void appendU32(QByteArray &out, quint32 value)
{
    char buffer[4];
    qToLittleEndian(value, buffer);
    out.append(buffer, 4);
}

} // namespace

QString olderSkinFileNotice()
{
    return QStringLiteral("This is Older Skin File\rPlease update to new version !");
}

QByteArray skinLowerCase(QByteArrayView text)
{
    QByteArray lower = text.toByteArray();
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return lower;
}

QList<QByteArray> splitSkinEntryNames(QByteArrayView text, qsizetype limit)
{
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text = text.first(nul);
    QList<QByteArray> names;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        if (limit >= 0 && names.size() > limit)
            return names;
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        names.append(text.sliced(start, i - start).toByteArray());
        ++i;
        if (c == '\r' && i < text.size() && text[i] == '\n')
            ++i;
        start = i;
    }
    if (start < text.size())
        names.append(text.sliced(start).toByteArray());
    return names;
}

TSkinReader::TSkinReader(SkinNoticeCallback notice)
    : m_notice(std::move(notice))
{
}

void TSkinReader::clear()
{
    m_version = 0;
    m_names.clear();
    m_sizes.clear();
    m_offsets.clear();
    m_data.clear();
}

bool TSkinReader::fail(const QString &reason)
{
    clear();
    m_error = reason;
    return false;
}

bool TSkinReader::readArchive(QByteArrayView compressed)
{
    const lzhuf::DecodeResult decoded = lzhuf::decode(compressed);
    if (!decoded.ok)
        return fail(QStringLiteral("The skin archive cannot be decompressed: %1").arg(decoded.error));
    if (decoded.isTruncated())
        return fail(QStringLiteral("The skin archive is cut short: its compressed data ends %1 bits too early.")
                        .arg(decoded.bitsPastEnd));
    return readPayload(decoded.data);
}

bool TSkinReader::readPayload(QByteArrayView payload)
{
    clear();
    m_error.clear();
    if (payload.size() < SkinArchiveHeaderSize)
        return fail(QStringLiteral("The skin archive is too short for its header (%1 bytes).").arg(payload.size()));

    const auto version = qint32(readU32(payload, 0));
    if (version != SkinArchiveVersion) {
        if (m_notice)
            m_notice(olderSkinFileNotice());
        return fail(QStringLiteral("The skin archive has version %1; version %2 is required.")
                        .arg(version)
                        .arg(SkinArchiveVersion));
    }

    const quint32 nameBytes = readU32(payload, 4);
    qsizetype pos = SkinArchiveHeaderSize;
    if (nameBytes > quint64(payload.size() - pos))
        return fail(QStringLiteral("The skin archive's name list (%1 bytes) runs past its end.").arg(nameBytes));
    QList<QByteArray> names =
        splitSkinEntryNames(skinLowerCase(payload.sliced(pos, qsizetype(nameBytes))), SkinArchiveMaxEntries);
    pos += qsizetype(nameBytes);

    if (names.size() > SkinArchiveMaxEntries)
        return fail(QStringLiteral("The skin archive lists more than %1 entries.").arg(SkinArchiveMaxEntries));
    const qsizetype tableBytes = 4 * names.size();
    if (tableBytes > payload.size() - pos)
        return fail(QStringLiteral("The skin archive's size table runs past its end."));

    const qsizetype dataStart = pos + tableBytes;
    const qint64 dataSize = payload.size() - dataStart;
    QList<qint64> sizes;
    QList<qint64> offsets;
    sizes.reserve(names.size());
    offsets.reserve(names.size());
    qint64 offset = 0;
    for (qsizetype i = 0; i < names.size(); ++i, pos += 4) {
        const qint64 size = readU32(payload, pos);
        if (size > dataSize - offset) {
            return fail(QStringLiteral("The skin archive's entry %1 (\"%2\", %3 bytes) runs past the end of its data.")
                            .arg(i + 1)
                            .arg(QString::fromLatin1(names[i]))
                            .arg(size));
        }
        sizes.append(size);
        offsets.append(offset);
        offset += size;
    }

    m_version = version;
    m_names = std::move(names);
    m_sizes = std::move(sizes);
    m_offsets = std::move(offsets);
    m_data = payload.sliced(dataStart).toByteArray();
    return true;
}

QByteArray TSkinReader::entry(qsizetype index) const
{
    if (index < 0 || index >= m_names.size())
        return {};
    return m_data.mid(m_offsets[index], m_sizes[index]);
}

QByteArray TSkinReader::entryByName(QByteArrayView name) const
{
    const QByteArray wanted = skinLowerCase(name);
    const qsizetype index = m_names.indexOf(wanted);
    return index < 0 ? QByteArray() : entry(index);
}

TSkinReader::NamedEntry TSkinReader::entryByNamePart(QByteArrayView text) const
{
    NamedEntry result;
    if (text.isEmpty())
        return result;
    for (qsizetype i = 0; i < m_names.size(); ++i) {
        if (m_names[i].contains(text)) {
            result.found = true;
            result.name = m_names[i];
            result.data = entry(i);
            break;
        }
    }
    return result;
}

SkinArchiveBuild buildSkinPayload(const QList<SkinArchiveEntry> &entries)
{
    SkinArchiveBuild build;
    if (entries.size() > SkinArchiveMaxEntries) {
        build.error = QStringLiteral("A skin archive holds at most %1 entries, not %2.")
                          .arg(SkinArchiveMaxEntries)
                          .arg(entries.size());
        return build;
    }
    QByteArray names;
    qint64 total = 0;
    for (const SkinArchiveEntry &e : entries) {
        if (e.name.contains('\r') || e.name.contains('\n') || e.name.contains('\0')) {
            build.error =
                QStringLiteral("The entry name \"%1\" holds a line break or NUL.").arg(QString::fromLatin1(e.name));
            return build;
        }
        names += e.name;
        names += "\r\n";
        total += e.data.size();
    }
    if (total + names.size() + 4 * entries.size() + SkinArchiveHeaderSize > lzhuf::DecodeHardLimit) {
        build.error = QStringLiteral("The skin's files are too large for one archive.");
        return build;
    }
    QByteArray &out = build.bytes;
    appendU32(out, quint32(SkinArchiveVersion));
    appendU32(out, quint32(names.size()));
    out.append(8, '\0');
    out += names;
    for (const SkinArchiveEntry &e : entries)
        appendU32(out, quint32(e.data.size()));
    for (const SkinArchiveEntry &e : entries)
        out += e.data;
    build.ok = true;
    return build;
}

SkinArchiveBuild buildSkinArchive(const QList<SkinArchiveEntry> &entries)
{
    SkinArchiveBuild build = buildSkinPayload(entries);
    if (build.ok)
        build.bytes = lzhuf::encode(build.bytes);
    return build;
}

QByteArray makeStoredSkinProperty(QByteArrayView archive)
{
    QByteArray property;
    appendU32(property, quint32(archive.size()));
    property += archive;
    return property;
}

StoredSkinProperty parseStoredSkinProperty(QByteArrayView property)
{
    StoredSkinProperty result;
    if (property.size() < 4) {
        result.error =
            QStringLiteral("The stored skin is too short for its length field (%1 bytes).").arg(property.size());
        return result;
    }
    const auto length = qint32(readU32(property, 0));
    result.ok = true;
    if (length <= 0)
        return result;
    if (qsizetype(length) > property.size() - 4) {
        result.ok = false;
        result.error =
            QStringLiteral("The stored skin declares %1 bytes but holds only %2.").arg(length).arg(property.size() - 4);
        return result;
    }
    result.hasSkin = true;
    result.archive = property.sliced(4, length);
    return result;
}

} // namespace kelvo
