#pragma once

#include "PasswordStore.h"

namespace kelvo {

// The keyring through QtKeychain (the Secret Service of GNOME and KDE, or
// KWallet). The entries go under the service name "Kelvo".
class QtKeychainPasswordStore : public PasswordStore
{
public:
    explicit QtKeychainPasswordStore(QString service = QStringLiteral("Kelvo"));
    Outcome read(const QString &key) override;
    Outcome write(const QString &key, const QString &password) override;
    Outcome remove(const QString &key) override;

private:
    QString m_service;
};

} // namespace kelvo
