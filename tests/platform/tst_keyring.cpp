// The keyring through QtKeychain as this desktop offers it: where a keyring
// service runs, a password goes in, comes back and is forgotten; where none
// runs (a test machine without a session bus), every call says so with the
// keyring's reason instead of failing otherwise or hanging.

#include "QtKeychainPasswordStore.h"

#include <QElapsedTimer>
#include <QTest>
#include <QUuid>

using namespace kelvo;

class TestKeyring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void roundTripOrNoKeyring()
    {
        QtKeychainPasswordStore store(QStringLiteral("Kelvo test"));
        const QString key = PasswordKey(QStringLiteral("https://dav.example/%1/").arg(QUuid::createUuid().toString()),
                                        QStringLiteral("tester"));
        const PasswordStore::Outcome written = store.write(key, QStringLiteral("s3cret 密码"));
        if (written.status != PasswordStore::Status::Ok) {
            QCOMPARE(written.status, PasswordStore::Status::NoKeyring);
            QVERIFY(!written.reason.isEmpty());
            QVERIFY(!written.reason.contains(QStringLiteral("s3cret")));
            const PasswordStore::Outcome read = store.read(key);
            QCOMPARE(read.status, PasswordStore::Status::NoKeyring);
            QVERIFY(read.password.isEmpty());
            return;
        }
        const PasswordStore::Outcome read = store.read(key);
        QCOMPARE(read.status, PasswordStore::Status::Ok);
        QCOMPARE(read.password, QStringLiteral("s3cret 密码"));
        QCOMPARE(store.remove(key).status, PasswordStore::Status::Ok);
        QCOMPARE(store.read(key).status, PasswordStore::Status::NotFound);
    }

    void passwordKeysTellBooksAndUsersApart_data()
    {
        QTest::addColumn<QString>("url1");
        QTest::addColumn<QString>("user1");
        QTest::addColumn<QString>("url2");
        QTest::addColumn<QString>("user2");
        QTest::addColumn<bool>("same");
        QTest::newRow("same") << "https://a/b/" << "u" << " https://a/b/ " << "u" << true;
        QTest::newRow("other user") << "https://a/b/" << "u" << "https://a/b/" << "v" << false;
        QTest::newRow("other book") << "https://a/b/" << "u" << "https://a/c/" << "u" << false;
    }
    void passwordKeysTellBooksAndUsersApart()
    {
        QFETCH(QString, url1);
        QFETCH(QString, user1);
        QFETCH(QString, url2);
        QFETCH(QString, user2);
        QFETCH(bool, same);
        QCOMPARE(PasswordKey(url1, user1) == PasswordKey(url2, user2), same);
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
