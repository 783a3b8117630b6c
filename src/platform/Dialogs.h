#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace kelvo {

// The program's message boxes and the file-save dialog. Every text and answer
// goes through here, so windows can be driven and checked without a screen.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A text with one OK button, captioned "Kelvo".
    virtual void notice(QWidget *owner, const QString &text) = 0;
    // Yes and No buttons, no icon. Returns true for Yes.
    virtual bool question(QWidget *owner, const QString &text, const QString &caption) = 0;
    // A text with one OK button, no icon, under the given caption (the
    // damaged-file message).
    virtual void message(QWidget *owner, const QString &text, const QString &caption) = 0;
    // A failure the user must know about (a save that did not reach the disk).
    virtual void error(QWidget *owner, const QString &text) = 0;
    // The file-save dialog: the chosen path, or nothing when cancelled.
    // `defaultSuffix` (without a dot) is appended to a name typed without one.
    virtual std::optional<QString> saveFileName(QWidget *owner, const QString &title, const QString &filter,
                                                const QString &defaultSuffix, const QString &initialName) = 0;
    // The file-open dialog for one or more existing files: the chosen paths,
    // or an empty list when cancelled.
    virtual QStringList askOpenFileNames(QWidget *owner, const QString &title, const QString &filter) = 0;
};

// The caption of notices and of the error message.
QString applicationTitle();

} // namespace kelvo
