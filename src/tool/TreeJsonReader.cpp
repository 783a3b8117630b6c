#include "TreeJsonReader.h"

#include "JsonByteStream.h"
#include "JsonDouble.h"

#include "CardData.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kelvo::tool {

namespace {

// What a value read is, as far as the checks of a node need to know.
enum class ValueType : std::uint8_t { Missing, Text, Number, Other };

bool numberFromText(std::string_view text, double *value)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (text.find_first_of(".eE") == std::string_view::npos) {
        std::int64_t integer = 0;
        const auto [at, error] = std::from_chars(begin, end, integer);
        if (error == std::errc() && at == end) {
            *value = static_cast<double>(integer);
            return true;
        }
    }
    const auto [at, error] = std::from_chars(begin, end, *value);
    return error == std::errc() && at == end;
}

enum class Member : std::uint8_t { None, Label, Kind, Fields, Created, Images, Children, Nodes, Unknown };

Member memberNamed(const char *key, rapidjson::SizeType length)
{
    const std::string_view name(key, length);
    if (name == "label")
        return Member::Label;
    if (name == "kind")
        return Member::Kind;
    if (name == "fields")
        return Member::Fields;
    if (name == "created")
        return Member::Created;
    if (name == "images")
        return Member::Images;
    if (name == "children")
        return Member::Children;
    return Member::Unknown;
}

bool isInt32(double d)
{
    return d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max()
        && d == std::floor(d);
}

// UTF-8 bytes kept on the text stack.
struct TextRef
{
    qsizetype offset = 0;
    qsizetype length = 0;
};

// A node whose object is being read. Members may come in any order and more
// than once (the last counts), so they are kept as read and judged when the
// object ends, in the fixed order of the checks; its texts lie on the text
// stack, its children's finished subtrees on the built stack.
struct NodeFrame
{
    qsizetype index = 0;         // position in its array
    qsizetype warningsStart = 0; // where its own warnings go, before its children's
    size_t builtStart = 0;
    qsizetype textStart = 0;
    qsizetype childCount = 0; // elements of "children" so far
    QString unknownKey;       // the least unknown key, as Qt orders keys; null: none
    Member pending = Member::None;

    ValueType labelType = ValueType::Missing;
    TextRef label;
    ValueType kindType = ValueType::Missing;
    double kind = 0;
    ValueType createdType = ValueType::Missing;
    double created = 0;
    TextRef createdText;

    bool fieldsPresent = false;
    bool fieldsArray = false;
    int fieldsCount = 0;
    qsizetype fieldsText = 0; // the texts of the kept items follow one another from here
    std::array<ValueType, Field::Count> fieldTypes{};
    std::array<std::uint32_t, Field::Count> fieldLengths{};

    bool imagesPresent = false;
    bool imagesArray = false;
    int imagesCount = 0;
    std::array<ValueType, 4> imageTypes{};
    std::array<double, 4> images{};

    bool childrenPresent = false;
    bool childrenArray = false;
};

enum class Context : std::uint8_t { Top, Nodes, Node, Children, Fields, Images };

// The error that decides the outcome so far, and the array (by the depth of
// the node that holds it; -1: the top-level "nodes") whose element caused
// it. Later elements of that array are only parsed; the holding node's own
// checks still come first when it ends.
struct PendingError
{
    QString message;
    int ownerDepth = -1;
};

// The SAX handler: builds each node's subtree in the tree's arena as its
// object ends, children first.
class TreeJsonHandler
{
public:
    // `strict`: the text is read as given; a string that opens with a
    // byte-order mark (which Qt's parser drops, and which the lenient reading
    // drops too) stops the parse, for a lenient reading.
    TreeJsonHandler(CardTree &tree, JsonByteStream &stream)
        : m_builder(tree)
        , m_stream(stream)
        , m_strict(stream.mode() == JsonByteStream::AsGiven)
    {
    }
    bool wantsLenientReading() const { return m_wantsLenient; }

    // rapidjson's handler interface.
    bool Null() { return scalar(ValueType::Other); }
    bool Bool(bool) { return scalar(ValueType::Other); }
    // Numbers come as their text (rapidjson checks their shape but does not
    // convert them: its conversion of extreme exponents is unsafe) and are
    // read as Qt's parser reads them: an integer that fits 64 bits exactly,
    // anything else rounded to the nearest double; a number beyond the
    // doubles, or one that is not zero but rounds to zero, is refused.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(std::int64_t) { return false; }
    bool Uint64(std::uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char *text, rapidjson::SizeType length, bool)
    {
        double value = 0;
        if (!numberFromText(std::string_view(text, length), &value)) {
            m_numberRefused = true;
            return false;
        }
        // A number that is zero reads as +0, as Qt's JSON parser gives it: a
        // negative zero travels as the text "-0" (see JsonDouble.h).
        return scalar(ValueType::Number, value == 0 ? 0.0 : value);
    }
    bool numberRefused() const { return m_numberRefused; }
    bool String(const char *text, rapidjson::SizeType length, bool)
    {
        if (opensWithMark(text, length))
            return false;
        dropMark(text, length);
        return scalar(ValueType::Text, 0, std::string_view(text, length));
    }
    bool StartObject();
    bool Key(const char *key, rapidjson::SizeType length, bool);
    bool EndObject(rapidjson::SizeType);
    bool StartArray();
    bool EndArray(rapidjson::SizeType);

    // After a complete parse: the outcome. Adopts the nodes into the tree
    // on success.
    bool finish(CardTree &tree, QString *error, QStringList *warnings);

private:
    bool scalar(ValueType type, double number = 0, std::string_view text = {});
    // In the lenient reading: drops the byte-order mark the stream says
    // Qt's parser drops.
    void dropMark(const char *&text, rapidjson::SizeType &length)
    {
        if (!m_strict && m_stream.takeMarkToDrop()) {
            text += 3;
            length -= 3;
        }
    }
    bool opensWithMark(const char *text, rapidjson::SizeType length)
    {
        if (!m_strict || length < 3 || std::memcmp(text, "\xEF\xBB\xBF", 3) != 0)
            return false;
        m_wantsLenient = true;
        return true;
    }
    void skipComposite() { m_skip = 1; }
    int depth() const { return static_cast<int>(m_depth) - 1; }
    NodeFrame &frame() { return m_frames[m_depth - 1]; }
    int ownerOfArray() const { return m_contexts.back() == Context::Nodes ? -1 : depth(); }

    // An element of "nodes" or "children" starts.
    void beginElement(bool isObject, bool composite);
    void finishNode();
    // A second "nodes" or "children": the earlier array's nodes are dropped.
    void restartArray(int ownerDepth);

    TextRef pushText(std::string_view text);
    std::string_view text(TextRef ref) const { return {m_texts.data() + ref.offset, static_cast<size_t>(ref.length)}; }
    static void noteUnknownKey(QString &least, const char *key, rapidjson::SizeType length);

    QString nodePath(int depth) const;
    QString elementPath(int ownerDepth, qsizetype index) const;

    CardTreeBuilder m_builder;
    JsonByteStream &m_stream;
    bool m_strict = true;
    bool m_wantsLenient = false;
    bool m_numberRefused = false;
    std::vector<Context> m_contexts;
    int m_skip = 0; // depth inside a value that is only parsed

    // The top-level object.
    bool m_started = false;
    bool m_topIsObject = false;
    QString m_topUnknownKey;
    Member m_topPending = Member::None;
    bool m_nodesPresent = false;
    bool m_nodesArray = false;
    qsizetype m_nodesCount = 0;

    std::vector<NodeFrame> m_frames; // reused; m_depth of them are open
    size_t m_depth = 0;
    std::string m_texts;
    std::vector<std::unique_ptr<CardNode>> m_built;
    QStringList m_warnings;
    std::optional<PendingError> m_error;
    QByteArray m_gb; // the GB18030 texts of the node being made
};

TextRef TreeJsonHandler::pushText(std::string_view text)
{
    TextRef ref{static_cast<qsizetype>(m_texts.size()), static_cast<qsizetype>(text.size())};
    m_texts.append(text);
    return ref;
}

void TreeJsonHandler::noteUnknownKey(QString &least, const char *key, rapidjson::SizeType length)
{
    const QString name = QString::fromUtf8(key, length);
    if (least.isNull() || name < least)
        least = name;
}

QString TreeJsonHandler::nodePath(int d) const
{
    QString path;
    for (int i = 0; i <= d; ++i)
        path += (i == 0 ? QStringLiteral("nodes[%1]") : QStringLiteral(".children[%1]")).arg(m_frames[size_t(i)].index);
    return path;
}

QString TreeJsonHandler::elementPath(int ownerDepth, qsizetype index) const
{
    if (ownerDepth < 0)
        return QStringLiteral("nodes[%1]").arg(index);
    return nodePath(ownerDepth) + QStringLiteral(".children[%1]").arg(index);
}

bool TreeJsonHandler::StartObject()
{
    if (m_skip > 0) {
        ++m_skip;
        return true;
    }
    if (m_contexts.empty()) {
        m_started = true;
        m_topIsObject = true;
        m_contexts.push_back(Context::Top);
        return true;
    }
    switch (m_contexts.back()) {
    case Context::Top:
        if (m_topPending == Member::Nodes) { // "nodes": {...}
            restartArray(-1);
            m_nodesPresent = true;
            m_nodesArray = false;
        }
        skipComposite();
        break;
    case Context::Nodes:
    case Context::Children:
        beginElement(true, true);
        break;
    case Context::Node:
        scalar(ValueType::Other); // a member holding an object
        skipComposite();
        break;
    case Context::Fields:
    case Context::Images:
        scalar(ValueType::Other);
        skipComposite();
        break;
    }
    return true;
}

bool TreeJsonHandler::StartArray()
{
    if (m_skip > 0) {
        ++m_skip;
        return true;
    }
    if (m_contexts.empty()) {
        m_started = true;
        m_topIsObject = false;
        skipComposite();
        return true;
    }
    switch (m_contexts.back()) {
    case Context::Top:
        if (m_topPending == Member::Nodes) { // "nodes": [...]
            restartArray(-1);
            m_nodesPresent = true;
            m_nodesArray = true;
            m_contexts.push_back(Context::Nodes);
        } else {
            skipComposite();
        }
        break;
    case Context::Nodes:
    case Context::Children:
        beginElement(false, true);
        break;
    case Context::Node: {
        NodeFrame &f = frame();
        switch (f.pending) {
        case Member::Fields:
            f.fieldsPresent = true;
            f.fieldsArray = true;
            f.fieldsCount = 0;
            f.fieldsText = static_cast<qsizetype>(m_texts.size());
            m_contexts.push_back(Context::Fields);
            break;
        case Member::Images:
            f.imagesPresent = true;
            f.imagesArray = true;
            f.imagesCount = 0;
            m_contexts.push_back(Context::Images);
            break;
        case Member::Children:
            restartArray(depth());
            f.childrenPresent = true;
            f.childrenArray = true;
            m_contexts.push_back(Context::Children);
            break;
        default:
            scalar(ValueType::Other);
            skipComposite();
            break;
        }
        break;
    }
    case Context::Fields:
    case Context::Images:
        scalar(ValueType::Other);
        skipComposite();
        break;
    }
    return true;
}

bool TreeJsonHandler::scalar(ValueType type, double number, std::string_view value)
{
    if (m_skip > 0)
        return true;
    if (m_contexts.empty()) {
        m_started = true;
        m_topIsObject = false;
        return true;
    }
    switch (m_contexts.back()) {
    case Context::Top:
        if (m_topPending == Member::Nodes) { // "nodes": a scalar
            restartArray(-1);
            m_nodesPresent = true;
            m_nodesArray = false;
        }
        break;
    case Context::Nodes:
    case Context::Children:
        beginElement(false, false);
        break;
    case Context::Node: {
        NodeFrame &f = frame();
        switch (f.pending) {
        case Member::Label:
            f.labelType = type;
            if (type == ValueType::Text)
                f.label = pushText(value);
            break;
        case Member::Kind:
            f.kindType = type;
            f.kind = number;
            break;
        case Member::Created:
            f.createdType = type;
            f.created = number;
            if (type == ValueType::Text)
                f.createdText = pushText(value);
            break;
        case Member::Fields:
            f.fieldsPresent = true;
            f.fieldsArray = false;
            break;
        case Member::Images:
            f.imagesPresent = true;
            f.imagesArray = false;
            break;
        case Member::Children:
            restartArray(depth());
            f.childrenPresent = true;
            f.childrenArray = false;
            break;
        case Member::None:
        case Member::Nodes:
        case Member::Unknown:
            break;
        }
        break;
    }
    case Context::Fields: {
        NodeFrame &f = frame();
        if (f.fieldsCount < Field::Count) {
            const auto i = static_cast<size_t>(f.fieldsCount);
            f.fieldTypes[i] = type;
            f.fieldLengths[i] = 0;
            if (type == ValueType::Text) {
                m_texts.append(value);
                f.fieldLengths[i] = static_cast<std::uint32_t>(value.size());
            }
        }
        ++f.fieldsCount;
        break;
    }
    case Context::Images: {
        NodeFrame &f = frame();
        if (f.imagesCount < 4) {
            f.imageTypes[static_cast<size_t>(f.imagesCount)] = type;
            f.images[static_cast<size_t>(f.imagesCount)] = number;
        }
        ++f.imagesCount;
        break;
    }
    }
    return true;
}

bool TreeJsonHandler::Key(const char *key, rapidjson::SizeType length, bool)
{
    if (opensWithMark(key, length))
        return false;
    dropMark(key, length);
    if (m_skip > 0)
        return true;
    if (m_contexts.back() == Context::Top) {
        if (std::string_view(key, length) == "nodes") {
            m_topPending = Member::Nodes;
        } else {
            m_topPending = Member::Unknown;
            noteUnknownKey(m_topUnknownKey, key, length);
        }
        return true;
    }
    NodeFrame &f = frame();
    f.pending = memberNamed(key, length);
    if (f.pending == Member::Unknown)
        noteUnknownKey(f.unknownKey, key, length);
    return true;
}

bool TreeJsonHandler::EndObject(rapidjson::SizeType)
{
    if (m_skip > 0) {
        --m_skip;
        return true;
    }
    if (m_contexts.back() == Context::Node)
        finishNode();
    m_contexts.pop_back();
    return true;
}

bool TreeJsonHandler::EndArray(rapidjson::SizeType)
{
    if (m_skip > 0) {
        --m_skip;
        return true;
    }
    m_contexts.pop_back();
    return true;
}

void TreeJsonHandler::restartArray(int ownerDepth)
{
    if (ownerDepth < 0) {
        m_warnings.clear();
        m_built.clear();
        m_nodesCount = 0;
    } else {
        NodeFrame &f = m_frames[size_t(ownerDepth)];
        while (m_warnings.size() > f.warningsStart)
            m_warnings.removeLast();
        m_built.resize(f.builtStart);
        f.childCount = 0;
    }
    if (m_error && m_error->ownerDepth == ownerDepth)
        m_error.reset();
}

void TreeJsonHandler::beginElement(bool isObject, bool composite)
{
    const int owner = ownerOfArray();
    const qsizetype index = owner < 0 ? m_nodesCount++ : m_frames[size_t(owner)].childCount++;
    if (m_error && m_error->ownerDepth == owner) { // an earlier element failed: only parse
        if (composite)
            skipComposite();
        return;
    }
    if (!isObject) {
        m_error = PendingError{elementPath(owner, index) + QStringLiteral(": a node must be an object"), owner};
        if (composite)
            skipComposite();
        return;
    }
    if (m_depth == m_frames.size())
        m_frames.emplace_back();
    NodeFrame &f = m_frames[m_depth++];
    f = NodeFrame();
    f.index = index;
    f.warningsStart = m_warnings.size();
    f.builtStart = m_built.size();
    f.textStart = static_cast<qsizetype>(m_texts.size());
    m_contexts.push_back(Context::Node);
}

void TreeJsonHandler::finishNode()
{
    const int d = depth();
    NodeFrame &f = frame();
    QStringList own;
    std::optional<QString> ownError;
    const auto place = [this, d](const QString &member) { // made only for a message
        const QString path = nodePath(d);
        return member.isEmpty() ? path : path + QLatin1Char('.') + member;
    };
    const auto fail = [&](const QString &member, const QString &what) {
        ownError = place(member) + QStringLiteral(": ") + what;
    };
    const auto warn = [&](const QString &member, const QString &what) {
        own << place(member) + QStringLiteral(": ") + what;
    };
    const QString tooLong = QStringLiteral("longer than 255 bytes in GB18030; the data file keeps the first 255");
    const QString unpaired = QStringLiteral("the text holds an unpaired surrogate (\\ud800-\\udfff)");

    // The texts in GB18030, one after the other in m_gb: the label, then the fields.
    m_gb.resize(0);
    qsizetype labelLength = 0;
    std::array<std::pair<qsizetype, qsizetype>, Field::Count> fieldAt{};
    std::array<std::int32_t, 4> images{};
    std::int32_t kind = 0;
    double created = 0;

    [&] {
        if (!f.unknownKey.isNull())
            return fail(QString(), QStringLiteral("unknown key \"%1\"").arg(f.unknownKey));
        if (f.labelType == ValueType::Missing)
            return fail(QString(), QStringLiteral("\"label\" is missing"));
        if (f.labelType != ValueType::Text)
            return fail(QStringLiteral("label"), QStringLiteral("expected a text"));
        if (!gb18030::appendFromUtf8(text(f.label), m_gb))
            return fail(QStringLiteral("label"), unpaired);
        labelLength = m_gb.size();
        if (labelLength > TCardData::MaxFieldBytes)
            warn(QStringLiteral("label"), tooLong);

        if (f.kindType == ValueType::Missing)
            return fail(QString(), QStringLiteral("\"kind\" is missing"));
        if (f.kindType != ValueType::Number || !isInt32(f.kind))
            return fail(QStringLiteral("kind"), QStringLiteral("expected a 32-bit integer (0 card class, 1 card)"));
        kind = static_cast<std::int32_t>(f.kind);

        if (f.fieldsPresent) {
            if (!f.fieldsArray)
                return fail(QStringLiteral("fields"), QStringLiteral("expected an array of up to 13 texts"));
            if (f.fieldsCount > Field::Count)
                return fail(QStringLiteral("fields"),
                            QStringLiteral("%1 texts; a card has 13 fields").arg(f.fieldsCount));
            qsizetype at = f.fieldsText;
            for (int i = 0; i < f.fieldsCount; ++i) {
                const auto where = [i] { return QStringLiteral("fields[%1]").arg(i); };
                const std::string_view item(m_texts.data() + at, f.fieldLengths[size_t(i)]);
                at += f.fieldLengths[size_t(i)];
                if (f.fieldTypes[size_t(i)] != ValueType::Text)
                    return fail(where(), QStringLiteral("expected a text"));
                const qsizetype start = m_gb.size();
                if (!gb18030::appendFromUtf8(item, m_gb))
                    return fail(where(), unpaired);
                fieldAt[size_t(i)] = {start, m_gb.size() - start};
                if (m_gb.size() - start > TCardData::MaxFieldBytes)
                    warn(where(), tooLong);
            }
            const QByteArrayView label(m_gb.constData(), labelLength);
            const QByteArrayView name = gb18030::cutAtCharBoundary(
                QByteArrayView(m_gb.constData() + fieldAt[0].first, fieldAt[0].second), TCardData::MaxFieldBytes);
            if (!name.isEmpty() && name != gb18030::cutAtCharBoundary(label, TCardData::MaxFieldBytes))
                warn(QStringLiteral("fields[0]"),
                     QStringLiteral("differs from the label; the data file stores the label in the name's place"));
        }

        if (f.createdType == ValueType::Number) {
            created = f.created;
        } else if (f.createdType == ValueType::Text) {
            QString reason;
            const std::string_view value = text(f.createdText);
            if (!DoubleFromJsonString(QString::fromUtf8(value.data(), qsizetype(value.size())), &created, &reason))
                return fail(QStringLiteral("created"), reason);
        } else if (f.createdType == ValueType::Other) {
            return fail(QStringLiteral("created"), NotANumberReason());
        }

        images.fill(kind);
        if (f.imagesPresent) {
            if (!f.imagesArray || f.imagesCount != 4)
                return fail(QStringLiteral("images"),
                            QStringLiteral("expected four integers: image, selected image, overlay, state"));
            for (size_t i = 0; i < 4; ++i) {
                if (f.imageTypes[i] != ValueType::Number || !isInt32(f.images[i]))
                    return fail(QStringLiteral("images[%1]").arg(i), QStringLiteral("expected a 32-bit integer"));
                images[i] = static_cast<std::int32_t>(f.images[i]);
            }
        }

        if (f.childrenPresent && !f.childrenArray)
            return fail(QStringLiteral("children"), QStringLiteral("expected an array of nodes"));
    }();

    // Own warnings come before the children's.
    if (ownError)
        while (m_warnings.size() > f.warningsStart)
            m_warnings.removeLast();
    for (qsizetype i = 0; i < own.size(); ++i)
        m_warnings.insert(f.warningsStart + i, own.at(i));

    if (ownError) {
        m_error = PendingError{*ownError, d - 1};
        m_built.resize(f.builtStart);
    } else if (m_error && m_error->ownerDepth == d) {
        m_error->ownerDepth = d - 1; // a child failed: so does this node
        m_built.resize(f.builtStart);
    } else {
        CardTreeBuilder::NodeContents contents;
        contents.label = QByteArrayView(m_gb.constData(), labelLength);
        for (size_t i = 0; i < fieldAt.size(); ++i)
            contents.fields[i] = QByteArrayView(m_gb.constData() + fieldAt[i].first, fieldAt[i].second);
        contents.kind = kind;
        contents.created = created;
        contents.indexes = images;
        std::unique_ptr<CardNode> node = m_builder.makeBulkNode(contents);
        CardTreeBuilder::adoptChildren(node.get(), std::span(m_built).subspan(f.builtStart));
        m_built.resize(f.builtStart);
        m_built.push_back(std::move(node));
    }
    m_texts.resize(static_cast<size_t>(f.textStart));
    --m_depth;
}

bool TreeJsonHandler::finish(CardTree &tree, QString *error, QStringList *warnings)
{
    QString failure;
    if (!m_topIsObject)
        failure = QStringLiteral("the top level must be an object {\"nodes\": [...]}");
    else if (!m_topUnknownKey.isNull())
        failure = QStringLiteral("unknown key \"%1\" at the top level").arg(m_topUnknownKey);
    else if (!m_nodesPresent || !m_nodesArray)
        failure = QStringLiteral("the top level needs \"nodes\": an array of nodes");
    if (!failure.isEmpty()) {
        *error = failure;
        return false;
    }
    if (warnings)
        *warnings += m_warnings;
    if (m_error) {
        *error = m_error->message;
        return false;
    }
    tree.adoptTopLevel(std::move(m_built));
    m_built.clear();
    return true;
}

QString syntaxReason(rapidjson::ParseErrorCode code)
{
    using namespace rapidjson;
    switch (code) {
    case kParseErrorDocumentEmpty:
        return QStringLiteral("the text holds no JSON value");
    case kParseErrorDocumentRootNotSingular:
        return QStringLiteral("garbage at the end of the document");
    case kParseErrorValueInvalid:
        return QStringLiteral("illegal value");
    case kParseErrorObjectMissName:
        return QStringLiteral("missing a member name in an object");
    case kParseErrorObjectMissColon:
        return QStringLiteral("missing ':' after a member name");
    case kParseErrorObjectMissCommaOrCurlyBracket:
        return QStringLiteral("unterminated object (missing ',' or '}')");
    case kParseErrorArrayMissCommaOrSquareBracket:
        return QStringLiteral("unterminated array (missing ',' or ']')");
    case kParseErrorStringUnicodeEscapeInvalidHex:
        return QStringLiteral("illegal \\u escape (four hexadecimal digits expected)");
    case kParseErrorStringUnicodeSurrogateInvalid:
        return QStringLiteral("the text holds an unpaired surrogate (\\ud800-\\udfff)");
    case kParseErrorStringEscapeInvalid:
        return QStringLiteral("illegal escape sequence");
    case kParseErrorStringMissQuotationMark:
        return QStringLiteral("unterminated string");
    case kParseErrorStringInvalidEncoding:
        return QStringLiteral("invalid UTF-8 text");
    case kParseErrorNumberTooBig:
    case kParseErrorNumberMissFraction:
    case kParseErrorNumberMissExponent:
        return QStringLiteral("illegal number");
    default:
        return QStringLiteral("syntax error");
    }
}

enum class Attempt { Done, Again };

Attempt readOnce(const JsonSource &source, JsonByteStream::Mode mode, const QString &sourceName, CardTree &tree,
                 QString *error, QStringList *warnings, bool *sourceFailed, bool *result)
{
    JsonByteStream stream(source.read, source.maxBytes, mode);
    TreeJsonHandler handler(tree, stream);
    rapidjson::Reader reader;
    constexpr unsigned Flags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;
    const rapidjson::ParseResult parsed = reader.Parse<Flags>(stream, handler);
    if (!stream.readError().isEmpty()) {
        *error = sourceName + QStringLiteral(": ") + stream.readError();
        if (sourceFailed)
            *sourceFailed = true;
        *result = false;
        return Attempt::Done;
    }
    if (parsed.IsError() && handler.numberRefused()) {
        *error = QStringLiteral("%1: %2").arg(stream.place(parsed.Offset()),
                                              syntaxReason(rapidjson::kParseErrorNumberTooBig));
        *result = false;
        return Attempt::Done;
    }
    if (parsed.IsError()) {
        // Strict JSON stopped where the lenient reading goes on.
        const bool strict = stream.mode() == JsonByteStream::AsGiven;
        const bool controlCharacter = parsed.Code() == rapidjson::kParseErrorStringMissQuotationMark
            && stream.rawControlCharacterAt(parsed.Offset());
        const bool escape = parsed.Code() == rapidjson::kParseErrorStringEscapeInvalid
            || parsed.Code() == rapidjson::kParseErrorStringUnicodeSurrogateInvalid;
        // "1.", ".5", "1.e5", which Qt's parser reads as numbers.
        const bool number = parsed.Code() == rapidjson::kParseErrorNumberMissFraction
            || parsed.Code() == rapidjson::kParseErrorValueInvalid;
        if (strict && (controlCharacter || escape || number || handler.wantsLenientReading()))
            return Attempt::Again;
        *error = QStringLiteral("%1: %2").arg(stream.place(parsed.Offset()), syntaxReason(parsed.Code()));
        *result = false;
        return Attempt::Done;
    }
    if (!stream.exhausted()) { // a zero byte, which the parser took for the end, and more
        *error = QStringLiteral("%1: %2").arg(stream.place(stream.Tell()),
                                              syntaxReason(rapidjson::kParseErrorDocumentRootNotSingular));
        *result = false;
        return Attempt::Done;
    }
    *result = handler.finish(tree, error, warnings);
    return Attempt::Done;
}

} // namespace

bool ReadTreeJson(const JsonSource &source, const QString &sourceName, CardTree &tree, QString *error,
                  QStringList *warnings, bool *sourceFailed)
{
    if (sourceFailed)
        *sourceFailed = false;
    bool result = false;
    // Strict JSON first: it reads every byte once, quickly. A control
    // character inside a string, an escape strict JSON does not know, a lone
    // high surrogate, a number with a bare point or a string that opens with
    // a byte-order mark sends the text through once more in the form
    // JsonByteStream hands such texts on; a source that cannot start again
    // gets that from the start.
    const bool canRewind = static_cast<bool>(source.rewind);
    JsonByteStream::Mode mode = canRewind ? JsonByteStream::AsGiven : JsonByteStream::EscapeControlCharacters;
    if (readOnce(source, mode, sourceName, tree, error, warnings, sourceFailed, &result) == Attempt::Done)
        return result;
    if (!source.rewind()) {
        *error = sourceName + QStringLiteral(": cannot read it again from the start");
        if (sourceFailed)
            *sourceFailed = true;
        return false;
    }
    readOnce(source, JsonByteStream::EscapeControlCharacters, sourceName, tree, error, warnings, sourceFailed, &result);
    return result;
}

bool ReadTreeJson(const QByteArray &json, CardTree &tree, QString *error, QStringList *warnings)
{
    qsizetype at = 0;
    JsonSource source;
    source.read = [&json, &at](char *into, qint64 room, QString *) -> qint64 {
        const qint64 n = std::min<qint64>(room, json.size() - at);
        std::memcpy(into, json.constData() + at, static_cast<size_t>(n));
        at += n;
        return n;
    };
    source.rewind = [&at] {
        at = 0;
        return true;
    };
    source.maxBytes = std::numeric_limits<qint64>::max();
    return ReadTreeJson(source, QStringLiteral("the text"), tree, error, warnings);
}

} // namespace kelvo::tool
