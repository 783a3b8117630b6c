#pragma once

#include "SearchCards.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

// Contents of the three exports of the search results. All of them are pure:
// the windows show the dialogs, write the files and hand links to the
// desktop. Rows whose Card is null (the card was deleted after the search)
// are skipped by the exports that read cards.
namespace kelvo {

// The file name proposed for the text export: the condition box's text as
// typed (neither trimmed nor folded) followed by "的查询结果". GB18030.
QByteArray ProposedResultFileName(QByteArrayView conditionText);

// The date and time written into the text export: the locale's short date,
// then one blank and its long time (without a time-zone name); the blank and
// the time are left out when the time of day is exactly 00:00:00.
QString ResultFileDateText(const QDateTime &now, const QLocale &locale);

// The whole text export, GB18030 bytes, every line ended by CR LF:
//   <appTitle>--查询结果, "", 保存日期：<date>, "", 共有N张名片, "",
// then per row k: 第k张:, "", the card text block, "". `pump` runs once per
// row; the caller keeps the rows and their cards unchanged meanwhile.
QByteArray ResultTextFileContent(const std::vector<TResultRow> &rows, const QDateTime &now, const QLocale &locale,
                                 QByteArrayView appTitle = "Kelvo", MessagePump &pump = NoMessagePump());

// The mail link's text: "Mailto:?Subject=查找到的名片&Body=" followed, per row,
// by the card text block and the separator "  %0d   ", whose %0d reaches the
// mail program as a carriage return. In each block the characters that a
// mail link reads as its own syntax (% & # ? = +) are percent-escaped, so
// the mail shows exactly the cards' texts; the rest (line breaks, blanks,
// Chinese) is encoded by the shell layer, which turns the text into a valid
// URI. Built from the decoded pieces, so a damaged byte in one field cannot
// swallow the line break after it.
QString ResultMailText(const std::vector<TResultRow> &rows);

// The same link text as GB18030 bytes (for byte-exact checks and tools).
QByteArray ResultMailBytes(const std::vector<TResultRow> &rows);

// The spreadsheet export's header row: the thirteen column captions.
QStringList SpreadsheetHeader();
// One row of thirteen cells per result row: its folded texts, decoded.
std::vector<QStringList> SpreadsheetRows(const std::vector<TResultRow> &rows);

} // namespace kelvo
