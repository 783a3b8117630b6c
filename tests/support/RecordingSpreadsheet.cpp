#include "RecordingSpreadsheet.h"

namespace kelvo {

namespace {

class RecordingApplication : public SpreadsheetApplication
{
public:
    explicit RecordingApplication(RecordingSpreadsheet &owner)
        : m_owner(owner)
    {
        ++m_owner.applicationsAlive;
    }
    ~RecordingApplication() override { --m_owner.applicationsAlive; }

    bool addWorkbook() override
    {
        m_owner.calls << QStringLiteral("addWorkbook");
        m_owner.cells.clear();
        m_hasWorkbook = true;
        return true;
    }

    bool setVisible(bool visible) override
    {
        m_owner.calls << (visible ? QStringLiteral("setVisible(true)") : QStringLiteral("setVisible(false)"));
        m_owner.visible = visible;
        return true;
    }

    bool setCell(int row, int column, const QString &value) override
    {
        const QString call = QStringLiteral("setCell(%1,%2)").arg(row).arg(column);
        if (!m_hasWorkbook || row < 1 || column < 1) {
            m_owner.calls << call + QStringLiteral(" failed");
            m_error = QStringLiteral("bad cell");
            return false;
        }
        m_owner.calls << call;
        m_owner.cells.insert({row, column}, value);
        return true;
    }

    bool saveActiveWorkbookAs(const QString &fileName) override
    {
        const QString call = QStringLiteral("saveAs(%1)").arg(fileName);
        if (!m_owner.failSaveWith.isEmpty()) {
            m_owner.calls << call + QStringLiteral(" failed");
            m_error = m_owner.failSaveWith;
            return false;
        }
        m_owner.calls << call;
        m_owner.savedAs = fileName;
        return true;
    }

    QString errorString() const override { return m_error; }

private:
    RecordingSpreadsheet &m_owner;
    QString m_error;
    bool m_hasWorkbook = false;
};

} // namespace

std::unique_ptr<SpreadsheetApplication> RecordingSpreadsheet::createApplication(QString *error)
{
    if (!failCreateWith.isEmpty()) {
        calls << QStringLiteral("create failed");
        if (error)
            *error = failCreateWith;
        return nullptr;
    }
    calls << QStringLiteral("create");
    return std::make_unique<RecordingApplication>(*this);
}

} // namespace kelvo
