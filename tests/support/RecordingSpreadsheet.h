#pragma once

#include "Spreadsheet.h"

#include <QMap>
#include <QPair>
#include <QStringList>

namespace kelvo {

// Test double: records every step in order and keeps the cells, and can be
// told to fail at creation or at saving with a given text.
class RecordingSpreadsheet : public Spreadsheet
{
public:
    std::unique_ptr<SpreadsheetApplication> createApplication(QString *error) override;

    // Steps as text: "create", "addWorkbook", "setVisible(true)",
    // "setCell(2,1)", "saveAs(<name>)"; failed steps end in " failed".
    QStringList calls;
    // Cell values by (row, column), as last set.
    QMap<QPair<int, int>, QString> cells;
    bool visible = false;
    QString savedAs;

    QString failCreateWith; // non-empty: createApplication fails with this text
    QString failSaveWith;   // non-empty: saveActiveWorkbookAs fails with this text
    int applicationsAlive = 0;

    QString cell(int row, int column) const { return cells.value({row, column}); }
};

} // namespace kelvo
