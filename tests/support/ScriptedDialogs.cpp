#include "ScriptedDialogs.h"

#include <QStringList>

namespace kelvo {

QStringList ScriptedDialogs::texts(Kind kind) const
{
    QStringList result;
    for (const Shown &box : m_shown) {
        if (box.kind == kind)
            result.append(box.text);
    }
    return result;
}

void ScriptedDialogs::clear()
{
    m_script.clear();
    m_shown.clear();
    m_unscripted = 0;
}

void ScriptedDialogs::notice(QWidget *, const QString &text)
{
    m_shown.append({Kind::Notice, applicationTitle(), text});
}

bool ScriptedDialogs::question(QWidget *, const QString &text, const QString &caption)
{
    m_shown.append({Kind::Question, caption, text});
    if (!m_script.isEmpty() && std::holds_alternative<bool>(m_script.head()))
        return std::get<bool>(m_script.dequeue());
    ++m_unscripted;
    return false;
}

void ScriptedDialogs::message(QWidget *, const QString &text, const QString &caption)
{
    m_shown.append({Kind::Message, caption, text});
}

void ScriptedDialogs::error(QWidget *, const QString &text)
{
    m_shown.append({Kind::Error, applicationTitle(), text});
}

std::optional<QString> ScriptedDialogs::saveFileName(QWidget *, const QString &title, const QString &filter,
                                                     const QString &, const QString &)
{
    m_shown.append({Kind::SaveFile, title, filter});
    if (!m_script.isEmpty()) {
        if (std::holds_alternative<QString>(m_script.head()))
            return std::get<QString>(m_script.dequeue());
        if (std::holds_alternative<Cancel>(m_script.head())) {
            m_script.dequeue();
            return std::nullopt;
        }
    }
    ++m_unscripted;
    return std::nullopt;
}

QStringList ScriptedDialogs::askOpenFileNames(QWidget *, const QString &title, const QString &filter)
{
    m_shown.append({Kind::OpenFiles, title, filter});
    if (!m_script.isEmpty() && std::holds_alternative<QStringList>(m_script.head()))
        return std::get<QStringList>(m_script.dequeue());
    ++m_unscripted;
    return {};
}

} // namespace kelvo
