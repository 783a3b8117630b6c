#pragma once

#include "InstanceLock.h"

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

namespace kelvo {

// One running copy per user. The first copy holds the InstanceLock (a lock
// file in the per-user runtime folder; a lock left by a crashed copy is
// taken over) and listens on a local socket beside it; a later copy finds
// the lock taken and may ask the running copy to show its main window.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // `name` names the lock ("Kelvo"); `folder` defaults to the runtime folder
    // (InstanceLock::defaultFolder()).
    explicit SingleInstance(const QString &name, const QString &folder = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock. False when another copy holds it.
    bool acquire();
    bool isPrimary() const { return m_primary; }
    // From a later copy: asks the running copy to show its main window.
    // Returns whether the request was delivered.
    bool askRunningCopyToShow(int timeoutMs = 1000) const;

    QString lockFilePath() const;
    QString serverPath() const;

Q_SIGNALS:
    // A later copy asked this one to show its main window.
    void showRequested();

private:
    void listen();
    void readRequest();

    QString m_name;
    InstanceLock m_lock;
    QLocalServer *m_server = nullptr;
    bool m_primary = false;
};

} // namespace kelvo
