#include "QtKeychainPasswordStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>

namespace kelvo {

QString PasswordKey(const QString &url, const QString &user)
{
    return user + QLatin1Char('@') + url.trimmed();
}

namespace {

// Runs a keyring job to its end in a local loop (the keyring answers over
// D-Bus within moments; user input waits meanwhile).
PasswordStore::Outcome runJob(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    PasswordStore::Outcome outcome;
    switch (job.error()) {
    case QKeychain::NoError:
        outcome.status = PasswordStore::Status::Ok;
        break;
    case QKeychain::EntryNotFound:
        outcome.status = PasswordStore::Status::NotFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
        // No keyring service to be had (no Secret Service and no KWallet on
        // the session bus, or no session bus at all).
        outcome.status = PasswordStore::Status::NoKeyring;
        break;
    default:
        outcome.status = PasswordStore::Status::Failed;
        break;
    }
    if (outcome.status != PasswordStore::Status::Ok)
        outcome.reason = job.errorString();
    return outcome;
}

} // namespace

QtKeychainPasswordStore::QtKeychainPasswordStore(QString service) : m_service(std::move(service)) {}

PasswordStore::Outcome QtKeychainPasswordStore::read(const QString &key)
{
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(key);
    Outcome outcome = runJob(job);
    if (outcome.status == Status::Ok)
        outcome.password = job.textData();
    return outcome;
}

PasswordStore::Outcome QtKeychainPasswordStore::write(const QString &key, const QString &password)
{
    QKeychain::WritePasswordJob job(m_service);
    job.setKey(key);
    job.setTextData(password);
    return runJob(job);
}

PasswordStore::Outcome QtKeychainPasswordStore::remove(const QString &key)
{
    QKeychain::DeletePasswordJob job(m_service);
    job.setKey(key);
    Outcome outcome = runJob(job);
    if (outcome.status == Status::NotFound)
        outcome.status = Status::Ok; // nothing to forget
    return outcome;
}

} // namespace kelvo
