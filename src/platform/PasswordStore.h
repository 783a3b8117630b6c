#pragma once

#include <QString>

namespace kelvo {

// The desktop's keyring, where the address book's password is kept (never
// in the data file, the sync state file or a log). Every call waits for the
// keyring's answer.
class PasswordStore
{
public:
    enum class Status {
        Ok,
        NotFound,    // the keyring holds no password under this key
        NoKeyring,   // no keyring service runs (or it refused): nothing can be kept
        Failed,      // the keyring answered with another error
    };
    struct Outcome
    {
        Status status = Status::Ok;
        QString password; // read(): the password when Ok
        QString reason;   // the keyring's own text when not Ok (never holds a password)
    };

    virtual ~PasswordStore() = default;
    virtual Outcome read(const QString &key) = 0;
    virtual Outcome write(const QString &key, const QString &password) = 0;
    virtual Outcome remove(const QString &key) = 0;
};

// The key of an address book's password: the user and the address as typed.
QString PasswordKey(const QString &url, const QString &user);

} // namespace kelvo
