#include "ResultExport.h"

#include "CardText.h"
#include "FieldCaptions.h"
#include "Gb18030.h"
#include "MailLinkText.h"

namespace kelvo {

namespace {

const QByteArray &crlf()
{
    static const QByteArray bytes("\r\n");
    return bytes;
}

QByteArray encoded(const char16_t *text)
{
    return gb18030::encode(QString::fromUtf16(text));
}

// The locale's long time format without its time-zone name: the saved file
// shows the wall-clock time the way the desktop's clock does.
QString longTimeFormatWithoutZone(const QLocale &locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            result += c;
        } else if (!quoted && c == u't') {
            continue;
        } else {
            result += c;
        }
    }
    return result.trimmed();
}

} // namespace

QByteArray ProposedResultFileName(QByteArrayView conditionText)
{
    return conditionText.toByteArray() + encoded(u"的查询结果");
}

QString ResultFileDateText(const QDateTime &now, const QLocale &locale)
{
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0)
        text += u' ' + locale.toString(time, longTimeFormatWithoutZone(locale));
    return text;
}

QByteArray ResultTextFileContent(const std::vector<TResultRow> &rows, const QDateTime &now, const QLocale &locale,
                                 QByteArrayView appTitle, MessagePump &pump)
{
    qsizetype liveRows = 0;
    for (const TResultRow &row : rows) {
        if (row.Card)
            ++liveRows;
    }

    QByteArray content;
    content += appTitle.toByteArray() + "--" + encoded(u"查询结果") + crlf();
    content += crlf();
    content += encoded(u"保存日期：") + gb18030::encode(ResultFileDateText(now, locale)) + crlf();
    content += crlf();
    content += encoded(u"共有") + QByteArray::number(liveRows) + encoded(u"张名片") + crlf();
    content += crlf();

    const QByteArray entryHead = encoded(u"第");
    const QByteArray entryTail = encoded(u"张:");
    qsizetype k = 0;
    for (const TResultRow &row : rows) {
        pump.pump();
        if (!row.Card)
            continue; // the card was deleted after the search
        content += entryHead + QByteArray::number(++k) + entryTail + crlf();
        content += crlf();
        content += CardToText(*row.Card) + crlf();
        content += crlf();
    }
    return content;
}

QByteArray ResultMailBytes(const std::vector<TResultRow> &rows)
{
    QByteArray link = encoded(u"Mailto:?Subject=查找到的名片&Body=");
    for (const TResultRow &row : rows) {
        if (!row.Card)
            continue;
        link += EscapeCardTextForMailLink(CardToText(*row.Card));
        link += "  %0d   ";
    }
    return link;
}

QString ResultMailText(const std::vector<TResultRow> &rows)
{
    QString link = QStringLiteral("Mailto:?Subject=查找到的名片&Body=");
    for (const TResultRow &row : rows) {
        if (!row.Card)
            continue;
        // Decoded line by line, so that a damaged byte at the end of one
        // field cannot take the line break after it along.
        const QByteArray block = CardToText(*row.Card);
        qsizetype start = 0;
        while (true) {
            const qsizetype end = block.indexOf("\r\n", start);
            if (end < 0) {
                link += EscapeCardTextForMailLink(gb18030::decode(QByteArrayView(block).sliced(start)));
                break;
            }
            link += EscapeCardTextForMailLink(gb18030::decode(QByteArrayView(block).sliced(start, end - start)));
            link += QLatin1String("\r\n");
            start = end + 2;
        }
        link += QLatin1String("  %0d   ");
    }
    return link;
}

QStringList SpreadsheetHeader()
{
    const auto &captions = FieldCaptions();
    return QStringList(captions.begin(), captions.end());
}

std::vector<QStringList> SpreadsheetRows(const std::vector<TResultRow> &rows)
{
    std::vector<QStringList> cells;
    cells.reserve(rows.size());
    for (const TResultRow &row : rows) {
        QStringList line;
        line.reserve(static_cast<qsizetype>(row.Texts.size()));
        for (const QByteArray &text : row.Texts)
            line.append(gb18030::decode(text));
        cells.push_back(std::move(line));
    }
    return cells;
}

} // namespace kelvo
