// kelvo-tool import and export --format vcard|csv, run as a program the way
// scripts use it.
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "Gb18030.h"
#include "InstanceLock.h"

#include "TestCards.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using kelvo::testing::addCard;
using kelvo::testing::addClass;
using kelvo::testing::gb;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

QStringList labels(const CardNode *parent)
{
    QStringList list;
    for (int row = 0; row < parent->childCount(); ++row)
        list.append(gb18030::decode(parent->child(row)->label()));
    return list;
}

QStringList fieldsOf(const CardNode *node)
{
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(gb18030::decode(node->data()->field(n)));
    return fields;
}

const QByteArray TwoCards =
    QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nTEL;TYPE=CELL:139\r\nEND:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=GBK;ENCODING=QUOTED-PRINTABLE:=C0=EE;=CB=C4\r\n"
                   "EMAIL;PREF;INTERNET:ls@x.cn\r\nEND:VCARD\r\n")
        .toUtf8();

} // namespace

class TestExchangeTool : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void importIntoAMissingDataFile();
    void importIntoAClassMadeAtTheEnd();
    void importKeepsABackupAndAppends();
    void skippedAndCutCardsAreReported();
    void nothingIsWrittenOnBadInput_data();
    void nothingIsWrittenOnBadInput();
    void damagedDataFileIsLeftAlone();
    void csvHeadersAndMaps();
    void exportWholeClassesAndSearches();
    void exportOptionErrors_data();
    void exportOptionErrors();
    void roundTripThroughTheTool();
    void importRefusedWhileKelvoRuns();

private:
    Run run(const QStringList &args);
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &name) const;
    bool readTree(const QString &name, CardTree &tree) const;

    // Data files lie in "data", so that their backups ("BackUP" beside that
    // folder) stay inside the test's folder too.
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_runtime; // the tool's per-user runtime folder, where Kelvo's lock lies
};

void TestExchangeTool::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_runtime->isValid());
    QVERIFY(QFile::setPermissions(m_runtime->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

Run TestExchangeTool::run(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    if (!process.waitForStarted())
        qFatal("kelvo-tool did not start");
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Run result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestExchangeTool::writeFile(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path(name)).absolutePath());
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray TestExchangeTool::readFile(const QString &name) const
{
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool TestExchangeTool::readTree(const QString &name, CardTree &tree) const
{
    const QByteArray bytes = readFile(name);
    return !bytes.isEmpty() && ReadTreeFromBytes(bytes, tree).status == LoadResult::Status::Read;
}

void TestExchangeTool::importIntoAMissingDataFile()
{
    writeFile(QStringLiteral("two.vcf"), TwoCards);
    const Run import =
        run({QStringLiteral("import"), path(QStringLiteral("data/new.db")), path(QStringLiteral("two.vcf"))});
    QCOMPARE(import.exitCode, 0);
    QCOMPARE(import.out, QStringLiteral("imported 2 cards, skipped 0\n"));
    QCOMPARE(import.err, QString());

    CardTree tree;
    QVERIFY(readTree(QStringLiteral("data/new.db"), tree));
    QCOMPARE(tree.topLevelCount(), 1); // the default tree, with the cards in its reserved class
    const CardNode *reserved = tree.topLevel(0);
    QVERIFY(IsReservedCardClass(reserved));
    QCOMPARE(labels(reserved), QStringList({"张三", "李四"}));
    QCOMPARE(fieldsOf(reserved->child(1)).at(11), QStringLiteral("ls@x.cn"));
    QCOMPARE(reserved->child(0)->kind(), Kind::Card);
}

void TestExchangeTool::importIntoAClassMadeAtTheEnd()
{
    CardTree tree;
    CreateDefaultTree(tree);
    CardNode *work = addClass(tree, nullptr, QStringLiteral("工作"));
    addClass(tree, work, QStringLiteral("朋友")); // nested: not the target
    addCard(tree, work, QStringLiteral("老王"));
    writeFile(QStringLiteral("data/Card.DB"), SerializeTree(tree));
    writeFile(QStringLiteral("two.vcf"), TwoCards);

    QCOMPARE(run({QStringLiteral("import"), QStringLiteral("--class"), QStringLiteral("朋友"),
                  path(QStringLiteral("data/Card.DB")), path(QStringLiteral("two.vcf"))})
                 .exitCode,
             0);
    QCOMPARE(run({QStringLiteral("import"), QStringLiteral("--class=工作"), path(QStringLiteral("data/Card.DB")),
                  path(QStringLiteral("two.vcf"))})
                 .exitCode,
             0);
    CardTree after;
    QVERIFY(readTree(QStringLiteral("data/Card.DB"), after));
    QCOMPARE(labels(after.topLevel(1)), QStringList({"朋友", "老王", "张三", "李四"}));
    QCOMPARE(after.topLevelCount(), 3);
    QCOMPARE(gb18030::decode(after.topLevel(2)->label()), QStringLiteral("朋友"));
    QCOMPARE(labels(after.topLevel(2)), QStringList({"张三", "李四"}));
}

void TestExchangeTool::importKeepsABackupAndAppends()
{
    CardTree tree;
    CreateDefaultTree(tree);
    addCard(tree, tree.topLevel(0), QStringLiteral("老王"));
    const QByteArray before = SerializeTree(tree);
    writeFile(QStringLiteral("base/SavedCard/Card.DB"), before);
    // What an earlier, killed save left; the lock held, the import removes it.
    writeFile(QStringLiteral("base/SavedCard/.Card.DB.0123abcd.tmp"), "stale");
    writeFile(QStringLiteral("base/BackUP/history/.db-20261208-153012.kelvo.89abcdef.tmp"), "stale");
    writeFile(QStringLiteral("base/SavedCard/.Card.DB.tmp"), "someone else's");
    writeFile(QStringLiteral("a.vcf"), TwoCards);
    writeFile(QStringLiteral("b.csv"), QStringLiteral("姓名,手机\r\n王五,137\r\n").toUtf8());

    const Run import = run({QStringLiteral("import"), path(QStringLiteral("base/SavedCard/Card.DB")),
                            path(QStringLiteral("a.vcf")), path(QStringLiteral("b.csv"))});
    QCOMPARE(import.exitCode, 0);
    QCOMPARE(import.out, QStringLiteral("imported 3 cards, skipped 0\n"));
    // Where Kelvo keeps it, the previous file copied first.
    QCOMPARE(readFile(QStringLiteral("base/BackUP/db.kelvo")), before);
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("base/SavedCard/.Card.DB.0123abcd.tmp"))));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("base/BackUP/history/.db-20261208-153012.kelvo.89abcdef.tmp"))));
    QCOMPARE(readFile(QStringLiteral("base/SavedCard/.Card.DB.tmp")), QByteArray("someone else's"));
    CardTree after;
    QVERIFY(readTree(QStringLiteral("base/SavedCard/Card.DB"), after));
    QCOMPARE(labels(after.topLevel(0)), QStringList({"老王", "张三", "李四", "王五"}));
    QCOMPARE(fieldsOf(after.topLevel(0)->child(3)).at(6), QStringLiteral("137"));
}

void TestExchangeTool::skippedAndCutCardsAreReported()
{
    const QByteArray file = "BEGIN:VCARD\r\nFN:ok\r\nEND:VCARD\r\nBEGIN:VCARD\r\nUID:x\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nFN:long\r\nNOTE:"
        + QByteArray(300, 'n') + "\r\nEND:VCARD\r\n";
    writeFile(QStringLiteral("c.vcf"), file);
    const Run import =
        run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("c.vcf"))});
    QCOMPARE(import.exitCode, 3);
    QCOMPARE(import.out, QStringLiteral("imported 2 cards, skipped 1\n"));
    const QString name = path(QStringLiteral("c.vcf"));
    QCOMPARE(import.err,
             name + QStringLiteral(":4: card skipped: it holds no text for any field\n") + name
                 + QStringLiteral(":7: field 13 (other) cut at 255 bytes\n"));
    CardTree tree;
    QVERIFY(readTree(QStringLiteral("data/d.db"), tree));
    QCOMPARE(tree.topLevel(0)->childCount(), 2);
    QCOMPARE(tree.topLevel(0)->child(1)->data()->field(13).size(), 255);
}

void TestExchangeTool::nothingIsWrittenOnBadInput_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QString>("message");

    // Kelvo's caption "姓名" alone: a header without records.
    QTest::newRow("a file that holds no card")
        << QStringList() << QByteArray("\xE5\xA7\x93\xE5\x90\x8D\r\n") << "holds no card";
    QTest::newRow("an empty file") << QStringList() << QByteArray() << "empty";
    QTest::newRow("an unknown CSV header") << QStringList() << QByteArray("foo,bar\r\n1,2\r\n") << "--map";
    QTest::newRow("a map of a missing column")
        << QStringList({"--map", "nosuch=1"}) << QByteArray("foo,bar\r\n1,2\r\n") << "no column";
    QTest::newRow("a bad map") << QStringList({"--map", "foo"}) << QByteArray("foo\r\n1\r\n") << "bad --map";
    QTest::newRow("a bad map field") << QStringList({"--map", "foo=14"}) << QByteArray("foo\r\n1\r\n") << "bad --map";
    QTest::newRow("an unknown option") << QStringList({"--mapp", "foo=1"}) << QByteArray("foo\r\n1\r\n")
                                       << "unknown option";
    QTest::newRow("an empty class label") << QStringList({"--class", ""}) << TwoCards << "--class";
}

void TestExchangeTool::nothingIsWrittenOnBadInput()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, second);
    QFETCH(QString, message);
    writeFile(QStringLiteral("good.vcf"), TwoCards);
    writeFile(QStringLiteral("bad.txt"), second);
    const Run import = run(QStringList{QStringLiteral("import")} + options
                           + QStringList{path(QStringLiteral("data/d.db")), path(QStringLiteral("good.vcf")),
                                         path(QStringLiteral("bad.txt"))});
    QCOMPARE(import.exitCode, 1);
    QVERIFY2(import.err.contains(message), qPrintable(import.err));
    QCOMPARE(import.out, QString());
    QVERIFY(!QFile::exists(path(QStringLiteral("data/d.db"))));

    const Run missing =
        run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("missing.vcf"))});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(!QFile::exists(path(QStringLiteral("data/d.db"))));
    QCOMPARE(run({QStringLiteral("import"), path(QStringLiteral("data/d.db"))}).exitCode, 1);
}

void TestExchangeTool::damagedDataFileIsLeftAlone()
{
    const QByteArray damaged("\x01\x00\x00\x00\x0E\x00", 6);
    writeFile(QStringLiteral("data/d.db"), damaged);
    writeFile(QStringLiteral("two.vcf"), TwoCards);
    const Run import =
        run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("two.vcf"))});
    QCOMPARE(import.exitCode, 2);
    QVERIFY2(import.err.contains(QStringLiteral("damaged")), qPrintable(import.err));
    QCOMPARE(readFile(QStringLiteral("data/d.db")), damaged);

    // A zero-length data file holds no data: the default tree.
    writeFile(QStringLiteral("data/empty.db"), QByteArray());
    QCOMPARE(run({QStringLiteral("import"), path(QStringLiteral("data/empty.db")), path(QStringLiteral("two.vcf"))})
                 .exitCode,
             0);
    CardTree tree;
    QVERIFY(readTree(QStringLiteral("data/empty.db"), tree));
    QVERIFY(IsReservedCardClass(tree.topLevel(0)));
    QCOMPARE(tree.topLevel(0)->childCount(), 2);
}

void TestExchangeTool::csvHeadersAndMaps()
{
    writeFile(QStringLiteral("people.csv"), QStringLiteral("名字,公司名称,手机号\r\n张三,某某公司,139\r\n").toUtf8());
    const Run refused =
        run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("people.csv"))});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY(refused.err.contains(QStringLiteral("\"名字\", \"公司名称\", \"手机号\"")));

    const Run mapped = run({QStringLiteral("import"), QStringLiteral("--map"), QStringLiteral("名字=1"),
                            QStringLiteral("--map=公司名称=3"), QStringLiteral("--map"), QStringLiteral("3=7"),
                            path(QStringLiteral("data/d.db")), path(QStringLiteral("people.csv"))});
    QCOMPARE(mapped.exitCode, 0);
    CardTree tree;
    QVERIFY(readTree(QStringLiteral("data/d.db"), tree));
    QCOMPARE(fieldsOf(tree.topLevel(0)->child(0)),
             QStringList({"张三", "", "某某公司", "", "", "", "139", "", "", "", "", "", ""}));

    writeFile(QStringLiteral("plain.csv"), QStringLiteral("李四,经理\r\n").toUtf8());
    QCOMPARE(run({QStringLiteral("import"), QStringLiteral("--no-header"), path(QStringLiteral("data/d.db")),
                  path(QStringLiteral("plain.csv"))})
                 .exitCode,
             0);
    CardTree again;
    QVERIFY(readTree(QStringLiteral("data/d.db"), again));
    QCOMPARE(fieldsOf(again.topLevel(0)->child(1)).mid(0, 2), QStringList({"李四", "经理"}));
}

void TestExchangeTool::exportWholeClassesAndSearches()
{
    CardTree tree;
    CreateDefaultTree(tree);
    CardNode *a = addClass(tree, nullptr, QStringLiteral("客户"));
    addCard(tree, a, QStringLiteral("张三"), {{7, "139"}});
    CardNode *b = addClass(tree, a, QStringLiteral("北京"));
    addCard(tree, b, QStringLiteral("李四"));
    addCard(tree, tree.topLevel(0), QStringLiteral("王五"));
    writeFile(QStringLiteral("data/d.db"), SerializeTree(tree));
    const QString data = path(QStringLiteral("data/d.db"));

    const Run all = run({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), data,
                         QStringLiteral("--all"), QStringLiteral("-")});
    QCOMPARE(all.exitCode, 0);
    QCOMPARE(all.out.count(QStringLiteral("BEGIN:VCARD\r\n")), 3);
    // Absolute order: the reserved class (first) with its card, then the others.
    QVERIFY(all.out.indexOf(QStringLiteral("FN:王五")) < all.out.indexOf(QStringLiteral("FN:张三")));
    QVERIFY(all.out.indexOf(QStringLiteral("FN:张三")) < all.out.indexOf(QStringLiteral("FN:李四")));
    QVERIFY(all.out.contains(QStringLiteral("FN:王五\r\nN:王五;;;;\r\nCATEGORIES:未分类的名片\r\n")));
    QVERIFY(all.out.contains(QStringLiteral("VERSION:3.0\r\n")));

    const Run cls = run({QStringLiteral("export"), QStringLiteral("--format=csv"), QStringLiteral("--class"),
                         QStringLiteral("客户"), data, path(QStringLiteral("out.csv"))});
    QCOMPARE(cls.exitCode, 0);
    QCOMPARE(readFile(QStringLiteral("out.csv")),
             QStringLiteral("\xFEFF姓名,头衔,单位,地址,电话,传真,手机,邮编,网址,QQ,MSN,E_MAIL,其他信息\r\n"
                            "张三,,,,,,139,,,,,,\r\n李四,,,,,,,,,,,,\r\n")
                 .toUtf8());

    const Run search = run({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"),
                            QStringLiteral("--vcard-version"), QStringLiteral("4.0"), data, QStringLiteral("139"),
                            QStringLiteral("--fields"), QStringLiteral("7"), QStringLiteral("-")});
    QCOMPARE(search.exitCode, 0);
    QCOMPARE(search.out.count(QStringLiteral("BEGIN:VCARD")), 1);
    QVERIFY(search.out.contains(QStringLiteral("VERSION:4.0\r\nFN:张三\r\n")));

    const Run none = run({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), data,
                          QStringLiteral("--class"), QStringLiteral("无此类"), QStringLiteral("-")});
    QCOMPARE(none.exitCode, 1);
    QVERIFY(none.err.contains(QStringLiteral("无此类")));
}

void TestExchangeTool::exportOptionErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--all with a search export") << QStringList({"--format", "text", "D", "--all", "-"});
    QTest::newRow("--all and --class") << QStringList({"--format", "csv", "D", "--all", "--class", "x", "-"});
    QTest::newRow("--fields with --all") << QStringList({"--format", "csv", "D", "--all", "--fields", "1", "-"});
    QTest::newRow("--all and a condition") << QStringList({"--format", "csv", "D", "x", "--all", "-"});
    QTest::newRow("bad vCard version") << QStringList(
        {"--format", "vcard", "--vcard-version", "2.1", "D", "--all", "-"});
    QTest::newRow("vCard version with CSV")
        << QStringList({"--format", "csv", "--vcard-version", "4.0", "D", "x", "-"});
    QTest::newRow("unknown format") << QStringList({"--format", "ldif", "D", "--all", "-"});
}

void TestExchangeTool::exportOptionErrors()
{
    QFETCH(QStringList, args);
    CardTree tree;
    CreateDefaultTree(tree);
    writeFile(QStringLiteral("data/d.db"), SerializeTree(tree));
    args.replaceInStrings(QStringLiteral("D"), path(QStringLiteral("data/d.db")));
    const Run result = run(QStringList{QStringLiteral("export")} + args);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QString());
    QVERIFY(!result.err.isEmpty());
}

void TestExchangeTool::roundTripThroughTheTool()
{
    CardTree tree;
    CreateDefaultTree(tree);
    CardNode *a = addClass(tree, nullptr, QStringLiteral("客户"));
    addCard(tree, a, QStringLiteral("张三"),
            {{2, "经理"},
             {3, "某某公司, 分部"},
             {4, "北京市;海淀区"},
             {5, "010-1"},
             {6, "010-2"},
             {7, "139"},
             {8, "100080"},
             {9, "http://x.cn"},
             {10, "10001"},
             {11, "zs@live.cn"},
             {12, "zs@x.cn"},
             {13, "备注\\有反斜杠"}});
    addCard(tree, a, QStringLiteral("Ann Lee"), {{13, QString(120, QChar(0x6587))}});
    writeFile(QStringLiteral("data/d.db"), SerializeTree(tree));
    for (const QString &format : {QStringLiteral("vcard"), QStringLiteral("csv")}) {
        const QString out = path(QStringLiteral("out.") + format);
        QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--format"), format, path(QStringLiteral("data/d.db")),
                      QStringLiteral("--class"), QStringLiteral("客户"), out})
                     .exitCode,
                 0);
        const QString target = path(QStringLiteral("data/back-") + format + QStringLiteral(".db"));
        const Run import =
            run({QStringLiteral("import"), QStringLiteral("--class"), QStringLiteral("客户"), target, out});
        QCOMPARE(import.exitCode, 0);
        QCOMPARE(import.err, QString());
        CardTree back;
        QVERIFY(readTree(QStringLiteral("data/back-") + format + QStringLiteral(".db"), back));
        const CardNode *cls = back.topLevel(1);
        QCOMPARE(cls->childCount(), 2);
        for (int row = 0; row < 2; ++row)
            QCOMPARE(fieldsOf(cls->child(row)), fieldsOf(a->child(row)));
    }
}

void TestExchangeTool::importRefusedWhileKelvoRuns()
{
    CardTree tree;
    CreateDefaultTree(tree);
    const QByteArray before = SerializeTree(tree);
    writeFile(QStringLiteral("data/d.db"), before);
    writeFile(QStringLiteral("two.vcf"), TwoCards);
    {
        // The lock a running Kelvo holds.
        InstanceLock kelvo(InstanceLock::kelvoName(), m_runtime->path());
        QVERIFY(kelvo.tryLock().ok());
        const Run refused =
            run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("two.vcf"))});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("Kelvo is running")), qPrintable(refused.err));
        QCOMPARE(refused.out, QString());
        QCOMPARE(readFile(QStringLiteral("data/d.db")), before);
        // Exports only read, and work while Kelvo runs.
        QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--format=csv"), path(QStringLiteral("data/d.db")),
                      QStringLiteral("--all"), QStringLiteral("-")})
                     .exitCode,
                 0);
    }
    QCOMPARE(
        run({QStringLiteral("import"), path(QStringLiteral("data/d.db")), path(QStringLiteral("two.vcf"))}).exitCode,
        0);
    // The lock is free again once the import is done.
    InstanceLock after(InstanceLock::kelvoName(), m_runtime->path());
    QVERIFY(after.tryLock().ok());
}

QTEST_GUILESS_MAIN(TestExchangeTool)
#include "tst_exchangetool.moc"
