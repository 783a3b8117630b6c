#pragma once

#include "ImportMessage.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace kelvo::exchange {

// One CSV record: its cells and the line it begins on (counted from 1).
struct CsvRecord
{
    int line = 0;
    QStringList cells;
    // A record that cannot be read: QuoteNotClosed, RecordTooLong or
    // TooManyColumns (with the line the offending quote opened on).
    bool broken = false;
    ImportMessage::Kind problem = ImportMessage::Kind::RecordTooLong;
    int problemLine = 0;
};

// Reads RFC 4180 records from UTF-8 text: cells separated by the delimiter,
// records by CR LF, LF or CR; a cell in double quotes may hold delimiters,
// line breaks and doubled quotes; text after a closing quote is kept (as
// spreadsheets do). Blank lines between records are passed over. A record
// may not be longer than MaxLineBytes nor have more than MaxCsvColumns
// cells; a quote that never closes breaks the record it opens.
class CsvParser
{
public:
    CsvParser(QByteArrayView text, char delimiter);

    // False when no record is left.
    bool next(CsvRecord &record);

    qsizetype position() const { return m_pos; }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    // Consumes a line end at m_pos (CR LF, LF, CR, CR CR LF); false if none.
    bool takeLineEnd();

    QByteArrayView m_text;
    char m_delimiter;
    qsizetype m_pos = 0;
    int m_line = 1;
};

// The delimiter of a CSV text, judged from its first line: whichever of
// comma, semicolon and tab occurs most often outside quotes (comma when none
// does or they tie). A first line "sep=X" (Excel's hint) names it directly;
// `*hintLength` is then the length of that line with its line end.
char DetectCsvDelimiter(QByteArrayView text, qsizetype *hintLength);

} // namespace kelvo::exchange
