#pragma once

#include "MemoryRemote.h"

#include "CardVCard.h"
#include "SyncEngine.h"
#include "SyncState.h"

#include "CardIdentities.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QTemporaryDir>

#include <memory>

namespace kelvo::sync::test {

// A data file's tree with its identities and sync state, and an address
// book in memory: one "device" of the tests.
struct SyncFixture
{
    QTemporaryDir dir;
    CardTree tree;
    std::unique_ptr<CardIdentities> ids = std::make_unique<CardIdentities>(tree);
    MemoryRemote remote;
    std::unique_ptr<SyncState> state;

    SyncFixture() { openState(); }

    void openState()
    {
        state.reset();
        Result<std::unique_ptr<SyncState>> opened = SyncState::open(dir.filePath(QStringLiteral("Card.DB.sync")));
        if (opened)
            state = std::move(opened.value());
        if (state && !state->book())
            (void)state->setBook({remote.collectionUrl(), QString(), QByteArray(), 3});
    }

    CardNode *classAt(const QStringList &path)
    {
        CardNode *parent = nullptr;
        for (const QString &part : path) {
            const QByteArray label = gb18030::encode(part);
            CardNode *found = nullptr;
            for (int i = 0; i < tree.childCount(parent); ++i) {
                if (tree.child(parent, i)->label() == label && tree.child(parent, i)->isCardClass())
                    found = tree.child(parent, i);
            }
            if (!found) {
                auto record = MakeCardClassRecord();
                record->setField(Field::Name, label);
                found = tree.addChild(parent, label, std::move(record));
            }
            parent = found;
        }
        return parent;
    }

    CardNode *addCard(const QStringList &path, const QString &name, std::initializer_list<std::pair<int, QString>> fields = {})
    {
        auto record = MakeCardRecord();
        record->setField(Field::Name, gb18030::encode(name));
        for (const auto &[n, text] : fields)
            record->setField(n, gb18030::encode(text));
        return tree.addChild(classAt(path), gb18030::encode(name), std::move(record));
    }

    CardNode *card(const QString &name) const
    {
        CardNode *found = nullptr;
        tree.forEach([&](CardNode *node) {
            if (!found && node->isCard() && gb18030::decode(node->label()) == name)
                found = node;
        });
        return found;
    }
    int cardCount(const QString &name) const
    {
        int n = 0;
        tree.forEach([&](CardNode *node) { n += node->isCard() && gb18030::decode(node->label()) == name; });
        return n;
    }
    int cardCount() const
    {
        int n = 0;
        tree.forEach([&](CardNode *node) { n += node->isCard(); });
        return n;
    }
    QString field(const QString &name, int n) const
    {
        const CardNode *node = card(name);
        return node ? gb18030::decode(node->data()->field(n)) : QStringLiteral("<no card>");
    }
    void setField(const QString &name, int n, const QString &text)
    {
        CardNode *node = card(name);
        tree.setField(node, n, gb18030::encode(text));
        if (n == Field::Name)
            tree.setLabel(node, gb18030::encode(text));
    }

    // The server's cards, by name.
    QMap<QString, ServerCard> server() const
    {
        QMap<QString, ServerCard> cards;
        for (auto it = remote.resources.cbegin(); it != remote.resources.cend(); ++it) {
            ServerCard read = ReadServerCard(it->vcard, {});
            cards.insert(read.readable ? read.content.fields[0] : it.key(), read);
        }
        return cards;
    }
    QByteArray serverCopy(const QString &name) const
    {
        for (auto it = remote.resources.cbegin(); it != remote.resources.cend(); ++it) {
            if (ReadServerCard(it->vcard, {}).content.fields[0] == name)
                return it->vcard;
        }
        return {};
    }
    QString serverHref(const QString &name) const
    {
        for (auto it = remote.resources.cbegin(); it != remote.resources.cend(); ++it) {
            if (ReadServerCard(it->vcard, {}).content.fields[0] == name)
                return it.key();
        }
        return {};
    }

    // The three phases and the record after the "save".
    SyncReport sync(SyncOptions options = {})
    {
        const SyncSnapshot snapshot = TakeSnapshot(tree, *ids);
        SyncEngine engine(*state, remote, options);
        SyncPlan plan = engine.run(snapshot);
        if (plan.report.ok()) {
            ApplySyncPlan(plan, tree, *ids);
            (void)CommitSyncPlan(plan, *state);
        }
        return plan.report;
    }
};

// A phone-made card, as a server stores it.
inline QByteArray PhoneCard(const QString &uid, const QString &name, const QByteArray &more = {})
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid.toUtf8() + "\r\nFN:" + name.toUtf8() + "\r\nN:" + name.toUtf8()
           + ";;;;\r\n" + more + "END:VCARD\r\n";
}

} // namespace kelvo::sync::test
