#pragma once

#include "CardImport.h"

#include "CardData.h"
#include "Gb18030.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

namespace kelvo::exchange::test {

// The thirteen fields of an imported card, decoded.
inline QStringList FieldsOf(const NewCardNode &node)
{
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(gb18030::decode(node.data->field(n)));
    return fields;
}

// Thirteen fields, all empty but the given ones.
inline QStringList Fields(std::initializer_list<std::pair<int, QString>> given)
{
    QStringList fields(13);
    for (const auto &[n, text] : given)
        fields[n - 1] = text;
    return fields;
}

// "LINE: text" for each report line.
inline QStringList MessagesOf(const ImportResult &result)
{
    QStringList lines;
    for (const ImportMessage &message : result.messages)
        lines.append(QStringLiteral("%1: %2").arg(message.line).arg(message.text()));
    return lines;
}

// The single card a file is expected to give.
inline QStringList OnlyCard(const ImportResult &result)
{
    if (!result.ok() || result.cards.size() != 1)
        return {QStringLiteral("expected one card; got %1, error '%2'").arg(result.cards.size()).arg(result.error)};
    return FieldsOf(result.cards.front());
}

} // namespace kelvo::exchange::test
