#pragma once

#include "SearchCards.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace kelvo {

class Dialogs;
class MessagePump;
class Shell;
class Spreadsheet;

// The three ways the search window hands on its result rows: a text file, a
// mail link and a spreadsheet workbook. Rows are taken in list order. Every
// failure is shown with its own text; nothing half-written is left behind.
// The text file and the workbook run `pump` once per row, so the windows stay
// painted.
class ResultExports
{
public:
    ResultExports(Dialogs &dialogs, Shell &shell, Spreadsheet &spreadsheet, MessagePump &pump, QWidget *owner);

    // Where the current date and time come from (the text file's date line).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setLocale(const QLocale &locale) { m_locale = locale; }
    // The spreadsheet the workbook export drives (it must outlive this object).
    void setSpreadsheet(Spreadsheet &spreadsheet) { m_spreadsheet = &spreadsheet; }

    // Asks for a file name (proposing the condition text + "的查询结果") and
    // writes the results there as GB18030 text, replacing the file atomically.
    void SaveResultsToTextFile(const std::vector<TResultRow> &rows, const QString &conditionText);
    // Hands a mail link whose body carries every found card to the desktop.
    void SendResultsByMail(const std::vector<TResultRow> &rows);
    // Asks for a file name and writes the rows as a workbook through the spreadsheet.
    void ExportResultsToSpreadsheet(const std::vector<TResultRow> &rows);

    // The file name proposed for the text export. Path separators typed into
    // the condition cannot lead the dialog into another folder.
    static QString proposedTextFileName(const QString &conditionText);

private:
    void showFailure(const QString &text);

    Dialogs &m_dialogs;
    Shell &m_shell;
    Spreadsheet *m_spreadsheet;
    QWidget *m_owner;
    MessagePump &m_pump;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTime(); };
    QLocale m_locale;
    QString m_lastSpreadsheetName; // the save dialog proposes the name chosen last time
};

} // namespace kelvo
