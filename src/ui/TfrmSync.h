#pragma once

#include "CardDavClient.h"
#include "SyncBookTrust.h"
#include "SyncEngine.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kelvo {

class Dialogs;
class WindowSync;

// The dialog of "工具 → 同步...": the server's address (a server root or an
// address book's own URL), the user and the password; a connection test
// that shows the address books found; and the start of a sync, with its
// progress and report. The talk with the server never runs on the window's
// thread.
class TfrmSync : public QDialog
{
    Q_OBJECT

public:
    TfrmSync(WindowSync &sync, Dialogs &dialogs, QWidget *parent = nullptr);
    ~TfrmSync() override;

    // The connection test and the start (the buttons' commands).
    void testConnection();
    void startSync();
    // Whether a test or a sync is under way.
    bool isWorking() const { return m_working; }
    QString reportText() const;

Q_SIGNALS:
    // A test or a sync came to its end (the report is shown).
    void workFinished();

private:
    enum class Goal { Test, Sync };
    // Checks what was typed; asks about plain http. False: stop here.
    bool settingsFromInput(sync::CardDavSettings *settings);
    void discover(Goal goal, sync::CardDavSettings settings);
    void discovered(Goal goal, sync::CardDavSettings settings,
                    const sync::RemoteResult<QList<sync::AddressBookInfo>> &found);
    void syncFinished(const sync::SyncReport &report, bool interactive);
    void setWorking(bool working, const QString &what = {});
    void showText(const QString &text);

    WindowSync &m_sync;
    Dialogs &m_dialogs;
    QLineEdit *edtUrl = nullptr;
    QLineEdit *edtUser = nullptr;
    QLineEdit *edtPassword = nullptr;
    QPushButton *btnTest = nullptr;
    QPushButton *btnStart = nullptr;
    QPushButton *btnClose = nullptr;
    QProgressBar *prgSync = nullptr;
    QLabel *lblState = nullptr;
    QPlainTextEdit *memReport = nullptr;
    bool m_working = false;
    bool m_waitingForRun = false;
    sync::CardDavSettings m_runSettings;
};

} // namespace kelvo
