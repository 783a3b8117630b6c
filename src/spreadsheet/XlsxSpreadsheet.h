#pragma once

#include "Spreadsheet.h"

#include <functional>

namespace kelvo {

// Spreadsheet backend that writes Office Open XML workbooks (.xlsx) itself,
// so no spreadsheet program is needed to produce the file. "Visible" means the
// saved workbook is handed to `openSaved` (the desktop opens it in the
// program registered for spreadsheets) as soon as it exists on disk.
//
// Saving writes the workbook through AtomicFile: into a temporary file in
// the target's folder, renamed over the target only when it is complete, so
// a failure never leaves a partial file and never damages an existing one.
class XlsxSpreadsheet : public Spreadsheet
{
public:
    using FileOpener = std::function<void(const QString &path)>;

    explicit XlsxSpreadsheet(FileOpener openSaved);

    std::unique_ptr<SpreadsheetApplication> createApplication(QString *error) override;

private:
    FileOpener m_openSaved;
};

} // namespace kelvo
