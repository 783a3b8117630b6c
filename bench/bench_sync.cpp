// The protocol client's part of a sync, one step per run, for
// bench/sync_vs_vdirsyncer.sh (which times whole processes side by side with
// vdirsyncer on the same radicale). Prints what it did and its own time; never
// asserts a timing.
//
//   bench_sync upload BOOK_URL USER PASSWORD COUNT PREFIX   create COUNT cards
//   bench_sync list   BOOK_URL USER PASSWORD [TOKEN]        one listing (a sync without changes)
//   bench_sync pull   BOOK_URL USER PASSWORD TOKEN          listing since TOKEN, then fetch what changed
//
// The password may be given as "-" to read it from KELVO_SYNC_PASSWORD.
#include "CardDavClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

using namespace kelvo::sync;

namespace {

int fail(const RemoteError &error)
{
    std::fprintf(stderr, "bench_sync: %s\n", qPrintable(error.text));
    return 1;
}

QByteArray card(const QString &uid, int i)
{
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:测试名片 %2\r\nN:名片 %2;测试;;;\r\n"
                          "ORG:Kelvo 测试公司\r\nTITLE:经理\r\nTEL;TYPE=WORK:+86 10 %3\r\n"
                          "EMAIL;TYPE=INTERNET:card%2@example.com\r\nADR;TYPE=WORK:;;长安街 %2 号;北京;;100000;中国\r\n"
                          "NOTE:第 %2 张\r\nEND:VCARD\r\n")
        .arg(uid)
        .arg(i)
        .arg(80000000 + i)
        .toUtf8();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: bench_sync upload|list|pull BOOK_URL USER PASSWORD [...]\n");
        return 2;
    }
    const QString mode = args[1];
    CardDavSettings settings;
    settings.url = args[2];
    settings.user = args[3];
    settings.password = args[4] == QLatin1String("-") ? qEnvironmentVariable("KELVO_SYNC_PASSWORD") : args[4];
    CardDavClient client(settings);
    // A later run knows its address book: no discovery.
    client.useAddressBook({CardDavClient::normalizedUrl(settings.url).toString(), QString(), 3});
    QElapsedTimer clock;
    clock.start();
    QTextStream out(stdout);

    if (mode == QLatin1String("upload") && args.size() >= 7) {
        const int count = args[5].toInt();
        const QString prefix = args[6];
        for (int i = 0; i < count; ++i) {
            const QString uid = QStringLiteral("%1-%2").arg(prefix).arg(i);
            const auto created = client.create(uid + QStringLiteral(".vcf"), card(uid, i));
            if (!created)
                return fail(created.error());
        }
        out << "uploaded " << count << " cards in " << clock.elapsed() << " ms, " << client.requestCount()
            << " requests\n";
        return 0;
    }
    if (mode == QLatin1String("list")) {
        const QByteArray token = args.size() > 5 ? args[5].toUtf8() : QByteArray();
        const auto listing = client.list(token);
        if (!listing)
            return fail(listing.error());
        out << (listing.value().full ? "full" : "changes") << " listing: " << listing.value().items.size()
            << " items, " << listing.value().removed.size() << " removed, " << clock.elapsed() << " ms, "
            << client.requestCount() << " requests\ntoken " << listing.value().syncToken << "\n";
        return 0;
    }
    if (mode == QLatin1String("pull") && args.size() >= 6) {
        const auto listing = client.list(args[5].toUtf8());
        if (!listing)
            return fail(listing.error());
        QStringList hrefs;
        for (const RemoteItem &item : listing.value().items)
            hrefs.append(item.href);
        const auto cards = client.fetch(hrefs);
        if (!cards)
            return fail(cards.error());
        out << (listing.value().full ? "full" : "changes") << " listing: " << listing.value().items.size()
            << " items, fetched " << cards.value().size() << ", " << clock.elapsed() << " ms, "
            << client.requestCount() << " requests\ntoken " << listing.value().syncToken << "\n";
        return 0;
    }
    std::fprintf(stderr, "bench_sync: unknown mode or missing arguments\n");
    return 2;
}
