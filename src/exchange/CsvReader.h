#pragma once

#include "ContactDraft.h"
#include "CsvLayouts.h"
#include "CsvParser.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace kelvo::exchange {

struct CsvOptions
{
    std::vector<CsvColumnMap> maps; // --map
    bool noHeader = false;          // --no-header
};

// Reads the cards of a CSV file: its encoding from the byte order mark
// (UTF-8, UTF-16 LE/BE), else UTF-8 when the bytes are valid UTF-8, else
// GB18030; its delimiter from the header line; its columns from the header
// (see RecognizeCsvHeader) or the options. Each record is one card; a record
// whose cells are all blank is no card at all.
class CsvReader
{
public:
    CsvReader(QByteArrayView bytes, CsvOptions options);

    // Reads the header. False, with `*error` saying why (an unknown header
    // lists its columns and shows --map), when the file cannot be read.
    bool start(QString *error);
    const CsvHeader &header() const { return m_header; }
    // How far into the file's bytes the reader has got (all of them once
    // the text has been converted from another encoding).
    qsizetype bytesDone() const;

    // Reads the next card; false when no record is left. A record that
    // cannot be read comes back with `*readable` false and its report line.
    bool nextCard(ContactDraft &draft, bool *readable);

private:
    void fillDraft(const CsvRecord &record, ContactDraft &draft) const;

    QByteArray m_converted; // the text as UTF-8, when the file is not UTF-8 already
    QByteArrayView m_text;  // UTF-8, without a byte order mark
    qsizetype m_fileSize = 0;
    qsizetype m_hintLength = 0;
    qsizetype m_textOffset = 0; // where m_text starts in the file's bytes, or -1 when converted
    CsvOptions m_options;
    CsvHeader m_header;
    std::unique_ptr<CsvParser> m_parser;
    CsvRecord m_first; // with --no-header, the first record is a card
    bool m_hasFirst = false;
};

// The message for a header no layout knows (and no --map names).
QString UnknownCsvHeaderMessage(const QStringList &cells);

} // namespace kelvo::exchange
