// The program's three windows in Kelvo's own skin: the frame goes around the
// client sizes, each caption has only its window's buttons, names stay and
// the keyboard's focus order does not change.

#include "FakeTrayIcon.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "Session.h"
#include "SkinStyle.h"
#include "SkinWindowFrame.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"
#include "TfrmQuickSearch.h"
#include "tst_searchsupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLayout>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

struct Fixture
{
    QTemporaryDir folder;
    RecordingDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray{true};
    Session session{Session::Services{dialogs, shell, tray, spreadsheet, DataFiles::inFolder(folder.path())}};
};

QWidget *windowOf(Session &session, int which)
{
    switch (which) {
    case 0:
        return session.mainWindow();
    case 1:
        return session.progressWindow();
    default:
        return session.quickSearch();
    }
}

// The widgets the Tab key reaches, in order, by object name.
QStringList focusChain(QWidget *window)
{
    QStringList names;
    QWidget *w = window;
    for (int guard = 0; guard < 500; ++guard) {
        w = w->nextInFocusChain();
        if (w == window)
            break;
        if ((w->focusPolicy() & Qt::TabFocus) && w->window() == window)
            names << w->objectName();
    }
    return names;
}

} // namespace

class TestSkinnedWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsInTheSkin_data();
    void windowsInTheSkin();
};

void TestSkinnedWindows::windowsInTheSkin_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("frmMain") << 0 << QStringList{QStringLiteral("关闭"), QStringLiteral("最小化")};
    QTest::newRow("frmProgress") << 1 << QStringList{};
    QTest::newRow("frmQuickSearch") << 2 << QStringList{QStringLiteral("关闭")};
}

void TestSkinnedWindows::windowsInTheSkin()
{
    QFETCH(int, which);
    QFETCH(QStringList, buttons);
    Fixture f;
    QWidget *window = windowOf(f.session, which);
    const QSize client = window->size();
    const QString name = window->objectName();
    const QStringList chain = focusChain(window);
    QVERIFY(f.session.applySkin());
    QVERIFY(qobject_cast<SkinStyle *>(QApplication::style()));

    auto *frame = window->findChild<SkinWindowFrame *>();
    QVERIFY(frame);
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window->contentsRect().size(), client);
    QVERIFY(window->size().width() > client.width() && window->size().height() > client.height());
    QCOMPARE(window->objectName(), name);
    QCOMPARE(focusChain(window), chain);
    // Every child, placed by hand or by a layout, is inside the frame.
    if (window->layout())
        window->layout()->activate();
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child != frame->caption() && child->isVisibleTo(window) && !child->isWindow())
            QVERIFY2(window->contentsRect().contains(child->geometry()), qPrintable(child->objectName()));
    }
    QStringList names;
    for (QToolButton *button : frame->caption()->findChildren<QToolButton *>()) {
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->role(), QAccessible::Button);
        names << button->accessibleName();
    }
    names.sort();
    QCOMPARE(names, buttons);

    // For a look at the windows: their pictures in the build folder.
    if (which == 1) {
        f.session.progressWindow()->ShowSaveProgress(10);
        for (int i = 0; i < 4; ++i)
            f.session.progressWindow()->StepProgress();
        f.session.progressWindow()->RefreshProgress();
    }
    window->grab().save(QStringLiteral(KELVO_TEST_OUTPUT_DIR "/skinned-%1.png").arg(name));
}

QTEST_MAIN(TestSkinnedWindows)
#include "tst_skinnedwindows.moc"
