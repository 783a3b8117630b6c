#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace kelvo {

// Asks the user for a password (the address book's, when the keyring cannot
// keep it). Nothing when the user cancels.
class PasswordPrompt
{
public:
    virtual ~PasswordPrompt() = default;
    virtual std::optional<QString> askPassword(QWidget *owner, const QString &text) = 0;
};

// The prompt as a small Chinese input box with the text hidden.
class QtPasswordPrompt : public PasswordPrompt
{
public:
    std::optional<QString> askPassword(QWidget *owner, const QString &text) override;
};

} // namespace kelvo
