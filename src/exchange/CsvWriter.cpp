#include "CsvWriter.h"

#include "FieldNames.h"
#include "Gb18030.h"
#include "TextDecoding.h"

namespace kelvo::exchange {

namespace {

bool needsQuotes(QByteArrayView cell)
{
    if (cell.isEmpty())
        return false;
    if (cell.front() == ' ' || cell.back() == ' ' || cell.front() == '\t' || cell.back() == '\t')
        return true;
    for (char c : cell) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n' || c == ';')
            return true;
    }
    return false;
}

} // namespace

void AppendCsvCell(QByteArray &out, QByteArrayView cell)
{
    if (!needsQuotes(cell)) {
        out.append(cell);
        return;
    }
    out.append('"');
    for (char c : cell) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

void AppendCsvHeader(QByteArray &out)
{
    out.append("\xEF\xBB\xBF");
    const auto &captions = KelvoFieldCaptions();
    for (size_t i = 0; i < captions.size(); ++i) {
        if (i > 0)
            out.append(',');
        AppendCsvCell(out, captions[i].toUtf8());
    }
    out.append("\r\n");
}

void AppendCsvRecord(QByteArray &out, const TCardData &card)
{
    for (int n = Field::First; n <= Field::Last; ++n) {
        if (n > Field::First)
            out.append(',');
        const QByteArrayView field = card.field(n);
        if (IsAscii(field))
            AppendCsvCell(out, field);
        else
            AppendCsvCell(out, gb18030::decode(field).toUtf8());
    }
    out.append("\r\n");
}

} // namespace kelvo::exchange
