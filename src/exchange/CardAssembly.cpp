#include "CardAssembly.h"

#include "CardRecords.h"
#include "ExchangeLimits.h"
#include "Gb18030.h"
#include "TextDecoding.h"

#include <QStringEncoder>

#include <algorithm>

namespace kelvo::exchange {

namespace {

constexpr int NameIndex = 0;
constexpr int CompanyIndex = 2;
constexpr int AddressIndex = 3;
constexpr int PostcodeIndex = 7;
constexpr int EMailIndex = 11;
constexpr int OtherIndex = 12;

QStringEncoder &gb18030Encoder()
{
    thread_local QStringEncoder encoder("GB18030", QStringConverter::Flag::Stateless);
    return encoder;
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

QString addressText(const DraftValue &value)
{
    if (value.postcode.isEmpty())
        return value.text;
    if (value.text.isEmpty())
        return value.postcode;
    return value.text + u' ' + value.postcode;
}

// Keeps the best value of `values` (lowest rank, then file order) and moves
// the others to the extras.
const DraftValue *chooseBest(std::vector<DraftValue> &values, std::vector<DraftValue> &extras, bool isAddress)
{
    if (values.empty())
        return nullptr;
    if (values.size() == 1)
        return &values.front();
    std::stable_sort(values.begin(), values.end(),
                     [](const DraftValue &a, const DraftValue &b) { return a.rank < b.rank; });
    for (size_t i = 1; i < values.size(); ++i) {
        DraftValue extra = values[i];
        if (isAddress)
            extra.text = addressText(extra);
        extras.push_back(std::move(extra));
    }
    return &values.front();
}

// The first telephone number in the file, whatever its kind.
QString firstTelephone(const ContactDraft &draft)
{
    const DraftValue *first = nullptr;
    for (int index : {4, 5, 6}) {
        for (const DraftValue &value : draft.candidates[size_t(index)]) {
            if (!first || value.order < first->order)
                first = &value;
        }
    }
    return first ? first->text : QString();
}

} // namespace

qsizetype Gb18030Length(QStringView text)
{
    if (isAscii(text))
        return text.size();
    return QByteArray(gb18030Encoder().encode(text)).size();
}

bool AssembleCard(ContactDraft &draft, CardTexts *texts)
{
    CardTexts &out = *texts;
    out = {};
    std::vector<DraftValue> &extras = draft.extras;
    for (int index = 0; index < 13; ++index) {
        if (index == PostcodeIndex)
            continue;
        const DraftValue *best = chooseBest(draft.candidates[size_t(index)], extras, index == AddressIndex);
        if (!best)
            continue;
        out[size_t(index)] = best->text;
        if (index == AddressIndex)
            out[PostcodeIndex] = best->postcode;
    }

    if (out[NameIndex].isEmpty())
        out[NameIndex] = draft.structuredName;
    if (out[NameIndex].isEmpty())
        out[NameIndex] = out[CompanyIndex];
    if (out[NameIndex].isEmpty())
        out[NameIndex] = out[EMailIndex];
    if (out[NameIndex].isEmpty())
        out[NameIndex] = firstTelephone(draft);

    std::stable_sort(extras.begin(), extras.end(),
                     [](const DraftValue &a, const DraftValue &b) { return a.order < b.order; });
    QString &other = out[OtherIndex];
    qsizetype otherLength = extras.empty() ? 0 : Gb18030Length(other);
    int dropped = draft.valuesOverBound;
    for (const DraftValue &extra : extras) {
        const QString piece = OneLine(QString(extra.label + QStringLiteral(": ") + extra.text));
        const qsizetype pieceLength = Gb18030Length(piece);
        const qsizetype separator = other.isEmpty() ? 0 : 2;
        if (otherLength + separator + pieceLength <= TCardData::MaxFieldBytes) {
            if (separator)
                other += QStringLiteral("; ");
            other += piece;
            otherLength += separator + pieceLength;
            continue;
        }
        if (draft.messages.size() + 1 < size_t(MaxMessagesPerCard)) {
            ImportMessage message;
            message.kind = ImportMessage::Kind::ValueDropped;
            message.label = extra.label;
            message.value = extra.text;
            draft.addMessage(message);
        } else {
            ++dropped;
        }
    }
    if (dropped > 0) {
        ImportMessage message;
        message.kind = ImportMessage::Kind::ValuesDropped;
        message.count = dropped;
        draft.addMessage(message);
    }

    const bool hasText = std::any_of(out.begin(), out.end(), [](const QString &text) { return !text.isEmpty(); });
    if (!hasText) {
        ImportMessage message;
        message.kind = ImportMessage::Kind::CardWithoutText;
        draft.addMessage(message);
        return false;
    }
    if (out[NameIndex].isEmpty())
        out[NameIndex] = gb18030::decode(NewCardLabel());
    return true;
}

NewCardNode MakeImportedCardNode(const CardTexts &texts, int line, ImportMessages &messages)
{
    // One conversion for the whole card: the fields hold no control
    // characters, so a zero character separates them safely.
    QString joined;
    bool ascii = true;
    qsizetype total = 12;
    for (const QString &text : texts)
        total += text.size();
    joined.reserve(total);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0)
            joined.append(QChar(u'\0'));
        joined.append(texts[i]);
        ascii = ascii && isAscii(texts[i]);
    }
    QByteArray bytes = ascii ? joined.toLatin1() : QByteArray(gb18030Encoder().encode(joined));
    if (bytes.count('\0') != Field::Count - 1) {
        // A zero character inside a text (readers replace them, but the
        // split must never shift fields): one conversion per field.
        bytes.clear();
        for (size_t i = 0; i < texts.size(); ++i) {
            if (i > 0)
                bytes.append('\0');
            bytes.append(gb18030Encoder().encode(QString(texts[i]).replace(QChar(u'\0'), QChar(u' '))));
        }
    }

    std::array<QByteArrayView, Field::Count> fields;
    qsizetype start = 0;
    for (int i = 0; i < Field::Count; ++i) {
        qsizetype end = i + 1 < Field::Count ? bytes.indexOf('\0', start) : bytes.size();
        if (end < 0)
            end = bytes.size();
        QByteArrayView field = QByteArrayView(bytes).sliced(start, end - start);
        start = qMin(end + 1, bytes.size());
        if (field.size() > TCardData::MaxFieldBytes) {
            ImportMessage message;
            message.kind = ImportMessage::Kind::FieldCut;
            message.line = line;
            message.field = i + 1;
            messages.push_back(message);
            // A blank before the cut must not end the stored text.
            field = gb18030::trimmed(gb18030::cutAtCharBoundary(field, TCardData::MaxFieldBytes));
        }
        fields[size_t(i)] = field;
    }

    NewCardNode node;
    node.data = MakeCardRecord();
    node.data->setAllFields(fields);
    node.label = node.data->name().toByteArray();
    node.displayIndexes = {1, 1, 1, 1};
    return node;
}

} // namespace kelvo::exchange
