// kelvo-tool scan run as a program, and CaptureProcess, which the window uses
// to run it: the real tool and recogniser, and for a helper that hangs or
// crashes, small scripts in its place.
#include "CardPictures.h"

#include "CaptureProcess.h"

#include "CardTree.h"
#include "DataFileFormat.h"
#include "Gb18030.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using namespace kelvo::capture;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QString err;
};

} // namespace

class TestScanTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dryRunPrintsJson();
    void scanAddsCards();
    void damagedPictureWritesNothing_data();
    void damagedPictureWritesNothing();
    void processAnswersEachPicture();
    void processSurvivesHelperFailures_data();
    void processSurvivesHelperFailures();

private:
    Run run(const QStringList &args);
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
};

void TestScanTool::initTestCase()
{
    QVERIFY(m_dir.isValid() && m_runtime.isValid());
    QVERIFY(QFile::setPermissions(m_runtime.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QVERIFY(testing::chineseCard().save(path(QStringLiteral("chinese.png"))));
    QVERIFY(testing::englishCard().save(path(QStringLiteral("english.jpg")), nullptr, 90));
    QImage blank(600, 400, QImage::Format_RGB32);
    blank.fill(Qt::white);
    QVERIFY(blank.save(path(QStringLiteral("blank.png"))));
    QFile cut(path(QStringLiteral("cut.png")));
    QFile whole(path(QStringLiteral("chinese.png")));
    QVERIFY(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
    cut.write(whole.read(whole.size() / 3));
}

Run TestScanTool::run(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.remove(QStringLiteral("OMP_THREAD_LIMIT")); // the tool sets it itself
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    process.waitForFinished(-1);
    Run result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestScanTool::dryRunPrintsJson()
{
    const Run r = run({QStringLiteral("scan"), QStringLiteral("--dry-run"), QStringLiteral("--json"),
                       path(QStringLiteral("none.db")), path(QStringLiteral("chinese.png")),
                       path(QStringLiteral("english.jpg"))});
    QCOMPARE(r.exitCode, 0);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(first.value(QStringLiteral("file")).toString(), path(QStringLiteral("chinese.png")));
    const QJsonArray fields = first.value(QStringLiteral("fields")).toArray();
    const QJsonArray confidence = first.value(QStringLiteral("confidence")).toArray();
    QCOMPARE(fields.size(), 13);
    QCOMPARE(confidence.size(), 13);
    QCOMPARE(fields[0].toString(), QStringLiteral("王建国"));
    QCOMPARE(fields[6].toString(), QStringLiteral("139 1234 5678"));
    for (int i = 0; i < 13; ++i) {
        QCOMPARE(confidence[i].isNull(), fields[i].toString().isEmpty());
        if (!confidence[i].isNull())
            QVERIFY(confidence[i].toInt(-1) >= 0 && confidence[i].toInt(-1) <= 100);
    }
    QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value(QStringLiteral("fields")).toArray()[11].toString(),
             QStringLiteral("john.smith@acme.com"));
    QVERIFY(!QFile::exists(path(QStringLiteral("none.db"))));
}

void TestScanTool::scanAddsCards()
{
    QDir().mkpath(path(QStringLiteral("data")));
    const QString data = path(QStringLiteral("data/cards.db"));
    // What a killed save left beside the data file goes; a look-alike stays.
    QFile stale(path(QStringLiteral("data/.cards.db.0123abcd.tmp")));
    QFile foreign(path(QStringLiteral("data/.cards.db.tmp")));
    QVERIFY(stale.open(QIODevice::WriteOnly) && foreign.open(QIODevice::WriteOnly));
    stale.close();
    foreign.close();
    const Run r = run({QStringLiteral("scan"), QStringLiteral("--class"), QStringLiteral("展会"), data,
                       path(QStringLiteral("chinese.png")), path(QStringLiteral("blank.png"))});
    QCOMPARE(r.exitCode, 3); // the blank card is skipped
    QCOMPARE(r.out, QByteArray("scanned 1 cards, skipped 1\n"));
    QVERIFY2(r.err.contains(QStringLiteral("chinese.png: '王建国', ")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("blank.png: skipped: no text found")), qPrintable(r.err));
    QVERIFY(!stale.exists());
    QVERIFY(foreign.exists());

    QFile file(data);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CardTree tree;
    QCOMPARE(ReadTreeFromBytes(file.readAll(), tree).status, LoadResult::Status::Read);
    const CardNode *cls = nullptr;
    for (int row = 0; row < tree.topLevelCount(); ++row)
        if (gb18030::decode(tree.topLevel(row)->label()) == QStringLiteral("展会"))
            cls = tree.topLevel(row);
    QVERIFY(cls);
    QCOMPARE(cls->childCount(), 1);
    const TCardData *card = cls->child(0)->data();
    QCOMPARE(gb18030::decode(card->field(1)), QStringLiteral("王建国"));
    QCOMPARE(gb18030::decode(card->field(3)), QStringLiteral("上海恒达贸易有限公司"));
    QCOMPARE(gb18030::decode(card->field(12)), QStringLiteral("wang@hengda.com"));
}

void TestScanTool::damagedPictureWritesNothing_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("message");
    QTest::newRow("cut short") << QStringLiteral("cut.png") << QStringLiteral("damaged or cut short");
    QTest::newRow("missing") << QStringLiteral("missing.png") << QStringLiteral("missing.png");
}

void TestScanTool::damagedPictureWritesNothing()
{
    QFETCH(QString, picture);
    QFETCH(QString, message);
    const QString data = path(QStringLiteral("untouched.db"));
    const Run r = run({QStringLiteral("scan"), data, path(QStringLiteral("english.jpg")), path(picture)});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(message) && r.err.contains(QStringLiteral("nothing added")), qPrintable(r.err));
    QVERIFY(!QFile::exists(data));
}

void TestScanTool::processAnswersEachPicture()
{
    CaptureProcess process(QStringLiteral(KELVO_TOOL_PATH));
    QSignalSpy read(&process, &CaptureProcess::cardRead);
    QSignalSpy finished(&process, &CaptureProcess::finished);
    QVERIFY(process.start({path(QStringLiteral("english.jpg")), path(QStringLiteral("cut.png"))}));
    QVERIFY(!process.start({path(QStringLiteral("english.jpg"))})); // one batch at a time
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toString(), QString());
    QCOMPARE(read.size(), 2);
    const CaptureResult english = read[0][1].value<CaptureResult>();
    QVERIFY(english.ok());
    QCOMPARE(english.field(1).text, QStringLiteral("John Smith"));
    QVERIFY(!english.field(1).box.isEmpty());
    QVERIFY(english.lines.size() >= 5);
    const CaptureResult cut = read[1][1].value<CaptureResult>();
    QVERIFY(cut.error.contains(QStringLiteral("damaged or cut short")));
    QVERIFY(!process.isRunning());
}

void TestScanTool::processSurvivesHelperFailures_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("error");
    QTest::newRow("hangs") << QByteArray("#!/bin/sh\nexec sleep 30\n") << QStringLiteral("too long");
    QTest::newRow("crashes") << QByteArray("#!/bin/sh\nkill -SEGV $$\n") << QStringLiteral("unexpectedly");
    QTest::newRow("answers one of two")
        << QByteArray("#!/bin/sh\necho '{\"file\":\"a\",\"fields\":[\"x\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\","
                      "\"\"],\"confidence\":[50,null,null,null,null,null,null,null,null,null,null,null,null]}'\n")
        << QStringLiteral("without reading every picture");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("cannot be started");
}

void TestScanTool::processSurvivesHelperFailures()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, error);
    const QString helper = path(QStringLiteral("helper-%1.sh").arg(QTest::currentDataTag()).replace(u' ', u'-'));
    if (!script.isEmpty()) {
        QFile file(helper);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(script);
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    CaptureProcess process(helper);
    process.setTimeoutPerPicture(1500);
    QSignalSpy read(&process, &CaptureProcess::cardRead);
    QSignalSpy finished(&process, &CaptureProcess::finished);
    QVERIFY(process.start({QStringLiteral("a.png"), QStringLiteral("b.png")}));
    QVERIFY(finished.wait(20000));
    QVERIFY2(finished[0][0].toString().contains(error), qPrintable(finished[0][0].toString()));
    QCOMPARE(read.size(), 2); // every picture answered, the unread ones with the error
    QVERIFY(read[1][1].value<CaptureResult>().error.contains(error));
    QVERIFY(!process.isRunning());
}

QTEST_MAIN(TestScanTool)
#include "tst_scantool.moc"
