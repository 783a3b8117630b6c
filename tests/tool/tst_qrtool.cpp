// kelvo-tool qr, run as a program: the picture it writes is read back with
// ZXing into the card's fields.
#include "CardQrReading.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFileFormat.h"
#include "Gb18030.h"

#include "TestCards.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace kelvo;
using kelvo::testing::addCard;
using kelvo::testing::addClass;

namespace {

struct Run
{
    int exitCode = -1;
    QString err;
};

Run runTool(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The UID of the vCard in the QR code of `picture`, as Debian's ZXingReader
// reads it.
QString uidInCode(const QString &picture)
{
    QProcess reader;
    reader.start(QStringLiteral("ZXingReader"), {picture});
    if (!reader.waitForFinished(60000))
        return QString();
    const QString text = QString::fromUtf8(reader.readAllStandardOutput());
    const QRegularExpression uid(QStringLiteral("^UID:([0-9a-f-]+)\\r?$"), QRegularExpression::MultilineOption);
    return uid.match(text).captured(1);
}

QString repeated(const QString &piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

} // namespace

class TestQrTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesTheFirstCardSoNamed_data();
    void writesTheFirstCardSoNamed();
    void codeCarriesTheCardsUid();
    void refusals_data();
    void refusals();

private:
    QTemporaryDir m_dir;
    QString m_data;
};

void TestQrTool::initTestCase()
{
    QVERIFY(m_dir.isValid());
    CardTree tree;
    CreateDefaultTree(tree);
    CardNode *reserved = tree.firstTopLevel();
    CardNode *clients = addClass(tree, nullptr, u"客户"_qs);
    CardNode *nested = addClass(tree, clients, u"北京"_qs);
    addCard(tree, nested, u"张伟"_qs, {{Field::TouXian, u"经理"_qs}, {Field::SJ, u"13900001111"_qs}});
    addCard(tree, clients, u"张伟"_qs, {{Field::TouXian, u"总监"_qs}, {Field::SJ, u"13900002222"_qs}});
    addCard(tree, reserved, u"Li Na"_qs, {{Field::EMail, u"li@x.cn"_qs}, {Field::DW, u"Acme; Co."_qs}});
    addCard(tree, reserved, u"欧阳"_qs,
            {{Field::DZ, repeated(u"北京市海淀区中关村"_qs, 14)},
             {Field::WZ, repeated(u"https://example.com/"_qs, 12)},
             {Field::Other, repeated(u"备注很长"_qs, 30)},
             {Field::MSN, repeated(u"m"_qs, 200)},
             {Field::SJ, u"13800003333"_qs}});
    m_data = m_dir.filePath(u"Card.DB"_qs);
    QFile file(m_data);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray bytes = SerializeTree(tree);
    QCOMPARE(file.write(bytes), bytes.size());
}

void TestQrTool::writesTheFirstCardSoNamed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("expected"); // fields 1..13
    QTest::addColumn<bool>("compact");

    // The card in the nested class comes first in tree order.
    QTest::newRow("first of two") << u"张伟"_qs
                                  << QStringList{u"张伟"_qs, u"经理"_qs, "", "", "", "", "13900001111", "", "", "",
                                                 "", "", ""}
                                  << false;
    QTest::newRow("vCard syntax") << u"Li Na"_qs
                                  << QStringList{"Li Na", "", "Acme; Co.", "", "", "", "", "", "", "", "", "li@x.cn",
                                                 ""}
                                  << false;
    QTest::newRow("compact") << u"欧阳"_qs
                             << QStringList{u"欧阳"_qs, "", "", "", "", "", "13800003333", "", "", "", "", "", ""}
                             << true;
}

void TestQrTool::writesTheFirstCardSoNamed()
{
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    QFETCH(bool, compact);
    const QString out = m_dir.filePath(u"code.png"_qs);
    QFile::remove(out);
    const Run run = runTool({u"qr"_qs, m_data, name, u"-o"_qs, out});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err.contains(u"the code holds the name, title, company, phones and e-mail only"_qs), compact);
    const QImage picture(out);
    QVERIFY(!picture.isNull());
    const std::optional<capture::QrCardFields> read = capture::decodeCardQr(picture);
    QVERIFY(read.has_value());
    QCOMPARE(QStringList(read->begin(), read->end()), expected);
}

void TestQrTool::codeCarriesTheCardsUid()
{
    if (QStandardPaths::findExecutable(QStringLiteral("ZXingReader")).isEmpty())
        QSKIP("ZXingReader (zxing-cpp-tools) is not installed");
    const QString data = m_dir.filePath(u"uids/Card.DB"_qs);
    QVERIFY(QDir().mkpath(QFileInfo(data).path()));
    QVERIFY(QFile::copy(m_data, data));
    const QString first = m_dir.filePath(u"uids/first.png"_qs);
    const QString second = m_dir.filePath(u"uids/second.png"_qs);
    QCOMPARE(runTool({u"qr"_qs, data, u"Li Na"_qs, u"-o"_qs, first}).exitCode, 0);
    QCOMPARE(runTool({u"qr"_qs, data, u"Li Na"_qs, u"-o"_qs, second}).exitCode, 0);
    const QString uid = uidInCode(first);
    QVERIFY2(!QUuid::fromString(uid).isNull(), qPrintable(uid));
    QCOMPARE(uidInCode(second), uid);

    // The export gives the card the same UID.
    const QString vcf = m_dir.filePath(u"uids/all.vcf"_qs);
    QCOMPARE(runTool({u"export"_qs, u"--format"_qs, u"vcard"_qs, u"--all"_qs, data, vcf}).exitCode, 0);
    QFile exported(vcf);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QVERIFY(exported.readAll().contains((u"UID:"_qs + uid).toUtf8()));
}

void TestQrTool::refusals_data()
{
    QTest::addColumn<QStringList>("arguments"); // %DATA% and %OUT% are replaced
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no such card") << QStringList{"qr", "%DATA%", "王五", "-o", "%OUT%"} << 1 << "has no card named";
    QTest::newRow("a card class's name") << QStringList{"qr", "%DATA%", "客户", "-o", "%OUT%"} << 1
                                         << "has no card named";
    QTest::newRow("no -o") << QStringList{"qr", "%DATA%", "张伟"} << 1 << "-o FILE.png";
    QTest::newRow("bad module size") << QStringList{"qr", "%DATA%", "张伟", "-o", "%OUT%", "--module-size", "0"} << 1
                                     << "--module-size";
    QTest::newRow("missing data file") << QStringList{"qr", "%DATA%.none", "张伟", "-o", "%OUT%"} << 2
                                       << "no such file";
    QTest::newRow("unwritable picture") << QStringList{"qr", "%DATA%", "张伟", "-o", "%DATA%.none/x/code.png"} << 1
                                        << "cannot write";
}

void TestQrTool::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString out = m_dir.filePath(u"refused.png"_qs);
    for (QString &argument : arguments) {
        argument.replace(u"%DATA%"_qs, m_data);
        argument.replace(u"%OUT%"_qs, out);
    }
    const Run run = runTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(TestQrTool)
#include "tst_qrtool.moc"
