#pragma once

#include <QString>

#include <memory>

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

} // namespace kelvo
