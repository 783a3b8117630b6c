// The extension menu "工具" of the main window: its place among the menus,
// and its import and export of vCard and CSV files, driven through the
// scripted dialogs.

#include "CardImport.h"
#include "CardTreeDragDrop.h"
#include "CardRecords.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TfrmMain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUuid>
#include <QTest>

using namespace kelvo;

namespace {

QByteArray gb(const QString &text)
{
    return gb18030::encode(text);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

CardNode *addNode(CardTree &tree, CardNode *parent, const QString &label, bool card,
                  std::initializer_list<std::pair<int, QString>> fields = {})
{
    auto record = card ? MakeCardRecord() : MakeCardClassRecord();
    record->setField(Field::Name, gb(label));
    for (const auto &[n, text] : fields)
        record->setField(n, gb(text));
    CardNode *node = tree.addChild(parent, gb(label), std::move(record));
    const int index = card ? 1 : 0;
    tree.setDisplayIndexes(node, index, index, index, index);
    return node;
}

// 客户: {张三, 李四}, 朋友: {同学: {王五}}; no reserved class.
QByteArray sampleFileBytes()
{
    CardTree tree;
    CardNode *customers = addNode(tree, nullptr, QStringLiteral("客户"), false);
    addNode(tree, customers, QStringLiteral("张三"), true,
            {{2, QStringLiteral("经理")},
             {3, QStringLiteral("某某公司")},
             {5, QStringLiteral("010-1")},
             {7, QStringLiteral("139")},
             {12, QStringLiteral("zs@x.cn")},
             {13, QStringLiteral("老客户, \"重要\"")}});
    addNode(tree, customers, QStringLiteral("李四"), true,
            {{4, QStringLiteral("北京市海淀区中关村大街1号")},
             {8, QStringLiteral("100080")},
             {9, QStringLiteral("http://li.cn")},
             {10, QStringLiteral("12345")},
             {11, QStringLiteral("li@msn.cn")}});
    CardNode *friends = addNode(tree, nullptr, QStringLiteral("朋友"), false);
    CardNode *classmates = addNode(tree, friends, QStringLiteral("同学"), false);
    addNode(tree, classmates, QStringLiteral("王五"), true, {{6, QStringLiteral("021-2")}});
    return SerializeTree(tree);
}

QStringList fieldsOf(const TCardData &data)
{
    QStringList fields;
    for (int n = 1; n <= 13; ++n)
        fields.append(gb18030::decode(data.field(n)));
    return fields;
}

QString labelOf(const CardNode *node)
{
    return node ? gb18030::decode(node->label()) : QString();
}

// The node of the tree labelled `label` (the first in absolute order).
CardNode *nodeLabelled(CardTree &tree, const QString &label)
{
    CardNode *found = nullptr;
    tree.forEach([&](const CardNode *node) {
        if (!found && labelOf(node) == label)
            found = const_cast<CardNode *>(node);
    });
    return found;
}

QStringList childLabels(const CardNode *node)
{
    QStringList labels;
    for (int row = 0; node && row < node->childCount(); ++row)
        labels.append(labelOf(node->child(row)));
    return labels;
}

QStringList topLevelLabels(const CardTree &tree)
{
    QStringList labels;
    for (const CardNode *node = tree.firstTopLevel(); node; node = node->nextSibling())
        labels.append(labelOf(node));
    return labels;
}

QStringList uidsIn(const QByteArray &vcards)
{
    QStringList uids;
    const QRegularExpression uid(QStringLiteral("^UID:(.*)\\r?$"), QRegularExpression::MultilineOption);
    for (auto it = uid.globalMatch(QString::fromUtf8(vcards)); it.hasNext();)
        uids.append(it.next().captured(1));
    return uids;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestToolsMenu : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    RecordingSpreadsheet m_spreadsheet;
    std::unique_ptr<FakeTrayIcon> m_tray;
    std::unique_ptr<Session> m_session;

    TfrmMain *main() const { return m_session->mainWindow(); }
    CardTree &tree() const { return m_session->mainWindow()->cardTree(); }
    QAction *command(const char *name) const { return main()->findChild<QAction *>(QLatin1String(name)); }

    void startWithSample()
    {
        const DataFiles files = DataFiles::inFolder(m_dir->filePath(QStringLiteral("program")));
        QVERIFY(writeFile(files.dataFile, sampleFileBytes()));
        m_tray = std::make_unique<FakeTrayIcon>(true);
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, *m_tray, m_spreadsheet, files});
        m_session->showMainWindow();
        QVERIFY(main()->isLoaded());
        QVERIFY(!main()->isModified());
    }

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir->filePath(name);
        if (!writeFile(path, bytes))
            qFatal("cannot write a test file");
        return path;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_dialogs.clear();
    }

    void cleanup()
    {
        m_session.reset();
        m_tray.reset();
        m_dir.reset();
    }

    void menusInOrder()
    {
        startWithSample();
        QStringList titles;
        for (const QAction *menu : main()->menuBar()->actions())
            titles.append(menu->text());
        QCOMPARE(titles, QStringList({"名片管理", "编辑", "工具", "帮助"}));
        QMenu *tools = main()->findChild<QMenu *>(QStringLiteral("mnuTools"));
        QVERIFY(tools);
        QCOMPARE(main()->toolsMenu(), tools);
        QCOMPARE(main()->menuBar()->actions().at(2)->menu(), tools);
        QCOMPARE(tools->accessibleName(), QStringLiteral("工具"));
        QStringList entries;
        for (const QAction *action : tools->actions())
            entries.append(action->text());
        QCOMPARE(entries.mid(0, 2), QStringList({"导入名片...", "导出名片..."}));
        QVERIFY(command("actImportCards"));
        QVERIFY(command("actExportCards"));
    }

    void importGoesIntoTheSelectedClass_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("intoClass");
        QTest::addColumn<QStringList>("topLevel");
        QTest::newRow("a class") << QStringLiteral("客户") << QStringLiteral("客户") << QStringList{"客户", "朋友"};
        QTest::newRow("a card: its class")
            << QStringLiteral("王五") << QStringLiteral("同学") << QStringList{"客户", "朋友"};
        QTest::newRow("a nested class") << QStringLiteral("同学") << QStringLiteral("同学")
                                        << QStringList{"客户", "朋友"};
        QTest::newRow("nothing: the reserved class")
            << QString() << QStringLiteral("未分类的名片") << QStringList{"客户", "朋友", "未分类的名片"};
    }

    void importGoesIntoTheSelectedClass()
    {
        QFETCH(QString, selected);
        QFETCH(QString, intoClass);
        QFETCH(QStringList, topLevel);
        startWithSample();
        main()->selectNode(selected.isEmpty() ? nullptr : nodeLabelled(tree(), selected));
        const QString vcf = file(QStringLiteral("two.vcf"),
                                 QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:赵六\r\nTEL;TYPE=CELL:138\r\n"
                                                "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:钱七\r\n"
                                                "ORG:某某公司\r\nEND:VCARD\r\n")
                                     .toUtf8());
        const QString csv =
            file(QStringLiteral("one.csv"), QStringLiteral("姓名,手机,E_MAIL\r\n孙八,137,sun@x.cn\r\n").toUtf8());
        const QStringList before = childLabels(nodeLabelled(tree(), intoClass));
        m_dialogs.answerOpenFiles({vcf, csv});
        command("actImportCards")->trigger();

        QCOMPARE(m_dialogs.unscriptedCount(), 0);
        QCOMPARE(m_dialogs.shown().first().kind, ScriptedDialogs::Kind::OpenFiles);
        QCOMPARE(m_dialogs.shown().first().caption, QStringLiteral("导入名片"));
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Notice), QStringList{"已导入3张名片。"});
        QCOMPARE(topLevelLabels(tree()), topLevel);
        CardNode *target = nodeLabelled(tree(), intoClass);
        QCOMPARE(childLabels(target), before + QStringList({"赵六", "钱七", "孙八"}));
        const CardNode *last = target->child(target->childCount() - 1);
        QCOMPARE(fieldsOf(*last->data()).at(6), QStringLiteral("137"));
        QCOMPARE(main()->selectedNode(), last);
        QVERIFY(main()->isModified());
    }

    void importCancelledOrUnreadableChangesNothing_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::newRow("a class selected") << QStringLiteral("客户");
        QTest::newRow("nothing selected: no reserved class made") << QString();
    }

    void importCancelledOrUnreadableChangesNothing()
    {
        QFETCH(QString, selected);
        startWithSample();
        main()->selectNode(selected.isEmpty() ? nullptr : nodeLabelled(tree(), selected));
        m_dialogs.cancelOpenFiles();
        command("actImportCards")->trigger();
        QCOMPARE(m_dialogs.shown().size(), 1);
        QCOMPARE(tree().count(), 6);

        // A file that cannot be read: a notice in Chinese, no card added.
        const QString good = file(QStringLiteral("good.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nEND:VCARD\r\n");
        m_dialogs.answerOpenFiles({good, m_dir->filePath(QStringLiteral("missing.vcf"))});
        command("actImportCards")->trigger();
        const QStringList notices = m_dialogs.texts(ScriptedDialogs::Kind::Notice);
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().startsWith(QStringLiteral("无法导入文件“missing.vcf”")), qPrintable(notices.first()));
        QCOMPARE(tree().count(), 6);
        QCOMPARE(topLevelLabels(tree()), QStringList({"客户", "朋友"}));
        QVERIFY(!main()->isModified());
    }

    void exportReadsBackTheSameFields_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("cards");
        QTest::addColumn<QString>("proposed");
        const QStringList all{"张三", "李四", "王五"};
        QTest::newRow("a card, vCard") << QStringLiteral("张三") << QStringLiteral("a.vcf") << 0 << QStringList{"张三"}
                                       << QStringLiteral("张三.vcf");
        QTest::newRow("a card, CSV") << QStringLiteral("李四") << QStringLiteral("a.csv") << 1 << QStringList{"李四"}
                                     << QStringLiteral("李四.vcf");
        QTest::newRow("a class with a nested one, CSV") << QStringLiteral("朋友") << QStringLiteral("friends.csv") << 1
                                                        << QStringList{"王五"} << QStringLiteral("朋友.vcf");
        QTest::newRow("everything, vCard")
            << QString() << QStringLiteral("all.vcf") << 0 << all << QStringLiteral("名片.vcf");
        QTest::newRow("everything, CSV type with another name")
            << QString() << QStringLiteral("all.txt") << 1 << all << QStringLiteral("名片.vcf");
    }

    void exportReadsBackTheSameFields()
    {
        QFETCH(QString, selected);
        QFETCH(QString, fileName);
        QFETCH(int, type);
        QFETCH(QStringList, cards);
        QFETCH(QString, proposed);
        startWithSample();
        main()->selectNode(selected.isEmpty() ? nullptr : nodeLabelled(tree(), selected));
        const QString path = m_dir->filePath(fileName);
        m_dialogs.answerSaveFileOfType(path, type);
        command("actExportCards")->trigger();

        QCOMPARE(m_dialogs.unscriptedCount(), 0);
        QCOMPARE(m_dialogs.shown().size(), 1);
        QCOMPARE(m_dialogs.shown().first().caption, QStringLiteral("导出名片"));
        QCOMPARE(m_dialogs.shown().first().text, QStringLiteral("vCard 文件 (*.vcf);;CSV 文件 (*.csv)"));
        QCOMPARE(m_dialogs.lastInitialName(), proposed);

        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QCOMPARE(bytes.contains("BEGIN:VCARD"), type == 0);
        const exchange::ImportResult back = exchange::ImportCardsFromFile(path);
        QVERIFY2(back.ok(), qPrintable(back.error));
        QCOMPARE(int(back.cards.size()), cards.size());
        for (int i = 0; i < cards.size(); ++i) {
            const CardNode *original = nodeLabelled(tree(), cards.at(i));
            QCOMPARE(fieldsOf(*back.cards[size_t(i)].data), fieldsOf(*original->data()));
        }
        QVERIFY(!main()->isModified());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{fileName});
    }

    void exportedUidsStayAcrossExportsDragsAndStarts()
    {
        startWithSample();
        main()->selectNode(nullptr);
        m_dialogs.answerSaveFileOfType(m_dir->filePath(QStringLiteral("first.vcf")), 0);
        command("actExportCards")->trigger();
        const QStringList first = uidsIn(fileBytes(m_dir->filePath(QStringLiteral("first.vcf"))));
        QCOMPARE(first.size(), 3);
        QCOMPARE(QSet<QString>(first.begin(), first.end()).size(), 3);
        for (const QString &uid : first)
            QVERIFY2(!QUuid::fromString(uid).isNull() && uid == uid.toLower(), qPrintable(uid));

        // A card dragged out of the tree carries the UID the export gave it.
        CardTreeDragDrop *drag = main()->findChild<CardTreeDragDrop *>();
        QVERIFY(drag);
        const CardNode *zhang = nodeLabelled(tree(), QStringLiteral("张三"));
        std::unique_ptr<QMimeData> mime(drag->makeDragData(zhang));
        QVERIFY(mime->hasUrls());
        const QStringList dragged = uidsIn(fileBytes(mime->urls().constFirst().toLocalFile()));
        QCOMPARE(dragged.size(), 1);
        QVERIFY(first.contains(dragged.first()));
        QVERIFY(!main()->isModified());

        // The next start gives every card the same UID, with no save between.
        m_session.reset();
        const DataFiles files = DataFiles::inFolder(m_dir->filePath(QStringLiteral("program")));
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, *m_tray, m_spreadsheet, files});
        m_session->showMainWindow();
        QVERIFY(main()->isLoaded());
        main()->selectNode(nullptr);
        m_dialogs.answerSaveFileOfType(m_dir->filePath(QStringLiteral("again.vcf")), 0);
        command("actExportCards")->trigger();
        QCOMPARE(uidsIn(fileBytes(m_dir->filePath(QStringLiteral("again.vcf")))), first);
    }

    void exportFailureIsShownInChinese()
    {
        startWithSample();
        main()->selectNode(nodeLabelled(tree(), QStringLiteral("张三")));
        const QString path = m_dir->filePath(QStringLiteral("no such folder/a.vcf"));
        m_dialogs.answerSaveFile(path);
        command("actExportCards")->trigger();
        const QStringList errors = m_dialogs.texts(ScriptedDialogs::Kind::Error);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(QStringLiteral("名片没有导出：")), qPrintable(errors.first()));
        QVERIFY(errors.first().contains(QDir::toNativeSeparators(path)));
        QVERIFY(!QFileInfo::exists(path));

        // A cancelled dialog writes nothing and says nothing.
        m_dialogs.clear();
        m_dialogs.cancelSaveFile();
        command("actExportCards")->trigger();
        QCOMPARE(m_dialogs.shown().size(), 1);
    }

    void anEmptyClassHasNothingToExport()
    {
        startWithSample();
        CardNode *empty = tree().addChild(nullptr, gb(QStringLiteral("空")), MakeCardClassRecord());
        main()->selectNode(empty);
        const QString path = m_dir->filePath(QStringLiteral("empty.vcf"));
        m_dialogs.answerSaveFile(path);
        command("actExportCards")->trigger();
        QCOMPARE(m_dialogs.texts(ScriptedDialogs::Kind::Notice), QStringList{"没有可以导出的名片。"});
        QVERIFY(!QFileInfo::exists(path));
    }
};

QTEST_MAIN(TestToolsMenu)
#include "tst_toolsmenu.moc"
