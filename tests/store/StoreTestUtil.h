#pragma once

#include "CardTree.h"
#include "ProgressSink.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstring>
#include <functional>

namespace kelvo::test {

// Writes data file bytes by hand, item by item, so that tests can state
// every length prefix, including wrong ones.
class FileBytes
{
public:
    FileBytes &int32(qint32 value)
    {
        char raw[4];
        qToLittleEndian<qint32>(value, raw);
        m_bytes.append(raw, 4);
        return *this;
    }
    // A text item; `prefix` < 0 means the written shape L + 2.
    FileBytes &text(const QByteArray &text, qint32 prefix = -1, int payloadBytes = -1)
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
        m_bytes.append(payload.left(wanted));
        return *this;
    }
    FileBytes &intItem(qint32 value, qint32 prefix = 4)
    {
        int32(prefix);
        int32(value);
        return *this;
    }
    FileBytes &dateItem(double value, qint32 prefix = 8)
    {
        int32(prefix);
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        char raw[8];
        qToLittleEndian<quint64>(bits, raw);
        m_bytes.append(raw, 8);
        return *this;
    }
    // A whole node record in the written shape.
    FileBytes &record(const QByteArray &label, qint32 childCount, qint32 kind, double created = 0.0,
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
    FileBytes &raw(const QByteArray &bytes)
    {
        m_bytes.append(bytes);
        return *this;
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Records the progress calls as short words, e.g. "ShowSave(3)", "Pump".
class RecordingProgress : public ProgressSink
{
public:
    QStringList calls;
    std::function<void()> onPump;

    void ShowSaveProgress(int n) override { calls << QStringLiteral("ShowSave(%1)").arg(n); }
    void RefreshProgress() override { calls << QStringLiteral("Refresh"); }
    void StepProgress() override { calls << QStringLiteral("Step"); }
    void ShowLoadProgress() override { calls << QStringLiteral("ShowLoad"); }
    void CloseProgress() override { calls << QStringLiteral("Close"); }
    void PumpMessages() override
    {
        calls << QStringLiteral("Pump");
        if (onPump)
            onPump();
    }
};

// Labels in absolute order, joined by spaces, with depth shown by dots:
// "A .B .C D" for class A holding B and C, followed by D.
inline QString outline(const CardTree &tree)
{
    QStringList parts;
    tree.forEach([&parts](const CardNode *node) {
        parts << QString(node->depth(), QLatin1Char('.')) + QString::fromLatin1(node->label());
    });
    return parts.join(QLatin1Char(' '));
}

// Builds a tree from an outline as produced by outline() (ASCII labels).
// Every node gets a record: Kind 1 when its label starts with a lower-case
// letter, else 0.
void buildFromOutline(CardTree &tree, const QString &text);

} // namespace kelvo::test
