#include "WindowSync.h"

#include "CardIdentities.h"
#include "CardTree.h"
#include "Dialogs.h"
#include "PasswordPrompt.h"
#include "PasswordStore.h"
#include "SyncState.h"
#include "SyncStatePath.h"
#include "SyncTexts.h"
#include "TreeIdentities.h"

#include <QFile>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace kelvo {

using namespace kelvo::sync;

// One run's second phase, in a thread of its own: everything it reads was
// copied on the window's thread; it opens its own state connection and
// client, and leaves the plan for the third phase.
struct WindowSync::Job
{
    QString statePath;
    BookSettings book;
    CardDavSettings settings;
    SyncOptions options;
    SyncSnapshot snapshot;
    bool interactive = false;

    SyncPlan plan;
    QString failure; // the run could not start (state file)
    // done in the low 32 bits, total in the high ones; -1 until the first step
    std::atomic<qint64> progress{-1};

    void run()
    {
        auto state = SyncState::open(statePath);
        if (!state) {
            failure = QStringLiteral("同步状态文件无法打开：%1").arg(state.error().message());
            return;
        }
        CardDavClient client(settings);
        client.useAddressBook(AddressBookInfo{book.url, QString(), book.vcardVersion});
        SyncEngine engine(*state.value(), client, options);
        plan = engine.run(snapshot);
    }
};

WindowSync::WindowSync(Host host, QString dataFile, QObject *parent)
    : QObject(parent)
    , m_host(std::move(host))
    , m_dataFile(std::move(dataFile))
{
}

WindowSync::~WindowSync()
{
    shutdown(0);
}

void WindowSync::setPasswordServices(PasswordStore *store, PasswordPrompt *prompt)
{
    m_store = store;
    m_prompt = prompt;
}

QString WindowSync::statePath() const
{
    return SyncStatePath(m_dataFile);
}

std::optional<BookSettings> WindowSync::book() const
{
    if (!QFile::exists(statePath()))
        return std::nullopt;
    auto state = SyncState::open(statePath());
    if (!state)
        return std::nullopt;
    return state.value()->book();
}

SyncBookTrust WindowSync::trust() const
{
    return LoadSyncBookTrust(statePath());
}

CardIdentities &WindowSync::identities()
{
    // Made only once sync is in use, so a tree never synced pays nothing.
    if (!m_ids)
        m_ids = std::make_unique<CardIdentities>(m_host.tree);
    return *m_ids;
}

QString WindowSync::cardUid(const CardNode *card)
{
    CardIdentities &ids = identities();
    if (!ids.has(card))
        m_newIdentities = true;
    return IdentityText(ids.identity(card));
}

void WindowSync::keepIdentities(bool treeSaved)
{
    // Written now only when the data file holds this very tree: the state
    // ties the identities to the file's bytes in the tree's order.
    if (!m_newIdentities || !treeSaved)
        return;
    if (const auto saved = SaveIdentities(m_dataFile, m_host.tree, identities()); !saved) {
        qWarning("Kelvo: the sync state beside the data file: %s", qPrintable(saved.error().message()));
        return;
    }
    m_newIdentities = false;
}

void WindowSync::afterLoad()
{
    if (!QFile::exists(statePath()))
        return;
    const auto loaded = LoadIdentities(m_dataFile, m_host.tree, identities());
    if (!loaded)
        qWarning("Kelvo: the sync state beside the data file: %s", qPrintable(loaded.error().message()));
    if (isSetUp())
        requestRun();
}

void WindowSync::afterSave()
{
    if (!m_ids && !QFile::exists(statePath()))
        return; // sync was never set up for this data file
    const auto saved = SaveIdentities(m_dataFile, m_host.tree, identities());
    if (!saved)
        qWarning("Kelvo: the sync state beside the data file: %s", qPrintable(saved.error().message()));
    else
        m_newIdentities = false;
    if (!m_ownSave && !m_ending && isSetUp())
        requestRun();
}

QString WindowSync::passwordKey() const
{
    const auto current = book();
    return current ? PasswordKey(current->url, current->user) : QString();
}

Result<QString> WindowSync::setUp(const AddressBookInfo &found, const QString &user, const QString &password,
                                  const SyncBookTrust &trust)
{
    auto opened = SyncState::open(statePath());
    if (!opened && opened.error().code == ErrorCode::DataDamaged)
        opened = SyncState::recreate(statePath());
    if (!opened)
        return opened.error();
    SyncState &state = *opened.value();
    const auto before = state.book();
    BookSettings settings;
    settings.url = found.url;
    settings.user = user;
    settings.vcardVersion = found.vcardVersion;
    if (before && before->url == found.url) {
        settings.syncToken = before->syncToken;
    } else if (const auto cleared = state.removeAllCards(); !cleared) {
        return cleared.error();
    }
    if (const auto written = state.setBook(settings); !written)
        return written.error();
    opened.value().reset();
    if (const auto written = SaveSyncBookTrust(statePath(), trust); !written)
        return written.error();
    // The identities the tree has now are the ones the first run uses.
    if (const auto saved = SaveIdentities(m_dataFile, m_host.tree, identities()); !saved)
        return saved.error();

    const QString key = PasswordKey(found.url, user);
    m_memoryPassword.reset();
    if (user.isEmpty())
        return QString();
    const PasswordStore::Outcome kept = m_store ? m_store->write(key, password)
                                                : PasswordStore::Outcome{PasswordStore::Status::NoKeyring, {}, {}};
    if (kept.status == PasswordStore::Status::Ok)
        return QString();
    m_memoryPassword = password;
    m_memoryKey = key;
    return QStringLiteral("桌面没有可用的密钥环服务，密码无法保存（%1）。密码只在本次运行中保留在内存里，"
                          "下次启动 Kelvo 时会再次询问。")
        .arg(kept.reason.isEmpty() ? QStringLiteral("没有密钥环") : kept.reason);
}

std::optional<QString> WindowSync::password(bool interactive)
{
    const auto current = book();
    if (!current)
        return std::nullopt;
    if (current->user.isEmpty())
        return QString(); // the server takes no credentials
    const QString key = PasswordKey(current->url, current->user);
    if (m_memoryPassword && m_memoryKey == key)
        return m_memoryPassword;

    PasswordStore::Outcome stored = m_store ? m_store->read(key)
                                            : PasswordStore::Outcome{PasswordStore::Status::NoKeyring, {}, {}};
    if (stored.status == PasswordStore::Status::Ok)
        return stored.password;
    if (!m_prompt || (m_askedThisRun && !interactive))
        return std::nullopt;
    m_askedThisRun = true;
    QString text;
    if (stored.status == PasswordStore::Status::NotFound) {
        text = QStringLiteral("请输入用户“%1”在 %2 的同步密码：").arg(current->user, current->url);
    } else {
        text = QStringLiteral("桌面没有可用的密钥环服务，无法保存同步密码（%3）。\n"
                              "密码只在本次运行中保留在内存里，下次启动 Kelvo 时会再次询问。\n\n"
                              "请输入用户“%1”在 %2 的同步密码：")
                   .arg(current->user, current->url,
                        stored.reason.isEmpty() ? QStringLiteral("没有密钥环") : stored.reason);
    }
    const std::optional<QString> typed = m_prompt->askPassword(m_host.owner, text);
    if (!typed)
        return std::nullopt;
    if (stored.status == PasswordStore::Status::NotFound && m_store
        && m_store->write(key, *typed).status == PasswordStore::Status::Ok)
        return typed;
    m_memoryPassword = typed;
    m_memoryKey = key;
    return typed;
}

CardDavSettings WindowSync::clientSettings(const QString &password) const
{
    CardDavSettings settings;
    if (const auto current = book()) {
        settings.url = current->url;
        settings.user = current->user;
    }
    settings.password = password;
    return WithBookTrust(std::move(settings), trust());
}

void WindowSync::requestRun(bool interactive, bool allowMassDelete)
{
    if (m_ending)
        return;
    m_pending = true;
    m_pendingInteractive = m_pendingInteractive || interactive;
    m_pendingAllowMassDelete = m_pendingAllowMassDelete || allowMassDelete;
    if (!m_running)
        startRun();
}

void WindowSync::setStatus(const QString &text)
{
    m_status = text;
    Q_EMIT statusChanged(text);
}

void WindowSync::startRun()
{
    const bool interactive = m_pendingInteractive;
    const bool allowMassDelete = m_pendingAllowMassDelete;
    m_pending = m_pendingInteractive = m_pendingAllowMassDelete = false;

    const auto current = book();
    if (!current)
        return; // not set up (any more)
    m_running = true;
    const std::optional<QString> pass = password(interactive);
    if (!pass) {
        SyncReport report;
        report.stopped = QStringLiteral("没有同步密码");
        report.stopStatus = RemoteStatus::AuthFailed;
        endRun(report, interactive);
        return;
    }

    auto job = std::make_shared<Job>();
    job->statePath = statePath();
    job->book = *current;
    job->settings = clientSettings(*pass);
    job->options.allowMassDelete = allowMassDelete;
    // The engine runs on the job's thread; the window reads the figures with
    // a timer, so nothing is posted to objects that may be gone.
    job->options.progress = [raw = job.get()](int done, int total) {
        raw->progress.store((qint64(total) << 32) | quint32(done), std::memory_order_relaxed);
    };
    job->interactive = interactive;
    job->snapshot = TakeSnapshot(m_host.tree, identities()); // phase 1, on this thread
    setStatus(QStringLiteral("正在同步…"));

    QThread *thread = QThread::create([job] { job->run(); });
    thread->setObjectName(QStringLiteral("KelvoSync"));
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job] { finishRun(job); });
    m_thread = thread;
    m_job = job;
    m_lastProgress = -1;
    if (!m_progressTimer) {
        m_progressTimer = new QTimer(this);
        m_progressTimer->setInterval(100);
        connect(m_progressTimer, &QTimer::timeout, this, &WindowSync::pollProgress);
    }
    m_progressTimer->start();
    thread->start();
}

void WindowSync::pollProgress()
{
    if (!m_job)
        return;
    const qint64 now = m_job->progress.load(std::memory_order_relaxed);
    if (now < 0 || now == m_lastProgress)
        return;
    m_lastProgress = now;
    Q_EMIT runProgress(int(now & 0xffffffff), int(now >> 32));
}

void WindowSync::finishRun(std::shared_ptr<Job> job)
{
    if (m_job == job) {
        pollProgress(); // the last figures, before the report
        m_progressTimer->stop();
        m_job.reset();
    }
    if (m_ending) {
        m_running = false;
        return;
    }
    // The tree must not change under a load or save that is writing it
    // (those pump events): the third phase waits for it to end.
    if (m_host.busy && m_host.busy()) {
        QTimer::singleShot(50, this, [this, job] { finishRun(job); });
        return;
    }
    SyncReport report;
    if (!job->failure.isEmpty()) {
        report.stopped = job->failure;
    } else {
        report = job->plan.report;
        ApplySyncPlan(job->plan, m_host.tree, identities()); // phase 3, through the store
        int changed = 0;
        for (const LocalChange &change : job->plan.changes)
            changed += change.applied ? 1 : 0;
        bool saved = true;
        if (changed > 0) {
            Q_EMIT changesApplied(changed);
            m_ownSave = true;
            saved = m_host.save && m_host.save();
            m_ownSave = false;
        }
        if (!saved) {
            // The changes stay in the tree (Modified is up) and the state
            // keeps the server's side; the next save and run bring both
            // together.
            if (report.ok())
                report.stopped = QStringLiteral("数据文件没有保存成功，同步的结果将在下次保存后记录");
        } else {
            auto state = SyncState::open(job->statePath);
            const Result<> committed = state ? CommitSyncPlan(job->plan, *state.value()) : Result<>(state.error());
            if (!committed && report.ok())
                report.stopped = QStringLiteral("同步状态无法记录：%1").arg(committed.error().message());
        }
    }
    endRun(report, job->interactive);
}

void WindowSync::endRun(const SyncReport &report, bool interactive)
{
    m_running = false;
    const QString when = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm"));
    if (report.ok()) {
        setStatus(QStringLiteral("%1 同步完成：上传 %2，下载 %3，更新 %4，删除 %5，冲突 %6")
                      .arg(when)
                      .arg(report.uploaded)
                      .arg(report.downloaded)
                      .arg(report.updated)
                      .arg(report.deleted)
                      .arg(report.conflicts));
        m_failureTold = false;
    } else {
        const QString why = StoppedText(report.stopStatus, report.stopped);
        setStatus(QStringLiteral("%1 同步失败：%2").arg(when, why));
        // A failure of the runs the window makes on its own is told once,
        // until a run succeeds again; the dialog shows its own.
        if (!interactive && !m_failureTold) {
            m_failureTold = true;
            ++m_failureNotices;
            QString text = QStringLiteral("名片同步没有完成：%1").arg(why);
            if (report.massDelete)
                text += QStringLiteral("\n\n请从“工具”菜单打开“同步...”，确认是否删除。");
            text += QStringLiteral("\n\n以后的同步失败只显示在状态栏里，直到同步再次成功。");
            m_host.dialogs.notice(m_host.owner, text);
        }
    }
    Q_EMIT runFinished(report, interactive);
    if (m_pending && !m_ending)
        QTimer::singleShot(0, this, [this] {
            if (!m_running && m_pending)
                startRun();
        });
}

void WindowSync::shutdown(int ms)
{
    m_ending = true;
    m_pending = false;
    // A run still in flight afterwards is left to end on its own: it uses
    // nothing of the window, its thread object deletes itself once it has
    // finished, and its plan is dropped unless the end was called off.
    if (m_thread && m_thread->isRunning())
        m_thread->wait(QDeadlineTimer(ms));
}

} // namespace kelvo
