// The JSON reader of `kelvo-tool build` reads a stream: it must accept and
// refuse what the whole-document reader did, with the same messages and
// warnings, read texts of any size in pieces and nodes nested to any depth.
#include "DocumentTreeJsonReader.h"
#include "JsonDouble.h"
#include "StoreTestUtil.h"
#include "TreeJsonReader.h"
#include "TreeJsonWriter.h"

#include "CardData.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>

using namespace kelvo;
using namespace kelvo::tool;
using namespace kelvo::test;

namespace {

// Random JSON texts in the shape of a dump, with every kind of mistake the
// reader must name: missing and misspelt keys, wrong types, too many fields,
// long texts, lone surrogates, raw control characters, keys given twice,
// members in any order, and now and then a syntax error.
class RandomTreeJson
{
public:
    explicit RandomTreeJson(quint32 seed)
        : m_random(seed)
    {
    }

    QByteArray document()
    {
        QByteArray out;
        if (chance(2))
            out += "\xEF\xBB\xBF";
        if (chance(2)) {
            out += chance(50) ? "[]" : "[{\"label\": \"a\", \"kind\": 0}]";
        } else {
            QList<QByteArray> members;
            if (!chance(3))
                members << "\"nodes\": " + nodes(0);
            if (chance(3))
                members << "\"nodes\": " + (chance(50) ? nodes(0) : QByteArray("{}"));
            if (chance(4))
                members << "\"" + pick({"node", "Nodes", "zz", "a"}) + "\": 1";
            shuffle(members);
            out += "{" + members.join(", ") + "}";
        }
        if (chance(6))
            damage(out);
        return out;
    }

private:
    bool chance(int percent) { return int(m_random() % 100) < percent; }
    int below(int n) { return int(m_random() % quint32(n)); }
    QByteArray pick(std::initializer_list<const char *> choices)
    {
        return QByteArray(*(choices.begin() + below(int(choices.size()))));
    }
    template<typename T>
    void shuffle(QList<T> &list)
    {
        std::shuffle(list.begin(), list.end(), m_random);
    }
    QByteArray space() { return chance(20) ? pick({" ", "\n", "\r\n  ", "\t"}) : QByteArray(); }

    QByteArray nodes(int depth)
    {
        QList<QByteArray> items;
        const int n = below(depth == 0 ? 4 : 4);
        for (int i = 0; i < n; ++i)
            items << node(depth);
        return "[" + space() + items.join("," + space()) + "]";
    }

    QByteArray text()
    {
        QByteArray out = "\"";
        const int parts = below(5);
        for (int i = 0; i < parts; ++i) {
            switch (below(17)) {
            case 0:
                out += "\\u5f20\\u4f1f";
                break;
            case 1:
                out += "张伟";
                break;
            case 2:
                out += "😀";
                break;
            case 3:
                out += "\\ud83d\\ude00";
                break;
            case 4:
                out += "\\n\\t\\\"\\\\\\/\\u0041";
                break;
            case 5:
                out += chance(15) ? "\\ud800" : "x";
                break;
            case 6:
                out += chance(15) ? "\\udc00" : "y";
                break;
            case 7:
                out += chance(15) ? "\\ud800\\ud800\\udc00" : "z";
                break;
            case 8:
                out += chance(20) ? QByteArray(1, char(pick({"\t", "\n", "\x01", "\x1f"})[0])) : "w";
                break;
            case 9:
                out += chance(10) ? QByteArray(300, 'L') : "l";
                break;
            case 10:
                out += chance(10) ? QByteArray("名").repeated(100) : "名";
                break;
            case 11:
                out += "  spaced  ";
                break;
            case 12:
                out += chance(20) ? QByteArray(pick({"\\q", "\\\xF5", "\\\x01", "\\'"})) : "€ é ß";
                break;
            case 13:
                out += chance(30) ? QByteArray(pick({"\xEF\xBB\xBF", "\\ufeff"})) : "m";
                break;
            default:
                out += "Wang " + QByteArray::number(below(1000));
                break;
            }
        }
        return out + "\"";
    }

    QByteArray number()
    {
        return pick({"0",           "1",    "7",   "-1",   "1.5",        "2147483648",
                     "-2147483649", "1e0",  "-0",  "1E1",  "2147483647", "12345678901234567890",
                     "1.",          ".5",   "-.5", "1.e1", "-0.",        ".",
                     "-.",          "1.5.", "0.e"});
    }

    QByteArray anyValue()
    {
        switch (below(5)) {
        case 0:
            return "null";
        case 1:
            return "true";
        case 2:
            return "[1, [2]]";
        case 3:
            return "{\"a\": [{}]}";
        default:
            return number();
        }
    }

    QByteArray member(const char *name, int depth)
    {
        const QByteArray key = QByteArray("\"") + name + "\":" + space();
        const std::string_view which(name);
        if (which == "label")
            return key + (chance(90) ? text() : anyValue());
        if (which == "kind")
            return key
                + (chance(90) ? QByteArray(pick({"0", "1", "0", "1", "9", "-3"}))
                              : (chance(50) ? number() : anyValue()));
        if (which == "fields") {
            if (chance(3))
                return key + anyValue();
            QList<QByteArray> items;
            const int n = chance(3) ? 14 : below(14);
            for (int i = 0; i < n; ++i)
                items << (chance(97) ? text() : anyValue());
            return key + "[" + items.join(", ") + "]";
        }
        if (which == "created") {
            return key
                + pick({"0", "45678.25", "1e-300", "-0.0", "45678.", ".25", "\"-0\"", "\"NaN\"", "\"Infinity\"",
                        "\"-Infinity\"", "\"NaN(0x7ff0000000000001)\"", "\"NaN(0x7ff0000000000000)\"", "\"soon\"",
                        "true", "[1]", "36526.999999999993", "5e-324"});
        }
        if (which == "images") {
            if (chance(85))
                return key + "[" + pick({"0", "1"}) + ", 1, -1, " + pick({"-1", "2", "2147483647"}) + "]";
            return key + pick({"[1, 2, 3]", "[1, 2, \"3\", 4]", "[1.5, 1, 1, 1]", "[1, 1, 1, 2147483648]", "{}", "4"});
        }
        if (which == "children") {
            if (chance(3))
                return key + anyValue();
            if (chance(3))
                return key + "[" + anyValue() + "]";
            return key + (depth < 3 ? nodes(depth + 1) : QByteArray("[]"));
        }
        return key + anyValue();
    }

    QByteArray node(int depth)
    {
        if (chance(2))
            return anyValue();
        QList<QByteArray> members;
        const char *names[] = {"label", "kind", "fields", "created", "images", "children"};
        const int present[] = {95, 95, 70, 50, 40, depth < 3 ? 40 : 10};
        for (int i = 0; i < 6; ++i) {
            if (chance(present[i]))
                members << member(names[i], depth);
        }
        if (chance(4))
            members << member(pick({"chidren", "Label", "zz", "a", "é", "label "}).constData(), depth);
        if (chance(5))
            members << member(names[below(6)], depth); // a key given twice: the last counts
        if (chance(30))
            shuffle(members);
        return "{" + space() + members.join("," + space()) + space() + "}";
    }

    void damage(QByteArray &text)
    {
        if (text.isEmpty())
            return;
        const qsizetype at = below(int(text.size()));
        if (chance(50))
            text.truncate(at);
        else
            text.insert(at, pick({"}", ",", "x", "\"", "]", "\\"}));
    }

    std::mt19937 m_random;
};

// A source that hands the text on in small pieces of random sizes.
JsonSource piecewise(const QByteArray &text, qsizetype *at, std::mt19937 *random, bool rewindable)
{
    JsonSource source;
    source.read = [&text, at, random](char *into, qint64 room, QString *) -> qint64 {
        const qint64 n = std::min<qint64>({room, text.size() - *at, qint64((*random)() % 7) + 1});
        std::memcpy(into, text.constData() + *at, size_t(n));
        *at += n;
        return n;
    };
    if (rewindable) {
        source.rewind = [at] {
            *at = 0;
            return true;
        };
    }
    source.maxBytes = qint64(1) << 40;
    return source;
}

} // namespace

class TestTreeJsonStream : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithTheDocumentReader();
    void readsPiecesOfAnySize();
    void syntaxErrorsNameLineAndColumn_data();
    void syntaxErrorsNameLineAndColumn();
    void textsStrictJsonRefusesAreRead();
    void numbersAsQtReadsThem();
    void nestsToAnyDepth();
    void memoryFollowsTheTreeNotTheText();
    void sourceFailuresAreNamed();
};

void TestTreeJsonStream::agreesWithTheDocumentReader()
{
    RandomTreeJson random(20261209);
    int read = 0;
    int refused = 0;
    int syntax = 0;
    for (int i = 0; i < 4000; ++i) {
        const QByteArray json = random.document();
        CardTree expectedTree;
        CardTree tree;
        QString expectedError;
        QString error;
        QStringList expectedWarnings;
        QStringList warnings;
        const bool expected = ReadTreeJsonAsDocument(json, expectedTree, &expectedError, &expectedWarnings);
        const bool got = ReadTreeJson(json, tree, &error, &warnings);
        const QString context =
            QStringLiteral("\n%1\nexpected: %2\ngot:      %3").arg(QString::fromUtf8(json), expectedError, error);
        QVERIFY2(got == expected, qPrintable(context));
        if (got) {
            ++read;
            QCOMPARE(TreeToJson(tree), TreeToJson(expectedTree));
            QCOMPARE(warnings, expectedWarnings);
        } else if (expectedError.startsWith(QStringLiteral("line "))) {
            ++syntax; // the two parsers word syntax errors differently; both say where
            QVERIFY2(error.startsWith(QStringLiteral("line ")), qPrintable(context));
            QVERIFY2(warnings.isEmpty(), qPrintable(context));
        } else {
            ++refused;
            QVERIFY2(error == expectedError, qPrintable(context));
            QCOMPARE(warnings, expectedWarnings);
            QCOMPARE(tree.count(), 0);
        }
    }
    qInfo("%d texts read, %d refused for their content, %d for their syntax", read, refused, syntax);
    QVERIFY(read > 200 && refused > 1000 && syntax > 100);
}

void TestTreeJsonStream::readsPiecesOfAnySize()
{
    RandomTreeJson random(7);
    std::mt19937 pieces(11);
    for (int i = 0; i < 600; ++i) {
        const QByteArray json = random.document();
        CardTree whole;
        QString wholeError;
        QStringList wholeWarnings;
        const bool wholeRead = ReadTreeJson(json, whole, &wholeError, &wholeWarnings);
        for (const bool rewindable : {true, false}) {
            qsizetype at = 0;
            CardTree tree;
            QString error;
            QStringList warnings;
            const bool read =
                ReadTreeJson(piecewise(json, &at, &pieces, rewindable), QStringLiteral("in"), tree, &error, &warnings);
            QCOMPARE(read, wholeRead);
            QCOMPARE(error, wholeError);
            QCOMPARE(warnings, wholeWarnings);
            QCOMPARE(TreeToJson(tree), TreeToJson(whole));
        }
    }
}

void TestTreeJsonStream::syntaxErrorsNameLineAndColumn_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("where");
    const QByteArray node = "{\"label\": \"abc\", \"kind\": 1},\n";
    // Far beyond the first piece the reader takes, on line 30001.
    QTest::newRow("deep into a large text")
        << "{\"nodes\": [\n" + node.repeated(30000) + "  {\"label\": }]}" << QStringLiteral("line 30002, column 13: ");
    QTest::newRow("after a raw line break in a string")
        << QByteArray("{\"nodes\": [{\"label\": \"two\nlines\", \"kind\": 1,\n  \"fields\": [1 2]}]}")
        << QStringLiteral("line 3, column 16: ");
    QTest::newRow("after a byte-order mark")
        << QByteArray("\xEF\xBB\xBF{\"nodes\": x}") << QStringLiteral("line 1, column 14: ");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("line 1, column 1: ");
    QTest::newRow("garbage after the end") << QByteArray("{\"nodes\": []} x") << QStringLiteral("line 1, column 15: ");
    QTest::newRow("a zero byte after the end")
        << QByteArray("{\"nodes\": []}\n\0x", 16) << QStringLiteral("line 2, column 1: ");
    QTest::newRow("bad UTF-8") << QByteArray("{\"nodes\": [{\"label\": \"\xC0\x80\", \"kind\": 1}]}")
                               << QStringLiteral("line 1, column 23: ");
    QTest::newRow("number out of range") << QByteArray("{\"nodes\": [{\"label\": \"a\", \"kind\": 1e400}]}")
                                         << QStringLiteral("line 1, column 35: ");
}

void TestTreeJsonStream::syntaxErrorsNameLineAndColumn()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, where);
    CardTree tree;
    QString error;
    QVERIFY(!ReadTreeJson(json, tree, &error));
    QVERIFY2(error.startsWith(where), qPrintable(error));
    QCOMPARE(tree.count(), 0);
}

void TestTreeJsonStream::textsStrictJsonRefusesAreRead()
{
    // Raw control characters inside strings, a lone high surrogate named at
    // its node, and a surrogate pair kept: as the whole-document reader did,
    // from a source that can start again and from one that cannot.
    // The fourth field: \q, a backslash before a zero byte, one before a
    // control character, an escaped backslash, and a backslash before the
    // byte 0xF5, which stands for U+00F5.
    const QByteArray odd = QByteArray("\"\\q\\") + '\0' + QByteArray("\\\x01\\\\\\\xF5\"");
    const QByteArray json =
        "{\"nodes\": [{\"label\": \"tab\there\", \"kind\": 1, \"fields\": [\"tab\there\", \"line\nbreak\","
        " \"nul\x01\", "
        + odd + "]},\n {\"label\": \"\\ud83d\\ude00\", \"kind\": 0}]}";
    std::mt19937 pieces(3);
    for (const bool rewindable : {true, false}) {
        qsizetype at = 0;
        CardTree tree;
        QString error;
        QVERIFY2(ReadTreeJson(piecewise(json, &at, &pieces, rewindable), QStringLiteral("in"), tree, &error),
                 qPrintable(error));
        QCOMPARE(tree.count(), 2);
        QCOMPARE(tree.nodeAt(0)->label(), QByteArray("tab\there"));
        QCOMPARE(tree.nodeAt(0)->data()->field(2).toByteArray(), QByteArray("line\nbreak"));
        QCOMPARE(tree.nodeAt(0)->data()->field(3).toByteArray(), QByteArray("nul\x01"));
        // A backslash before a character that names no escape, a zero byte
        // or a control character: the character stands for itself.
        QCOMPARE(tree.nodeAt(0)->data()->field(4).toByteArray(),
                 QByteArray("q\0\x01\\", 4) + gb18030::encode(QString(QChar(0xF5))));
        QCOMPARE(tree.nodeAt(1)->label(), gb18030::encode(QStringLiteral("😀")));
    }
    const QByteArray lone = "{\"nodes\": [{\"label\": \"a\", \"kind\": 1}, {\"label\": \"ok\", \"kind\": 1, "
                            "\"fields\": [\"fine\", \"\\ud800\\n\"]}]}";
    CardTree tree;
    QString error;
    QVERIFY(!ReadTreeJson(lone, tree, &error));
    QCOMPARE(error, QStringLiteral("nodes[1].fields[1]: the text holds an unpaired surrogate (\\ud800-\\udfff)"));
}

void TestTreeJsonStream::numbersAsQtReadsThem()
{
    // Time stamps come back to the bit, as the dump writes them.
    std::mt19937_64 random(42);
    QByteArray json = "{\"nodes\": [";
    std::vector<double> values;
    for (int i = 0; i < 50000; ++i) {
        double value = std::bit_cast<double>(random());
        if (i % 2)
            value = 30000.0 + double(random() % 40000000000ULL) / 1e6;
        if (std::isnan(value) || std::isinf(value))
            continue;
        values.push_back(value);
        json += QByteArray(values.size() > 1 ? "," : "")
            + "{\"label\": \"a\", \"kind\": 1, \"created\": " + ExactDoubleJson(value) + "}";
    }
    json += "]}";
    CardTree tree;
    QString error;
    QVERIFY2(ReadTreeJson(json, tree, &error), qPrintable(error));
    QCOMPARE(tree.count(), int(values.size()));
    for (int i = 0; i < tree.count(); ++i) {
        if (std::bit_cast<std::uint64_t>(tree.nodeAt(i)->data()->Created)
            != std::bit_cast<std::uint64_t>(values[size_t(i)]))
            QFAIL(qPrintable(QStringLiteral("%1 came back as %2")
                                 .arg(values[size_t(i)], 0, 'g', 17)
                                 .arg(tree.nodeAt(i)->data()->Created, 0, 'g', 17)));
    }
    // Extreme numbers: refused where they leave the doubles (as Qt refuses
    // them), never read past a table.
    const char *refused[] = {
        "1e400", "1e-400", "-1e-400", "0.1e-2147483647", "1e-2147483648", "0.0000001e-2147483640", "123e2147483647"};
    for (const char *number : refused) {
        CardTree none;
        QVERIFY2(
            !ReadTreeJson(QByteArray("{\"nodes\": [{\"label\": \"a\", \"kind\": 1, \"created\": ") + number + "}]}",
                          none, &error),
            number);
        QVERIFY2(error.startsWith(QStringLiteral("line 1, column 49: illegal number")), qPrintable(error));
    }
    const std::pair<const char *, double> read[] = {{"0e-2147483648", 0.0},
                                                    {"-0.0", 0.0},
                                                    {"1e-320", 1e-320},
                                                    {"9223372036854775808", 9223372036854775808.0},
                                                    {"-9223372036854775808", -9223372036854775808.0},
                                                    {"5.", 5.0},
                                                    {".25", 0.25},
                                                    {"-.5e1", -5.0}};
    for (const auto &[number, expected] : read) {
        CardTree one;
        QVERIFY2(ReadTreeJson(QByteArray("{\"nodes\": [{\"label\": \"a\", \"kind\": 1, \"created\": ") + number + "}]}",
                              one, &error),
                 qPrintable(error));
        QCOMPARE(std::bit_cast<std::uint64_t>(one.nodeAt(0)->data()->Created), std::bit_cast<std::uint64_t>(expected));
    }
}

void TestTreeJsonStream::nestsToAnyDepth()
{
    // Far deeper than the whole-document reader's limit of about 500 levels,
    // and than any call stack would allow.
    constexpr int Depth = 300000;
    QByteArray json = "{\"nodes\": [";
    for (int i = 0; i < Depth; ++i)
        json += "{\"label\": \"" + QByteArray::number(i) + "\", \"kind\": 0, \"children\": [";
    json += "{\"label\": \"leaf\", \"kind\": 1}";
    for (int i = 0; i < Depth; ++i)
        json += "], \"images\": [0, 0, -1, " + QByteArray::number(i % 7) + "]}";
    json += "]}";
    CardTree tree;
    QString error;
    QVERIFY2(ReadTreeJson(json, tree, &error), qPrintable(error));
    QCOMPARE(tree.count(), Depth + 1);
    const CardNode *leaf = tree.lastInAbsoluteOrder();
    QCOMPARE(leaf->label(), QByteArray("leaf"));
    QCOMPARE(leaf->depth(), Depth);
    QCOMPARE(leaf->parent()->label(), QByteArray::number(Depth - 1));
    QCOMPARE(leaf->parent()->stateIndex(), (Depth - 1) % 7); // a member after the children counts too
    QCOMPARE(tree.nodeAt(12345)->label(), QByteArray("12345"));

    // A mistake at the bottom is named with the whole path.
    json.replace("\"leaf\", \"kind\": 1", "\"leaf\", \"kind\": \"1\"");
    CardTree refused;
    QVERIFY(!ReadTreeJson(json, refused, &error));
    QVERIFY2(error.startsWith(QStringLiteral("nodes[0].children[0].children[0]")), qPrintable(error.left(80)));
    QVERIFY2(error.endsWith(QStringLiteral(".children[0].kind: expected a 32-bit integer (0 card class, 1 card)")),
             qPrintable(error.right(80)));
    QCOMPARE(refused.count(), 0);
}

void TestTreeJsonStream::memoryFollowsTheTreeNotTheText()
{
    // 400 MB of text for a tree of 20,000 nodes: blank space between the
    // tokens, made as it is read. A reader holding the text could not stay
    // below 100 MB.
    constexpr int Nodes = 20000;
    constexpr qint64 Blank = 20000;
    const QByteArray node = "{\"label\": \"card\", \"kind\": 1, \"fields\": [\"card\", \"title\"]}";
    int nodesMade = 0;
    qint64 blankLeft = 0;
    QByteArray pending = "{\"nodes\": [";
    JsonSource source;
    source.read = [&](char *into, qint64 room, QString *) -> qint64 {
        qint64 written = 0;
        while (written < room) {
            if (blankLeft > 0) {
                const qint64 n = std::min(blankLeft, room - written);
                std::memset(into + written, ' ', size_t(n));
                written += n;
                blankLeft -= n;
                continue;
            }
            if (pending.isEmpty()) {
                if (nodesMade > Nodes)
                    break;
                pending = nodesMade < Nodes ? (nodesMade ? "," + node : node) : QByteArray("]}");
                ++nodesMade;
                blankLeft = Blank;
            }
            const qint64 n = std::min<qint64>(pending.size(), room - written);
            std::memcpy(into + written, pending.constData(), size_t(n));
            pending.remove(0, n);
            written += n;
        }
        return written;
    };
    source.maxBytes = qint64(1) << 40;
    const qint64 before = residentBytes();
    CardTree tree;
    QString error;
    QVERIFY2(ReadTreeJson(source, QStringLiteral("made"), tree, &error), qPrintable(error));
    QCOMPARE(tree.count(), Nodes);
    QCOMPARE(tree.nodeAt(Nodes - 1)->data()->field(2).toByteArray(), QByteArray("title"));
    if (before > 0) {
        const qint64 grown = residentBytes() - before;
        QVERIFY2(grown < qint64(100) << 20, qPrintable(QString::number(grown)));
    }
}

void TestTreeJsonStream::sourceFailuresAreNamed()
{
    const QByteArray json = "{\"nodes\": [" + QByteArray("{\"label\": \"a\", \"kind\": 1},").repeated(20000)
        + "{\"label\": \"a\", \"kind\": 1}]}";
    qsizetype at = 0;
    JsonSource source;
    source.read = [&](char *into, qint64 room, QString *error) -> qint64 {
        if (at > 300000) {
            *error = QStringLiteral("the disk went away");
            return -1;
        }
        const qint64 n = std::min<qint64>(room, json.size() - at);
        std::memcpy(into, json.constData() + at, size_t(n));
        at += n;
        return n;
    };
    source.maxBytes = qint64(1) << 40;
    CardTree tree;
    QString error;
    bool sourceFailed = false;
    QVERIFY(!ReadTreeJson(source, QStringLiteral("in.json"), tree, &error, nullptr, &sourceFailed));
    QVERIFY(sourceFailed);
    QCOMPARE(error, QStringLiteral("in.json: the disk went away"));
    QCOMPARE(tree.count(), 0);

    at = 0;
    source.read = [&](char *into, qint64 room, QString *) -> qint64 {
        const qint64 n = std::min<qint64>(room, json.size() - at);
        std::memcpy(into, json.constData() + at, size_t(n));
        at += n;
        return n;
    };
    source.maxBytes = 100000;
    QVERIFY(!ReadTreeJson(source, QStringLiteral("in.json"), tree, &error, nullptr, &sourceFailed));
    QVERIFY(sourceFailed);
    QCOMPARE(error, QStringLiteral("in.json: larger than 100000 bytes; refused"));
}

QTEST_GUILESS_MAIN(TestTreeJsonStream)
#include "tst_treejsonstream.moc"
