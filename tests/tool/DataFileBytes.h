#pragma once

#include <QByteArray>
#include <QList>

#include <array>
#include <cstdint>
#include <cstring>

// Builds data file bytes item by item, independently of the store, and
// remembers where the filler bytes are (their value is free).
class DataFileBytes
{
public:
    void appendInt(std::int32_t value)
    {
        char bytes[4];
        const auto u = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<char>((u >> (8 * i)) & 0xff);
        m_bytes.append(bytes, 4);
    }
    void appendIntItem(std::int32_t value)
    {
        appendInt(4);
        appendInt(value);
    }
    void appendDoubleItem(double value)
    {
        appendInt(8);
        std::uint64_t bits;
        std::memcpy(&bits, &value, 8);
        for (int i = 0; i < 8; ++i)
            m_bytes.append(static_cast<char>((bits >> (8 * i)) & 0xff));
    }
    void appendTextItem(const QByteArray &text)
    {
        appendInt(static_cast<std::int32_t>(text.size() + 2));
        m_bytes.append(static_cast<char>(text.size()));
        m_bytes.append(text);
        m_fillers.append(m_bytes.size());
        m_bytes.append('\0');
    }
    // One node record: label, fields 2..13, display indexes, child count, Created, Kind.
    void appendNode(const QByteArray &label, const std::array<QByteArray, 12> &fields,
                    const std::array<std::int32_t, 4> &images, std::int32_t children, double created,
                    std::int32_t kind)
    {
        appendTextItem(label);
        for (const QByteArray &field : fields)
            appendTextItem(field);
        for (std::int32_t image : images)
            appendIntItem(image);
        appendIntItem(children);
        appendDoubleItem(created);
        appendIntItem(kind);
    }

    const QByteArray &bytes() const { return m_bytes; }
    // `other` with the filler bytes set to those of these bytes.
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
