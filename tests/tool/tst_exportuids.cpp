// Exported vCards carry each card's identity as UID: read back by a real
// reader (python3-vobject), the same on every export, and the same again
// after an import into a fresh data file.

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "Gb18030.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;

namespace {

// Lists every card of a vCard file as "UID<TAB>FN<TAB>TEL<TAB>EMAIL", as
// vobject reads them.
const char *const ListCards = R"(
import sys, vobject
with open(sys.argv[1], encoding='utf-8') as f:
    for card in vobject.readComponents(f.read()):
        uid = card.uid.value if hasattr(card, 'uid') else ''
        tel = card.tel.value if hasattr(card, 'tel') else ''
        mail = card.email.value if hasattr(card, 'email') else ''
        print('\t'.join([uid, card.fn.value, tel, mail]))
)";

class Workspace
{
public:
    QTemporaryDir dir;
    QTemporaryDir runtime;

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Run tool(const QStringList &arguments)
    {
        QProcess p;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        p.setProcessEnvironment(environment);
        p.start(QStringLiteral(KELVO_TOOL_PATH), arguments);
        p.waitForFinished(60000);
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    QString path(const QString &name) const { return dir.filePath(name); }
};

// Debian's python3, which python3-vobject belongs to (an interpreter of
// one's own earlier in PATH may lack it).
QString pythonProgram()
{
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                               : QStringLiteral("python3");
}

// vobject's reading of a file: one line per card.
QStringList readWithVobject(const QString &file)
{
    QProcess python;
    python.start(pythonProgram(), {QStringLiteral("-c"), QString::fromUtf8(ListCards), file});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        return {QStringLiteral("vobject failed: ") + QString::fromUtf8(python.readAllStandardError())};
    QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    return lines;
}

QStringList uidsOf(const QStringList &cards)
{
    QStringList uids;
    for (const QString &card : cards)
        uids.append(card.section(u'\t', 0, 0));
    return uids;
}

} // namespace

class TestExportUids : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QProcess probe;
        probe.start(pythonProgram(), {QStringLiteral("-c"), QStringLiteral("import vobject")});
        if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
            QSKIP("python3-vobject is not installed");
    }

    void uidsSurviveExportAndImport()
    {
        Workspace w;
        const QString data = w.path(QStringLiteral("a/SavedCard/Card.DB"));
        {
            CardTree tree;
            CreateDefaultTree(tree);
            CardNode *reserved = tree.topLevel(0);
            const QStringList names{QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五"),
                                    QStringLiteral("Zhao, Liu"), QStringLiteral("钱七")};
            for (int i = 0; i < names.size(); ++i) {
                auto record = MakeCardRecord();
                record->setField(Field::Name, gb18030::encode(names[i]));
                record->setField(Field::DH, QByteArray::number(1000 + i));
                record->setField(Field::EMail, "c" + QByteArray::number(i) + "@example.com");
                tree.addChild(reserved, gb18030::encode(names[i]), std::move(record));
            }
            QVERIFY(SaveTreeViewWithData(DataFiles::forDataFile(data), tree).ok());
        }
        const QString first = w.path(QStringLiteral("first.vcf"));
        Workspace::Run run = w.tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), data,
                                     QStringLiteral("--all"), first});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QStringList cards = readWithVobject(first);
        QCOMPARE(cards.size(), 5);
        QVERIFY(cards.contains(QStringLiteral("%1\tZhao, Liu\t1003\tc3@example.com").arg(uidsOf(cards)[3])));
        const QStringList uids = uidsOf(cards);
        static const QRegularExpression uuid(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
        for (const QString &uid : uids)
            QVERIFY2(uuid.match(uid).hasMatch(), qPrintable(uid));
        QCOMPARE(QSet<QString>(uids.cbegin(), uids.cend()).size(), 5);

        // Again: the same UIDs (kept beside the data file).
        const QString second = w.path(QStringLiteral("second.vcf"));
        QCOMPARE(w.tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), data,
                         QStringLiteral("--all"), second})
                     .exitCode,
                 0);
        QCOMPARE(uidsOf(readWithVobject(second)), uids);

        // Into a fresh data file and out again: the same UIDs.
        const QString fresh = w.path(QStringLiteral("b/SavedCard/Card.DB"));
        run = w.tool({QStringLiteral("import"), fresh, first});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        const QString third = w.path(QStringLiteral("third.vcf"));
        QCOMPARE(w.tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), fresh,
                         QStringLiteral("--all"), third})
                     .exitCode,
                 0);
        QCOMPARE(uidsOf(readWithVobject(third)), uids);

        // The same file imported twice: the second copies get new UIDs, and say so.
        run = w.tool({QStringLiteral("import"), fresh, first});
        QCOMPARE(run.err.count(QStringLiteral("belongs to another card")), 5);
        const QString fourth = w.path(QStringLiteral("fourth.vcf"));
        QCOMPARE(w.tool({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("vcard"), fresh,
                         QStringLiteral("--all"), fourth})
                     .exitCode,
                 0);
        const QStringList all = uidsOf(readWithVobject(fourth));
        QCOMPARE(all.size(), 10);
        QCOMPARE(QSet<QString>(all.cbegin(), all.cend()).size(), 10);
        QCOMPARE(all.mid(0, 5), uids);
    }
};

QTEST_GUILESS_MAIN(TestExportUids)
#include "tst_exportuids.moc"
