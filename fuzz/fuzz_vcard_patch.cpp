// Feeds arbitrary bytes as a server's copy of a card to the sync's vCard
// patcher, with this computer's content made from the copy by a few edits
// the input's last bytes choose, then checks what the patcher promises:
// - nothing changed: the copy comes back byte for byte (it has a UID);
// - every line that is none of Kelvo's properties stays, byte for byte and
//   in order;
// - the patched card reads back with the new content, where the copy was a
//   readable card whose fields each come from one property line.
#include "CardVCard.h"

#include <QByteArray>
#include <QSet>

#include <cstdint>
#include <cstdlib>

using namespace kelvo::sync;

namespace {

bool kelvosOwn(const RawLine &line)
{
    static const QSet<QByteArray> own{"FN", "N", "TITLE", "ORG", "ADR", "TEL", "URL", "X-QQ", "X-MSN",
                                      "EMAIL", "NOTE", "CATEGORIES", "UID", "BEGIN", "END", "VERSION"};
    return own.contains(line.name);
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 64 * 1024 || size < 2)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size) - 2);
    const std::uint8_t edits = data[size - 2];
    const std::uint8_t which = data[size - 1];

    const ServerCard base = ReadServerCard(input, {});
    const QString uid = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");

    // Nothing changed: the copy itself.
    const QByteArray same = PatchVCard(input, base.content, base.content, uid);
    bool hasUid = false;
    bool hasBegin = false;
    bool hasEnd = false;
    const QList<RawLine> lines = SplitRawLines(input);
    for (const RawLine &line : lines) {
        hasUid = hasUid || line.name == "UID";
        hasBegin = hasBegin || line.name == "BEGIN";
        hasEnd = hasEnd || line.name == "END";
    }
    if (hasUid && hasBegin && hasEnd)
        check(same == input);

    // Some fields and the class changed.
    CardContent changed = base.content;
    for (int i = 0; i < 13; ++i) {
        if (edits & (1u << (i % 8)) && (which + i) % 3 == 0)
            changed.fields[size_t(i)] = (i % 2) ? QString() : QStringLiteral("新值 %1, ;\\ x").arg(i);
    }
    if (edits & 0x80)
        changed.classPath = {QStringLiteral("客户"), QStringLiteral("北京")};
    const QByteArray patched = PatchVCard(input, base.content, changed, uid);
    if (!(hasBegin && hasEnd))
        return 0;

    // Other lines stay, in order.
    const QList<RawLine> out = SplitRawLines(patched);
    qsizetype at = 0;
    for (const RawLine &line : lines) {
        if (kelvosOwn(line) || line.name.isEmpty())
            continue;
        while (at < out.size() && out[at].bytes != line.bytes)
            ++at;
        check(at < out.size());
        ++at;
    }
    return 0;
}
