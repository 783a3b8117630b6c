#include "XlsxSpreadsheet.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <xlsxwriter.h>

#include <algorithm>
#include <numeric>
#include <type_traits>
#include <vector>

namespace kelvo {

namespace {

// Limits of the file format; cells outside them cannot be stored.
constexpr int MaxRows = LXW_ROW_MAX;
constexpr int MaxColumns = LXW_COL_MAX;
constexpr qsizetype MaxCellChars = 32767; // characters in one cell

// libxlsxwriter is loaded when the first workbook is made, not when the
// program starts: it brings libminizip and libcrypto along, whose loading
// would add most of a millisecond to every start of kelvo and kelvo-tool.
struct XlsxWriter
{
    decltype(&workbook_new_opt) workbookNewOpt = nullptr;
    decltype(&workbook_add_worksheet) workbookAddWorksheet = nullptr;
    decltype(&worksheet_write_string) worksheetWriteString = nullptr;
    decltype(&workbook_close) workbookClose = nullptr;
    decltype(&lxw_workbook_free) workbookFree = nullptr;
    decltype(&lxw_strerror) errorText = nullptr;

    // The functions, or null (with `*error` set) when the library cannot be
    // loaded. Loaded once; it stays for the rest of the process.
    static const XlsxWriter *get(QString *error)
    {
        static QString loadError;
        static const XlsxWriter *const loaded = []() -> const XlsxWriter * {
            static QLibrary library(QStringLiteral(KELVO_XLSXWRITER_LIBRARY));
            static XlsxWriter functions;
            const auto resolve = [](auto &function, const char *name) {
                function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.resolve(name));
                return function != nullptr;
            };
            if (library.load() && resolve(functions.workbookNewOpt, "workbook_new_opt")
                && resolve(functions.workbookAddWorksheet, "workbook_add_worksheet")
                && resolve(functions.worksheetWriteString, "worksheet_write_string")
                && resolve(functions.workbookClose, "workbook_close")
                && resolve(functions.workbookFree, "lxw_workbook_free") && resolve(functions.errorText, "lxw_strerror"))
                return &functions;
            loadError = QStringLiteral("无法加载 libxlsxwriter：%1").arg(library.errorString());
            return nullptr;
        }();
        if (!loaded && error)
            *error = loadError;
        return loaded;
    }
};

struct Cell
{
    int row;
    int column;
    QByteArray utf8;
};

class XlsxApplication : public SpreadsheetApplication
{
public:
    XlsxApplication(const XlsxWriter &xlsx, const XlsxSpreadsheet::FileOpener &openSaved)
        : m_xlsx(xlsx)
        , m_openSaved(openSaved)
    {
    }

    bool addWorkbook() override
    {
        // One workbook at a time: a new one replaces the unsaved cells.
        m_cells.clear();
        m_hasWorkbook = true;
        m_savedPath.clear();
        return succeed();
    }

    bool setVisible(bool visible) override
    {
        const bool becomesVisible = visible && !m_visible;
        m_visible = visible;
        if (becomesVisible && !m_savedPath.isEmpty() && m_openSaved)
            m_openSaved(m_savedPath);
        return succeed();
    }

    bool setCell(int row, int column, const QString &value) override
    {
        if (!m_hasWorkbook)
            return fail(QStringLiteral("没有打开的工作簿"));
        if (row < 1 || row > MaxRows || column < 1 || column > MaxColumns)
            return fail(QStringLiteral("单元格 (%1, %2) 超出工作表的范围").arg(row).arg(column));
        if (value.size() > MaxCellChars)
            return fail(QStringLiteral("单元格 (%1, %2) 的文字超过 %3 个字符").arg(row).arg(column).arg(MaxCellChars));
        m_cells.push_back(Cell{row, column, value.toUtf8()});
        return succeed();
    }

    bool saveActiveWorkbookAs(const QString &fileName) override
    {
        if (!m_hasWorkbook)
            return fail(QStringLiteral("没有打开的工作簿"));
        const QFileInfo target(fileName);
        if (fileName.isEmpty() || target.fileName().isEmpty())
            return fail(QStringLiteral("没有给出文件名"));
        if (target.isDir())
            return fail(QStringLiteral("无法保存 %1：这是一个文件夹").arg(QDir::toNativeSeparators(fileName)));
        const QString folder = target.absolutePath();
        if (!QFileInfo(folder).isDir())
            return fail(QStringLiteral("无法保存 %1：文件夹不存在").arg(QDir::toNativeSeparators(fileName)));

        // libxlsxwriter writes the workbook to the temporary file it is
        // given; only a complete workbook replaces the target.
        const Result<> saved = writeFileAtomicallyThrough(fileName, [this](const QString &temporary) -> Result<> {
            QString error;
            if (!writeWorkbook(temporary, &error))
                return Error{ErrorCode::WriteFailed, temporary, error};
            return {};
        });
        if (!saved) {
            const QString shown = QDir::toNativeSeparators(fileName);
            return fail(saved.error().text.isEmpty()
                            ? QStringLiteral("无法保存 %1").arg(shown)
                            : QStringLiteral("无法保存 %1：%2").arg(shown, saved.error().text));
        }

        m_savedPath = target.absoluteFilePath();
        if (m_visible && m_openSaved)
            m_openSaved(m_savedPath);
        return succeed();
    }

    QString errorString() const override { return m_error; }

private:
    bool writeWorkbook(const QString &path, QString *error) const
    {
        // Cells go out row by row, so the sheet can be streamed to disk as
        // it is written instead of being held in memory a second time.
        std::vector<size_t> order(m_cells.size());
        std::iota(order.begin(), order.end(), size_t(0));
        std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            return std::pair(m_cells[a].row, m_cells[a].column) < std::pair(m_cells[b].row, m_cells[b].column);
        });

        const QByteArray encodedPath = QFile::encodeName(path);
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        lxw_workbook *workbook = m_xlsx.workbookNewOpt(encodedPath.constData(), &options);
        if (!workbook) {
            *error = QStringLiteral("无法创建工作簿");
            return false;
        }
        lxw_worksheet *sheet = m_xlsx.workbookAddWorksheet(workbook, nullptr);
        if (!sheet) {
            m_xlsx.workbookFree(workbook);
            *error = QStringLiteral("无法创建工作表");
            return false;
        }
        for (size_t i = 0; i < order.size(); ++i) {
            const Cell &cell = m_cells[order[i]];
            if (i + 1 < order.size()) {
                const Cell &next = m_cells[order[i + 1]];
                if (next.row == cell.row && next.column == cell.column)
                    continue; // set again later: the last value counts
            }
            const lxw_error written =
                m_xlsx.worksheetWriteString(sheet, static_cast<lxw_row_t>(cell.row - 1),
                                            static_cast<lxw_col_t>(cell.column - 1), cell.utf8.constData(), nullptr);
            if (written != LXW_NO_ERROR) {
                m_xlsx.workbookFree(workbook);
                *error = QString::fromUtf8(m_xlsx.errorText(written));
                return false;
            }
        }
        // Closing writes the file and frees the workbook, whatever happens.
        const lxw_error closed = m_xlsx.workbookClose(workbook);
        if (closed != LXW_NO_ERROR) {
            *error = QString::fromUtf8(m_xlsx.errorText(closed));
            return false;
        }
        return true;
    }

    bool succeed()
    {
        m_error.clear();
        return true;
    }

    bool fail(const QString &error)
    {
        m_error = error;
        return false;
    }

    const XlsxWriter &m_xlsx;
    XlsxSpreadsheet::FileOpener m_openSaved;
    std::vector<Cell> m_cells;
    QString m_savedPath;
    QString m_error;
    bool m_hasWorkbook = false;
    bool m_visible = false;
};

} // namespace

XlsxSpreadsheet::XlsxSpreadsheet(FileOpener openSaved)
    : m_openSaved(std::move(openSaved))
{
}

std::unique_ptr<SpreadsheetApplication> XlsxSpreadsheet::createApplication(QString *error)
{
    if (error)
        error->clear();
    const XlsxWriter *xlsx = XlsxWriter::get(error);
    if (!xlsx)
        return nullptr;
    return std::make_unique<XlsxApplication>(*xlsx, m_openSaved);
}

} // namespace kelvo
