#include "CardImport.h"

#include "CardAssembly.h"
#include "ExchangeLimits.h"
#include "TextDecoding.h"
#include "VCardReader.h"

#include "CardRecords.h"

#include <QFile>

#if defined(Q_OS_UNIX)
#include <sys/mman.h>
#include <unistd.h>
#endif

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
        m_result.origins.push_back({draft.uid, draft.line});
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

constexpr int CardsBetweenProgress = 512;

void readVCards(QByteArrayView bytes, ImportResult &result, const ImportProgress &progress)
{
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    QByteArray converted;
    QByteArrayView text = bytes.sliced(ByteOrderMarkLength(bytes, mark));
    const bool transcoded = mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE;
    if (transcoded) {
        converted = ToUtf8WithoutMark(bytes);
        text = converted;
    }
    VCardReader reader(text, transcoded, mark == ByteOrderMark::Gb18030); // looks at the whole text once
    if (progress)
        progress(bytes.size());
    const qsizetype offset = transcoded ? bytes.size() : text.data() - bytes.data();
    ResultCollector collector(result);
    ContactDraft draft;
    bool readable = true;
    for (int count = 1; reader.nextCard(draft, &readable); ++count) {
        collector.take(draft, readable);
        if (progress && count % CardsBetweenProgress == 0)
            progress(transcoded ? bytes.size() : offset + reader.position());
    }
    collector.finish();
}

void readCsv(QByteArrayView bytes, const CsvOptions &options, ImportResult &result, const ImportProgress &progress)
{
    CsvReader reader(bytes, options); // looks at the whole text once
    if (progress)
        progress(bytes.size());
    if (!reader.start(&result.error)) {
        result.problem = ImportResult::Problem::CsvHeader;
        result.csvColumns = reader.header().names;
        return;
    }
    ResultCollector collector(result);
    ContactDraft draft;
    bool readable = true;
    for (int count = 1; reader.nextCard(draft, &readable); ++count) {
        collector.take(draft, readable);
        if (progress && count % CardsBetweenProgress == 0)
            progress(reader.bytesDone());
    }
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

ImportResult ImportCards(QByteArrayView bytes, const CsvOptions &csv, const ImportProgress &progress)
{
    ImportResult result;
    if (bytes.size() > MaxImportFileBytes) {
        result.error = QStringLiteral("the file is larger than %1 MB; refused").arg(MaxImportFileBytes >> 20);
        result.problem = ImportResult::Problem::TooLarge;
        return result;
    }
    result.format = DetectExchangeFormat(bytes);
    if (result.format == ExchangeFormat::VCard)
        readVCards(bytes, result, progress);
    else
        readCsv(bytes, csv, result, progress);
    if (result.ok() && result.cards.empty() && result.skipped == 0) {
        result.problem = ImportResult::Problem::NoCard;
        result.error = result.format == ExchangeFormat::VCard ? QStringLiteral("the file holds no card")
                                                              : QStringLiteral("the file holds no card (no record "
                                                                               "after the header)");
    }
    return result;
}

ImportResult ImportCardsFromFile(const QString &path, const CsvOptions &csv, const std::function<void()> &pump)
{
    ImportResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        result.problem = ImportResult::Problem::CannotOpen;
        return result;
    }
    const qint64 size = file.size();
    if (size > MaxImportFileBytes) {
        result.error = QStringLiteral("the file is larger than %1 MB; refused").arg(MaxImportFileBytes >> 20);
        result.problem = ImportResult::Problem::TooLarge;
        return result;
    }
    if (size == 0) {
        result.error = QStringLiteral("the file is empty");
        result.problem = ImportResult::Problem::Empty;
        return result;
    }
    if (uchar *mapped = file.map(0, size)) {
        qsizetype released = 0;
        const ImportProgress progress = [&](qsizetype done) {
            if (pump)
                pump();
#if defined(Q_OS_UNIX)
            // Pages of a read-only file mapping: dropping them costs nothing
            // but a fault if they are read again.
            static const qsizetype page = qsizetype(sysconf(_SC_PAGESIZE));
            const qsizetype end = page > 0 ? done / page * page : 0;
            if (end > released) {
                madvise(mapped + released, size_t(end - released), MADV_DONTNEED);
                released = end;
            }
#else
            (void)done;
#endif
            if (done >= size)
                released = 0; // a later pass reads the pages again
        };
        result = ImportCards(QByteArrayView(reinterpret_cast<const char *>(mapped), size), csv, progress);
        file.unmap(mapped);
        return result;
    }
    // Not mappable (a pipe, a special file): read it, within the bound.
    const QByteArray bytes = file.read(MaxImportFileBytes + 1);
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError) {
        result.error = file.errorString();
        result.problem = ImportResult::Problem::CannotOpen;
        return result;
    }
    return ImportCards(bytes, csv, [&](qsizetype) {
        if (pump)
            pump();
    });
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
