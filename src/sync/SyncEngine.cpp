#include "SyncEngine.h"

#include "CardRecords.h"
#include "Gb18030.h"

#include <QUrl>

namespace kelvo::sync {

namespace {

QStringList pathOfNode(const CardNode &node)
{
    QStringList path;
    for (const CardNode *p = node.parent(); p; p = p->parent())
        path.prepend(gb18030::decode(p->label()));
    return path;
}

bool inConflictClass(const CardNode &node)
{
    const CardNode *top = &node;
    while (top->parent())
        top = top->parent();
    return top != &node && top->isCardClass() && gb18030::decode(top->label()) == ConflictClassName();
}

QString nameOf(const CardContent &content)
{
    return content.fields[0].isEmpty() ? QStringLiteral("(no name)") : content.fields[0];
}

QString statusText(const RemoteError &error)
{
    if (error.httpStatus > 0)
        return QStringLiteral("%1 (HTTP %2)").arg(error.text).arg(error.httpStatus);
    return error.text;
}

// Errors that concern one card only; any other stops the run.
bool cardOnly(const RemoteError &error)
{
    return error.status == RemoteStatus::TooLarge || error.status == RemoteStatus::Server
           || error.status == RemoteStatus::Protocol;
}

// Most of the texts that either holds are equal.
bool similar(const CardContent &a, const CardContent &b)
{
    int used = 0;
    int equal = 0;
    for (size_t i = 0; i < a.fields.size(); ++i) {
        if (a.fields[i].isEmpty() && b.fields[i].isEmpty())
            continue;
        ++used;
        equal += a.fields[i] == b.fields[i];
    }
    return equal * 2 > used;
}

} // namespace

CardContent ContentOfNode(const CardNode &node)
{
    CardContent content;
    if (const TCardData *data = node.data()) {
        for (int n = Field::First; n <= Field::Last; ++n)
            content.fields[size_t(n - 1)] = gb18030::decode(data->field(n));
    }
    content.classPath = pathOfNode(node);
    if (content.classPath.isEmpty())
        content.classPath = QStringList{ReservedClassName()};
    return content;
}

SyncSnapshot TakeSnapshot(const CardTree &tree, CardIdentities &ids)
{
    SyncSnapshot snapshot;
    // A class's path and whether it lies in the conflict class, once for
    // all its cards (a large book has many cards to few classes).
    struct ClassInfo
    {
        QStringList path;
        bool conflict = false;
    };
    QHash<const CardNode *, ClassInfo> classes;
    snapshot.cards.reserve(size_t(tree.count()));
    tree.forEach([&](const CardNode *node) {
        if (node->isCardClass()) {
            snapshot.classPaths.insert((pathOfNode(*node) << gb18030::decode(node->label())).join(u'/'));
            return;
        }
        if (!node->isCard())
            return;
        const CardNode *parent = node->parent();
        auto known = classes.constFind(parent);
        if (known == classes.cend()) {
            ClassInfo info;
            info.conflict = inConflictClass(*node);
            info.path = pathOfNode(*node);
            if (info.path.isEmpty())
                info.path = QStringList{ReservedClassName()};
            known = classes.insert(parent, std::move(info));
        }
        if (known->conflict)
            return;
        LocalCard card;
        card.id = ids.identity(node);
        if (const TCardData *data = node->data()) {
            for (int n = Field::First; n <= Field::Last; ++n)
                card.content.fields[size_t(n - 1)] = gb18030::decode(data->field(n));
        }
        card.content.classPath = known->path;
        card.name = nameOf(card.content);
        card.hash = ContentHash(card.content);
        snapshot.cards.push_back(std::move(card));
    });
    return snapshot;
}

CardContent MergeContents(const CardContent &base, const CardContent &local, const CardContent &remote,
                          bool *conflict)
{
    CardContent merged = local;
    bool clash = false;
    for (size_t i = 0; i < merged.fields.size(); ++i) {
        const QString &b = base.fields[i];
        const QString &l = local.fields[i];
        const QString &r = remote.fields[i];
        if (l == r || r == b)
            merged.fields[i] = l;
        else if (l == b)
            merged.fields[i] = r;
        else
            clash = true; // this computer's value stays
    }
    if (local.classPath != remote.classPath && remote.classPath != base.classPath) {
        if (local.classPath == base.classPath)
            merged.classPath = remote.classPath;
        else
            clash = true;
    }
    if (conflict)
        *conflict = clash;
    return merged;
}

struct SyncEngine::Impl
{
    SyncState &state;
    CardDavRemote &remote;
    SyncOptions options;
    const SyncSnapshot &snapshot;
    SyncPlan plan;
    QString hrefBase;

    bool stop(const RemoteError &error, const QString &what)
    {
        plan.report.stopped = QStringLiteral("%1: %2").arg(what, statusText(error));
        plan.report.stopStatus = error.status;
        return false;
    }
    // What this run wrote to the server: href -> the ETag it answered (empty
    // when it gave none), the hrefs it created and those it deleted.
    QHash<QString, QByteArray> written;
    QSet<QString> createdHrefs;
    QSet<QString> deletedHrefs;

    int stepsDone = 0;
    int stepsTotal = 0;
    void step()
    {
        stepsDone = std::min(stepsDone + 1, stepsTotal);
        if (options.progress)
            options.progress(stepsDone, stepsTotal);
    }
    void startSteps(int total)
    {
        stepsTotal = total;
        stepsDone = 1; // the listing and the fetch are done: one step between them
        step();
    }

    bool stopState(const Error &error)
    {
        plan.report.stopped = QStringLiteral("cannot record the sync state: %1").arg(error.message());
        return false;
    }

    CardContent contentOf(const QByteArray &vcard) const
    {
        return ReadServerCard(vcard, snapshot.classPaths).content;
    }

    // Puts `content` on the server as an update of `row` whose server copy
    // is `copy` with content `copyContent`; on 412 fetches and merges once.
    // Records the row as it completes. False stops the run.
    bool pushUpdate(SyncedCard row, QByteArray copy, CardContent copyContent, const LocalCard &local,
                    const CardContent &base, int attempt = 0)
    {
        bool conflict = false;
        CardContent merged = MergeContents(base, local.content, copyContent, &conflict);
        bool serverChanged = false;
        if (merged != copyContent) {
            const QByteArray patched = PatchVCard(copy, copyContent, merged, row.serverUid);
            RemoteResult<PutOutcome> put = remote.update(row.href, row.etag, patched);
            if (!put) {
                if (put.error().status == RemoteStatus::PreconditionFailed && attempt == 0) {
                    RemoteResult<QList<RemoteCard>> fetched = remote.fetch({row.href});
                    if (!fetched)
                        return cardOnly(fetched.error()) ? failed(local.name, fetched.error())
                                                         : stop(fetched.error(), QStringLiteral("cannot fetch"));
                    if (fetched.value().isEmpty())
                        return recreate(row, local, copy);
                    const RemoteCard &fresh = fetched.value().first();
                    row.etag = fresh.etag;
                    // The merge base stays the last synced copy.
                    return pushUpdate(row, fresh.vcard, contentOf(fresh.vcard), local, base, 1);
                }
                if (put.error().status == RemoteStatus::NotFound)
                    return recreate(row, local, copy);
                // A second 412 in a row: the card is left for the next run.
                return cardOnly(put.error()) || put.error().status == RemoteStatus::PreconditionFailed
                           ? failed(local.name, put.error())
                                             : stop(put.error(), QStringLiteral("cannot update %1").arg(local.name));
            }
            row.href = put.value().href.isEmpty() ? row.href : put.value().href;
            row.etag = put.value().etag;
            written.insert(row.href, row.etag);
            copy = patched;
            serverChanged = true;
            // The card here becomes what the server copy now reads as: an
            // emptied field may bring up a value the server kept (a second
            // phone), which a later change here must not delete there.
            merged = contentOf(patched);
        }
        if (conflict) {
            // The server's whole card, kept here; this computer's fields went to both sides.
            LocalChange copyChange;
            copyChange.kind = LocalChange::ConflictCopy;
            copyChange.content = copyContent;
            plan.changes.push_back(copyChange);
            ++plan.report.conflicts;
            plan.report.conflictLines.append(
                QStringLiteral("conflict: %1: this computer's fields kept on both sides; the server's card kept as "
                               "a copy in the class %2")
                    .arg(local.name, ConflictClassName()));
        }
        // The row: the server copy as it now is. Until the data file holds
        // the merged card, the row keeps the content the file has and is
        // marked pending, so a run stopped here takes the merge up again.
        row.vcard = copy;
        const bool localChanges = merged != local.content;
        row.contentHash = localChanges ? local.hash : ContentHash(merged);
        row.pendingLocal = localChanges;
        if (serverChanged || localChanges) {
            if (const Result<> put = state.putCard(row); !put)
                return stopState(put.error());
        }
        if (localChanges) {
            LocalChange change;
            change.kind = LocalChange::Update;
            change.id = local.id;
            change.content = merged;
            change.expected = local.content;
            SyncedCard done = row;
            done.contentHash = ContentHash(merged);
            done.pendingLocal = false;
            change.row = done;
            plan.changes.push_back(change);
        }
        if (serverChanged || localChanges)
            ++plan.report.updated;
        return true;
    }

    bool failed(const QString &name, const RemoteError &error)
    {
        plan.report.failureLines.append(QStringLiteral("failed: %1: %2").arg(name, statusText(error)));
        plan.advanceToken = false;
        return true;
    }

    // Before the first card is created on the server: the state forgets the
    // token at once, so that a run stopped right after the create still
    // lists the whole book next time.
    bool forgetToken()
    {
        if (plan.createdOnServer)
            return true;
        plan.createdOnServer = true;
        if (const Result<> done = state.setSyncToken({}); !done)
            return stopState(done.error());
        return true;
    }

    // A card changed here and gone from the server: put back (the change
    // wins), at its old href, patched onto its last server copy.
    bool recreate(SyncedCard row, const LocalCard &local, const QByteArray &copy)
    {
        const QByteArray vcard = PatchVCard(copy, contentOf(copy), local.content, row.serverUid);
        if (!forgetToken())
            return false;
        RemoteResult<PutOutcome> put = remote.create(row.href, vcard);
        if (!put) {
            if (cardOnly(put.error()) || put.error().status == RemoteStatus::PreconditionFailed)
                return failed(local.name, put.error());
            return stop(put.error(), QStringLiteral("cannot upload %1").arg(local.name));
        }
        row.href = put.value().href.isEmpty() ? row.href : put.value().href;
        row.etag = put.value().etag;
        written.insert(row.href, row.etag);
        createdHrefs.insert(row.href);
        row.vcard = vcard;
        row.contentHash = local.hash;
        row.pendingLocal = false;
        if (const Result<> done = state.putCard(row); !done)
            return stopState(done.error());
        ++plan.report.uploaded;
        return true;
    }

    // A card new here: created at <book>/<uuid>.vcf. A create that meets
    // its own card (a run stopped after the server stored it) adopts it.
    bool upload(const LocalCard &local)
    {
        const QString uid = IdentityText(local.id);
        const QString href = hrefBase + uid + QStringLiteral(".vcf");
        const QByteArray vcard = MakeVCard(local.content, uid, remote.vcardVersion());
        if (!forgetToken())
            return false;
        RemoteResult<PutOutcome> put = remote.create(href, vcard);
        if (!put) {
            if (put.error().status == RemoteStatus::PreconditionFailed) {
                RemoteResult<QList<RemoteCard>> fetched = remote.fetch({href});
                if (!fetched)
                    return cardOnly(fetched.error()) ? failed(local.name, fetched.error())
                                                     : stop(fetched.error(), QStringLiteral("cannot fetch"));
                if (!fetched.value().isEmpty()) {
                    const RemoteCard &found = fetched.value().first();
                    const ServerCard read = ReadServerCard(found.vcard, snapshot.classPaths);
                    if (read.uid.compare(uid, Qt::CaseInsensitive) == 0) {
                        SyncedCard row{local.id, found.href, found.etag, read.uid, {}, found.vcard, false};
                        // Its own card: whatever differs, this computer's copy is the truth.
                        return pushUpdate(row, found.vcard, read.content, local, read.content);
                    }
                }
                return failed(local.name, put.error());
            }
            return cardOnly(put.error()) ? failed(local.name, put.error())
                                         : stop(put.error(), QStringLiteral("cannot upload %1").arg(local.name));
        }
        SyncedCard row{local.id, put.value().href.isEmpty() ? href : put.value().href, put.value().etag, uid,
                       local.hash, vcard, false};
        written.insert(row.href, row.etag);
        createdHrefs.insert(row.href);
        if (const Result<> done = state.putCard(row); !done)
            return stopState(done.error());
        ++plan.report.uploaded;
        return true;
    }

    void planDownload(const QUuid &id, const RemoteCard &card, const ServerCard &read, bool restored)
    {
        LocalChange change;
        change.kind = LocalChange::Create;
        change.id = id;
        change.content = read.content;
        change.row = SyncedCard{id, card.href, card.etag, read.uid, ContentHash(read.content), card.vcard, false};
        plan.changes.push_back(change);
        if (restored)
            ++plan.report.updated;
        else
            ++plan.report.downloaded;
    }

    void runAll();
    void confirmTokenAfterCreates(const QByteArray &token, const QHash<QString, QByteArray> &listedEtag,
                                  const QSet<QString> &removedBefore);
};

SyncEngine::SyncEngine(SyncState &state, CardDavRemote &remote, SyncOptions options)
    : m_state(state)
    , m_remote(remote)
    , m_options(options)
{
}

SyncPlan SyncEngine::run(const SyncSnapshot &snapshot)
{
    Impl impl{m_state, m_remote, m_options, snapshot, {}, {}};
    impl.runAll();
    if (impl.plan.report.ok() && impl.options.progress)
        impl.options.progress(impl.stepsTotal, impl.stepsTotal);
    return std::move(impl.plan);
}

void SyncEngine::Impl::runAll()
{
    QString path = QUrl(remote.collectionUrl()).path();
    if (!path.endsWith(u'/'))
        path += u'/';
    hrefBase = path;

    const std::optional<BookSettings> book = state.book();
    const QByteArray token = book ? book->syncToken : QByteArray();
    QHash<QUuid, SyncedCard> rows = state.cards();
    const QHash<QString, QByteArray> skipped = state.skipped();

    RemoteResult<RemoteListing> listed = remote.list(rows.isEmpty() ? QByteArray() : token);
    if (!listed) {
        stop(listed.error(), QStringLiteral("cannot list the address book"));
        return;
    }
    const RemoteListing &listing = listed.value();
    plan.syncToken = listing.syncToken;
    plan.advanceToken = true;

    QHash<QString, QUuid> rowByHref;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        rowByHref.insert(it->href, it.key());
    QHash<QString, QByteArray> listedEtag;
    for (const RemoteItem &item : listing.items)
        listedEtag.insert(item.href, item.etag);
    const QSet<QString> removed(listing.removed.cbegin(), listing.removed.cend());

    // The server's side of every synced card.
    enum class Remote { Same, Changed, Gone };
    QHash<QUuid, Remote> remoteState;
    QStringList toFetch;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        Remote r = Remote::Same;
        const auto found = listedEtag.constFind(it->href);
        if (found != listedEtag.cend())
            r = (found.value() == it->etag && !it->etag.isEmpty()) ? Remote::Same : Remote::Changed;
        else if (listing.full || removed.contains(it->href))
            r = Remote::Gone;
        if (r == Remote::Same && it->pendingLocal)
            r = Remote::Changed; // the copy the state holds has not reached the data file
        remoteState.insert(it.key(), r);
        if (r == Remote::Changed && found != listedEtag.cend())
            toFetch.append(it->href);
    }
    QStringList newHrefs;
    for (const RemoteItem &item : listing.items) {
        if (rowByHref.contains(item.href))
            continue;
        const auto seen = skipped.constFind(item.href);
        if (seen != skipped.cend() && seen.value() == item.etag && !item.etag.isEmpty())
            continue;
        newHrefs.append(item.href);
        toFetch.append(item.href);
    }
    for (auto it = skipped.cbegin(); it != skipped.cend(); ++it) {
        if ((listing.full && !listedEtag.contains(it.key())) || removed.contains(it.key()))
            plan.skippedGone.append(it.key());
    }

    QHash<QString, RemoteCard> fetched;
    if (!toFetch.isEmpty()) {
        RemoteResult<QList<RemoteCard>> got = remote.fetch(toFetch);
        if (!got) {
            stop(got.error(), QStringLiteral("cannot fetch the changed cards"));
            return;
        }
        for (const RemoteCard &card : got.value())
            fetched.insert(card.href, card);
    }
    // A changed card the fetch no longer found is gone; one still pending
    // locally uses the copy the state holds.
    for (auto it = remoteState.begin(); it != remoteState.end(); ++it) {
        if (it.value() != Remote::Changed)
            continue;
        const SyncedCard &row = rows[it.key()];
        if (!fetched.contains(row.href)) {
            if (listedEtag.contains(row.href) && !row.pendingLocal)
                it.value() = Remote::Gone;
            else if (!listedEtag.contains(row.href) || row.pendingLocal)
                fetched.insert(row.href, RemoteCard{row.href, row.etag, row.vcard});
        }
    }

    // The cards of this computer.
    QHash<QUuid, const LocalCard *> localById;
    for (const LocalCard &card : snapshot.cards)
        localById.insert(card.id, &card);

    // New server cards: group cards and unreadable ones are passed over;
    // the rest are linked to a new card here with the same UID or the same
    // content, else downloaded.
    QHash<QString, ServerCard> newCards;
    for (const QString &href : newHrefs) {
        const auto found = fetched.constFind(href);
        if (found == fetched.cend())
            continue;
        ServerCard read = ReadServerCard(found->vcard, snapshot.classPaths);
        if (!read.readable) {
            plan.skippedResources.insert(href, found->etag);
            if (!read.group)
                plan.report.skippedLines.append(QStringLiteral("skipped: %1: %2").arg(href, read.problem));
            continue;
        }
        newCards.insert(href, std::move(read));
    }
    QHash<QByteArray, QList<const LocalCard *>> newLocalByHash;
    QSet<QUuid> linkedLocal;
    for (const LocalCard &card : snapshot.cards) {
        if (!rows.contains(card.id))
            newLocalByHash[card.hash].append(&card);
    }
    struct Link
    {
        const LocalCard *local;
        QString href;
    };
    std::vector<Link> links;
    std::vector<QString> downloads;
    for (const QString &href : newHrefs) {
        const auto read = newCards.constFind(href);
        if (read == newCards.cend())
            continue;
        const QUuid byUid = QUuid::fromString(read->uid);
        const LocalCard *match = nullptr;
        if (!byUid.isNull() && !rows.contains(byUid) && !linkedLocal.contains(byUid))
            match = localById.value(byUid);
        if (!match) {
            QList<const LocalCard *> &same = newLocalByHash[ContentHash(read->content)];
            for (const LocalCard *candidate : same) {
                if (!linkedLocal.contains(candidate->id)) {
                    match = candidate;
                    break;
                }
            }
        }
        if (!match) {
            // Cards whose identities were lost with the state: the same name
            // and most other texts equal.
            for (const LocalCard &candidate : snapshot.cards) {
                if (!rows.contains(candidate.id) && !linkedLocal.contains(candidate.id)
                    && candidate.content.fields[0] == read->content.fields[0] && similar(candidate.content, read->content)) {
                    match = &candidate;
                    break;
                }
            }
        }
        if (match) {
            linkedLocal.insert(match->id);
            links.push_back({match, href});
        } else {
            downloads.push_back(href);
        }
    }

    // The mass-delete guard: count before acting.
    int deleteOnServer = 0;
    int deleteHere = 0;
    int serverCards = int(newCards.size());
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        const Remote r = remoteState.value(it.key());
        const LocalCard *local = localById.value(it.key());
        if (r != Remote::Gone)
            ++serverCards;
        if (!local && r == Remote::Same)
            ++deleteOnServer;
        if (local && r == Remote::Gone && local->hash == it->contentHash && !it->pendingLocal)
            ++deleteHere;
    }
    const int localCards = int(snapshot.cards.size());
    const int serverBefore = serverCards;
    const int localBefore = localCards;
    const bool serverEmptied = !rows.isEmpty() && serverCards == 0;
    const bool localEmptied = !rows.isEmpty() && localCards == 0;
    if (!options.allowMassDelete
        && ((deleteOnServer > 0 && (localEmptied || deleteOnServer * 2 > serverBefore))
            || (deleteHere > 0 && (serverEmptied || deleteHere * 2 > localBefore)))) {
        plan.report.massDelete = true;
        plan.report.stopped =
            QStringLiteral("this run would delete %1 of %2 cards on the server and %3 of %4 cards in the data file; "
                           "nothing deleted (run with --allow-mass-delete if that is meant)")
                .arg(deleteOnServer)
                .arg(serverBefore)
                .arg(deleteHere)
                .arg(localBefore);
        plan.advanceToken = false;
        return;
    }

    // Progress: the listing and the fetch, then every card acted on.
    int toAct = int(links.size());
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        const LocalCard *local = localById.value(it.key());
        if (!local || remoteState.value(it.key()) != Remote::Same || local->hash != it->contentHash)
            ++toAct;
    }
    for (const LocalCard &card : snapshot.cards) {
        if (!rows.contains(card.id) && !linkedLocal.contains(card.id))
            ++toAct;
    }
    startSteps(2 + toAct);

    // Synced cards, by the decision table.
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        const SyncedCard &row = it.value();
        const Remote r = remoteState.value(it.key());
        const LocalCard *local = localById.value(it.key());
        const bool localChanged = local && local->hash != row.contentHash;
        if (local && r == Remote::Same && !localChanged)
            continue;
        step();
        if (!local) {
            if (r == Remote::Same) {
                RemoteResult<Done> gone = remote.remove(row.href, row.etag);
                if (!gone && gone.error().status == RemoteStatus::PreconditionFailed) {
                    // Changed on the server meanwhile: the change wins.
                    RemoteResult<QList<RemoteCard>> again = remote.fetch({row.href});
                    if (!again) {
                        if (!cardOnly(again.error()))
                            return (void)stop(again.error(), QStringLiteral("cannot fetch"));
                        failed(row.href, again.error());
                        continue;
                    }
                    if (!again.value().isEmpty()) {
                        const RemoteCard &card = again.value().first();
                        planDownload(row.id, card, ReadServerCard(card.vcard, snapshot.classPaths), true);
                        continue;
                    }
                } else if (!gone && gone.error().status != RemoteStatus::NotFound) {
                    if (!cardOnly(gone.error()))
                        return (void)stop(gone.error(), QStringLiteral("cannot delete %1").arg(row.href));
                    failed(row.href, gone.error());
                    continue;
                }
                deletedHrefs.insert(row.href);
                if (const Result<> done = state.removeCard(row.id); !done)
                    return (void)stopState(done.error());
                ++plan.report.deleted;
            } else if (r == Remote::Changed) {
                const RemoteCard &card = fetched[row.href];
                const ServerCard read = ReadServerCard(card.vcard, snapshot.classPaths);
                if (read.readable)
                    planDownload(row.id, card, read, true);
            } else {
                if (const Result<> done = state.removeCard(row.id); !done)
                    return (void)stopState(done.error());
            }
            continue;
        }
        const CardContent base = contentOf(row.vcard);
        if (r == Remote::Gone) {
            if (localChanged || row.pendingLocal) {
                if (!recreate(row, *local, row.vcard))
                    return;
            } else {
                LocalChange change;
                change.kind = LocalChange::Delete;
                change.id = row.id;
                change.expected = local->content;
                change.row = row;
                plan.changes.push_back(change);
                ++plan.report.deleted;
            }
            continue;
        }
        if (r == Remote::Same) { // changed here only
            if (!pushUpdate(row, row.vcard, base, *local, base))
                return;
            continue;
        }
        // Changed on the server (and maybe here too).
        const RemoteCard &card = fetched[row.href];
        const ServerCard read = ReadServerCard(card.vcard, snapshot.classPaths);
        if (!read.readable) {
            plan.report.skippedLines.append(
                QStringLiteral("skipped: %1: the server copy of %2 %3").arg(row.href, local->name, read.problem));
            continue;
        }
        SyncedCard fresh = row;
        fresh.etag = card.etag;
        fresh.serverUid = read.uid.isEmpty() ? row.serverUid : read.uid;
        // A pending row's base is the content the data file still has.
        const CardContent mergeBase = row.pendingLocal ? local->content : base;
        if (!localChanged && !row.pendingLocal) {
            LocalChange change;
            change.kind = LocalChange::Update;
            change.id = row.id;
            change.content = read.content;
            change.expected = local->content;
            fresh.vcard = card.vcard;
            fresh.contentHash = ContentHash(read.content);
            fresh.pendingLocal = false;
            change.row = fresh;
            if (read.content != local->content) {
                plan.changes.push_back(change);
                ++plan.report.updated;
            } else if (const Result<> done = state.putCard(fresh); !done) {
                return (void)stopState(done.error());
            }
            continue;
        }
        if (!pushUpdate(fresh, card.vcard, read.content, *local, mergeBase))
            return;
    }

    // Cards new on both sides that are one card: linked.
    for (const Link &link : links) {
        step();
        const RemoteCard &card = fetched[link.href];
        const ServerCard &read = newCards[link.href];
        SyncedCard row{link.local->id, card.href, card.etag, read.uid, {}, card.vcard, false};
        if (read.content == link.local->content) {
            row.contentHash = link.local->hash;
            if (const Result<> done = state.putCard(row); !done)
                return (void)stopState(done.error());
            continue;
        }
        // The same UID with different content: merged with no common base.
        if (!pushUpdate(row, card.vcard, read.content, *link.local, CardContent{}))
            return;
    }

    // New here: uploaded.
    for (const LocalCard &card : snapshot.cards) {
        if (rows.contains(card.id) || linkedLocal.contains(card.id))
            continue;
        step();
        if (!upload(card))
            return;
    }
    // New on the server: downloaded, under the UID as identity when it is
    // one and free.
    QSet<QUuid> taken;
    for (const LocalCard &card : snapshot.cards)
        taken.insert(card.id);
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        taken.insert(it.key());
    for (const QString &href : downloads) {
        const ServerCard &read = newCards[href];
        QUuid id = QUuid::fromString(read.uid);
        if (id.isNull() || taken.contains(id))
            id = QUuid::createUuid();
        taken.insert(id);
        planDownload(id, fetched[href], read, false);
    }
    if (!listing.full)
        confirmTokenAfterCreates(token, listedEtag, removed);
}

// After a run that created cards: the changes since the run's own token are
// asked for once more. When they are exactly this run's writes (and what the
// run already took in), nothing else happened meanwhile and the new token
// holds; the state keeps it instead of listing the whole book next time.
// Anything else (another device's change, a card created here and already
// gone, a write whose ETag the server did not give) leaves no token.
void SyncEngine::Impl::confirmTokenAfterCreates(const QByteArray &token, const QHash<QString, QByteArray> &listedEtag,
                                                const QSet<QString> &removedBefore)
{
    if (!plan.createdOnServer || !plan.report.ok() || !plan.advanceToken || token.isEmpty())
        return;
    RemoteResult<RemoteListing> again = remote.list(token);
    if (!again || again.value().full || again.value().syncToken.isEmpty())
        return;
    QSet<QString> createdSeen;
    for (const RemoteItem &item : again.value().items) {
        const auto ours = written.constFind(item.href);
        if (ours != written.cend()) {
            if (ours->isEmpty() || ours.value() != item.etag)
                return;
            if (createdHrefs.contains(item.href))
                createdSeen.insert(item.href);
            continue;
        }
        const auto seen = listedEtag.constFind(item.href);
        if (seen == listedEtag.cend() || seen->isEmpty() || seen.value() != item.etag)
            return;
    }
    for (const QString &href : again.value().removed) {
        if (!deletedHrefs.contains(href) && !removedBefore.contains(href))
            return;
    }
    if (createdSeen.size() != createdHrefs.size())
        return;
    plan.syncToken = again.value().syncToken;
    plan.createdOnServer = false;
}

namespace {

CardNode *findChildClass(CardTree &tree, CardNode *parent, const QByteArray &label)
{
    for (int row = 0; row < tree.childCount(parent); ++row) {
        CardNode *child = tree.child(parent, row);
        if (child->isCardClass() && child->label() == label)
            return child;
    }
    return nullptr;
}

// The class at `path`, made (at the end of its level) where missing.
CardNode *ensureClass(CardTree &tree, const QStringList &path)
{
    CardNode *parent = nullptr;
    for (const QString &part : path) {
        const QByteArray label = gb18030::encode(part);
        CardNode *found = findChildClass(tree, parent, label);
        if (!found) {
            auto record = MakeCardClassRecord();
            record->setField(Field::Name, label);
            record->Created = CurrentDateTimeStamp();
            found = tree.addChild(parent, label, std::move(record));
        }
        parent = found;
    }
    return parent;
}

std::vector<NewCardNode> newCard(const CardContent &content)
{
    NewCardNode node;
    node.data = MakeCardRecord();
    for (int n = Field::First; n <= Field::Last; ++n)
        node.data->setField(n, gb18030::encode(content.fields[size_t(n - 1)]));
    node.data->Created = CurrentDateTimeStamp();
    node.label = node.data->name().toByteArray();
    node.displayIndexes = {1, 1, 1, 1};
    std::vector<NewCardNode> nodes;
    nodes.push_back(std::move(node));
    return nodes;
}

void writeContent(CardTree &tree, CardNode *node, const CardContent &content)
{
    for (int n = Field::First; n <= Field::Last; ++n)
        tree.setField(node, n, gb18030::encode(content.fields[size_t(n - 1)]));
    tree.setLabel(node, node->data()->name());
    if (ContentOfNode(*node).classPath != content.classPath) {
        CardNode *target = ensureClass(tree, content.classPath);
        if (target && target != node->parent())
            tree.moveNode(node, target, CardTree::MoveMode::AsLastChild);
    }
}

} // namespace

int ApplySyncPlan(SyncPlan &plan, CardTree &tree, CardIdentities &ids)
{
    int heldBack = 0;
    const QHash<QUuid, const CardNode *> byId = ids.byIdentity();
    for (LocalChange &change : plan.changes) {
        CardNode *node = const_cast<CardNode *>(byId.value(change.id));
        switch (change.kind) {
        case LocalChange::Create: {
            if (node && !change.id.isNull()) {
                // The card is back here (restored): update it instead.
                writeContent(tree, node, change.content);
                change.applied = true;
                break;
            }
            CardNode *parent = ensureClass(tree, change.content.classPath);
            CardNode *made = tree.addChildren(parent, newCard(change.content));
            ids.assign(made, change.id);
            change.applied = true;
            break;
        }
        case LocalChange::ConflictCopy: {
            CardNode *parent = ensureClass(tree, {ConflictClassName()});
            tree.addChildren(parent, newCard(change.content));
            change.applied = true;
            break;
        }
        case LocalChange::Update:
        case LocalChange::Delete:
            if (!node || !node->isCard() || (change.expected && ContentOfNode(*node) != *change.expected)) {
                ++heldBack; // changed or deleted here since the snapshot: the next run decides
                plan.advanceToken = false;
                plan.report.skippedLines.append(
                    QStringLiteral("held back: %1: changed here during the sync; taken up by the next run")
                        .arg(change.expected ? nameOf(*change.expected) : IdentityText(change.id)));
                break;
            }
            if (change.kind == LocalChange::Delete)
                tree.deleteNode(node);
            else
                writeContent(tree, node, change.content);
            change.applied = true;
            break;
        }
    }
    return heldBack;
}

Result<> CommitSyncPlan(const SyncPlan &plan, SyncState &state)
{
    if (Result<> begun = state.begin(); !begun)
        return begun;
    const auto fail = [&state](Result<> result) {
        state.rollback();
        return result;
    };
    for (const LocalChange &change : plan.changes) {
        if (!change.applied || !change.row)
            continue;
        Result<> done = change.kind == LocalChange::Delete ? state.removeCard(change.row->id)
                                                           : state.putCard(*change.row);
        if (!done)
            return fail(done);
    }
    for (auto it = plan.skippedResources.cbegin(); it != plan.skippedResources.cend(); ++it) {
        if (Result<> done = state.putSkipped(it.key(), it.value()); !done)
            return fail(done);
    }
    for (const QString &href : plan.skippedGone) {
        if (Result<> done = state.removeSkipped(href); !done)
            return fail(done);
    }
    if (plan.report.ok() && plan.advanceToken && !plan.createdOnServer) {
        if (Result<> done = state.setSyncToken(plan.syncToken); !done)
            return fail(done);
    }
    return state.commit();
}

} // namespace kelvo::sync
