#include "InstanceLock.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace kelvo {

QString InstanceLock::defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

InstanceLock::InstanceLock(const QString &name, const QString &folder)
    : m_name(name)
    , m_folder(folder.isEmpty() ? defaultFolder() : folder)
{
}

InstanceLock::~InstanceLock() = default;

QString InstanceLock::filePath() const
{
    return QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
}

Result<> InstanceLock::tryLock()
{
    if (isLocked())
        return {};
    QDir().mkpath(m_folder);
    auto lock = std::make_unique<QLockFile>(filePath());
    // A lock is stale only when its process is gone (QLockFile checks the
    // process id it records), never because of its age.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return {};
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        const QString holder =
            lock->getLockInfo(&pid, &host, &application) ? QStringLiteral("held by process %1").arg(pid) : QString();
        return Error{ErrorCode::InUse, filePath(), holder};
    }
    return Error{ErrorCode::WriteFailed, filePath(),
                 lock->error() == QLockFile::PermissionError ? QStringLiteral("Permission denied") : QString()};
}

bool InstanceLock::isLocked() const
{
    return m_lock && m_lock->isLocked();
}

void InstanceLock::unlock()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

} // namespace kelvo
