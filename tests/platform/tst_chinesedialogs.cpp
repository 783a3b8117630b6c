// The real message boxes and save dialogs, shown offscreen: every text on
// them is Chinese, with Qt's Chinese catalogue and without it.

#include "ChineseQtTexts.h"
#include "QtDialogs.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <memory>

using namespace kelvo;

namespace {

bool hasLatinLetter(const QString &text)
{
    static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
    return text.contains(latin);
}

// Runs `handle` on the next modal window once it is up (the box's exec()
// is running meanwhile). Waits at most a few seconds.
void whenModalShown(std::function<void(QWidget *)> handle)
{
    auto *timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, started, handle = std::move(handle)] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal && started->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        if (!modal)
            return;
        QPointer<QWidget> shown(modal);
        handle(modal);
        // A check that failed half-way must not leave the box open.
        if (shown && shown->isVisible()) {
            if (auto *dialog = qobject_cast<QDialog *>(shown.data()))
                dialog->reject();
            else
                shown->close();
        }
    });
    timer->start(10);
}

QList<QAbstractButton *> visibleButtons(QWidget *window)
{
    QList<QAbstractButton *> buttons;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(window))
            buttons.append(button);
    }
    return buttons;
}

QStringList buttonTexts(QWidget *window)
{
    QStringList texts;
    for (QAbstractButton *button : visibleButtons(window))
        texts.append(button->text());
    return texts;
}

void click(QWidget *window, const QString &text)
{
    for (QAbstractButton *button : visibleButtons(window)) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button %1 among %2").arg(text, buttonTexts(window).join(u','))));
}

// Every text the user can read on a window: its title, the labels, the
// buttons' texts and tooltips, the list headers.
QStringList readableTexts(QWidget *window)
{
    QStringList texts{window->windowTitle()};
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (!child->isVisibleTo(window))
            continue;
        if (auto *label = qobject_cast<QLabel *>(child))
            texts.append(label->text());
        if (auto *button = qobject_cast<QAbstractButton *>(child))
            texts.append(button->text());
        texts.append(child->toolTip());
        texts.append(child->accessibleName());
        if (auto *view = qobject_cast<QTreeView *>(child)) {
            for (int column = 0; view->model() && column < view->model()->columnCount(); ++column)
                texts.append(view->model()->headerData(column, Qt::Horizontal).toString());
        }
    }
    texts.removeAll(QString());
    return texts;
}

QStringList withLatinLetters(const QStringList &texts)
{
    QStringList found;
    for (const QString &text : texts) {
        if (hasLatinLetter(text))
            found.append(text);
    }
    return found;
}

} // namespace

class TestChineseDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void questionAndNoticesReadChinese_data();
    void questionAndNoticesReadChinese();
    void saveDialogReadsChinese_data();
    void saveDialogReadsChinese();
    void spreadsheetDialogKeepsQtsTitleInChinese_data();
    void spreadsheetDialogKeepsQtsTitleInChinese();
    void editorMenuReadsChinese_data();
    void editorMenuReadsChinese();
    void saveDialogOfTypeTakesTheChosenTypesSuffix_data();
    void saveDialogOfTypeTakesTheChosenTypesSuffix();
    void openDialogReadsChineseAndGivesTheChosenFiles_data();
    void openDialogReadsChineseAndGivesTheChosenFiles();

private:
    void addCatalogueRows();
    void installTexts();

    QTemporaryDir m_emptyFolder;
    std::unique_ptr<ChineseQtTexts> m_texts;
};

void TestChineseDialogs::init()
{
    QVERIFY(m_emptyFolder.isValid());
}

void TestChineseDialogs::cleanup()
{
    m_texts.reset();
}

void TestChineseDialogs::addCatalogueRows()
{
    QTest::addColumn<bool>("withQtCatalogue");
    QTest::newRow("Qt's catalogue") << true;
    QTest::newRow("without Qt's catalogue") << false;
}

void TestChineseDialogs::installTexts()
{
    QFETCH(bool, withQtCatalogue);
    const QString folder = withQtCatalogue ? ChineseQtTexts::installedCatalogueFolder() : m_emptyFolder.path();
    m_texts = std::make_unique<ChineseQtTexts>(*qApp, folder);
    // The project's install script puts the catalogue in place.
    QCOMPARE(m_texts->hasQtCatalogue(), withQtCatalogue);
}

void TestChineseDialogs::questionAndNoticesReadChinese_data()
{
    addCatalogueRows();
}

void TestChineseDialogs::questionAndNoticesReadChinese()
{
    installTexts();
    QtDialogs dialogs;

    QStringList shown;
    whenModalShown([&shown](QWidget *box) {
        shown = buttonTexts(box);
        click(box, QStringLiteral("否"));
    });
    QVERIFY(!dialogs.question(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("重要提示")));
    QCOMPARE(shown, QStringList({QStringLiteral("是"), QStringLiteral("否")}));

    whenModalShown([](QWidget *box) { click(box, QStringLiteral("是")); });
    QVERIFY(dialogs.question(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("重要提示")));

    QStringList caption;
    whenModalShown([&shown, &caption](QWidget *box) {
        shown = buttonTexts(box);
        caption = {box->windowTitle()};
        click(box, QStringLiteral("确定"));
    });
    dialogs.notice(nullptr, QStringLiteral("请选择名片"));
    QCOMPARE(shown, QStringList{QStringLiteral("确定")});
    QCOMPARE(caption, QStringList{QStringLiteral("Kelvo")});

    whenModalShown([&shown](QWidget *box) {
        shown = buttonTexts(box);
        click(box, QStringLiteral("确定"));
    });
    dialogs.error(nullptr, QStringLiteral("无法保存"));
    QCOMPARE(shown, QStringList{QStringLiteral("确定")});
}

void TestChineseDialogs::saveDialogReadsChinese_data()
{
    addCatalogueRows();
}

void TestChineseDialogs::saveDialogReadsChinese()
{
    installTexts();
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("旧结果")));
    QFile existing(folder.filePath(QStringLiteral("readme.txt")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("12345");
    existing.close();

    QtDialogs dialogs;
    QStringList texts;
    QStringList filters;
    QString proposed;
    QStringList fileRow;
    whenModalShown([&](QWidget *dialog) {
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        proposed = name->text();
        auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(fileDialog);
        fileDialog->setDirectory(folder.path());
        auto *files = dialog->findChild<QTreeView *>();
        QVERIFY(files && files->model());
        QAbstractItemModel *model = files->model();
        // The folder is read in the background: wait for its two entries.
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(files->rootIndex()), 2, 5000);
        for (int row = 0; row < 2; ++row) {
            const QModelIndex name = model->index(row, 0, files->rootIndex());
            if (name.data().toString() == QLatin1String("readme.txt")) {
                for (int column = 1; column < model->columnCount(); ++column)
                    fileRow.append(model->index(row, column, files->rootIndex()).data().toString());
            } else {
                QCOMPARE(model->index(row, 2, files->rootIndex()).data().toString(), QStringLiteral("文件夹"));
            }
        }
        texts = readableTexts(dialog);
        for (QComboBox *box : dialog->findChildren<QComboBox *>(QStringLiteral("fileTypeCombo"))) {
            for (int i = 0; i < box->count(); ++i)
                filters.append(box->itemText(i));
        }
        name->setText(QStringLiteral("结果"));
        click(dialog, QStringLiteral("保存"));
    });
    const std::optional<QString> chosen =
        dialogs.saveFileName(nullptr, QStringLiteral("保存查询结果"), QStringLiteral("*.txt"), QStringLiteral("txt"),
                             QStringLiteral("abc的查询结果"));

    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.constFirst(), QStringLiteral("保存查询结果"));
    QVERIFY2(withLatinLetters(texts).isEmpty(), qPrintable(withLatinLetters(texts).join(u" | ")));
    QVERIFY(texts.contains(QStringLiteral("保存")));
    QVERIFY(texts.contains(QStringLiteral("取消")));
    QCOMPARE(filters, QStringList{QStringLiteral("*.txt")});
    QCOMPARE(proposed, QStringLiteral("abc的查询结果"));
    // Size, type and date of a file: only the type names the suffix.
    QCOMPARE(fileRow.size(), 3);
    QVERIFY2(!hasLatinLetter(fileRow.at(0)) && !hasLatinLetter(fileRow.at(2)), qPrintable(fileRow.join(u" | ")));
    QCOMPARE(fileRow.at(1), QStringLiteral("TXT 文件"));
    // The default suffix is added to a name typed without one.
    QCOMPARE(chosen, std::optional<QString>(QDir(folder.path()).filePath(QStringLiteral("结果.txt"))));
}

void TestChineseDialogs::spreadsheetDialogKeepsQtsTitleInChinese_data()
{
    addCatalogueRows();
}

void TestChineseDialogs::spreadsheetDialogKeepsQtsTitleInChinese()
{
    installTexts();
    QtDialogs dialogs;
    QStringList texts;
    whenModalShown([&texts](QWidget *dialog) {
        texts = readableTexts(dialog);
        click(dialog, QStringLiteral("取消"));
    });
    const std::optional<QString> chosen =
        dialogs.saveFileName(nullptr, QString(), QStringLiteral("*.xlsx"), QStringLiteral("xlsx"), QString());
    QCOMPARE(chosen, std::nullopt);
    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.constFirst(), QStringLiteral("另存为"));
    QVERIFY2(withLatinLetters(texts).isEmpty(), qPrintable(withLatinLetters(texts).join(u" | ")));
}

void TestChineseDialogs::saveDialogOfTypeTakesTheChosenTypesSuffix_data()
{
    QTest::addColumn<bool>("withQtCatalogue");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first type") << true << 0 << QStringLiteral("名片") << QStringLiteral("名片.vcf");
    QTest::newRow("second type") << true << 1 << QStringLiteral("名片") << QStringLiteral("名片.csv");
    QTest::newRow("second type, without Qt's catalogue")
        << false << 1 << QStringLiteral("名片") << QStringLiteral("名片.csv");
    QTest::newRow("a name with a suffix keeps it")
        << true << 1 << QStringLiteral("名片.txt") << QStringLiteral("名片.txt");
}

void TestChineseDialogs::saveDialogOfTypeTakesTheChosenTypesSuffix()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    installTexts();
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QtDialogs dialogs;
    QStringList texts;
    QStringList filters;
    whenModalShown([&](QWidget *dialog) {
        auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(fileDialog);
        fileDialog->setDirectory(folder.path());
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        for (int i = 0; i < types->count(); ++i)
            filters.append(types->itemText(i));
        // As the user picks a type from the list.
        types->setCurrentIndex(type);
        emit types->activated(type);
        emit types->textActivated(types->itemText(type));
        texts = readableTexts(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(typed);
        click(dialog, QStringLiteral("保存"));
    });
    const std::optional<SaveFileChoice> chosen = dialogs.saveFileOfType(
        nullptr, QStringLiteral("导出名片"), {QStringLiteral("vCard 文件 (*.vcf)"), QStringLiteral("CSV 文件 (*.csv)")},
        {QStringLiteral("vcf"), QStringLiteral("csv")}, QStringLiteral("张三.vcf"));
    QCOMPARE(filters, QStringList({"vCard 文件 (*.vcf)", "CSV 文件 (*.csv)"}));
    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.constFirst(), QStringLiteral("导出名片"));
    QVERIFY2(withLatinLetters(texts).isEmpty(), qPrintable(withLatinLetters(texts).join(u" | ")));
    QVERIFY(chosen);
    QCOMPARE(chosen->path, QDir(folder.path()).filePath(expected));
    QCOMPARE(chosen->type, type);
}

void TestChineseDialogs::openDialogReadsChineseAndGivesTheChosenFiles_data()
{
    addCatalogueRows();
}

void TestChineseDialogs::openDialogReadsChineseAndGivesTheChosenFiles()
{
    installTexts();
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const char *name : {"a.vcf", "b.csv"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QtDialogs dialogs;
    QStringList texts;
    whenModalShown([&](QWidget *dialog) {
        auto *fileDialog = qobject_cast<QFileDialog *>(dialog);
        QVERIFY(fileDialog);
        fileDialog->setDirectory(folder.path());
        texts = readableTexts(dialog);
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("\"a.vcf\" \"b.csv\""));
        click(dialog, QStringLiteral("打开"));
    });
    const QStringList chosen =
        dialogs.openFileNames(nullptr, QStringLiteral("导入名片"), QStringLiteral("名片文件 (*.vcf *.csv)"));
    QVERIFY(!texts.isEmpty());
    QCOMPARE(texts.constFirst(), QStringLiteral("导入名片"));
    QVERIFY2(withLatinLetters(texts).isEmpty(), qPrintable(withLatinLetters(texts).join(u" | ")));
    QCOMPARE(chosen, QStringList({folder.filePath(QStringLiteral("a.vcf")), folder.filePath(QStringLiteral("b.csv"))}));

    // Cancelled: no file.
    whenModalShown([](QWidget *dialog) { click(dialog, QStringLiteral("取消")); });
    QVERIFY(dialogs.openFileNames(nullptr, QStringLiteral("导入名片"), QStringLiteral("*.vcf")).isEmpty());
}

void TestChineseDialogs::editorMenuReadsChinese_data()
{
    addCatalogueRows();
}

void TestChineseDialogs::editorMenuReadsChinese()
{
    installTexts();
    QLineEdit editor;
    const std::unique_ptr<QMenu> menu(editor.createStandardContextMenu());
    QStringList entries;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator())
            continue;
        // Without the key (after the tab) and the mnemonic "(&C)".
        QString entry = action->text().section(u'\t', 0, 0);
        entry.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
        entries.append(entry);
    }
    QCOMPARE(
        entries,
        QStringList({QStringLiteral("撤消"), QStringLiteral("重做"), QStringLiteral("剪切"), QStringLiteral("复制"),
                     QStringLiteral("粘贴"), QStringLiteral("删除"), QStringLiteral("全选")}));
}

QTEST_MAIN(TestChineseDialogs)
#include "tst_chinesedialogs.moc"
