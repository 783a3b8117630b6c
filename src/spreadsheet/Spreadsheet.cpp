#include "Spreadsheet.h"

namespace kelvo {

namespace {

bool setRow(SpreadsheetApplication &application, int row, const QStringList &values)
{
    for (int column = 1; column <= values.size(); ++column) {
        if (!application.setCell(row, column, values.at(column - 1)))
            return false;
    }
    return true;
}

} // namespace

bool FillAndSaveWorkbook(SpreadsheetApplication &application, const QStringList &header,
                         const std::vector<QStringList> &rows, const QString &fileName, MessagePump &pump)
{
    if (!application.addWorkbook() || !application.setVisible(false) || !setRow(application, 1, header))
        return false;
    int row = 1;
    for (const QStringList &values : rows) {
        pump.pump();
        if (!setRow(application, ++row, values))
            return false;
    }
    return application.setVisible(true) && application.saveActiveWorkbookAs(fileName);
}

} // namespace kelvo
