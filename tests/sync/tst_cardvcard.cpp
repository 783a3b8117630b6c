// The sync's vCard mapping: a server copy patched with this computer's
// fields keeps every other line, reads back with the new content, and a new
// card reads back as it was.

#include "CardVCard.h"

#include <QTest>

using namespace kelvo;
using namespace kelvo::sync;

namespace {

const QByteArray PhoneCopy = "BEGIN:VCARD\r\n"
                             "VERSION:3.0\r\n"
                             "PRODID:-//Phone//EN\r\n"
                             "UID:phone-9\r\n"
                             "FN:Old Name\r\n"
                             "N:Name;Old;;;\r\n"
                             "item1.TEL;TYPE=CELL:139 0000\r\n"
                             "item1.X-ABLabel:mobile\r\n"
                             "TEL;TYPE=HOME:010-999\r\n"
                             "TEL;TYPE=WORK,VOICE:010-111\r\n"
                             "ADR;TYPE=WORK:;;Old Street 1;City;;100000;CN\r\n"
                             "NOTE;ENCODING=QUOTED-PRINTABLE:old =\r\nnote\r\n"
                             "X-CUSTOM;X-A=\"a:b\":keep me\r\n"
                             "CATEGORIES:Friends,VIP\r\n"
                             "END:VCARD\r\n";

} // namespace

class TestCardVCard : public QObject
{
    Q_OBJECT

private slots:
    void patchRewritesOnlyWhatChanged_data()
    {
        QTest::addColumn<int>("field"); // 0: the class
        QTest::addColumn<QString>("value");
        QTest::addColumn<QList<QByteArray>>("gone");  // lines no longer there
        QTest::addColumn<QList<QByteArray>>("there"); // lines there now

        using L = QList<QByteArray>;
        QTest::newRow("name: FN and N") << 1 << QStringLiteral("新名字") << L{"FN:Old Name", "N:Name;Old;;;"}
                                      << L{"FN:新名字", "N:新名字;;;;"};
        QTest::newRow("work phone, the home one stays") << 5 << QStringLiteral("020-222") << L{"TEL;TYPE=WORK,VOICE:010-111"}
                                                        << L{"TEL;TYPE=WORK,VOICE:020-222", "TEL;TYPE=HOME:010-999"};
        QTest::newRow("mobile keeps its label group") << 7 << QStringLiteral("138 1111") << L{"item1.TEL;TYPE=CELL:139 0000"}
                                                      << L{"item1.TEL;TYPE=CELL:138 1111", "item1.X-ABLabel:mobile"};
        QTest::newRow("postcode rewrites the address") << 8 << QStringLiteral("200000")
                                                       << L{"ADR;TYPE=WORK:;;Old Street 1;City;;100000;CN"}
                                                       << L{"ADR;TYPE=WORK:;;"};
        QTest::newRow("note: no quoted-printable written") << 13 << QStringLiteral("a, b; c")
                                                           << L{"NOTE;ENCODING=QUOTED-PRINTABLE:old ="}
                                                           << L{"NOTE:a\\, b\\; c"};
        QTest::newRow("emptied: the line goes") << 5 << QString() << L{"TEL;TYPE=WORK,VOICE:010-111"} << L{"TEL;TYPE=HOME:010-999"};
        QTest::newRow("new field: a line before the end") << 12 << QStringLiteral("a@b.cn") << L{}
                                                           << L{"EMAIL;TYPE=INTERNET:a@b.cn\r\nEND:VCARD"};
        QTest::newRow("class: the known category gives way")
            << 0 << QStringLiteral("客户/北京, 朝阳") << L{"CATEGORIES:Friends,VIP"} << L{"CATEGORIES:客户/北京\\, 朝阳,VIP"};
    }
    void patchRewritesOnlyWhatChanged()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QFETCH(QList<QByteArray>, gone);
        QFETCH(QList<QByteArray>, there);
        const ServerCard base = ReadServerCard(PhoneCopy, {QStringLiteral("Friends")});
        QVERIFY(base.readable);
        QCOMPARE(base.content.classPath, QStringList{QStringLiteral("Friends")});
        CardContent content = base.content;
        if (field == 0)
            content.classPath = value.split(u'/');
        else
            content.fields[size_t(field - 1)] = value;
        const QByteArray patched = PatchVCard(PhoneCopy, base.content, content, QStringLiteral("unused"));
        for (const QByteArray &line : gone)
            QVERIFY2(!patched.contains(line + "\r\n"), line.constData());
        for (const QByteArray &line : there)
            QVERIFY2(patched.contains(line), patched.constData());
        for (const QByteArray &kept : {QByteArray("PRODID:-//Phone//EN\r\n"), QByteArray("UID:phone-9\r\n"),
                                       QByteArray("X-CUSTOM;X-A=\"a:b\":keep me\r\n")})
            QVERIFY(patched.contains(kept));
        QVERIFY(!patched.contains("UID:unused"));
        const ServerCard back = ReadServerCard(patched, {QStringLiteral("Friends"), value.split(u'/').join(u'/')});
        if (field == Field::DH && value.isEmpty())
            content.fields[Field::DH - 1] = QStringLiteral("010-999"); // the phone the reader takes now
        QCOMPARE(back.content, content);
        // Nothing changed: the very bytes.
        QCOMPARE(PatchVCard(PhoneCopy, base.content, base.content, QStringLiteral("unused")), PhoneCopy);
    }

    void newCardsReadBack_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("3.0") << 3;
        QTest::newRow("4.0") << 4;
    }
    void newCardsReadBack()
    {
        QFETCH(int, version);
        CardContent content;
        for (int n = 1; n <= 13; ++n)
            content.fields[size_t(n - 1)] = QStringLiteral("值%1, ;\\").arg(n);
        content.fields[Field::YB - 1] = QStringLiteral("100000");
        content.classPath = {QStringLiteral("公司"), QStringLiteral("销售")};
        const QByteArray card = MakeVCard(content, QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"), version);
        QVERIFY(card.contains(version == 4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n"));
        QVERIFY(!card.contains("QUOTED-PRINTABLE"));
        const ServerCard back = ReadServerCard(card, {});
        QCOMPARE(back.uid, QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
        QCOMPARE(back.categories, QStringList{QStringLiteral("公司/销售")});
        QCOMPARE(back.content, content);
        // The reserved class goes out as no category and comes back as it.
        content.classPath = {ReservedClassName()};
        const ServerCard reserved = ReadServerCard(MakeVCard(content, QStringLiteral("x"), version), {});
        QVERIFY(reserved.categories.isEmpty());
        QCOMPARE(reserved.content.classPath, QStringList{ReservedClassName()});
    }
};

QTEST_GUILESS_MAIN(TestCardVCard)
#include "tst_cardvcard.moc"
