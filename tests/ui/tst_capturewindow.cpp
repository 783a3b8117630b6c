// The capture window over results made here (the recogniser itself is tested
// in tests/capture), and the QR code window's save; with the scripted dialogs.
#include "CapturePicture.h"
#include "CardQrReading.h"
#include "TfrmCapture.h"
#include "TfrmCardQrCode.h"
#include "TreePanelHarness.h"

#include "DataFiles.h"
#include "FakeTrayIcon.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "Session.h"
#include "TfrmMain.h"

#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QPainter>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <tuple>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

// Reads nothing: records what it was asked and answers when the test says.
class ScriptedCapturer final : public CardCapturer
{
public:
    void start(const Request &request) override { requests.append(request); }
    void cancel() override { ++cancels; }
    void finish(const capture::CaptureResult &result) { emit finished(requests.constLast().path, result); }

    QList<Request> requests;
    int cancels = 0;
};

capture::CaptureResult resultOf(std::initializer_list<std::tuple<int, QString, int>> fields)
{
    capture::CaptureResult result;
    for (const auto &[n, text, confidence] : fields) {
        result.field(n).text = text;
        result.field(n).confidence = confidence;
        result.lines.append({text, confidence, QRect(20, 20 + 30 * int(result.lines.size()), 200, 24)});
        result.field(n).box = result.lines.constLast().box;
    }
    return result;
}

} // namespace

class TestCaptureWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fieldsFilledAndHighlighted_data();
    void fieldsFilledAndHighlighted();
    void clickOnABoxFillsTheFocusedEditor();
    void addPutsTheCardIntoTheClassAndRaisesModified();
    void emptyCardIsNotAdded();
    void similarCardIsOfferedForAnUpdate_data();
    void similarCardIsOfferedForAnUpdate();
    void skipPassesToTheNextPicture();
    void lateResultOfAnEarlierReadingIsDropped();
    void turningAndVerticalReadAgain();
    void removedTargetClassFallsBackToTheReservedClass();
    void unreadablePictureIsSaid();
    void picturesDroppedOntoTheTree_data();
    void picturesDroppedOntoTheTree();

    void toolsMenuCommands();
    void qrWindowSavesThePicture();
    void qrWindowSaveFailureIsShown();
    void qrWindowSaysWhenTheCodeIsCompact();

    void screenshotsOfBothWindows();

private:
    TfrmCapture *openWindow(CardNode *target, int pictures = 1);

    std::unique_ptr<TreePanelHarness> h;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_pictures;
    CardNode *m_clients = nullptr;
    CardNode *m_existing = nullptr;
    ScriptedCapturer *m_capturer = nullptr; // owned by the window
    std::unique_ptr<TfrmCapture> m_window;
};

void TestCaptureWindow::init()
{
    h = std::make_unique<TreePanelHarness>();
    h->addReserved();
    m_clients = h->addClass(nullptr, u"客户"_qs);
    m_existing = h->addCard(m_clients, u"张伟"_qs,
                            {{Field::DW, u"华夏公司"_qs},
                             {Field::SJ, u"139-1234-5678"_qs},
                             {Field::EMail, u"ZW@huaxia.cn"_qs},
                             {Field::DZ, u"北京"_qs}});
    h->modified = false;
    m_dir = std::make_unique<QTemporaryDir>();
    m_pictures.clear();
    for (int i = 0; i < 3; ++i) {
        QImage picture(400, 240, QImage::Format_RGB32);
        picture.fill(QColor(240, 240, 235));
        const QString path = m_dir->filePath(QStringLiteral("card%1.png").arg(i));
        QVERIFY(picture.save(path));
        m_pictures.append(path);
    }
}

void TestCaptureWindow::cleanup()
{
    m_window.reset();
    h.reset();
}

TfrmCapture *TestCaptureWindow::openWindow(CardNode *target, int pictures)
{
    auto capturer = std::make_unique<ScriptedCapturer>();
    m_capturer = capturer.get();
    m_window = std::make_unique<TfrmCapture>(*h, std::move(capturer), target, m_pictures.mid(0, pictures));
    m_window->show();
    m_window->start();
    return m_window.get();
}

void TestCaptureWindow::fieldsFilledAndHighlighted_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("confidence");
    QTest::addColumn<bool>("highlighted");

    QTest::newRow("name, sure: always checked") << int(Field::Name) << u"李娜"_qs << 99 << true;
    QTest::newRow("title, sure: always checked") << int(Field::TouXian) << u"经理"_qs << 97 << true;
    QTest::newRow("company, sure") << int(Field::DW) << u"某某公司"_qs << 95 << false;
    QTest::newRow("mobile at 92") << int(Field::SJ) << u"13800001111"_qs << 92 << false;
    QTest::newRow("phone at 91") << int(Field::DH) << u"010-1234"_qs << 91 << true;
    QTest::newRow("address unsure") << int(Field::DZ) << u"北京市"_qs << 60 << true;
    QTest::newRow("empty web address") << int(Field::WZ) << QString() << -1 << true;
}

void TestCaptureWindow::fieldsFilledAndHighlighted()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(int, confidence);
    QFETCH(bool, highlighted);
    TfrmCapture *window = openWindow(m_clients);
    QCOMPARE(m_capturer->requests.size(), 1);
    QCOMPARE(m_capturer->requests.at(0).path, m_pictures.at(0));
    QVERIFY(!window->findChild<QPushButton *>(u"btnAdd"_qs)->isEnabled()); // while reading
    capture::CaptureResult result = resultOf({{Field::Name, u"李娜"_qs, 99}});
    result.field(field).text = text;
    result.field(field).confidence = confidence;
    m_capturer->finish(result);
    QCOMPARE(window->editor(field)->text(), text);
    QCOMPARE(window->isHighlighted(field), highlighted);
    QCOMPARE(window->editor(field)->property("needsCheck").toBool(), highlighted);
    QCOMPARE(window->editor(field)->palette().color(QPalette::Base) != window->palette().color(QPalette::Base),
             highlighted);
    QVERIFY(window->findChild<QPushButton *>(u"btnAdd"_qs)->isEnabled());
}

void TestCaptureWindow::clickOnABoxFillsTheFocusedEditor()
{
    TfrmCapture *window = openWindow(m_clients);
    QVERIFY(QTest::qWaitForWindowActive(window));
    capture::CaptureResult result = resultOf({{Field::Name, u"王芳"_qs, 95}, {Field::Other, u"13712345678"_qs, 70}});
    m_capturer->finish(result);
    window->editor(Field::SJ)->setFocus();
    QTRY_VERIFY(window->editor(Field::SJ)->hasFocus());
    CapturePicture *picture = window->picture();
    const QRect box = result.lines.at(1).box;
    QTest::mouseClick(picture, Qt::LeftButton, {}, picture->toWidget(QPointF(box.center())).toPoint());
    QCOMPARE(window->editor(Field::SJ)->text(), u"13712345678"_qs);
    QVERIFY(window->editor(Field::SJ)->hasFocus());
    // Outside every box nothing changes.
    QTest::mouseClick(picture, Qt::LeftButton, {}, picture->toWidget(QPointF(350, 220)).toPoint());
    QCOMPARE(window->editor(Field::SJ)->text(), u"13712345678"_qs);
    // With the focus on a button, the editor that had it last takes the text.
    window->findChild<QPushButton *>(u"btnRotateLeft"_qs)->setFocus();
    QTRY_VERIFY(!window->editor(Field::SJ)->hasFocus());
    QTest::mouseClick(picture, Qt::LeftButton, {}, picture->toWidget(QPointF(result.lines.at(0).box.center())).toPoint());
    QCOMPARE(window->editor(Field::SJ)->text(), u"王芳"_qs);
}

void TestCaptureWindow::addPutsTheCardIntoTheClassAndRaisesModified()
{
    TfrmCapture *window = openWindow(m_clients);
    m_capturer->finish(resultOf({{Field::Name, u"李娜"_qs, 99},
                                 {Field::DW, u"某某公司"_qs, 95},
                                 {Field::SJ, u"13800001111"_qs, 96}}));
    window->editor(Field::TouXian)->setText(u"  销售总监 "_qs); // corrected by the user
    QSignalSpy stored(window, &TfrmCapture::cardStored);
    QTest::mouseClick(window->findChild<QPushButton *>(u"btnAdd"_qs), Qt::LeftButton);
    QCOMPARE(stored.size(), 1);
    QVERIFY(h->modified);
    QCOMPARE(m_clients->childCount(), 2);
    CardNode *added = m_clients->child(1);
    QVERIFY(added->isCard());
    QCOMPARE(h->labelOf(added), u"李娜"_qs);
    QCOMPARE(h->fieldOf(added, Field::TouXian), u"销售总监"_qs);
    QCOMPARE(h->fieldOf(added, Field::DW), u"某某公司"_qs);
    QCOMPARE(h->fieldOf(added, Field::SJ), u"13800001111"_qs);
    QCOMPARE(added->imageIndex(), 1);
    QCOMPARE(h->selectedNode(), added);
    QVERIFY(h->scripted.shown().isEmpty()); // no similar card, no question
    QVERIFY(!window->isVisible());          // the only picture is done
}

void TestCaptureWindow::emptyCardIsNotAdded()
{
    TfrmCapture *window = openWindow(m_clients);
    m_capturer->finish(capture::CaptureResult{});
    window->btnAddClick();
    QCOMPARE(m_clients->childCount(), 1);
    QVERIFY(!h->modified);
    QCOMPARE(h->noticeTexts().size(), 1);
    QVERIFY(window->isVisible());
}

void TestCaptureWindow::similarCardIsOfferedForAnUpdate_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("company");
    QTest::addColumn<bool>("similar");
    QTest::addColumn<bool>("answer");

    QTest::newRow("same mobile, other writing, update") << int(Field::SJ) << u"+86 13912345678"_qs << QString()
                                                        << true << true;
    QTest::newRow("same mobile, add a second card") << int(Field::SJ) << u"13912345678"_qs << QString() << true
                                                    << false;
    QTest::newRow("same e-mail, letter case aside") << int(Field::EMail) << u"zw@HUAXIA.cn"_qs << QString() << true
                                                    << true;
    QTest::newRow("same name and company") << int(Field::Other) << u"x"_qs << u"华夏公司"_qs << true << true;
    QTest::newRow("same name, other company") << int(Field::Other) << u"x"_qs << u"别的公司"_qs << false << false;
    QTest::newRow("other mobile") << int(Field::SJ) << u"13912345679"_qs << QString() << false << false;
}

void TestCaptureWindow::similarCardIsOfferedForAnUpdate()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, company);
    QFETCH(bool, similar);
    QFETCH(bool, answer);
    TfrmCapture *window = openWindow(m_clients);
    capture::CaptureResult result = resultOf({{Field::Name, u"张伟"_qs, 99}, {Field::TouXian, u"总经理"_qs, 95}});
    result.field(field).text = text;
    result.field(field).confidence = 95;
    result.field(Field::DW).text = company;
    m_capturer->finish(result);
    h->scripted.answerQuestion(answer);
    window->btnAddClick();

    const QStringList questions = h->scripted.texts(ScriptedDialogs::Kind::Question);
    QCOMPARE(questions.size(), similar ? 1 : 0);
    QVERIFY(h->modified);
    if (similar && answer) {
        QVERIFY(questions.at(0).contains(u"张伟（华夏公司）"_qs));
        QCOMPARE(m_clients->childCount(), 1); // no second card
        QCOMPARE(h->fieldOf(m_existing, Field::TouXian), u"总经理"_qs);
        QCOMPARE(h->fieldOf(m_existing, field), text);
        QCOMPARE(h->fieldOf(m_existing, Field::DZ), u"北京"_qs); // not captured: kept
        QCOMPARE(h->selectedNode(), m_existing);
    } else {
        QCOMPARE(m_clients->childCount(), 2);
        QCOMPARE(h->fieldOf(m_existing, Field::TouXian), QString()); // untouched
        QCOMPARE(h->fieldOf(m_clients->child(1), Field::TouXian), u"总经理"_qs);
    }
    if (!similar)
        h->scripted.clear(); // the scripted answer was not asked for
    QCOMPARE(h->scripted.unscriptedCount(), 0);
}

void TestCaptureWindow::skipPassesToTheNextPicture()
{
    TfrmCapture *window = openWindow(m_clients, 3);
    QVERIFY(window->statusText().contains(u"第1张，共3张"_qs));
    m_capturer->finish(resultOf({{Field::Name, u"甲"_qs, 99}}));
    window->btnSkipClick();
    QCOMPARE(m_capturer->requests.size(), 2);
    QCOMPARE(m_capturer->requests.at(1).path, m_pictures.at(1));
    QVERIFY(window->statusText().contains(u"第2张，共3张"_qs));
    QCOMPARE(window->editor(Field::Name)->text(), QString()); // cleared for the next picture
    m_capturer->finish(resultOf({{Field::Name, u"乙"_qs, 99}}));
    window->btnAddClick();
    QCOMPARE(m_capturer->requests.size(), 3);
    QCOMPARE(m_clients->childCount(), 2);
    QCOMPARE(h->labelOf(m_clients->child(1)), u"乙"_qs);
    m_capturer->finish(resultOf({{Field::Name, u"丙"_qs, 99}}));
    window->btnSkipClick();
    QVERIFY(!window->isVisible());
    QCOMPARE(m_clients->childCount(), 2);
}

void TestCaptureWindow::lateResultOfAnEarlierReadingIsDropped()
{
    TfrmCapture *window = openWindow(m_clients, 2);
    window->btnSkipClick(); // before the first result came
    emit m_capturer->finished(m_pictures.at(0), resultOf({{Field::Name, u"甲"_qs, 99}}));
    QCOMPARE(window->editor(Field::Name)->text(), QString());
    m_capturer->finish(resultOf({{Field::Name, u"乙"_qs, 99}}));
    QCOMPARE(window->editor(Field::Name)->text(), u"乙"_qs);
}

void TestCaptureWindow::turningAndVerticalReadAgain()
{
    TfrmCapture *window = openWindow(m_clients);
    QCOMPARE(m_capturer->requests.at(0).rotation, -1);
    QCOMPARE(m_capturer->requests.at(0).layout, CardCapturer::Request::Layout::Auto);
    capture::CaptureResult first = resultOf({{Field::Name, u"甲"_qs, 99}});
    first.rotation = 90; // the reader turned it upright
    m_capturer->finish(first);
    QCOMPARE(window->picture()->picture().size(), QSize(240, 400));
    QTest::mouseClick(window->findChild<QPushButton *>(u"btnRotateRight"_qs), Qt::LeftButton);
    QCOMPARE(m_capturer->requests.size(), 2);
    QCOMPARE(m_capturer->requests.at(1).rotation, 180);
    QCOMPARE(window->picture()->picture().size(), QSize(400, 240));
    QVERIFY(window->picture()->lines().isEmpty()); // the old frames are gone
    window->findChild<QCheckBox *>(u"chkVertical"_qs)->setChecked(true);
    QCOMPARE(m_capturer->requests.size(), 3);
    QCOMPARE(m_capturer->requests.at(2).layout, CardCapturer::Request::Layout::Vertical);
    QCOMPARE(m_capturer->requests.at(1).layout, CardCapturer::Request::Layout::Horizontal);
    QCOMPARE(m_capturer->requests.at(2).rotation, 180);
}

void TestCaptureWindow::removedTargetClassFallsBackToTheReservedClass()
{
    CardNode *other = h->addClass(nullptr, u"临时"_qs);
    TfrmCapture *window = openWindow(other);
    m_capturer->finish(resultOf({{Field::Name, u"赵六"_qs, 99}}));
    h->tree.deleteNode(other);
    QCOMPARE(window->targetClass(), nullptr);
    window->btnAddClick();
    CardNode *reserved = h->tree.firstTopLevel();
    QCOMPARE(h->labelOf(reserved), u"未分类的名片"_qs);
    QCOMPARE(reserved->childCount(), 1);
    QCOMPARE(h->labelOf(reserved->child(0)), u"赵六"_qs);
}

void TestCaptureWindow::unreadablePictureIsSaid()
{
    TfrmCapture *window = openWindow(m_clients);
    capture::CaptureResult failed;
    failed.error = u"the picture is larger than 50 megapixels"_qs;
    m_capturer->finish(failed);
    QVERIFY(window->statusText().startsWith(u"无法识别图片“card0.png”"_qs));
    QVERIFY(window->statusText().contains(u"the picture is larger than 50 megapixels"_qs));
    QVERIFY(window->findChild<QPushButton *>(u"btnAdd"_qs)->isEnabled()); // the user may still type it
    QVERIFY(window->isHighlighted(Field::Name));
    QCOMPARE(m_clients->childCount(), 1);
}

void TestCaptureWindow::picturesDroppedOntoTheTree_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("ontoCard");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<bool>("taken"); // the drop is accepted

    QTest::newRow("two pictures onto a class") << QStringList{"a.png", "b.JPG"} << false << true << true;
    QTest::newRow("onto a card: its class") << QStringList{"a.jpeg"} << true << true << true;
    QTest::newRow("a picture and a text file") << QStringList{"a.png", "b.txt"} << false << true << false;
    QTest::newRow("no capture offered") << QStringList{"a.png"} << false << false << false;
}

void TestCaptureWindow::picturesDroppedOntoTheTree()
{
    QFETCH(QStringList, names);
    QFETCH(bool, ontoCard);
    QFETCH(bool, handled);
    QFETCH(bool, taken);
    QStringList files;
    for (const QString &name : names) {
        files.append(m_dir->filePath(name));
        QFile file(files.constLast());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    CardNode *gotClass = nullptr;
    QStringList gotFiles;
    if (handled) {
        h->dragDrop()->setPictureDropHandler([&](CardNode *targetClass, const QStringList &dropped) {
            gotClass = targetClass;
            gotFiles = dropped;
        });
    }
    h->show();
    h->view->expandAll();
    const QModelIndex index = h->indexOfNode(ontoCard ? m_existing : m_clients);
    const QPoint pos = h->view->visualRect(index).center();
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString &path : files)
        urls.append(QUrl::fromLocalFile(path));
    mime.setUrls(urls);
    QWidget *viewport = h->view->viewport();
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QDropEvent drop(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    QCOMPARE(drop.isAccepted(), taken);
    QCoreApplication::processEvents(); // handed on once the drop is over
    QCOMPARE(gotClass, taken ? m_clients : nullptr);
    QCOMPARE(gotFiles, taken ? files : QStringList());
    QCOMPARE(m_clients->childCount(), 1); // nothing imported as a vCard or CSV
}

// The two commands of 工具 in a whole session: the open dialog's pictures
// go to the selected node's class; the QR code wants a card.
void TestCaptureWindow::toolsMenuCommands()
{
    ScriptedDialogs dialogs;
    RecordingShell shell;
    RecordingSpreadsheet spreadsheet;
    FakeTrayIcon tray(true);
    QList<ScriptedCapturer *> capturers;
    const auto factory = [&capturers]() -> std::unique_ptr<CardCapturer> {
        auto made = std::make_unique<ScriptedCapturer>();
        capturers.append(made.get());
        return made;
    };
    Session session(Session::Services{dialogs, shell, tray, spreadsheet, DataFiles::inFolder(m_dir->path()), factory});
    session.showMainWindow();
    TfrmMain *main = session.mainWindow();
    CardTree &tree = main->cardTree();
    CardNode *reserved = tree.firstTopLevel();
    auto record = MakeCardRecord();
    record->setField(Field::Name, gb(u"吴刚"_qs));
    CardNode *card = tree.addChild(reserved, gb(u"吴刚"_qs), std::move(record));

    QVERIFY(main->scanCardsCommand()->isEnabled());
    main->selectNode(card);
    dialogs.answerOpenFiles(m_pictures.mid(0, 2));
    main->scanCardsCommand()->trigger();
    QCOMPARE(dialogs.shown().constLast().kind, ScriptedDialogs::Kind::OpenFiles);
    auto *window = main->findChild<TfrmCapture *>();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->targetClass(), reserved);
    QCOMPARE(capturers.size(), 1);
    QCOMPARE(capturers.at(0)->requests.at(0).path, m_pictures.at(0));
    window->close();
    // A cancelled dialog opens nothing.
    main->scanCardsCommand()->trigger();
    QCOMPARE(capturers.size(), 1);

    main->selectNode(reserved);
    main->cardQrCodeCommand()->trigger();
    QCOMPARE(dialogs.texts(ScriptedDialogs::Kind::Notice).constLast(), u"请先在左边选中一张名片。"_qs);
    QVERIFY(!main->findChild<TfrmCardQrCode *>());
    main->selectNode(card);
    main->cardQrCodeCommand()->trigger();
    auto *qr = main->findChild<TfrmCardQrCode *>();
    QVERIFY(qr);
    QVERIFY(qr->isVisible());
    QVERIFY(!qr->code().compact);
    QVERIFY(qr->code().text.contains(u"FN:吴刚"_qs.toUtf8()));
}

void TestCaptureWindow::qrWindowSavesThePicture()
{
    h->addCard(m_clients, u"陈静"_qs, {{Field::TouXian, u"主任"_qs}, {Field::EMail, u"cj@x.cn"_qs}});
    const TCardData &card = *m_clients->child(1)->data();
    capture::CardQrCode code = capture::EncodeCardQr(card);
    QVERIFY(code.ok());
    TfrmCardQrCode window(h->scripted, u"陈静"_qs, code);
    window.show();
    QVERIFY(window.findChild<QLabel *>(u"imgQrCode"_qs));
    QCOMPARE(window.noteText(), u"用手机扫描二维码，即可把这张名片加入通讯录。"_qs);
    // The picture on screen is a code the reader reads.
    const std::optional<capture::QrCardFields> shown =
        capture::decodeCardQr(window.findChild<QLabel *>(u"imgQrCode"_qs)->pixmap().toImage());
    QVERIFY(shown.has_value());
    QCOMPARE(shown->at(0), u"陈静"_qs);

    const QString path = m_dir->filePath(u"陈静.png"_qs);
    h->scripted.answerSaveFile(path);
    QVERIFY(window.btnSavePictureClick());
    QCOMPARE(h->scripted.shown().at(0).kind, ScriptedDialogs::Kind::SaveFile);
    QCOMPARE(h->scripted.shown().at(0).caption, u"保存图片"_qs);
    QCOMPARE(h->scripted.shown().at(0).text, u"PNG 图片 (*.png)"_qs);
    const std::optional<capture::QrCardFields> saved = capture::decodeCardQr(QImage(path));
    QVERIFY(saved.has_value());
    QCOMPARE(saved->at(1), u"主任"_qs);
    QCOMPARE(saved->at(11), u"cj@x.cn"_qs);
    // Cancelled: nothing written.
    QFile::remove(path);
    h->scripted.cancelSaveFile();
    QVERIFY(!window.btnSavePictureClick());
    QVERIFY(!QFile::exists(path));
}

void TestCaptureWindow::qrWindowSaveFailureIsShown()
{
    TCardData card;
    card.Kind = Kind::Card;
    card.setField(Field::Name, gb(u"周敏"_qs));
    TfrmCardQrCode window(h->scripted, u"周敏"_qs, capture::EncodeCardQr(card));
    h->scripted.answerSaveFile(m_dir->filePath(u"no/such/folder/x.png"_qs));
    QVERIFY(!window.btnSavePictureClick());
    const QStringList errors = h->scripted.texts(ScriptedDialogs::Kind::Error);
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.at(0).startsWith(u"图片没有保存成功："_qs));
    QVERIFY(errors.at(0).contains(u"no/such/folder/x.png"_qs));
}

void TestCaptureWindow::qrWindowSaysWhenTheCodeIsCompact()
{
    QString address;
    for (int i = 0; i < 12; ++i)
        address += u"北京市海淀区中关村"_qs;
    QString other;
    for (int i = 0; i < 30; ++i)
        other += u"备注"_qs;
    CardNode *node = h->addCard(m_clients, u"欧阳"_qs, {{Field::DZ, address}, {Field::Other, other}, {Field::WZ, other}});
    capture::CardQrCode code = capture::EncodeCardQr(*node->data());
    QVERIFY(code.compact);
    TfrmCardQrCode window(h->scripted, u"欧阳"_qs, code);
    QVERIFY(window.noteText().contains(u"二维码中只有姓名、头衔、单位、电话、传真、手机和电子邮件"_qs));
}

// Pictures of both windows as a user sees them, with a card painted here and
// read by the real recogniser in its helper process; run under a real X
// server with KELVO_SCREENSHOT_DIR set (the README's picture comes from here).
void TestCaptureWindow::screenshotsOfBothWindows()
{
    const QString folder = qEnvironmentVariable("KELVO_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("KELVO_SCREENSHOT_DIR is not set");
    QImage card(1050, 600, QImage::Format_RGB32);
    card.fill(QColor(252, 250, 244));
    {
        QPainter painter(&card);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setPen(QColor(30, 30, 30));
        QFont font(u"Noto Sans CJK SC"_qs);
        const auto line = [&](int pixels, bool bold, int x, int y, const QString &text) {
            font.setPixelSize(pixels);
            font.setBold(bold);
            painter.setFont(font);
            painter.drawText(x, y, text);
        };
        line(40, true, 80, 110, u"北京华夏科技有限公司"_qs);
        line(64, true, 80, 240, u"张明远"_qs);
        line(34, false, 330, 240, u"销售总监"_qs);
        line(30, false, 80, 370, u"地址：北京市海淀区中关村大街1号"_qs);
        line(30, false, 80, 420, u"电话：010-62345678  传真：010-62345679"_qs);
        line(30, false, 80, 470, u"手机：139 1234 5678"_qs);
        line(30, false, 80, 520, u"邮箱：zhangmy@huaxia.com.cn"_qs);
    }
    const QString picture = m_dir->filePath(u"名片.png"_qs);
    QVERIFY(card.save(picture));

    TfrmCapture window(*h, makeProcessCardCapturer(), m_clients, {picture});
    window.show();
    window.start();
    QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QPushButton *>(u"btnAdd"_qs)->isEnabled(), 120000);
    window.editor(Field::TouXian)->setFocus();
    QTest::qWait(300);
    QVERIFY(window.grab().save(QDir(folder).filePath(u"capture-window.png"_qs)));

    TfrmCardQrCode qr(h->scripted, u"张伟"_qs, capture::EncodeCardQr(*m_existing->data()));
    qr.show();
    QTest::qWait(300);
    QVERIFY(qr.grab().save(QDir(folder).filePath(u"card-qr-window.png"_qs)));
}

QTEST_MAIN(TestCaptureWindow)
#include "tst_capturewindow.moc"
