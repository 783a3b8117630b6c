#pragma once

#include "Result.h"

#include <QString>

#include <memory>

class QLockFile;

namespace kelvo {

// The per-user lock that a running Kelvo holds for its whole run: the file
// "Kelvo.lock" in the per-user runtime folder (QStandardPaths::RuntimeLocation,
// or the temporary folder where there is none). QtCore only, so kelvo-tool
// can use it too:
//
//     InstanceLock lock;                  // the lock of Kelvo for this user
//     if (Result<> taken = lock.tryLock(); !taken) ...
//
// SingleInstance takes it at start-up; a kelvo-tool command that changes a
// data file takes it for the duration of the change, so that Kelvo cannot
// start meanwhile, and learns from it whether Kelvo runs. A lock left behind
// by a process that has ended is taken over.
class InstanceLock
{
public:
    // The name of Kelvo's lock.
    static QString kelvoName() { return QStringLiteral("Kelvo"); }
    // The per-user runtime folder.
    static QString defaultFolder();

    // `folder` defaults to defaultFolder().
    explicit InstanceLock(const QString &name = kelvoName(), const QString &folder = QString());
    ~InstanceLock(); // releases the lock if held
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    QString filePath() const;
    const QString &folder() const { return m_folder; }

    // Takes the lock without waiting. Fails with ErrorCode::InUse while
    // another process holds it (its text names that process), or with
    // ErrorCode::WriteFailed when the lock file cannot be made.
    Result<> tryLock();
    bool isLocked() const;
    void unlock();

private:
    QString m_name;
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace kelvo
