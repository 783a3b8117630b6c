// The reader of `kelvo-tool build` as it was before it read JSON as a
// stream: the whole text parsed by QJsonDocument, then walked. Kept for the
// tests as the reference of what the stream reader must accept and refuse,
// with the same messages, for texts within QJsonDocument's nesting limit.
#include "DocumentTreeJsonReader.h"

#include "CardData.h"
#include "CardTree.h"
#include "Gb18030.h"
#include "JsonDouble.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace kelvo::test {

using namespace kelvo::tool;

namespace {

// Where a syntax error lies, as "line L, column C" (columns count bytes).
QString lineAndColumn(const QByteArray &text, qsizetype offset)
{
    offset = qBound<qsizetype>(0, offset, text.size());
    qsizetype line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < offset; ++i) {
        if (text.at(i) == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(offset - lineStart + 1);
}

bool int32FromJson(const QJsonValue &value, std::int32_t *result)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!(d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max())
        || d != std::floor(d))
        return false;
    *result = static_cast<std::int32_t>(d);
    return true;
}

class JsonTreeBuilder
{
public:
    JsonTreeBuilder(CardTree &tree, QString *error, QStringList *warnings)
        : m_tree(tree)
        , m_error(error)
        , m_warnings(warnings)
    {
    }

    bool build(const QJsonDocument &document)
    {
        if (!document.isObject())
            return fail(QStringLiteral("the top level must be an object {\"nodes\": [...]}"));
        const QJsonObject root = document.object();
        for (auto it = root.begin(); it != root.end(); ++it) {
            if (it.key() != QLatin1String("nodes"))
                return fail(QStringLiteral("unknown key \"%1\" at the top level").arg(it.key()));
        }
        const QJsonValue nodes = root.value(QLatin1String("nodes"));
        if (!nodes.isArray())
            return fail(QStringLiteral("the top level needs \"nodes\": an array of nodes"));
        const QJsonArray array = nodes.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            m_path.assign(1, i);
            if (!buildNode(array.at(i), nullptr))
                return false;
        }
        return true;
    }

private:
    // Recursion depth is bounded by the JSON parser's nesting limit.
    bool buildNode(const QJsonValue &value, CardNode *parent)
    {
        if (!value.isObject())
            return failAt(QString(), QStringLiteral("a node must be an object"));
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            static const QLatin1String known[] = {QLatin1String("label"),  QLatin1String("kind"),
                                                  QLatin1String("fields"), QLatin1String("created"),
                                                  QLatin1String("images"), QLatin1String("children")};
            if (std::find(std::begin(known), std::end(known), it.key()) == std::end(known))
                return failAt(QString(), QStringLiteral("unknown key \"%1\"").arg(it.key()));
        }

        QByteArray label;
        const QJsonValue labelValue = object.value(QLatin1String("label"));
        if (labelValue.isUndefined())
            return failAt(QString(), QStringLiteral("\"label\" is missing"));
        if (!textFromJson(
                labelValue, [] { return QStringLiteral("label"); }, &label))
            return false;
        if (label.size() > TCardData::MaxFieldBytes)
            warn(QStringLiteral("label"),
                 QStringLiteral("longer than 255 bytes in GB18030; the data file keeps the first 255"));

        auto record = std::make_unique<TCardData>();
        const QJsonValue kindValue = object.value(QLatin1String("kind"));
        if (kindValue.isUndefined())
            return failAt(QString(), QStringLiteral("\"kind\" is missing"));
        if (!int32FromJson(kindValue, &record->Kind))
            return failAt(QStringLiteral("kind"), QStringLiteral("expected a 32-bit integer (0 card class, 1 card)"));

        const QJsonValue fieldsValue = object.value(QLatin1String("fields"));
        if (!fieldsValue.isUndefined()) {
            if (!fieldsValue.isArray())
                return failAt(QStringLiteral("fields"), QStringLiteral("expected an array of up to 13 texts"));
            const QJsonArray fields = fieldsValue.toArray();
            if (fields.size() > Field::Count)
                return failAt(QStringLiteral("fields"),
                              QStringLiteral("%1 texts; a card has 13 fields").arg(fields.size()));
            for (qsizetype i = 0; i < fields.size(); ++i) {
                const auto where = [i] { return QStringLiteral("fields[%1]").arg(i); };
                QByteArray text;
                if (!textFromJson(fields.at(i), where, &text))
                    return false;
                if (text.size() > TCardData::MaxFieldBytes)
                    warn(where(),
                         QStringLiteral("longer than 255 bytes in GB18030; the data file keeps the first 255"));
                record->setField(Field::First + static_cast<int>(i), text);
            }
            if (!record->name().isEmpty()
                && record->name() != gb18030::cutAtCharBoundary(label, TCardData::MaxFieldBytes))
                warn(QStringLiteral("fields[0]"),
                     QStringLiteral("differs from the label; the data file stores the label in the name's place"));
        }

        const QJsonValue createdValue = object.value(QLatin1String("created"));
        if (!createdValue.isUndefined()) {
            QString reason;
            if (!DoubleFromJson(createdValue, &record->Created, &reason))
                return failAt(QStringLiteral("created"), reason);
        }

        std::array<std::int32_t, 4> images;
        images.fill(record->Kind);
        const QJsonValue imagesValue = object.value(QLatin1String("images"));
        if (!imagesValue.isUndefined()) {
            const QJsonArray array = imagesValue.toArray();
            if (!imagesValue.isArray() || array.size() != 4)
                return failAt(QStringLiteral("images"),
                              QStringLiteral("expected four integers: image, selected image, overlay, state"));
            for (qsizetype i = 0; i < 4; ++i) {
                if (!int32FromJson(array.at(i), &images[static_cast<size_t>(i)]))
                    return failAt(QStringLiteral("images[%1]").arg(i), QStringLiteral("expected a 32-bit integer"));
            }
        }

        const QJsonValue childrenValue = object.value(QLatin1String("children"));
        if (!childrenValue.isUndefined() && !childrenValue.isArray())
            return failAt(QStringLiteral("children"), QStringLiteral("expected an array of nodes"));

        CardNode *node = parent ? m_tree.addChild(parent, std::move(label), std::move(record))
                                : m_tree.addTopLevel(std::move(label), std::move(record));
        m_tree.setDisplayIndexes(node, images[0], images[1], images[2], images[3]);

        const QJsonArray children = childrenValue.toArray();
        for (qsizetype i = 0; i < children.size(); ++i) {
            m_path.push_back(i);
            if (!buildNode(children.at(i), node))
                return false;
            m_path.pop_back();
        }
        return true;
    }

    // `where` names the member for a message; called only on failure.
    template<typename Where>
    bool textFromJson(const QJsonValue &value, const Where &where, QByteArray *text)
    {
        if (!value.isString())
            return failAt(where(), QStringLiteral("expected a text"));
        const QString string = value.toString();
        if (isAscii(string)) { // most texts: digits, addresses, names in Latin letters
            *text = string.toLatin1();
            return true;
        }
        if (!string.isValidUtf16())
            return failAt(where(), QStringLiteral("the text holds an unpaired surrogate (\\ud800-\\udfff)"));
        *text = gb18030::encode(string);
        return true;
    }

    static bool isAscii(const QString &string)
    {
        for (const QChar c : string) {
            if (c.unicode() >= 0x80)
                return false;
        }
        return true;
    }

    QString nodePath() const
    {
        QString path;
        for (size_t i = 0; i < m_path.size(); ++i)
            path += (i == 0 ? QStringLiteral("nodes[%1]") : QStringLiteral(".children[%1]")).arg(m_path[i]);
        return path;
    }

    QString place(const QString &member) const
    {
        return member.isEmpty() ? nodePath() : nodePath() + QLatin1Char('.') + member;
    }

    void warn(const QString &member, const QString &what)
    {
        if (m_warnings)
            m_warnings->append(place(member) + QStringLiteral(": ") + what);
    }

    bool failAt(const QString &member, const QString &what)
    {
        return fail(place(member) + QStringLiteral(": ") + what);
    }

    bool fail(const QString &what)
    {
        *m_error = what;
        return false;
    }

    CardTree &m_tree;
    QString *m_error;
    QStringList *m_warnings;
    std::vector<qsizetype> m_path;
};

} // namespace

bool ReadTreeJsonAsDocument(const QByteArray &json, CardTree &tree, QString *error, QStringList *warnings)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        QString reason = parseError.errorString();
        if (parseError.error == QJsonParseError::DeepNesting)
            reason += QStringLiteral(" (nodes can be nested about 500 levels deep in JSON)");
        *error = QStringLiteral("%1: %2").arg(lineAndColumn(json, parseError.offset), reason);
        return false;
    }
    JsonTreeBuilder builder(tree, error, warnings);
    return builder.build(document);
}

} // namespace kelvo::test
