#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kelvo {
class CardTree;
}

namespace kelvo::test {

// ReadTreeJson as it was: QJsonDocument::fromJson, then a walk of the
// document (see the .cpp).
bool ReadTreeJsonAsDocument(const QByteArray &json, CardTree &tree, QString *error, QStringList *warnings = nullptr);

} // namespace kelvo::test
