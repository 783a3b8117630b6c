#include "ImportMessage.h"

#include "FieldNames.h"

namespace kelvo::exchange {

namespace {

// Values are quoted in the report, shortened so that one line stays short.
QString quoted(const QString &value)
{
    constexpr qsizetype Longest = 60;
    if (value.size() <= Longest)
        return u'"' + value + u'"';
    return u'"' + value.left(Longest) + QStringLiteral("...\"");
}

} // namespace

QString ImportMessage::text() const
{
    switch (kind) {
    case Kind::CardWithoutText:
        return QStringLiteral("card skipped: it holds no text for any field");
    case Kind::LineTooLong:
        return QStringLiteral("card skipped: line %1 is longer than 1 MB after unfolding").arg(detailLine);
    case Kind::QuoteNotClosed:
        return QStringLiteral("record skipped: the quoted cell opened on line %1 is never closed").arg(detailLine);
    case Kind::RecordTooLong:
        return QStringLiteral("record skipped: it is longer than 1 MB");
    case Kind::TooManyColumns:
        return QStringLiteral("record skipped: it has more than %1 cells").arg(count);
    case Kind::FieldCut:
        return QStringLiteral("field %1 (%2) cut at 255 bytes").arg(field).arg(EnglishFieldName(field));
    case Kind::ValueDropped:
        return QStringLiteral("%1 %2 dropped: no room left in field 13 (other)").arg(label, quoted(value));
    case Kind::ValuesDropped:
        return QStringLiteral("%1 more values dropped: no room left in field 13 (other)").arg(count);
    case Kind::EncodedValueDropped:
        return QStringLiteral("%1 on line %2 dropped: it is base64 data").arg(label).arg(detailLine);
    case Kind::UnknownCharset:
        return QStringLiteral("unknown charset %1 on line %2: read as UTF-8").arg(quoted(label)).arg(detailLine);
    case Kind::MessagesLeftOut:
        return QStringLiteral("%1 further report lines left out").arg(count);
    }
    return QString();
}

QString ImportMessage::chineseText() const
{
    switch (kind) {
    case Kind::CardWithoutText:
        return QStringLiteral("名片没有任何内容，已跳过");
    case Kind::LineTooLong:
        return QStringLiteral("第%1行超过1 MB，名片已跳过").arg(detailLine);
    case Kind::QuoteNotClosed:
        return QStringLiteral("第%1行开始的引号没有结束，该记录已跳过").arg(detailLine);
    case Kind::RecordTooLong:
        return QStringLiteral("记录超过1 MB，已跳过");
    case Kind::TooManyColumns:
        return QStringLiteral("记录超过%1列，已跳过").arg(count);
    case Kind::FieldCut:
        return QStringLiteral("“%1”超过255字节，已截断").arg(ChineseFieldName(field));
    case Kind::ValueDropped:
        return QStringLiteral("“其他信息”已满，未导入 %1 %2").arg(label, quoted(value));
    case Kind::ValuesDropped:
        return QStringLiteral("“其他信息”已满，另有%1项未导入").arg(count);
    case Kind::EncodedValueDropped:
        return QStringLiteral("第%1行的 %2 是base64数据，未导入").arg(detailLine).arg(label);
    case Kind::UnknownCharset:
        return QStringLiteral("第%1行的字符集 %2 无法识别，按UTF-8读取").arg(detailLine).arg(quoted(label));
    case Kind::MessagesLeftOut:
        return QStringLiteral("另有%1条提示未列出").arg(count);
    }
    return QString();
}

} // namespace kelvo::exchange
