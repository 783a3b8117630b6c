#include "CsvParser.h"

#include "ExchangeLimits.h"
#include "TextDecoding.h"

namespace kelvo::exchange {

CsvParser::CsvParser(QByteArrayView text, char delimiter)
    : m_text(text)
    , m_delimiter(delimiter)
{
}

bool CsvParser::takeLineEnd()
{
    if (atEnd())
        return false;
    const char c = m_text[m_pos];
    if (c == '\n') {
        ++m_pos;
    } else if (c == '\r') {
        while (m_pos < m_text.size() && m_text[m_pos] == '\r')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '\n')
            ++m_pos;
    } else {
        return false;
    }
    ++m_line;
    return true;
}

bool CsvParser::next(CsvRecord &record)
{
    record.cells.clear();
    record.broken = false;
    record.problemLine = 0;
    while (!atEnd() && takeLineEnd()) {
        // blank lines between records
    }
    if (atEnd())
        return false;
    record.line = m_line;

    const qsizetype start = m_pos;
    QByteArray cell;
    QByteArrayView direct; // the cell, when it is one unquoted run of the text
    bool keeping = true;
    const auto breakRecord = [&](ImportMessage::Kind problem, int line) {
        if (!record.broken) {
            record.broken = true;
            record.problem = problem;
            record.problemLine = line;
        }
        keeping = false;
        record.cells.clear();
    };
    const auto finishCell = [&] {
        if (keeping) {
            if (record.cells.size() >= MaxCsvColumns)
                breakRecord(ImportMessage::Kind::TooManyColumns, record.line);
            else
                record.cells.append(DecodeUtf8(cell.isEmpty() ? direct : QByteArrayView(cell)));
        }
        cell.clear();
        direct = QByteArrayView();
    };

    while (true) {
        if (keeping && m_pos - start > MaxLineBytes)
            breakRecord(ImportMessage::Kind::RecordTooLong, record.line);
        if (atEnd()) {
            finishCell();
            return true;
        }
        const char c = m_text[m_pos];
        if (c == m_delimiter) {
            ++m_pos;
            finishCell();
            continue;
        }
        if (c == '\r' || c == '\n') {
            takeLineEnd();
            finishCell();
            return true;
        }
        if (c == '"' && cell.isEmpty() && direct.isEmpty()) {
            const int openedOn = m_line;
            ++m_pos;
            bool closed = false;
            while (!atEnd()) {
                const char q = m_text[m_pos];
                if (q == '"') {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
                        if (keeping)
                            cell.append('"');
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    closed = true;
                    break;
                }
                if (q == '\r' || q == '\n') {
                    const qsizetype before = m_pos;
                    takeLineEnd();
                    if (keeping)
                        cell.append(m_text.sliced(before, m_pos - before));
                    continue;
                }
                qsizetype runEnd = m_pos + 1;
                while (runEnd < m_text.size() && m_text[runEnd] != '"' && m_text[runEnd] != '\r'
                       && m_text[runEnd] != '\n')
                    ++runEnd;
                if (keeping) {
                    cell.append(m_text.sliced(m_pos, runEnd - m_pos));
                    if (runEnd - start > MaxLineBytes)
                        breakRecord(ImportMessage::Kind::RecordTooLong, record.line);
                }
                m_pos = runEnd;
            }
            if (!closed) {
                breakRecord(ImportMessage::Kind::QuoteNotClosed, openedOn);
                return true;
            }
            continue; // text after the closing quote stays part of the cell
        }
        qsizetype runEnd = m_pos + 1;
        while (runEnd < m_text.size() && m_text[runEnd] != m_delimiter && m_text[runEnd] != '\r'
               && m_text[runEnd] != '\n')
            ++runEnd;
        if (keeping) {
            const QByteArrayView run = m_text.sliced(m_pos, runEnd - m_pos);
            if (cell.isEmpty() && direct.isEmpty()) {
                direct = run;
            } else {
                cell.append(direct).append(run);
                direct = QByteArrayView();
            }
        }
        m_pos = runEnd;
    }
}

char DetectCsvDelimiter(QByteArrayView text, qsizetype *hintLength)
{
    *hintLength = 0;
    qsizetype end = 0;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n')
        ++end;
    const QByteArrayView first = text.first(end);
    if (first.size() == 5 && first.first(4).compare("sep=", Qt::CaseInsensitive) == 0) {
        qsizetype after = end;
        while (after < text.size() && text[after] == '\r')
            ++after;
        if (after < text.size() && text[after] == '\n')
            ++after;
        *hintLength = after;
        return first[4];
    }
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == '\r' || c == '\n')
            break;
        else if (c == ',')
            ++comma;
        else if (c == ';')
            ++semicolon;
        else if (c == '\t')
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return ';';
    if (tab > comma && tab > semicolon)
        return '\t';
    return ',';
}

} // namespace kelvo::exchange
