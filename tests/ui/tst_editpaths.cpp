// Every way the main window changes the cards, driven as a user drives it:
// the commands (through the toolbar, the menus and the tree's context menu),
// the label editor, the thirteen editors of the detail panel and drags in the
// tree. Each must raise Modified, so that closing the window writes the
// change to the data file; a new edit path that forgets it cannot pass here.
// The rules that raise Modified without a change must make the close write
// the file, and the commands that only read must leave it alone.

#include "CardDetailPanel.h"
#include "CardRecords.h"
#include "CardTreeControls.h"
#include "CardTreeDragDrop.h"
#include "CardTreeView.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "LabelEditDelegate.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "TfrmMain.h"
#include "TfrmQuickSearch.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <functional>
#include <memory>

using namespace kelvo;

namespace {

QByteArray gb(const QString &text)
{
    return gb18030::encode(text);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How the data file describes a node: depth, label (trimmed, as written),
// kind and the fields 2 to 13 (field 1 is stored as the label).
QString line(int depth, const QString &label, int kind, const QStringList &fields = {})
{
    QString text = QString::number(depth) + QLatin1Char(' ') + label + QLatin1Char('|') + QString::number(kind);
    for (int field = Field::TouXian; field <= Field::Last; ++field)
        text += QLatin1Char('|') + fields.value(field - Field::TouXian);
    return text;
}

// One line per node in absolute order.
QStringList describe(const CardTree &tree)
{
    QStringList lines;
    tree.forEach([&lines](const CardNode *node) {
        QStringList fields;
        for (int field = Field::TouXian; field <= Field::Last; ++field)
            fields << gb18030::decode(node->data()->field(field));
        lines << line(node->depth(), gb18030::decode(gb18030::trimmed(node->label())), node->kind(), fields);
    });
    return lines;
}

QStringList describeFile(const QString &path)
{
    CardTree tree;
    if (!ReadTreeFromBytes(readFile(path), tree).ok())
        return {QStringLiteral("(unreadable)")};
    return describe(tree);
}

CardNode *add(CardTree &tree, CardNode *parent, const QString &label, std::int32_t kind,
              std::initializer_list<std::pair<int, QByteArray>> fields = {})
{
    auto record = kind == Kind::Card ? MakeCardRecord() : MakeCardClassRecord();
    record->Kind = kind;
    record->setField(Field::Name, gb(label));
    for (const auto &[field, value] : fields)
        record->setField(field, value);
    return tree.addChild(parent, gb(label), std::move(record));
}

// 未分类的名片: 张三 (all fields) | 客户: 李四, 王五 | 朋友: 同学: 赵六 (a full
// other-information field) | 空类 | 怪 (a kind only a data file holds)
QByteArray sampleFile()
{
    CardTree tree;
    CardNode *reserved = add(tree, nullptr, QStringLiteral("未分类的名片"), Kind::CardClass);
    add(tree, reserved, QStringLiteral("张三"), Kind::Card,
        {{Field::TouXian, gb(QStringLiteral("经理"))},
         {Field::DW, "Abc"},
         {Field::DZ, gb(QStringLiteral("北京"))},
         {Field::DH, "010"},
         {Field::CZ, "011"},
         {Field::SJ, "139"},
         {Field::YB, "100"},
         {Field::WZ, "x.cn"},
         {Field::QQ, "123"},
         {Field::MSN, "z@msn"},
         {Field::EMail, "z@x.cn"},
         {Field::Other, "o"}});
    CardNode *clients = add(tree, nullptr, QStringLiteral("客户"), Kind::CardClass);
    add(tree, clients, QStringLiteral("李四"), Kind::Card);
    add(tree, clients, QStringLiteral("王五"), Kind::Card);
    CardNode *friends = add(tree, nullptr, QStringLiteral("朋友"), Kind::CardClass);
    CardNode *classmates = add(tree, friends, QStringLiteral("同学"), Kind::CardClass);
    add(tree, classmates, QStringLiteral("赵六"), Kind::Card, {{Field::Other, QByteArray(255, 'o')}});
    add(tree, nullptr, QStringLiteral("空类"), Kind::CardClass);
    add(tree, nullptr, QStringLiteral("怪"), 7);
    return SerializeTree(tree);
}

// The program's session over a data file holding the sample tree.
class EditWindow
{
public:
    EditWindow()
    {
        files = DataFiles::inFolder(folder.path());
        QDir().mkpath(QFileInfo(files.dataFile).absolutePath());
        QFile file(files.dataFile);
        if (file.open(QIODevice::WriteOnly))
            file.write(sampleFile());
        file.close();
        session = std::make_unique<Session>(Session::Services{dialogs, shell, tray, spreadsheet, files});
        session->showMainWindow();
    }

    TfrmMain *main() const { return session->mainWindow(); }
    CardTreeView *tvCard() const { return main()->findChild<CardTreeView *>(QStringLiteral("tvCard")); }
    QAction *command(const char *name) const { return main()->findChild<QAction *>(QLatin1String(name)); }
    QLineEdit *editor(const char *name) const { return main()->findChild<QLineEdit *>(QLatin1String(name)); }
    QLineEdit *labelEditor() const
    {
        return qobject_cast<QLineEdit *>(tvCard()->indexWidget(tvCard()->currentIndex()));
    }

    // The node with this label, in absolute order.
    CardNode *node(const QString &label) const
    {
        CardNode *found = nullptr;
        main()->cardTree().forEach([&](CardNode *n) {
            if (!found && n->label() == gb(label))
                found = n;
        });
        return found;
    }

    // Selects the node and waits for the detail panel to show it.
    void select(const QString &label)
    {
        QSignalSpy settled(main(), &TfrmMain::tvCardChange);
        main()->selectNode(node(label));
        settled.wait(2000);
    }

    // The toolbar button of a command, clicked.
    void clickToolButton(const char *commandName)
    {
        auto *toolBar = main()->findChild<QToolBar *>(QStringLiteral("ToolBar1"));
        QTest::mouseClick(toolBar->widgetForAction(command(commandName)), Qt::LeftButton);
    }

    // The entry of the tree's context menu with this caption, chosen.
    void chooseFromContextMenu(const QString &caption)
    {
        auto *pm = tvCard()->findChild<QMenu *>(QStringLiteral("pm"));
        for (QAction *entry : pm->actions()) {
            if (entry->text() == caption)
                entry->trigger();
        }
    }

    // The entry of the menu bar's menu with this title, chosen.
    void chooseFromMenuBar(const QString &menu, const QString &caption)
    {
        for (QAction *title : main()->menuBar()->actions()) {
            if (title->text() != menu)
                continue;
            for (QAction *entry : title->menu()->actions()) {
                if (entry->text() == caption)
                    entry->trigger();
            }
        }
    }

    void confirmLabel(const QString &text)
    {
        QLineEdit *edit = labelEditor();
        if (!edit)
            return;
        edit->setText(text);
        QTest::keyClick(edit, Qt::Key_Return);
        QCoreApplication::processEvents();
    }

    void cancelLabel()
    {
        if (QLineEdit *edit = labelEditor())
            QTest::keyClick(edit, Qt::Key_Escape);
    }

    // Types `keys` at the end of an editor of the panel.
    void typeInto(const char *editorName, const char *keys)
    {
        QLineEdit *edit = editor(editorName);
        edit->setFocus();
        edit->end(false);
        QTest::keyClicks(edit, QLatin1String(keys));
    }

    QPoint labelPoint(const QString &label) const
    {
        const QModelIndex index = main()->indexOfNode(node(label));
        tvCard()->scrollTo(index);
        auto *controls = main()->findChild<CardTreeControls *>();
        return controls->delegate()->iconAndLabelRect(*tvCard(), index).center();
    }

    // Drags the selected node from the tree onto the node with this label.
    void dropOnto(const QString &label)
    {
        auto *controls = main()->findChild<CardTreeControls *>();
        std::unique_ptr<QMimeData> mime(controls->dragDrop()->makeMimeData());
        const QPoint at = labelPoint(label);
        QWidget *viewport = tvCard()->viewport();
        QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
        QDropEvent drop(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
    }

    QTemporaryDir folder;
    DataFiles files;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray{true};
    std::unique_ptr<Session> session;
};

enum class Outcome {
    Changed,      // the tree changed; the close writes the change
    RaisedAnyway, // a rule raises Modified without a change; the close writes the file
    ReadOnly,     // nothing changes and Modified stays lowered; the close writes nothing
};

struct EditPath
{
    const char *name;
    Outcome outcome;
    // Lines the data file holds one after the other afterwards; may be empty.
    QStringList expectedLines;
    std::function<void(EditWindow &)> run;
    // A label no node of the data file bears afterwards; may be empty.
    QString goneLabel = {};
};

const QString Reserved = QStringLiteral("未分类的名片");
// The fields 2 to 13 of the card 张三.
const QStringList ZhangSan = {QStringLiteral("经理"),
                              "Abc",
                              QStringLiteral("北京"),
                              "010",
                              "011",
                              "139",
                              "100",
                              "x.cn",
                              "123",
                              "z@msn",
                              "z@x.cn",
                              "o"};
// The fields 2 to 13 of the card 赵六: other information full to 255 bytes.
const QStringList ZhaoLiu = {{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, QString(255, u'o')};

bool holdsInOrder(const QStringList &lines, const QStringList &run)
{
    for (qsizetype at = 0; at + run.size() <= lines.size(); ++at) {
        if (lines.mid(at, run.size()) == run)
            return true;
    }
    return run.isEmpty();
}

std::vector<EditPath> editPaths()
{
    std::vector<EditPath> paths = {
        {"add card by the toolbar, named",
         Outcome::Changed,
         {line(0, QStringLiteral("客户"), 0), line(1, QStringLiteral("李四"), 1), line(1, QStringLiteral("王五"), 1),
          line(1, QStringLiteral("孙八"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("客户"));
             w.clickToolButton("actAddCard");
             w.confirmLabel(QStringLiteral("孙八"));
         }},
        {"add card, name edit cancelled",
         Outcome::Changed,
         {line(1, QStringLiteral("王五"), 1), line(1, QStringLiteral("<新名片>"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("客户"));
             w.command("actAddCard")->trigger();
             w.cancelLabel();
         }},
        {"add card from the context menu",
         Outcome::Changed,
         {line(1, QStringLiteral("王五"), 1), line(1, QStringLiteral("<新名片>"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             w.chooseFromContextMenu(QStringLiteral("添加名片"));
             w.cancelLabel();
         }},
        {"add card class from the menu bar",
         Outcome::Changed,
         {line(2, QStringLiteral("赵六"), 1, ZhaoLiu), line(1, QStringLiteral("家人"), 0)},
         [](EditWindow &w) {
             w.select(QStringLiteral("朋友"));
             w.chooseFromMenuBar(QStringLiteral("名片管理"), QStringLiteral("添加类别"));
             w.confirmLabel(QStringLiteral("家人"));
         }},
        {"add card class at the top level",
         Outcome::Changed,
         {line(0, QStringLiteral("怪"), 7), line(0, QStringLiteral("<新类别>"), 0)},
         [](EditWindow &w) {
             w.select(Reserved);
             w.command("actAddCardClass")->trigger();
             w.cancelLabel();
         }},
        {"delete card",
         Outcome::Changed,
         {line(0, QStringLiteral("客户"), 0), line(1, QStringLiteral("王五"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             w.dialogs.answerQuestion(true);
             w.clickToolButton("actDeleteSomething");
         },
         QStringLiteral("李四")},
        {"delete empty card class",
         Outcome::Changed,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("空类"));
             w.dialogs.answerQuestion(true);
             w.command("actDeleteSomething")->trigger();
         },
         QStringLiteral("空类")},
        {"delete the cards of a card class",
         Outcome::Changed,
         {line(0, QStringLiteral("朋友"), 0), line(0, QStringLiteral("空类"), 0)},
         [](EditWindow &w) {
             w.select(QStringLiteral("朋友"));
             w.dialogs.answerQuestion(true);
             w.chooseFromContextMenu(QStringLiteral("删除"));
         },
         QStringLiteral("赵六")},
        {"rename card by its label",
         Outcome::Changed,
         {line(1, QStringLiteral("王六"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("王五"));
             w.command("actRename")->trigger();
             w.confirmLabel(QStringLiteral("王六"));
         }},
        {"rename card class by its label",
         Outcome::Changed,
         {line(0, QStringLiteral("老客户"), 0)},
         [](EditWindow &w) {
             w.select(QStringLiteral("客户"));
             w.chooseFromMenuBar(QStringLiteral("编辑"), QStringLiteral("重命名"));
             w.confirmLabel(QStringLiteral("老客户"));
         }},
        {"rename by a double-click",
         Outcome::Changed,
         {line(1, QStringLiteral("李五"), 1)},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             QTest::mouseDClick(w.tvCard()->viewport(), Qt::LeftButton, {}, w.labelPoint(QStringLiteral("李四")));
             QTRY_VERIFY(w.labelEditor());
             w.confirmLabel(QStringLiteral("李五"));
         }},
        {"drag card onto a card class",
         Outcome::Changed,
         {line(0, QStringLiteral("空类"), 0), line(1, QStringLiteral("张三"), 1, ZhangSan)},
         [](EditWindow &w) {
             w.select(QStringLiteral("张三"));
             w.dropOnto(QStringLiteral("空类"));
         }},
        {"drag card onto a card",
         Outcome::Changed,
         {line(0, Reserved, 0), line(1, QStringLiteral("王五"), 1), line(1, QStringLiteral("张三"), 1, ZhangSan)},
         [](EditWindow &w) {
             w.select(QStringLiteral("王五"));
             w.dropOnto(QStringLiteral("张三"));
         }},
        {"drag card class onto the reserved class",
         Outcome::Changed,
         {line(0, QStringLiteral("怪"), 7), line(0, QStringLiteral("同学"), 0),
          line(1, QStringLiteral("赵六"), 1, ZhaoLiu)},
         [](EditWindow &w) {
             w.select(QStringLiteral("同学"));
             w.dropOnto(Reserved);
         }},
        {"label edit started and cancelled",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             w.command("actRename")->trigger();
             w.cancelLabel();
         }},
        {"label confirmed unchanged",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             w.command("actRename")->trigger();
             w.confirmLabel(QStringLiteral("李四"));
         }},
        {"card class given a top-level label",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("同学"));
             w.command("actRename")->trigger();
             w.confirmLabel(QStringLiteral("客户"));
         }},
        {"drop of the reserved class",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(Reserved);
             w.dropOnto(QStringLiteral("客户"));
         }},
        {"drop onto itself",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("客户"));
             w.dropOnto(QStringLiteral("客户"));
         }},
        {"delete of an unknown kind",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("怪"));
             w.command("actDeleteSomething")->trigger();
         }},
        {"typing past a full field",
         Outcome::RaisedAnyway,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("赵六"));
             w.typeInto("edtOther", "p");
         }},
        {"selecting cards",
         Outcome::ReadOnly,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("张三"));
             w.select(QStringLiteral("朋友"));
             w.select(QStringLiteral("赵六"));
         }},
        {"delete answered No",
         Outcome::ReadOnly,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("李四"));
             w.dialogs.answerQuestion(false);
             w.command("actDeleteSomething")->trigger();
         }},
        {"typing into a card class",
         Outcome::ReadOnly,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("客户"));
             w.typeInto("edtDH", "5");
         }},
        {"mail, web, help, about and search",
         Outcome::ReadOnly,
         {},
         [](EditWindow &w) {
             w.select(QStringLiteral("张三"));
             for (const char *name : {"actSendMail", "actOpenMainPage", "actSoftHelp", "actAuthorMainPage",
                                      "actMailToAuthor", "actAbout", "actSearchCard"})
                 w.command(name)->trigger();
         }},
    };

    // Each of the thirteen editors, typed into for the card 张三.
    const char *editors[] = {"edtName", "edtTouXian", "edtDW", "edtDZ",  "edtDH",    "edtCZ",   "edtSJ",
                             "edtYB",   "edtWZ",      "edtQQ", "edtMSN", "edtEMail", "edtOther"};
    for (int tag = Field::First; tag <= Field::Last; ++tag) {
        QString label = QStringLiteral("张三");
        QStringList fields = ZhangSan;
        if (tag == Field::Name)
            label += QLatin1Char('9');
        else
            fields[tag - Field::TouXian] += QLatin1Char('9');
        const char *editor = editors[tag - 1];
        paths.push_back({editor, Outcome::Changed, {line(1, label, 1, fields)}, [editor](EditWindow &w) {
                             w.select(QStringLiteral("张三"));
                             w.typeInto(editor, "9");
                         }});
    }
    return paths;
}

} // namespace

class TestEditPaths : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyEditReachesTheDataFile_data()
    {
        QTest::addColumn<int>("path");
        const std::vector<EditPath> paths = editPaths();
        for (size_t i = 0; i < paths.size(); ++i)
            QTest::newRow(paths[i].name) << int(i);
    }

    void everyEditReachesTheDataFile()
    {
        QFETCH(int, path);
        const EditPath edit = editPaths().at(size_t(path));
        EditWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(w.main()));
        const QByteArray original = readFile(w.files.dataFile);
        const QStringList before = describeFile(w.files.dataFile);
        QCOMPARE(describe(w.main()->cardTree()), before);
        QVERIFY(!w.main()->isModified());

        edit.run(w);
        if (QTest::currentTestFailed())
            return;

        switch (edit.outcome) {
        case Outcome::Changed:
            QVERIFY(w.main()->isModified());
            QVERIFY(describe(w.main()->cardTree()) != before);
            break;
        case Outcome::RaisedAnyway:
            QVERIFY(w.main()->isModified());
            QCOMPARE(describe(w.main()->cardTree()), before);
            break;
        case Outcome::ReadOnly:
            QVERIFY(!w.main()->isModified());
            QCOMPARE(describe(w.main()->cardTree()), before);
            break;
        }
        const QStringList shown = describe(w.main()->cardTree());

        // Closing the window writes the tree only while Modified is raised.
        w.main()->close();
        QVERIFY(!w.main()->isVisible());
        QVERIFY(!w.main()->isModified());
        const QStringList written = describeFile(w.files.dataFile);
        QCOMPARE(written, shown);
        if (edit.outcome == Outcome::ReadOnly) {
            QCOMPARE(readFile(w.files.dataFile), original);
            QVERIFY(!QFileInfo::exists(w.files.backupFile));
        } else {
            QCOMPARE(readFile(w.files.backupFile), original); // a save ran
        }
        QVERIFY2(holdsInOrder(written, edit.expectedLines), qPrintable(written.join(QLatin1Char('\n'))));
        if (!edit.goneLabel.isEmpty()) {
            for (const QString &node : written)
                QVERIFY2(!node.contains(QLatin1Char(' ') + edit.goneLabel + QLatin1Char('|')), qPrintable(node));
        }
        QCOMPARE(w.dialogs.unscriptedCount(), 0);
    }

    void savedTreeIsNotWrittenAgainAfterItsRecordsAreReleased()
    {
        EditWindow w;
        w.select(QStringLiteral("李四"));
        w.typeInto("edtDH", "7");
        w.dialogs.answerQuestion(true);
        w.session->quickSearch()->N1Click(); // the tray's exit entry, answered Yes
        const QByteArray saved = readFile(w.files.dataFile);
        const QStringList phone = {{}, {}, {}, QStringLiteral("7")}; // the fields from 2 on
        QVERIFY(describeFile(w.files.dataFile).contains(line(1, QStringLiteral("李四"), 1, phone)));
        // Releasing the records on the way out is a change of the tree, but
        // nothing may be written after it: not at log-off, not on another close.
        QVERIFY(w.main()->saveBeforeProcessEnd());
        QVERIFY(w.main()->FormCloseQuery());
        QCOMPARE(readFile(w.files.dataFile), saved);
    }

    void changeWhileTheSaveRunsKeepsModified()
    {
        EditWindow w;
        QTest::qWait(60); // the save's first node lets pending events run
        CardNode *card = w.node(QStringLiteral("王五"));
        QTimer::singleShot(0, w.main(), [&] { w.main()->cardTree().setField(card, Field::DH, "555"); });
        w.command("actSaveAll")->trigger();
        QCOMPARE(card->data()->field(Field::DH), QByteArrayView("555"));
        // The change came while the file was written: it may be missing from
        // the file, so the flag stays raised and the next save writes it.
        QVERIFY(w.main()->isModified());
        w.command("actSaveAll")->trigger();
        QVERIFY(!w.main()->isModified());
        const QStringList phone = {{}, {}, {}, QStringLiteral("555")}; // the fields from 2 on
        QVERIFY(describeFile(w.files.dataFile).contains(line(1, QStringLiteral("王五"), 1, phone)));
    }
};

QTEST_MAIN(TestEditPaths)
#include "tst_editpaths.moc"
