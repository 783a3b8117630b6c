#include "ResultExports.h"

#include "AtomicFile.h"
#include "Dialogs.h"
#include "Gb18030.h"
#include "MessagePump.h"
#include "ResultExport.h"
#include "Shell.h"
#include "Spreadsheet.h"

#include <QDir>

namespace kelvo {

ResultExports::ResultExports(Dialogs &dialogs, Shell &shell, Spreadsheet &spreadsheet, MessagePump &pump,
                             QWidget *owner)
    : m_dialogs(dialogs)
    , m_shell(shell)
    , m_spreadsheet(&spreadsheet)
    , m_owner(owner)
    , m_pump(pump)
{
}

QString ResultExports::proposedTextFileName(const QString &conditionText)
{
    QString name = conditionText + QStringLiteral("的查询结果");
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    name.remove(QChar(u'\0'));
    return name;
}

void ResultExports::SaveResultsToTextFile(const std::vector<TResultRow> &rows, const QString &conditionText)
{
    const QString proposed = proposedTextFileName(conditionText);
    const QByteArray content =
        ResultTextFileContent(rows, m_clock(), m_locale, gb18030::encode(applicationTitle()), m_pump);

    const std::optional<QString> chosen = m_dialogs.saveFileName(
        m_owner, QStringLiteral("保存查询结果"), QStringLiteral("*.txt"), QStringLiteral("txt"), proposed);
    if (!chosen)
        return;
    const QString shownName = QDir::toNativeSeparators(*chosen);
    if (chosen->isEmpty()) {
        showFailure(QStringLiteral("没有给出文件名"));
        return;
    }

    // Written beside the target and renamed over it when complete, so a
    // failure never leaves a truncated file nor damages an existing one.
    if (const Result<> written = writeFileAtomically(*chosen, content); !written) {
        const QString reason = written.error().text;
        showFailure(reason.isEmpty() ? QStringLiteral("无法保存 %1").arg(shownName)
                                     : QStringLiteral("无法保存 %1：%2").arg(shownName, reason));
    }
}

void ResultExports::SendResultsByMail(const std::vector<TResultRow> &rows)
{
    m_shell.openLink(ResultMailText(rows));
}

void ResultExports::ExportResultsToSpreadsheet(const std::vector<TResultRow> &rows)
{
    const std::optional<QString> chosen = m_dialogs.saveFileName(m_owner, QString(), QStringLiteral("*.xlsx"),
                                                                 QStringLiteral("xlsx"), m_lastSpreadsheetName);
    if (!chosen)
        return;
    m_lastSpreadsheetName = *chosen;

    QString error;
    std::unique_ptr<SpreadsheetApplication> app = m_spreadsheet->createApplication(&error);
    if (!app) {
        showFailure(error.isEmpty() ? QStringLiteral("无法启动电子表格程序") : error);
        return;
    }
    if (!FillAndSaveWorkbook(*app, SpreadsheetHeader(), SpreadsheetRows(rows), *chosen, m_pump))
        showFailure(app->errorString());
}

void ResultExports::showFailure(const QString &text)
{
    m_dialogs.error(m_owner, text);
}

} // namespace kelvo
