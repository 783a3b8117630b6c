#pragma once

#include "CardDavClient.h"
#include "SyncBookTrust.h"
#include "SyncEngine.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QThread;
class QTimer;
class QWidget;

namespace kelvo {

class CardIdentities;
class CardTree;
class Dialogs;
class PasswordPrompt;
class PasswordStore;

// The window's side of the sync of the data file with one address book. A
// run has three phases: the snapshot of the tree on the window's thread, the
// talk with the server in a thread of its own (with its own CardDavClient and
// its own connection to the sync state), and the changes the server asks for
// made through the store back on the window's thread, then saved. Only one
// run at a time: a run asked for while one is in flight follows it.
//
// Once the address book is set up (the sync state beside the data file
// names it), the window runs one after the load and after each of its
// saves; a failure of those is told once (a notice) until a run succeeds
// again. The password comes from the desktop's keyring, or, where none
// runs, is asked for once per run of the program and kept in memory only.
class WindowSync : public QObject
{
    Q_OBJECT

public:
    struct Host
    {
        CardTree &tree;
        Dialogs &dialogs;
        QWidget *owner;
        std::function<bool()> busy; // a load or a save is under way
        std::function<bool()> save; // writes the data file; false when it failed
    };

    WindowSync(Host host, QString dataFile, QObject *parent = nullptr);
    ~WindowSync() override;

    void setPasswordServices(PasswordStore *store, PasswordPrompt *prompt);

    QString statePath() const;
    // The address book as set up, when it is.
    std::optional<sync::BookSettings> book() const;
    bool isSetUp() const { return book().has_value(); }
    sync::SyncBookTrust trust() const;

    // The window loaded the data file: identities from the state, and a run
    // when set up.
    void afterLoad();
    // The window saved the data file: the identities into the state, and a
    // run when set up (not for the save a run makes itself).
    void afterSave();

    // Sets the address book up (found by discovery) for `user`; keeps the
    // password in the keyring, or in memory where there is none. Another
    // address book than before starts with no synced cards. Returns a text
    // for the user when the keyring could not keep the password (empty
    // otherwise), or the failure to write the state.
    Result<QString> setUp(const sync::AddressBookInfo &found, const QString &user, const QString &password,
                          const sync::SyncBookTrust &trust);

    // The settings a client needs for the address book as set up.
    sync::CardDavSettings clientSettings(const QString &password) const;
    // The password for the book as set up: the keyring's, the one kept in
    // memory, or asked for (at most once per run of the program unless
    // `interactive`).
    std::optional<QString> password(bool interactive);

    // Asks for a run (one follows the run in flight). `interactive`: the
    // dialog waits for it (its report goes to runFinished, not to a notice).
    void requestRun(bool interactive = false, bool allowMassDelete = false);
    bool isRunning() const { return m_running; }

    // The program ends: waits at most `ms` for a run in flight, then leaves
    // it (the server's side stays consistent, and what the run did not
    // bring into the data file comes again with the next run).
    void shutdown(int ms);
    // The end did not come after all (the last save failed): runs again.
    void resume() { m_ending = false; }

    // The UID a vCard written from the window gives `card`: its identity,
    // made now when it has none.
    QString cardUid(const CardNode *card);
    // Keeps the identities given out for the next start: into the state now
    // when the data file holds the tree as it is (`treeSaved`), else with the
    // next save.
    void keepIdentities(bool treeSaved);

    QString statusText() const { return m_status; }
    int failureNotices() const { return m_failureNotices; }

Q_SIGNALS:
    // A run's changes are in the tree (announced, Modified raised) and are
    // about to be saved.
    void changesApplied(int count);
    void runFinished(const kelvo::sync::SyncReport &report, bool interactive);
    // How far the run in flight is: `done` of `total` steps (see
    // SyncOptions::progress); told a few times a second at most.
    void runProgress(int done, int total);
    void statusChanged(const QString &text);

private:
    struct Job;

    CardIdentities &identities();
    void startRun();
    void finishRun(std::shared_ptr<Job> job);
    void endRun(const sync::SyncReport &report, bool interactive);
    void setStatus(const QString &text);
    QString passwordKey() const;

    Host m_host;
    QString m_dataFile;
    PasswordStore *m_store = nullptr;
    PasswordPrompt *m_prompt = nullptr;
    std::unique_ptr<CardIdentities> m_ids;
    bool m_newIdentities = false; // cardUid() made identities the state does not hold yet
    std::optional<QString> m_memoryPassword; // where no keyring keeps it
    QString m_memoryKey;
    bool m_askedThisRun = false; // the prompt was shown once in this run of the program

    bool m_running = false;
    bool m_pending = false;
    bool m_pendingInteractive = false;
    bool m_pendingAllowMassDelete = false;
    bool m_ownSave = false;
    bool m_failureTold = false;
    int m_failureNotices = 0;
    bool m_ending = false;
    QPointer<QThread> m_thread;
    // The run in flight, for its progress (read by a timer on this thread).
    std::shared_ptr<Job> m_job;
    QTimer *m_progressTimer = nullptr;
    qint64 m_lastProgress = -1;
    void pollProgress();
    QString m_status;
};

} // namespace kelvo
