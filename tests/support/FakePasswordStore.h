#pragma once

#include "PasswordPrompt.h"
#include "PasswordStore.h"

#include <QHash>
#include <QQueue>
#include <QStringList>

namespace kelvo {

// Test double of the keyring: a table in memory, or (keyring = false) a
// desktop without a keyring service, where every call fails as QtKeychain
// fails there. Counts the calls.
class FakePasswordStore final : public PasswordStore
{
public:
    explicit FakePasswordStore(bool keyring = true) : m_keyring(keyring) {}

    Outcome read(const QString &key) override
    {
        ++reads;
        if (!m_keyring)
            return {Status::NoKeyring, {}, QStringLiteral("No keyring service")};
        if (!entries.contains(key))
            return {Status::NotFound, {}, QStringLiteral("Entry not found")};
        return {Status::Ok, entries.value(key), {}};
    }
    Outcome write(const QString &key, const QString &password) override
    {
        ++writes;
        if (!m_keyring)
            return {Status::NoKeyring, {}, QStringLiteral("No keyring service")};
        entries.insert(key, password);
        return {};
    }
    Outcome remove(const QString &key) override
    {
        if (!m_keyring)
            return {Status::NoKeyring, {}, QStringLiteral("No keyring service")};
        entries.remove(key);
        return {};
    }

    QHash<QString, QString> entries;
    int reads = 0;
    int writes = 0;

private:
    bool m_keyring;
};

// Test double of the password prompt: answers from a script (an unscripted
// prompt is cancelled) and records the texts shown.
class ScriptedPasswordPrompt final : public PasswordPrompt
{
public:
    void answer(const QString &password) { m_script.enqueue(password); }
    std::optional<QString> askPassword(QWidget *, const QString &text) override
    {
        texts.append(text);
        if (m_script.isEmpty())
            return std::nullopt;
        return m_script.dequeue();
    }
    QStringList texts;

private:
    QQueue<QString> m_script;
};

} // namespace kelvo
