#pragma once

// A mailto URI read the way a mail program reads one: the fragment cut off
// at the first '#', the recipients before the first '?', the header fields
// split at '&' and each at its first '=', every part percent-decoded as
// UTF-8. A '+' is read as a blank, as form-minded mail programs do, so a raw
// '+' that should have been escaped shows as a changed text.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace kelvo::testing {

struct MailUri
{
    QString scheme;
    QString to;
    QList<std::pair<QString, QString>> fields;
    QString fragment;
    bool hasFragment = false;

    QStringList fieldNames() const
    {
        QStringList names;
        for (const auto &field : fields)
            names.append(field.first.toLower());
        return names;
    }

    // The value of the field of this name (letter case ignored); empty when absent.
    QString field(const QString &name) const
    {
        for (const auto &field : fields) {
            if (field.first.compare(name, Qt::CaseInsensitive) == 0)
                return field.second;
        }
        return {};
    }
};

inline QString decodeMailUriPart(QByteArray part)
{
    part.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
}

inline MailUri ReadMailUri(const QByteArray &uri)
{
    MailUri mail;
    QByteArray rest = uri;
    const qsizetype colon = rest.indexOf(':');
    if (colon >= 0) {
        mail.scheme = QString::fromLatin1(rest.left(colon)).toLower();
        rest = rest.mid(colon + 1);
    }
    const qsizetype hash = rest.indexOf('#');
    if (hash >= 0) {
        mail.hasFragment = true;
        mail.fragment = decodeMailUriPart(rest.mid(hash + 1));
        rest = rest.left(hash);
    }
    const qsizetype question = rest.indexOf('?');
    mail.to = decodeMailUriPart(question >= 0 ? rest.left(question) : rest);
    if (question < 0)
        return mail;
    for (const QByteArray &field : rest.mid(question + 1).split('&')) {
        if (field.isEmpty())
            continue;
        const qsizetype equals = field.indexOf('=');
        if (equals < 0)
            mail.fields.append({decodeMailUriPart(field), QString()});
        else
            mail.fields.append({decodeMailUriPart(field.left(equals)), decodeMailUriPart(field.mid(equals + 1))});
    }
    return mail;
}

} // namespace kelvo::testing
