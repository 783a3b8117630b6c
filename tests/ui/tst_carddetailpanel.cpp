// The card detail panel: refill from the selected node, write-back of every
// editor into the selected card, Enter as Tab, and its printed-card layout.

#include "TreePanelHarness.h"

#include <QInputMethodEvent>
#include <QLabel>

#include <memory>

using namespace kelvo;
using namespace kelvo::testing;

class TestCardDetailPanel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TreePanelHarness> h;
    CardNode *cls = nullptr;
    CardNode *cardA = nullptr;
    CardNode *cardB = nullptr;

    QStringList editorTexts()
    {
        QStringList texts;
        for (int tag = Field::First; tag <= Field::Last; ++tag)
            texts << h->editor(tag)->text();
        return texts;
    }
    // Types `keys` at the end of the editor's text, one character at a time:
    // ASCII as key presses, anything else as an input method would commit it.
    void typeInto(int tag, const QString &keys)
    {
        QLineEdit *edit = h->editor(tag);
        edit->setFocus();
        edit->end(false);
        for (const QChar ch : keys) {
            if (ch.unicode() < 0x80) {
                QTest::keyClick(edit, ch.toLatin1());
            } else {
                QInputMethodEvent commit;
                commit.setCommitString(QString(ch));
                QCoreApplication::sendEvent(edit, &commit);
            }
        }
    }

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<TreePanelHarness>();
        h->addReserved();
        cls = h->addClass(nullptr, QStringLiteral("朋友"));
        cardA = h->addCard(cls, QStringLiteral("李四"),
                           {{Field::TouXian, QStringLiteral("经理")},
                            {Field::DH, QStringLiteral("010-1234")},
                            {Field::EMail, QStringLiteral("li@example.com")}});
        cardB = h->addCard(cls, QStringLiteral("王五"), {{Field::DW, QStringLiteral("某公司")}});
        h->modified = false; // the tree as built counts as saved
        h->show();
    }
    void cleanup() { h.reset(); }

    void refillShowsCardFields()
    {
        h->selectAndSettle(cardA);
        QStringList expected(13);
        expected[0] = QStringLiteral("李四");
        expected[1] = QStringLiteral("经理");
        expected[4] = QStringLiteral("010-1234");
        expected[11] = QStringLiteral("li@example.com");
        QCOMPARE(editorTexts(), expected);
        QVERIFY(!h->modified); // clean fields come out of a refill unchanged
    }

    void cardClassEmptiesEditorsAndStoresNothing()
    {
        h->selectAndSettle(cardA);
        h->modified = false;
        h->selectAndSettle(cls);
        QCOMPARE(editorTexts(), QStringList(13));
        typeInto(Field::Name, QStringLiteral("abc"));
        typeInto(Field::DH, QStringLiteral("123"));
        QCOMPARE(h->labelOf(cls), QStringLiteral("朋友"));
        QCOMPARE(h->fieldOf(cls, Field::Name), QStringLiteral("朋友"));
        QVERIFY(cls->data()->field(Field::DH).isEmpty());
        QVERIFY(!h->modified);
        // The typed text stays in the editors until the next refill.
        QCOMPARE(h->editor(Field::DH)->text(), QStringLiteral("123"));
    }

    void unknownKindShowsNothing()
    {
        CardNode *odd = h->addCard(cls, QStringLiteral("怪"), {{Field::DH, QStringLiteral("9")}});
        auto oddRecord = std::make_unique<TCardData>(*odd->data());
        oddRecord->Kind = 5;
        h->tree.attachRecord(odd, std::move(oddRecord));
        h->selectAndSettle(cardA);
        h->selectAndSettle(odd);
        QCOMPARE(editorTexts(), QStringList(13));
        typeInto(Field::DH, QStringLiteral("1"));
        QCOMPARE(h->fieldOf(odd, Field::DH), QStringLiteral("9"));
    }

    void switchingCardsKeepsEdits()
    {
        h->selectAndSettle(cardA);
        typeInto(Field::DZ, QStringLiteral("北京"));
        QVERIFY(h->modified);
        h->selectAndSettle(cardB);
        QVERIFY(h->modified); // not lowered by the refill
        QCOMPARE(h->fieldOf(cardA, Field::DZ), QStringLiteral("北京"));
        QCOMPARE(h->fieldOf(cardB, Field::DW), QStringLiteral("某公司"));
        QVERIFY(cardB->data()->field(Field::DZ).isEmpty());
        QCOMPARE(h->editor(Field::DZ)->text(), QString());
        h->modified = false;
        h->selectAndSettle(cardA);
        QCOMPARE(h->editor(Field::DZ)->text(), QStringLiteral("北京"));
        QVERIFY(!h->modified);
    }

    void typingNameFollowsLabelLive()
    {
        h->selectAndSettle(cardA);
        QLineEdit *name = h->editor(Field::Name);
        name->setFocus();
        name->selectAll();
        QTest::keyClick(name, Qt::Key_Z);
        QCOMPARE(h->labelOf(cardA), QStringLiteral("z"));
        QCOMPARE(h->fieldOf(cardA, Field::Name), QStringLiteral("z"));
        QTest::keyClick(name, Qt::Key_H);
        QCOMPARE(h->labelOf(cardA), QStringLiteral("zh"));
        QCOMPARE(h->model.data(h->indexOfNode(cardA)).toString(), QStringLiteral("zh"));
        QVERIFY(h->modified);

        // A trailing blank changes nothing stored.
        h->modified = false;
        QTest::keyClick(name, Qt::Key_Space);
        QCOMPARE(name->text(), QStringLiteral("zh "));
        QCOMPARE(h->fieldOf(cardA, Field::Name), QStringLiteral("zh"));
        QCOMPARE(h->labelOf(cardA), QStringLiteral("zh"));
        QVERIFY(!h->modified);

        // Clearing the name empties the record's name and the label.
        name->clear();
        QVERIFY(cardA->data()->field(Field::Name).isEmpty());
        QVERIFY(cardA->label().isEmpty());
        QVERIFY(h->modified);
    }

    void longTextIsCutAtCharacterBoundary_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("storedBytes");
        QTest::newRow("150 two-byte characters") << QString(150, QChar(0x4E2D)) << 254;
        QTest::newRow("300 ASCII bytes") << QString(300, QLatin1Char('x')) << 255;
        QTest::newRow("75 four-byte characters") << QString::fromUtf8("\xF0\x9F\x98\x80").repeated(75) << 252;
        QTest::newRow("one byte then two-byte characters") << QStringLiteral("a") + QString(150, QChar(0x6587)) << 255;
    }
    void longTextIsCutAtCharacterBoundary()
    {
        QFETCH(QString, typed);
        QFETCH(int, storedBytes);
        h->selectAndSettle(cardA);
        h->editor(Field::Other)->setText(typed);
        const QByteArrayView stored = cardA->data()->field(Field::Other);
        QCOMPARE(stored.size(), storedBytes);
        QVERIFY(gb18030::encode(typed).startsWith(stored));
        QVERIFY(typed.startsWith(gb18030::decode(stored)));
        // The stored and the typed text differ from now on: every change
        // counts, even one past the cut.
        h->modified = false;
        typeInto(Field::Other, QStringLiteral("y"));
        QVERIFY(h->modified);
        QCOMPARE(cardA->data()->field(Field::Other).size(), storedBytes);
    }

    void storedBlanksAreTrimmedOnShow()
    {
        CardNode *padded = h->addCard(cls, QStringLiteral(" 赵六 "), {{Field::DH, QStringLiteral("  5551234 ")}});
        h->selectAndSettle(cardA);
        h->modified = false;
        h->selectAndSettle(padded);
        QCOMPARE(h->editor(Field::DH)->text(), QStringLiteral("  5551234 "));
        QCOMPARE(h->fieldOf(padded, Field::DH), QStringLiteral("5551234"));
        QCOMPARE(h->fieldOf(padded, Field::Name), QStringLiteral("赵六"));
        QCOMPARE(h->labelOf(padded), QStringLiteral("赵六"));
        QVERIFY(h->modified);
    }

    void refillShowsSelectedNodeNotStaleReport()
    {
        h->selectAndSettle(cardA);
        h->selectNode(cardB);
        h->panel()->tvCardChange(cardA); // a late report about a node no longer selected
        QCOMPARE(h->editor(Field::Name)->text(), QStringLiteral("王五"));
        QCOMPARE(h->fieldOf(cardA, Field::Name), QStringLiteral("李四"));
    }

    void noSelectionKeepsEditorsAndWritesNothing()
    {
        h->selectAndSettle(cardA);
        h->view->selectionModel()->clear();
        h->panel()->tvCardChange(nullptr);
        QCOMPARE(h->editor(Field::Name)->text(), QStringLiteral("李四"));
        h->modified = false;
        typeInto(Field::Name, QStringLiteral("x"));
        QCOMPARE(h->fieldOf(cardA, Field::Name), QStringLiteral("李四"));
        QVERIFY(!h->modified);
    }

    void enterMovesToNextField_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to"); // 0: out of the panel
        QTest::newRow("name to title") << int(Field::Name) << int(Field::TouXian);
        QTest::newRow("postcode to web") << int(Field::YB) << int(Field::WZ);
        QTest::newRow("phone to fax") << int(Field::DH) << int(Field::CZ);
        QTest::newRow("other leaves the panel") << int(Field::Other) << 0;
    }
    void enterMovesToNextField()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        h->selectAndSettle(cardA);
        QLineEdit *edit = h->editor(from);
        edit->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        const QString before = h->fieldOf(cardA, from);
        QTest::keyClick(edit, Qt::Key_Return);
        if (to) {
            QTRY_COMPARE(QApplication::focusWidget(), h->editor(to));
        } else {
            QTRY_VERIFY(QApplication::focusWidget() != edit);
            for (int tag = Field::First; tag <= Field::Last; ++tag)
                QVERIFY(QApplication::focusWidget() != h->editor(tag));
        }
        QCOMPARE(h->fieldOf(cardA, from), before);
    }

    void editorsCarryTagsNamesAndTabOrder()
    {
        const char *names[] = {"edtName", "edtTouXian", "edtDW", "edtDZ",  "edtDH",    "edtCZ",   "edtSJ",
                               "edtYB",   "edtWZ",      "edtQQ", "edtMSN", "edtEMail", "edtOther"};
        QWidget *panel = h->panel();
        QWidget *expectedNext = nullptr;
        for (int tag = Field::First; tag <= Field::Last; ++tag) {
            auto *edit = panel->findChild<QLineEdit *>(QLatin1String(names[tag - 1]));
            QVERIFY2(edit, names[tag - 1]);
            QCOMPARE(edit, h->editor(tag));
            QCOMPARE(edit->property("Tag").toInt(), tag);
            QVERIFY(!edit->hasFrame());
            QVERIFY(!edit->accessibleName().isEmpty());
            QCOMPARE(edit->height(), CardDetailPanel::EditorHeight);
            QCOMPARE(h->panel()->caption(tag)->buddy(), edit);
            if (expectedNext)
                QCOMPARE(edit, expectedNext);
            // The next focusable widget in the chain is the next editor.
            QWidget *next = edit->nextInFocusChain();
            while (next && next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            expectedNext = next;
        }
        QVERIFY(panel->findChild<QFrame *>(QStringLiteral("Shape2")));
        auto *picture = panel->findChild<QLabel *>(QStringLiteral("Image1"));
        QVERIFY(picture);
        QCOMPARE(picture->geometry(), CardDetailPanel::PictureRect);
        QVERIFY(!picture->pixmap().isNull());
        QCOMPARE(picture->pixmap().size(), QSize(160, 120));
        QCOMPARE(h->panel()->caption(Field::Other)->text(), QStringLiteral("其他信息："));
    }
};

QTEST_MAIN(TestCardDetailPanel)
#include "tst_carddetailpanel.moc"
