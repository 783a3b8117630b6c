#pragma once

#include "CardDavRemote.h"

#include <QCryptographicHash>
#include <QHash>
#include <QMap>
#include <QSet>

#include <functional>

namespace kelvo::sync::test {

// An address book in memory behind the CardDavRemote interface, for what a
// real server cannot be made to do on cue: a connection that drops after a
// given number of requests, a create the server stores but whose answer is
// lost, a 412 race, a 413.
class MemoryRemote : public CardDavRemote
{
public:
    struct Resource
    {
        QByteArray etag;
        QByteArray vcard;
    };

    QString collectionUrl() const override { return QStringLiteral("http://127.0.0.1:5232/user/book/"); }
    int vcardVersion() const override { return version; }

    RemoteResult<RemoteListing> list(const QByteArray &syncToken) override
    {
        if (auto e = fault())
            return *e;
        ++listings;
        RemoteListing listing;
        bool ok = false;
        const qint64 since = syncToken.toLongLong(&ok);
        if (ok && since >= forgetBefore && since <= clock && !refuseTokens) {
            QSet<QString> seen;
            for (auto it = log.cbegin(); it != log.cend(); ++it) {
                if (it.key() <= since)
                    continue;
                for (const QString &href : it.value())
                    seen.insert(href);
            }
            for (const QString &href : seen) {
                if (resources.contains(href))
                    listing.items.append({href, resources[href].etag});
                else if (!netChanges || born.value(href) <= since)
                    listing.removed.append(href);
            }
        } else {
            ++fullListings;
            listing.full = true;
            for (auto it = resources.cbegin(); it != resources.cend(); ++it)
                listing.items.append({it.key(), it->etag});
        }
        listing.syncToken = QByteArray::number(clock);
        return listing;
    }

    RemoteResult<QList<RemoteCard>> fetch(const QStringList &hrefs) override
    {
        if (auto e = fault())
            return *e;
        fetched += hrefs.size();
        QList<RemoteCard> cards;
        for (const QString &href : hrefs) {
            if (resources.contains(href))
                cards.append({href, resources[href].etag, resources[href].vcard});
        }
        return cards;
    }

    RemoteResult<PutOutcome> create(const QString &href, const QByteArray &vcard) override
    {
        if (auto e = fault())
            return *e;
        if (vcard.size() > maxBytes)
            return RemoteError{RemoteStatus::TooLarge, 413, QStringLiteral("Request Entity Too Large")};
        if (resources.contains(href))
            return RemoteError{RemoteStatus::PreconditionFailed, 412, QStringLiteral("Precondition Failed")};
        store(href, vcard);
        ++creates;
        const PutOutcome outcome{href, etagsKnown ? resources[href].etag : QByteArray()};
        if (afterCreate)
            std::exchange(afterCreate, {})(href);
        if (loseNextAnswer) {
            loseNextAnswer = false;
            return RemoteError{RemoteStatus::Network, 0, QStringLiteral("connection reset")};
        }
        return outcome;
    }

    RemoteResult<PutOutcome> update(const QString &href, const QByteArray &etag, const QByteArray &vcard) override
    {
        if (auto e = fault())
            return *e;
        if (beforeUpdate)
            std::exchange(beforeUpdate, {})(href);
        if (vcard.size() > maxBytes)
            return RemoteError{RemoteStatus::TooLarge, 413, QStringLiteral("Request Entity Too Large")};
        if (!resources.contains(href))
            return RemoteError{RemoteStatus::NotFound, 404, QStringLiteral("Not Found")};
        if (resources[href].etag != etag)
            return RemoteError{RemoteStatus::PreconditionFailed, 412, QStringLiteral("Precondition Failed")};
        store(href, vcard);
        ++updates;
        return PutOutcome{href, etagsKnown ? resources[href].etag : QByteArray()};
    }

    RemoteResult<Done> remove(const QString &href, const QByteArray &etag) override
    {
        if (auto e = fault())
            return *e;
        if (!resources.contains(href))
            return RemoteError{RemoteStatus::NotFound, 404, QStringLiteral("Not Found")};
        if (!etag.isEmpty() && resources[href].etag != etag)
            return RemoteError{RemoteStatus::PreconditionFailed, 412, QStringLiteral("Precondition Failed")};
        drop(href);
        ++removes;
        return Done{};
    }

    // What another device does.
    void store(const QString &href, const QByteArray &vcard)
    {
        if (!resources.contains(href))
            born[href] = clock + 1;
        resources[href] = {'"' + QCryptographicHash::hash(vcard + QByteArray::number(++clock), QCryptographicHash::Md5).toHex() + '"',
                           vcard};
        log[clock].append(href);
    }
    void drop(const QString &href)
    {
        resources.remove(href);
        log[++clock].append(href);
    }

    QMap<QString, Resource> resources;
    QMap<qint64, QStringList> log;
    qint64 clock = 0;
    qint64 forgetBefore = 0;
    int version = 3;
    bool refuseTokens = false;
    bool etagsKnown = true;
    bool loseNextAnswer = false;
    qsizetype maxBytes = 1 << 20;
    int failAfter = -1; // requests still answered before the connection drops; -1: never
    std::function<void(const QString &)> beforeUpdate;
    std::function<void(const QString &)> afterCreate; // another device, right after a create
    // A change list names only what differs between the token's moment and
    // now (Xandikos): a card made and deleted since is not named at all.
    bool netChanges = false;
    QHash<QString, qint64> born; // when a resource last came into being
    int fullListings = 0;
    int listings = 0, fetched = 0, creates = 0, updates = 0, removes = 0;

private:
    std::optional<RemoteError> fault()
    {
        if (failAfter == 0)
            return RemoteError{RemoteStatus::Network, 0, QStringLiteral("connection refused")};
        if (failAfter > 0)
            --failAfter;
        return std::nullopt;
    }
};

} // namespace kelvo::sync::test
