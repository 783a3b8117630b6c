// Figures, not checks of speed: with 100,000 cards loaded into the main
// window, how long selecting a card and refilling the panel, adding a card,
// dragging a class of 1,000 cards and deleting a class of 1,000 cards take.
// Times are printed; only the results of the operations are verified.

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

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kelvo;

namespace {

constexpr int Classes = 100;
constexpr int CardsPerClass = 1000;

QByteArray hundredThousandCards()
{
    CardTree tree;
    CreateDefaultTree(tree);
    for (int c = 0; c < Classes; ++c) {
        const QByteArray className = "Class " + QByteArray::number(c);
        auto classRecord = MakeCardClassRecord();
        classRecord->setField(Field::Name, className);
        CardNode *cls = tree.addChild(nullptr, className, std::move(classRecord));
        for (int i = 0; i < CardsPerClass; ++i) {
            auto record = MakeCardRecord();
            const QByteArray name = gb18030::encode(QStringLiteral("名片 %1-%2").arg(c).arg(i));
            record->setField(Field::Name, name);
            record->setField(Field::TouXian, gb18030::encode(QStringLiteral("经理")));
            record->setField(Field::DW, gb18030::encode(QStringLiteral("某某科技有限公司")));
            record->setField(Field::DH, "010-" + QByteArray::number(60000000 + i));
            record->setField(Field::SJ, "139" + QByteArray::number(10000000 + c * CardsPerClass + i));
            record->setField(Field::EMail, "user" + QByteArray::number(i) + "@example.com");
            tree.addChild(cls, name, std::move(record));
        }
    }
    return SerializeTree(tree);
}

double ms(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

class TestTreePanelFigures : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    ScriptedDialogs m_dialogs;
    RecordingShell m_shell;
    RecordingSpreadsheet m_spreadsheet;
    FakeTrayIcon m_tray{true};
    std::unique_ptr<Session> m_session;

    TfrmMain *main() const { return m_session->mainWindow(); }
    CardTreeView *tvCard() const { return main()->findChild<CardTreeView *>(QStringLiteral("tvCard")); }
    QAction *command(const char *name) const { return main()->findChild<QAction *>(QLatin1String(name)); }
    CardTreeControls *controls() const { return main()->findChild<CardTreeControls *>(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const DataFiles files = DataFiles::inFolder(m_dir.path());
        QDir().mkpath(QFileInfo(files.dataFile).absolutePath());
        QFile file(files.dataFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(hundredThousandCards());
        file.close();
        m_session = std::make_unique<Session>(Session::Services{m_dialogs, m_shell, m_tray, m_spreadsheet, files});
        m_session->showMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(main()));
        QCOMPARE(main()->cardTree().count(), 1 + Classes * (CardsPerClass + 1));
    }
    void cleanupTestCase() { m_session.reset(); }

    void selectCardAndShowIt()
    {
        CardTree &tree = main()->cardTree();
        CardNode *card = tree.topLevel(58)->child(512); // top level 0 is the reserved class
        QSignalSpy changed(main(), &TfrmMain::tvCardChange);
        QElapsedTimer timer;
        timer.start();
        main()->selectNode(card);
        QCoreApplication::processEvents();
        main()->repaint(); // painted, not only laid out
        const double selecting = ms(timer);
        QVERIFY(changed.wait(2000));
        QCOMPARE(controls()->panel()->editor(Field::Name)->text(), QStringLiteral("名片 57-512"));
        // The refill on its own, for another card (the delayed report then finds nothing to change).
        CardNode *other = tree.topLevel(90)->child(3);
        main()->selectNode(other);
        QElapsedTimer refill;
        refill.start();
        controls()->panel()->tvCardChange(other);
        controls()->panel()->repaint();
        const double refilling = ms(refill);
        QCOMPARE(controls()->panel()->editor(Field::Name)->text(), QStringLiteral("名片 89-3"));
        qInfo("select a card: %.2f ms selecting and repainting, then %.2f ms refilling the panel after the "
              "50 ms delay",
              selecting, refilling);
    }

    void addCard()
    {
        CardTree &tree = main()->cardTree();
        CardNode *cls = tree.topLevel(12);
        main()->selectNode(cls);
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        command("actAddCard")->trigger();
        QCoreApplication::processEvents();
        main()->repaint(); // painted, not only laid out
        const double adding = ms(timer);
        QCOMPARE(cls->childCount(), CardsPerClass + 1);
        auto *editor = qobject_cast<QLineEdit *>(tvCard()->indexWidget(tvCard()->currentIndex()));
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Escape);
        qInfo("add a card to a class of 1,000: %.2f ms (label editor open)", adding);
    }

    void dragClassOfThousandCards()
    {
        CardTree &tree = main()->cardTree();
        CardNode *moved = tree.topLevel(30);
        CardNode *target = tree.topLevel(31);
        main()->selectNode(moved);
        tvCard()->collapse(main()->indexOfNode(moved));
        QCoreApplication::processEvents();
        const QModelIndex targetIndex = main()->indexOfNode(target);
        tvCard()->scrollTo(targetIndex);
        const QPoint at = controls()->delegate()->iconAndLabelRect(*tvCard(), targetIndex).center();
        std::unique_ptr<QMimeData> mime(controls()->dragDrop()->makeMimeData());
        QDragEnterEvent enter(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tvCard()->viewport(), &enter);
        QDropEvent drop(at, Qt::MoveAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QElapsedTimer timer;
        timer.start();
        QCoreApplication::sendEvent(tvCard()->viewport(), &drop);
        QCoreApplication::processEvents();
        main()->repaint(); // painted, not only laid out
        const double dragging = ms(timer);
        QCOMPARE(moved->parent(), target);
        QCOMPARE(moved->childCount(), CardsPerClass);
        qInfo("drop a class of 1,000 cards into another class: %.2f ms", dragging);
    }

    void deleteClassOfThousandCards()
    {
        CardTree &tree = main()->cardTree();
        CardNode *cls = tree.topLevel(70);
        main()->selectNode(cls);
        QCoreApplication::processEvents();
        const int before = tree.count();
        m_dialogs.answerQuestion(true);
        QElapsedTimer timer;
        timer.start();
        command("actDeleteSomething")->trigger();
        QCoreApplication::processEvents();
        main()->repaint(); // painted, not only laid out
        const double deleting = ms(timer);
        QCOMPARE(tree.count(), before - CardsPerClass);
        qInfo("delete the 1,000 cards of a class: %.2f ms", deleting);
    }
};

QTEST_MAIN(TestTreePanelFigures)
#include "tst_treepanelfigures.moc"
