#pragma once

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <array>
#include <cstring>

namespace kelvo::test {

// Writes data file bytes by hand, item by item and independently of the
// store, so that tests can state every length prefix, including wrong ones.
// It remembers where the filler bytes are (the byte after each text, whose
// value is free), so that a file the store wrote can be compared with it.
class DataFileBytes
{
public:
    DataFileBytes &int32(qint32 value)
    {
        char raw[4];
        qToLittleEndian<qint32>(value, raw);
        m_bytes.append(raw, 4);
        return *this;
    }
    // A text item; `prefix` < 0 means the written shape L + 2. `payloadBytes`
    // < 0 writes as many bytes as the prefix announces.
    DataFileBytes &text(const QByteArray &text, qint32 prefix = -1, int payloadBytes = -1)
    {
        const int natural = int(text.size()) + 2;
        int32(prefix < 0 ? natural : prefix);
        QByteArray payload;
        payload.append(char(quint8(text.size())));
        payload.append(text);
        payload.append('\xAA');
        const int wanted = payloadBytes >= 0 ? payloadBytes : (prefix < 0 ? natural : prefix);
        while (payload.size() < wanted)
            payload.append('\xBB');
        if (wanted > 1 + text.size())
            m_fillers.append(m_bytes.size() + 1 + text.size());
        m_bytes.append(payload.left(wanted));
        return *this;
    }
    DataFileBytes &intItem(qint32 value, qint32 prefix = 4)
    {
        int32(prefix);
        int32(value);
        return *this;
    }
    DataFileBytes &dateItem(double value, qint32 prefix = 8)
    {
        int32(prefix);
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        char raw[8];
        qToLittleEndian<quint64>(bits, raw);
        m_bytes.append(raw, 8);
        return *this;
    }
    // A whole node record in the written shape: label, fields 2 to 13, the
    // four display indexes, child count, Created, Kind.
    DataFileBytes &record(const QByteArray &label, qint32 childCount, qint32 kind, double created = 0.0,
                          const QList<QByteArray> &fields2to13 = {}, std::array<qint32, 4> indexes = {0, 0, -1, -1})
    {
        text(label);
        for (int i = 0; i < 12; ++i)
            text(i < fields2to13.size() ? fields2to13[i] : QByteArray());
        for (qint32 index : indexes)
            intItem(index);
        intItem(childCount);
        dateItem(created);
        intItem(kind);
        return *this;
    }
    DataFileBytes &raw(const QByteArray &bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }

    const QByteArray &bytes() const { return m_bytes; }
    // `other` with its filler bytes set to those of these bytes.
    QByteArray withMyFillers(QByteArray other) const
    {
        for (qsizetype at : m_fillers) {
            if (at < other.size())
                other[at] = m_bytes.at(at);
        }
        return other;
    }

private:
    QByteArray m_bytes;
    QList<qsizetype> m_fillers;
};

} // namespace kelvo::test
