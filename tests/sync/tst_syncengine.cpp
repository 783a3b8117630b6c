// The sync engine against an address book in memory: the decision table,
// the merge, conflict copies, classes, what the server keeps, the guard
// against mass deletion, interrupted runs and a lost state.

#include "SyncTestUtil.h"

#include <QTest>

using namespace kelvo;
using namespace kelvo::sync;
using namespace kelvo::sync::test;

namespace {

const QString Company = QStringLiteral("公司");

// Four synced cards: edits of one are never a mass change.
void seed(SyncFixture &f)
{
    f.addCard({Company}, QStringLiteral("张三"), {{Field::DH, QStringLiteral("010-1111")}, {Field::EMail, QStringLiteral("z@example.com")}});
    f.addCard({Company}, QStringLiteral("李四"), {{Field::SJ, QStringLiteral("13900000000")}});
    f.addCard({Company}, QStringLiteral("王五"));
    f.addCard({QStringLiteral("朋友")}, QStringLiteral("赵六"));
}

// What another device does to the server copy of `name`.
void serverEdit(SyncFixture &f, const QString &name, int n, const QString &text)
{
    const QString href = f.serverHref(name);
    const QByteArray copy = f.remote.resources[href].vcard;
    const CardContent before = ReadServerCard(copy, {}).content;
    CardContent after = before;
    after.fields[size_t(n - 1)] = text;
    f.remote.store(href, PatchVCard(copy, before, after, QString()));
}

} // namespace

class TestSyncEngine : public QObject
{
    Q_OBJECT

private slots:
    void firstSyncUploadsEveryCard()
    {
        SyncFixture f;
        seed(f);
        const SyncReport report = f.sync();
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        QCOMPARE(report.uploaded, 4);
        QCOMPARE(f.remote.resources.size(), 4);
        const ServerCard zhang = f.server().value(QStringLiteral("张三"));
        QCOMPARE(zhang.content.fields[Field::DH - 1], QStringLiteral("010-1111"));
        QCOMPARE(zhang.categories, QStringList{Company});
        // UID is the card's identity, lowercase; the href is <book>/<uid>.vcf.
        QCOMPARE(zhang.uid, IdentityText(f.ids->find(f.card(QStringLiteral("张三")))));
        QCOMPARE(f.serverHref(QStringLiteral("张三")), QStringLiteral("/user/book/") + zhang.uid + QStringLiteral(".vcf"));
        // A second run with nothing changed does nothing.
        const int requests = f.remote.creates + f.remote.updates + f.remote.removes;
        const SyncReport again = f.sync();
        QCOMPARE(again.uploaded + again.downloaded + again.updated + again.deleted, 0);
        QCOMPARE(f.remote.creates + f.remote.updates + f.remote.removes, requests);
        QCOMPARE(f.remote.fetched, 0);
    }

    // The run that creates a card asks for the changes since its own token
    // once more: only its own writes, and the next run goes on from the new
    // token; anything else, and the next run lists the whole book. Either
    // way a card deleted or changed by another device is seen.
    void tokenAfterCreates_data()
    {
        QTest::addColumn<bool>("netChanges");
        QTest::addColumn<QString>("during"); // what another device does right after the create
        QTest::addColumn<bool>("tokenHolds");
        for (const bool net : {false, true}) {
            const char *kind = net ? "net change lists" : "change logs";
            QTest::addRow("%s: nothing meanwhile", kind) << net << "" << true;
            QTest::addRow("%s: another card edited meanwhile", kind) << net << "edit-other" << false;
            QTest::addRow("%s: the new card deleted meanwhile", kind) << net << "delete-new" << false;
        }
    }
    void tokenAfterCreates()
    {
        QFETCH(bool, netChanges);
        QFETCH(QString, during);
        QFETCH(bool, tokenHolds);
        SyncFixture f;
        f.remote.netChanges = netChanges;
        seed(f);
        QVERIFY(f.sync().ok());
        QVERIFY(f.sync().ok()); // a run from a token
        f.addCard({Company}, QStringLiteral("新人"), {{Field::DH, QStringLiteral("010-7777")}});
        if (during == QLatin1String("edit-other"))
            f.remote.afterCreate = [&f](const QString &) { serverEdit(f, QStringLiteral("李四"), Field::DH, QStringLiteral("0731-1")); };
        else if (during == QLatin1String("delete-new"))
            f.remote.afterCreate = [&f](const QString &href) { f.remote.drop(href); };
        const SyncReport created = f.sync();
        QVERIFY2(created.ok(), qPrintable(created.stopped));
        QCOMPARE(created.uploaded, 1);
        QCOMPARE(f.state->book()->syncToken.isEmpty(), !tokenHolds);

        // Afterwards, another device deletes the new card when it is still there.
        if (during.isEmpty())
            f.remote.drop(f.serverHref(QStringLiteral("新人")));
        const int fullBefore = f.remote.fullListings;
        const SyncReport next = f.sync();
        QVERIFY2(next.ok(), qPrintable(next.stopped));
        QCOMPARE(f.remote.fullListings - fullBefore, tokenHolds ? 0 : 1);
        const bool editOther = during == QLatin1String("edit-other");
        QCOMPARE(f.cardCount(QStringLiteral("新人")), editOther ? 1 : 0);
        QCOMPARE(next.deleted, editOther ? 0 : 1);
        if (editOther)
            QCOMPARE(f.field(QStringLiteral("李四"), Field::DH), QStringLiteral("0731-1"));
        QVERIFY(!f.state->book()->syncToken.isEmpty());
    }

    void decisionTable_data()
    {
        QTest::addColumn<QString>("here");  // "", "edit", "delete"
        QTest::addColumn<QString>("there"); // "", "edit", "edit-other", "delete"
        QTest::addColumn<QString>("localPhone");  // "<no card>" when gone
        QTest::addColumn<QString>("serverPhone"); // "<no card>" when gone
        QTest::addColumn<QString>("localTitle");
        QTest::addColumn<int>("conflicts");

        QTest::newRow("unchanged") << "" << "" << "010-1111" << "010-1111" << "" << 0;
        QTest::newRow("changed here") << "edit" << "" << "020-2222" << "020-2222" << "" << 0;
        QTest::newRow("changed there") << "" << "edit" << "030-3333" << "030-3333" << "" << 0;
        QTest::newRow("deleted here") << "delete" << "" << "<no card>" << "<no card>" << "" << 0;
        QTest::newRow("deleted there") << "" << "delete" << "<no card>" << "<no card>" << "" << 0;
        QTest::newRow("changed here, deleted there") << "edit" << "delete" << "020-2222" << "020-2222" << "" << 0;
        QTest::newRow("deleted here, changed there") << "delete" << "edit" << "030-3333" << "030-3333" << "" << 0;
        QTest::newRow("deleted on both") << "delete" << "delete" << "<no card>" << "<no card>" << "" << 0;
        QTest::newRow("other fields on both: merged") << "edit" << "edit-other" << "020-2222" << "020-2222"
                                                      << "经理" << 0;
        QTest::newRow("same field on both: this computer wins") << "edit" << "edit" << "020-2222" << "020-2222"
                                                                << "" << 1;
    }
    void decisionTable()
    {
        QFETCH(QString, here);
        QFETCH(QString, there);
        QFETCH(QString, localPhone);
        QFETCH(QString, serverPhone);
        QFETCH(QString, localTitle);
        QFETCH(int, conflicts);
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        const QString name = QStringLiteral("张三");

        if (here == QLatin1String("edit"))
            f.setField(name, Field::DH, QStringLiteral("020-2222"));
        else if (here == QLatin1String("delete"))
            f.tree.deleteNode(f.card(name));
        if (there == QLatin1String("edit"))
            serverEdit(f, name, Field::DH, QStringLiteral("030-3333"));
        else if (there == QLatin1String("edit-other"))
            serverEdit(f, name, Field::TouXian, QStringLiteral("经理"));
        else if (there == QLatin1String("delete"))
            f.remote.drop(f.serverHref(name));

        const SyncReport report = f.sync();
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        QCOMPARE(report.conflicts, conflicts);
        QCOMPARE(f.field(name, Field::DH), localPhone);
        const QMap<QString, ServerCard> server = f.server();
        QCOMPARE(server.contains(name) ? server[name].content.fields[Field::DH - 1] : QStringLiteral("<no card>"),
                 serverPhone);
        if (localPhone != QLatin1String("<no card>"))
            QCOMPARE(f.field(name, Field::TouXian), localTitle);
        QCOMPARE(f.cardCount(name), (localPhone == QLatin1String("<no card>") ? 0 : 1) + conflicts);
        if (conflicts) {
            // The server's whole card is kept in the conflict class, never synced.
            CardNode *copy = nullptr;
            f.tree.forEach([&](CardNode *node) {
                if (node->isCard() && node->parent() && gb18030::decode(node->parent()->label()) == ConflictClassName())
                    copy = node;
            });
            QVERIFY(copy);
            QCOMPARE(gb18030::decode(copy->data()->field(Field::DH)), QStringLiteral("030-3333"));
            QVERIFY(report.conflictLines.first().contains(name));
            QCOMPARE(f.remote.resources.size(), 4);
        }
        // The two sides agree, and a further run changes nothing.
        const SyncReport settled = f.sync();
        QCOMPARE(settled.uploaded + settled.downloaded + settled.updated + settled.deleted + settled.conflicts, 0);
        QCOMPARE(f.remote.resources.size(), qsizetype(f.cardCount() - conflicts));
    }

    void serverCardsAreDownloadedIntoTheirClass_data()
    {
        QTest::addColumn<QByteArray>("categories");
        QTest::addColumn<QStringList>("path");
        QTest::newRow("none: the reserved class") << QByteArray() << QStringList{ReservedClassName()};
        QTest::newRow("a known class") << QByteArray("CATEGORIES:Other,公司\r\n") << QStringList{Company};
        QTest::newRow("an unknown one, made") << QByteArray("CATEGORIES:客户/北京\r\n")
                                               << QStringList{QStringLiteral("客户"), QStringLiteral("北京")};
    }
    void serverCardsAreDownloadedIntoTheirClass()
    {
        QFETCH(QByteArray, categories);
        QFETCH(QStringList, path);
        SyncFixture f;
        seed(f);
        f.classAt({ReservedClassName()});
        QVERIFY(f.sync().ok());
        f.remote.store(QStringLiteral("/user/book/phone-1.vcf"),
                       PhoneCard(QStringLiteral("phone-1"), QStringLiteral("钱七"), categories));
        const SyncReport report = f.sync();
        QCOMPARE(report.downloaded, 1);
        const CardNode *node = f.card(QStringLiteral("钱七"));
        QVERIFY(node);
        QCOMPARE(ContentOfNode(*node).classPath, path);
        // The server copy is left as it was (nothing to upload).
        QCOMPARE(f.remote.updates, 0);
    }

    void movesBetweenClassesAreUpdates()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        const QString href = f.serverHref(QStringLiteral("王五"));
        f.tree.moveNode(f.card(QStringLiteral("王五")), f.classAt({QStringLiteral("朋友")}), CardTree::MoveMode::AsLastChild);
        SyncReport report = f.sync();
        QCOMPARE(report.updated, 1);
        QCOMPARE(report.uploaded + report.deleted, 0);
        QCOMPARE(f.server().value(QStringLiteral("王五")).categories, QStringList{QStringLiteral("朋友")});
        QCOMPARE(f.serverHref(QStringLiteral("王五")), href);
        // A move on the server moves the card here.
        const QByteArray copy = f.remote.resources[href].vcard;
        CardContent before = ReadServerCard(copy, {}).content;
        CardContent after = before;
        after.classPath = {Company, QStringLiteral("销售")};
        f.remote.store(href, PatchVCard(copy, before, after, QString()));
        report = f.sync();
        QCOMPARE(report.updated, 1);
        QCOMPARE(ContentOfNode(*f.card(QStringLiteral("王五"))).classPath, after.classPath);
    }

    void whatKelvoDoesNotKnowStaysOnTheServer()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        const QByteArray more = "item1.TEL;type=CELL:+86 139 0000 0001\r\n"
                                "item1.X-ABLabel:_$!<Mobile>!$_\r\n"
                                "TEL;TYPE=HOME:010-999\r\n"
                                "BDAY:1990-01-02\r\n"
                                "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAMCAgICAgMCAgID\r\n"
                                " AwMDBAYEBAQEBAgGBgUGCQgKCgkICQkKDA8MCgsOCwkJDRENDg8QEBEQCgwSExIQEw8QEBD/\r\n"
                                "X-PHONETIC-FIRST-NAME:Qian\r\n"
                                "CATEGORIES:Family,VIP\r\n";
        f.remote.store(QStringLiteral("/user/book/phone-2.vcf"), PhoneCard(QStringLiteral("phone-2"), QStringLiteral("钱七"), more));
        QVERIFY(f.sync().ok());
        QCOMPARE(f.field(QStringLiteral("钱七"), Field::SJ), QStringLiteral("+86 139 0000 0001"));
        // The second phone is not copied into field 13.
        QCOMPARE(f.field(QStringLiteral("钱七"), Field::Other), QString());
        f.setField(QStringLiteral("钱七"), Field::TouXian, QStringLiteral("总监"));
        f.tree.moveNode(f.card(QStringLiteral("钱七")), f.classAt({Company}), CardTree::MoveMode::AsLastChild);
        QVERIFY(f.sync().ok());
        const QByteArray copy = f.remote.resources[QStringLiteral("/user/book/phone-2.vcf")].vcard;
        for (const QByteArray &line : more.split('\n')) {
            if (line.isEmpty() || line.startsWith("CATEGORIES"))
                continue;
            QVERIFY2(copy.contains(line + '\n'), line.constData());
        }
        QVERIFY(copy.contains("TITLE:总监\r\n"));
        // Filed in "Family" (the first category), moved to the company: Family
        // gives way, the other category stays.
        QVERIFY2(copy.contains("CATEGORIES:公司,VIP\r\n"), copy.constData());
        QVERIFY(copy.contains("UID:phone-2\r\n"));
        QCOMPARE(f.server().value(QStringLiteral("钱七")).content.fields[Field::SJ - 1], QStringLiteral("+86 139 0000 0001"));
    }

    void anEmptiedFieldNeverDeletesWhatTheServerKept()
    {
        SyncFixture f;
        seed(f);
        f.remote.store(QStringLiteral("/user/book/phone-4.vcf"),
                       PhoneCard(QStringLiteral("phone-4"), QStringLiteral("周九"),
                                 "TEL;TYPE=WORK:010-111\r\nTEL;TYPE=HOME:010-999\r\n"));
        QVERIFY(f.sync().ok());
        QCOMPARE(f.field(QStringLiteral("周九"), Field::DH), QStringLiteral("010-111"));
        f.setField(QStringLiteral("周九"), Field::DH, QString());
        QVERIFY(f.sync().ok());
        // The home phone is what the card shows now, here too.
        QCOMPARE(f.field(QStringLiteral("周九"), Field::DH), QStringLiteral("010-999"));
        f.setField(QStringLiteral("周九"), Field::TouXian, QStringLiteral("顾问"));
        QVERIFY(f.sync().ok());
        const QByteArray copy = f.remote.resources[QStringLiteral("/user/book/phone-4.vcf")].vcard;
        QVERIFY(copy.contains("TEL;TYPE=HOME:010-999\r\n"));
        QVERIFY(!copy.contains("010-111"));
        QCOMPARE(f.sync().updated, 0);
    }

    void groupCardsAreNeitherShownNorDeleted()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        f.remote.store(QStringLiteral("/user/book/group.vcf"),
                       "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:group\r\nFN:Friends\r\nN:Friends;;;;\r\n"
                       "X-ADDRESSBOOKSERVER-KIND:group\r\nEND:VCARD\r\n");
        f.remote.store(QStringLiteral("/user/book/group4.vcf"),
                       "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:group4\r\nKIND:group\r\nFN:Team\r\nEND:VCARD\r\n");
        SyncReport report = f.sync();
        QCOMPARE(report.downloaded, 0);
        QVERIFY(!f.card(QStringLiteral("Friends")) && !f.card(QStringLiteral("Team")));
        const int fetchedBefore = f.remote.fetched;
        // Passed over once, not fetched again; never deleted, even when every card here goes.
        f.tree.deleteNode(f.card(QStringLiteral("王五")));
        report = f.sync();
        QCOMPARE(f.remote.fetched, fetchedBefore);
        QVERIFY(f.remote.resources.contains(QStringLiteral("/user/book/group.vcf")));
        QVERIFY(f.remote.resources.contains(QStringLiteral("/user/book/group4.vcf")));
    }

    void firstSyncLinksEqualCards()
    {
        SyncFixture f;
        seed(f);
        // The server already holds two of the cards: one by content (made
        // elsewhere), one by UID (uploaded before the state file was lost).
        f.remote.store(QStringLiteral("/user/book/other.vcf"),
                       MakeVCard(ContentOfNode(*f.card(QStringLiteral("李四"))), QStringLiteral("other"), 3));
        CardContent zhang = ContentOfNode(*f.card(QStringLiteral("张三")));
        zhang.fields[Field::TouXian - 1] = QStringLiteral("工程师");
        const QString uid = IdentityText(f.ids->identity(f.card(QStringLiteral("张三"))));
        f.remote.store(QStringLiteral("/user/book/") + uid + QStringLiteral(".vcf"), MakeVCard(zhang, uid, 3));
        const SyncReport report = f.sync();
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        QCOMPARE(report.uploaded, 2);
        QCOMPARE(report.downloaded, 0);
        QCOMPARE(f.remote.resources.size(), 4);
        QCOMPARE(f.cardCount(), 4);
        // Linked by UID, the server's extra field came here.
        QCOMPARE(f.field(QStringLiteral("张三"), Field::TouXian), QStringLiteral("工程师"));
    }

    void lostStateFileLosesNothing()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        // The state file goes, and with it the identities (a new session).
        f.state.reset();
        QVERIFY(QFile::remove(f.dir.filePath(QStringLiteral("Card.DB.sync"))));
        f.ids = std::make_unique<CardIdentities>(f.tree);
        f.openState();
        f.setField(QStringLiteral("李四"), Field::TouXian, QStringLiteral("顾问"));
        const SyncReport report = f.sync();
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        // Linked again by content; the edited card by its name and most of its texts.
        QCOMPARE(report.uploaded + report.downloaded + report.deleted, 0);
        QCOMPARE(report.updated, 1);
        QCOMPARE(f.cardCount(), 4);
        QCOMPARE(f.remote.resources.size(), 4);
        QCOMPARE(f.server().value(QStringLiteral("李四")).content.fields[Field::TouXian - 1], QStringLiteral("顾问"));
        QCOMPARE(f.sync().uploaded, 0);
    }

    void massDeleteGuard_data()
    {
        QTest::addColumn<QString>("side");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("guarded");
        QTest::newRow("one of four here") << "here" << 1 << false;
        QTest::newRow("three of four here") << "here" << 3 << true;
        QTest::newRow("every card here") << "here" << 4 << true;
        QTest::newRow("two of four there") << "there" << 2 << false;
        QTest::newRow("three of four there") << "there" << 3 << true;
        QTest::newRow("the server emptied") << "there" << 4 << true;
    }
    void massDeleteGuard()
    {
        QFETCH(QString, side);
        QFETCH(int, count);
        QFETCH(bool, guarded);
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        const QStringList names{QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("王五"), QStringLiteral("赵六")};
        for (int i = 0; i < count; ++i) {
            if (side == QLatin1String("here"))
                f.tree.deleteNode(f.card(names[i]));
            else
                f.remote.drop(f.serverHref(names[i]));
        }
        SyncReport report = f.sync();
        QCOMPARE(report.massDelete, guarded);
        if (guarded) {
            QVERIFY(report.stopped.contains(QLatin1String("--allow-mass-delete")));
            QCOMPARE(f.remote.removes, 0);
            QCOMPARE(side == QLatin1String("here") ? f.remote.resources.size() : qsizetype(f.cardCount()), 4);
            report = f.sync({true});
            QVERIFY(report.ok());
        }
        QCOMPARE(report.deleted, count);
        QCOMPARE(f.remote.resources.size(), 4 - count);
        QCOMPARE(f.cardCount(), 4 - count);
    }

    void interruptedRunFinishesWithoutDuplicates_data()
    {
        QTest::addColumn<int>("answered");
        for (int n = 0; n < 9; ++n)
            QTest::newRow(qPrintable(QStringLiteral("drops after %1 requests").arg(n))) << n;
    }
    void interruptedRunFinishesWithoutDuplicates()
    {
        QFETCH(int, answered);
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        f.addCard({Company}, QStringLiteral("新一"));
        f.addCard({Company}, QStringLiteral("新二"));
        f.setField(QStringLiteral("张三"), Field::DH, QStringLiteral("020-2222"));
        serverEdit(f, QStringLiteral("李四"), Field::TouXian, QStringLiteral("顾问"));
        f.remote.store(QStringLiteral("/user/book/phone-3.vcf"), PhoneCard(QStringLiteral("phone-3"), QStringLiteral("孙八")));
        f.tree.deleteNode(f.card(QStringLiteral("赵六")));
        f.remote.failAfter = answered;
        const SyncReport broken = f.sync();
        f.remote.failAfter = -1;
        if (broken.ok())
            QCOMPARE(broken.stopStatus, RemoteStatus::Ok);
        else
            QCOMPARE(broken.stopStatus, RemoteStatus::Network);
        const SyncReport rerun = f.sync();
        QVERIFY2(rerun.ok(), qPrintable(rerun.stopped));
        QCOMPARE(f.cardCount(), 6);
        QCOMPARE(f.remote.resources.size(), 6);
        for (const QString &name : {QStringLiteral("新一"), QStringLiteral("新二"), QStringLiteral("孙八")})
            QCOMPARE(f.cardCount(name), 1);
        QCOMPARE(f.field(QStringLiteral("张三"), Field::DH), QStringLiteral("020-2222"));
        QCOMPARE(f.server().value(QStringLiteral("张三")).content.fields[Field::DH - 1], QStringLiteral("020-2222"));
        QCOMPARE(f.field(QStringLiteral("李四"), Field::TouXian), QStringLiteral("顾问"));
        QVERIFY(!f.server().contains(QStringLiteral("赵六")));
        const SyncReport settled = f.sync();
        QCOMPARE(settled.uploaded + settled.downloaded + settled.updated + settled.deleted, 0);
    }

    void createWhoseAnswerWasLostIsAdopted()
    {
        SyncFixture f;
        seed(f);
        f.remote.loseNextAnswer = true;
        QVERIFY(!f.sync().ok());
        QCOMPARE(f.remote.resources.size(), 1);
        const SyncReport rerun = f.sync();
        QVERIFY2(rerun.ok(), qPrintable(rerun.stopped));
        QCOMPARE(f.remote.resources.size(), 4);
        QCOMPARE(f.sync().uploaded, 0);
    }

    void raceOnUpdateIsMerged()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        f.setField(QStringLiteral("张三"), Field::DH, QStringLiteral("020-2222"));
        // Another device writes between the listing and the update.
        f.remote.beforeUpdate = [&f](const QString &) { serverEdit(f, QStringLiteral("张三"), Field::TouXian, QStringLiteral("经理")); };
        const SyncReport report = f.sync();
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        const ServerCard server = f.server().value(QStringLiteral("张三"));
        QCOMPARE(server.content.fields[Field::DH - 1], QStringLiteral("020-2222"));
        QCOMPARE(server.content.fields[Field::TouXian - 1], QStringLiteral("经理"));
        QCOMPARE(f.field(QStringLiteral("张三"), Field::TouXian), QStringLiteral("经理"));
    }

    void repeatedRaceFailsThatCardOnly()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        f.setField(QStringLiteral("张三"), Field::DH, QStringLiteral("020-2222"));
        f.setField(QStringLiteral("李四"), Field::DH, QStringLiteral("020-3333"));
        // Another device writes 张三 before each of this run's updates of it.
        std::function<void(const QString &)> race = [&f, &race](const QString &href) {
            if (href == f.serverHref(QStringLiteral("张三")))
                serverEdit(f, QStringLiteral("张三"), Field::TouXian, QStringLiteral("经理") + QString::number(f.remote.clock));
            f.remote.beforeUpdate = race;
        };
        f.remote.beforeUpdate = race;
        const SyncReport report = f.sync();
        f.remote.beforeUpdate = {};
        QVERIFY2(report.ok(), qPrintable(report.stopped));
        QCOMPARE(report.failureLines.size(), 1);
        QVERIFY(report.failureLines.first().contains(QStringLiteral("张三")));
        QCOMPARE(f.server().value(QStringLiteral("李四")).content.fields[Field::DH - 1], QStringLiteral("020-3333"));
        // The next run (no race) merges the card.
        QVERIFY(f.sync().ok());
        QCOMPARE(f.server().value(QStringLiteral("张三")).content.fields[Field::DH - 1], QStringLiteral("020-2222"));
        QVERIFY(f.field(QStringLiteral("张三"), Field::TouXian).startsWith(QStringLiteral("经理")));
    }

    void tooLargeFailsThatCardOnly()
    {
        SyncFixture f;
        seed(f);
        f.setField(QStringLiteral("王五"), Field::Other, QString(80, QChar(u'长')));
        f.remote.maxBytes = 200;
        const SyncReport report = f.sync();
        QVERIFY(report.ok());
        QCOMPARE(report.uploaded, 3);
        QCOMPARE(report.failureLines.size(), 1);
        QVERIFY(report.failureLines.first().contains(QStringLiteral("王五")));
    }

    void cardEditedDuringTheRunIsHeldBack()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        serverEdit(f, QStringLiteral("张三"), Field::DH, QStringLiteral("030-3333"));
        const SyncSnapshot snapshot = TakeSnapshot(f.tree, *f.ids);
        SyncEngine engine(*f.state, f.remote);
        SyncPlan plan = engine.run(snapshot);
        // The user types while the server is being talked to.
        f.setField(QStringLiteral("张三"), Field::TouXian, QStringLiteral("经理"));
        QCOMPARE(ApplySyncPlan(plan, f.tree, *f.ids), 1);
        QVERIFY(CommitSyncPlan(plan, *f.state).ok());
        QCOMPARE(f.field(QStringLiteral("张三"), Field::DH), QStringLiteral("010-1111"));
        // The next run merges both.
        QVERIFY(f.sync().ok());
        QCOMPARE(f.field(QStringLiteral("张三"), Field::DH), QStringLiteral("030-3333"));
        QCOMPARE(f.server().value(QStringLiteral("张三")).content.fields[Field::TouXian - 1], QStringLiteral("经理"));
    }

    void refusedTokenFallsBackToAFullListing()
    {
        SyncFixture f;
        seed(f);
        QVERIFY(f.sync().ok());
        f.remote.refuseTokens = true;
        serverEdit(f, QStringLiteral("王五"), Field::DH, QStringLiteral("040-4444"));
        f.remote.drop(f.serverHref(QStringLiteral("赵六")));
        const SyncReport report = f.sync();
        QVERIFY(report.ok());
        QCOMPARE(f.field(QStringLiteral("王五"), Field::DH), QStringLiteral("040-4444"));
        QVERIFY(!f.card(QStringLiteral("赵六")));
    }
};

QTEST_GUILESS_MAIN(TestSyncEngine)
#include "tst_syncengine.moc"
