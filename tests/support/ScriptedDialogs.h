#pragma once

#include "Dialogs.h"

#include <QList>
#include <QQueue>

#include <variant>

namespace kelvo {

// Test double: answers from a script and records every box it was asked to
// show. An unscripted question answers No and an unscripted save dialog is
// cancelled; both are counted, so a test can tell it forgot an answer.
class ScriptedDialogs final : public Dialogs
{
public:
    enum class Kind { Notice, Question, Message, Error, SaveFile, OpenFiles };

    struct Shown
    {
        Kind kind;
        QString caption; // the title for the save dialog
        QString text;    // the filter for the save dialog
    };

    struct Cancel
    {
    };
    using Answer = std::variant<bool, QString, Cancel, QStringList>; // question / chosen path / cancelled dialog /
                                                                     // files to open

    void answerQuestion(bool yes) { m_script.enqueue(yes); }
    void answerSaveFile(const QString &path) { m_script.enqueue(path); }
    void cancelSaveFile() { m_script.enqueue(Cancel{}); }
    void answerOpenFiles(const QStringList &paths) { m_script.enqueue(paths); }

    const QList<Shown> &shown() const { return m_shown; }
    // Texts of the shown boxes of one kind, in order.
    QStringList texts(Kind kind) const;
    int unscriptedCount() const { return m_unscripted; }
    int pendingAnswers() const { return static_cast<int>(m_script.size()); }
    void clear();

    void notice(QWidget *owner, const QString &text) override;
    bool question(QWidget *owner, const QString &text, const QString &caption) override;
    void message(QWidget *owner, const QString &text, const QString &caption) override;
    void error(QWidget *owner, const QString &text) override;
    std::optional<QString> saveFileName(QWidget *owner, const QString &title, const QString &filter,
                                        const QString &defaultSuffix, const QString &initialName) override;
    QStringList askOpenFileNames(QWidget *owner, const QString &title, const QString &filter) override;

private:
    QQueue<Answer> m_script;
    QList<Shown> m_shown;
    int m_unscripted = 0;
};

} // namespace kelvo
