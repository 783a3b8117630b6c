#pragma once

#include "MessagePump.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace kelvo {

// A spreadsheet program driven step by step: create the application, add a
// new workbook, fill cells of its active sheet, make it visible and save the
// active workbook under a name. Rows and columns count from 1; every cell
// value is a string.
//
// Each step reports failure through its result; errorString() then holds the
// reason in words a user can read. After a failed step the application is
// left as it was and no file has been written.
class SpreadsheetApplication
{
public:
    virtual ~SpreadsheetApplication() = default;

    virtual bool addWorkbook() = 0;
    virtual bool setVisible(bool visible) = 0;
    virtual bool setCell(int row, int column, const QString &value) = 0;
    virtual bool saveActiveWorkbookAs(const QString &fileName) = 0;

    virtual QString errorString() const = 0;
};

// Starts spreadsheet applications. Returns nullptr when none can be started,
// with the reason in `error`.
class Spreadsheet
{
public:
    virtual ~Spreadsheet() = default;

    virtual std::unique_ptr<SpreadsheetApplication> createApplication(QString *error) = 0;
};

// The spreadsheet export's steps on an application already created: add a
// workbook, hide it, put `header` into row 1 and each of `rows` into the rows
// below it (column 1 onwards), show it, and save it as `fileName`. `pump`
// runs before each of `rows`, so the windows stay painted. Stops
// at the first step that fails and returns false; application.errorString()
// then says why, and the cells set so far stay in the workbook.
bool FillAndSaveWorkbook(SpreadsheetApplication &application, const QStringList &header,
                         const std::vector<QStringList> &rows, const QString &fileName,
                         MessagePump &pump = NoMessagePump());

} // namespace kelvo
