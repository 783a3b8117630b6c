#include "CardImport.h"

#include "CardAssembly.h"
#include "ExchangeLimits.h"
#include "TextDecoding.h"
#include "VCardReader.h"

#include "CardRecords.h"

#include <QFile>

namespace kelvo::exchange {

namespace {

// Collects what the readers find, keeping the report within its bound.
class ResultCollector
{
public:
    explicit ResultCollector(ImportResult &result)
        : m_result(result)
    {
    }

    void take(ContactDraft &draft, bool readable)
    {
        CardTexts texts;
        if (!readable || !AssembleCard(draft, &texts)) {
            ++m_result.skipped;
            report(draft.messages);
            return;
        }
        m_result.cards.push_back(MakeImportedCardNode(texts, draft.line, draft.messages));
        report(draft.messages);
    }

    void finish()
    {
        if (m_leftOut > 0) {
            ImportMessage message;
            message.kind = ImportMessage::Kind::MessagesLeftOut;
            message.line = m_lastLine;
            message.count = m_leftOut;
            m_result.messages.push_back(message);
        }
    }

private:
    void report(ImportMessages &messages)
    {
        for (ImportMessage &message : messages) {
            m_lastLine = message.line;
            if (m_result.messages.size() < size_t(MaxMessagesPerImport))
                m_result.messages.push_back(std::move(message));
            else
                ++m_leftOut;
        }
    }

    ImportResult &m_result;
    int m_leftOut = 0;
    int m_lastLine = 0;
};

void readVCards(QByteArrayView bytes, ImportResult &result)
{
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    QByteArray converted;
    QByteArrayView text = bytes.sliced(ByteOrderMarkLength(bytes, mark));
    const bool transcoded = mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE;
    if (transcoded) {
        converted = ToUtf8WithoutMark(bytes);
        text = converted;
    }
    VCardReader reader(text, transcoded);
    ResultCollector collector(result);
    ContactDraft draft;
    bool readable = true;
    while (reader.nextCard(draft, &readable))
        collector.take(draft, readable);
    collector.finish();
}

void readCsv(QByteArrayView bytes, const CsvOptions &options, ImportResult &result)
{
    CsvReader reader(bytes, options);
    if (!reader.start(&result.error))
        return;
    ResultCollector collector(result);
    ContactDraft draft;
    bool readable = true;
    while (reader.nextCard(draft, &readable))
        collector.take(draft, readable);
    collector.finish();
}

bool isBeginVCard(QByteArrayView line)
{
    return line.trimmed().compare("BEGIN:VCARD", Qt::CaseInsensitive) == 0;
}

} // namespace

ExchangeFormat DetectExchangeFormat(QByteArrayView bytes)
{
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    QByteArray converted;
    QByteArrayView text = bytes.sliced(ByteOrderMarkLength(bytes, mark));
    if (mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE) {
        converted = ToUtf8WithoutMark(bytes);
        text = converted;
    }
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(pos, end - pos);
        // A lone CR ends a line too.
        for (qsizetype cr = line.indexOf('\r'); cr >= 0; cr = line.indexOf('\r')) {
            if (isBeginVCard(line.first(cr)))
                return ExchangeFormat::VCard;
            line = line.sliced(cr + 1);
        }
        if (isBeginVCard(line))
            return ExchangeFormat::VCard;
        pos = end + 1;
    }
    return ExchangeFormat::Csv;
}

ImportResult ImportCards(QByteArrayView bytes, const CsvOptions &csv)
{
    ImportResult result;
    if (bytes.size() > MaxImportFileBytes) {
        result.error = QStringLiteral("the file is larger than %1 MB; refused").arg(MaxImportFileBytes >> 20);
        return result;
    }
    result.format = DetectExchangeFormat(bytes);
    if (result.format == ExchangeFormat::VCard)
        readVCards(bytes, result);
    else
        readCsv(bytes, csv, result);
    if (result.ok() && result.cards.empty() && result.skipped == 0) {
        result.error = result.format == ExchangeFormat::VCard ? QStringLiteral("the file holds no card")
                                                              : QStringLiteral("the file holds no card (no record "
                                                                               "after the header)");
    }
    return result;
}

ImportResult ImportCardsFromFile(const QString &path, const CsvOptions &csv)
{
    ImportResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return result;
    }
    const qint64 size = file.size();
    if (size > MaxImportFileBytes) {
        result.error = QStringLiteral("the file is larger than %1 MB; refused").arg(MaxImportFileBytes >> 20);
        return result;
    }
    if (size == 0) {
        result.error = QStringLiteral("the file is empty");
        return result;
    }
    if (uchar *mapped = file.map(0, size)) {
        result = ImportCards(QByteArrayView(reinterpret_cast<const char *>(mapped), size), csv);
        file.unmap(mapped);
        return result;
    }
    // Not mappable (a pipe, a special file): read it, within the bound.
    const QByteArray bytes = file.read(MaxImportFileBytes + 1);
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        return result;
    }
    return ImportCards(bytes, csv);
}

CardNode *ImportTargetClass(CardTree &tree, const QByteArray &label, bool *made)
{
    if (made)
        *made = false;
    for (int row = 0; row < tree.topLevelCount(); ++row) {
        CardNode *node = tree.topLevel(row);
        if (node->isCardClass() && node->label() == label)
            return node;
    }
    std::vector<NewCardNode> added(1);
    added[0].label = label;
    added[0].data = MakeCardClassRecord();
    added[0].data->setField(Field::Name, label);
    added[0].displayIndexes = {0, 0, 0, 0}; // as the add-card-class command makes them
    CardNode *node = tree.addChildren(nullptr, std::move(added));
    if (made)
        *made = true;
    return node;
}

} // namespace kelvo::exchange
