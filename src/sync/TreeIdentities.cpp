#include "TreeIdentities.h"

#include "SyncState.h"
#include "SyncStatePath.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSet>
#include <QtEndian>

#include <algorithm>

#include <cstring>
#include <unordered_map>
#include <vector>

namespace kelvo::sync {

namespace {

constexpr char Magic[4] = {'K', 'I', 'D', '1'};
constexpr qsizetype HeaderBytes = 8;
constexpr qsizetype EntryBytes = 16 + 4 + Field::Count;

struct Entry
{
    QUuid id;
    int depth = 0;
    bool card = false;
    std::array<quint8, Field::Count> prints{};
};

quint8 fingerprint(QByteArrayView text)
{
    if (text.isEmpty())
        return 0;
    // FNV-1a: the same in every process (Qt's qHash is seeded per process).
    quint32 hash = 2166136261u;
    for (const char c : text) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return quint8(1 + hash % 255);
}

std::array<quint8, Field::Count> fingerprints(const CardNode *node)
{
    std::array<quint8, Field::Count> prints{};
    if (const TCardData *data = node->data()) {
        const auto fields = data->fields();
        for (int i = 0; i < Field::Count; ++i)
            prints[size_t(i)] = fingerprint(fields[size_t(i)]);
    }
    return prints;
}

bool readEntries(const QByteArray &blob, std::vector<Entry> &entries)
{
    if (blob.size() < HeaderBytes || std::memcmp(blob.constData(), Magic, 4) != 0)
        return false;
    const quint32 count = qFromLittleEndian<quint32>(blob.constData() + 4);
    if ((blob.size() - HeaderBytes) / EntryBytes != qsizetype(count) || (blob.size() - HeaderBytes) % EntryBytes)
        return false;
    entries.resize(count);
    const char *at = blob.constData() + HeaderBytes;
    for (Entry &e : entries) {
        e.id = QUuid::fromRfc4122(QByteArrayView(at, 16));
        const quint32 bits = qFromLittleEndian<quint32>(at + 16);
        e.depth = int(bits >> 1);
        e.card = bits & 1;
        std::memcpy(e.prints.data(), at + 20, Field::Count);
        at += EntryBytes;
    }
    return true;
}

bool similar(const std::array<quint8, Field::Count> &a, const std::array<quint8, Field::Count> &b)
{
    int used = 0;
    int equal = 0;
    for (int i = 0; i < Field::Count; ++i) {
        if (a[size_t(i)] == 0 && b[size_t(i)] == 0)
            continue;
        ++used;
        equal += a[size_t(i)] == b[size_t(i)];
    }
    // The same name (field 1), or most of the texts either holds.
    return a[0] == b[0] || equal * 2 > used;
}

QByteArray contentKey(bool card, const std::array<quint8, Field::Count> &prints)
{
    QByteArray key(1 + Field::Count, Qt::Uninitialized);
    key[0] = card ? 1 : 0;
    std::memcpy(key.data() + 1, prints.data(), Field::Count);
    return key;
}

} // namespace

QByteArray DescribeIdentities(const CardTree &tree, CardIdentities &ids)
{
    const int count = tree.count();
    QByteArray blob(HeaderBytes + qsizetype(count) * EntryBytes, Qt::Uninitialized);
    std::memcpy(blob.data(), Magic, 4);
    qToLittleEndian<quint32>(quint32(count), blob.data() + 4);
    char *at = blob.data() + HeaderBytes;
    for (int i = 0; i < count; ++i) {
        const CardNode *node = tree.nodeAt(i);
        const QUuid id = ids.identity(node);
        qToBigEndian<quint32>(id.data1, at);
        qToBigEndian<quint16>(id.data2, at + 4);
        qToBigEndian<quint16>(id.data3, at + 6);
        std::memcpy(at + 8, id.data4, 8);
        qToLittleEndian<quint32>(quint32(node->depth()) << 1 | (node->isCard() ? 1u : 0u), at + 16);
        const auto prints = fingerprints(node);
        std::memcpy(at + 20, prints.data(), Field::Count);
        at += EntryBytes;
    }
    return blob;
}

RestoreOutcome RestoreIdentities(const QByteArray &blob, bool sameFile, const CardTree &tree, CardIdentities &ids)
{
    RestoreOutcome outcome;
    std::vector<Entry> entries;
    const int count = tree.count();
    if (!readEntries(blob, entries)) {
        outcome.fresh = count;
        return outcome;
    }
    QSet<QUuid> used;
    used.reserve(qsizetype(entries.size()));
    if (sameFile && entries.size() == size_t(count)) {
        bool agree = true;
        for (int i = 0; i < count && agree; ++i) {
            const CardNode *node = tree.nodeAt(i);
            agree = node->depth() == entries[size_t(i)].depth && node->isCard() == entries[size_t(i)].card;
        }
        if (agree) {
            for (int i = 0; i < count; ++i) {
                const QUuid &id = entries[size_t(i)].id;
                if (id.isNull() || used.contains(id))
                    continue;
                used.insert(id);
                ids.assign(tree.nodeAt(i), id);
                ++outcome.exact;
            }
            outcome.fresh = count - outcome.exact;
            return outcome;
        }
    }

    // By place: the path of rows from the top level down, for described nodes.
    std::unordered_map<std::string, size_t> byPlace;
    byPlace.reserve(entries.size());
    {
        std::vector<int> rows; // rows[d]: the row at depth d of the current path
        std::string key;
        for (size_t i = 0; i < entries.size(); ++i) {
            const int depth = entries[i].depth;
            if (depth > int(rows.size()))
                break; // not a pre-order description: places past here are unknown
            rows.resize(size_t(depth) + 1, -1);
            ++rows[size_t(depth)];
            key.assign(reinterpret_cast<const char *>(rows.data()), rows.size() * sizeof(int));
            byPlace.emplace(key, i);
            rows.push_back(-1);
            rows.resize(size_t(depth) + 1);
        }
    }
    std::vector<bool> taken(entries.size(), false);
    std::vector<const CardNode *> unmatched;
    std::string key;
    std::vector<int> path;
    for (int i = 0; i < count; ++i) {
        const CardNode *node = tree.nodeAt(i);
        path.clear();
        for (const CardNode *n = node; n; n = n->parent())
            path.push_back(n->row());
        std::reverse(path.begin(), path.end());
        key.assign(reinterpret_cast<const char *>(path.data()), path.size() * sizeof(int));
        const auto found = byPlace.find(key);
        if (found != byPlace.end()) {
            const Entry &e = entries[found->second];
            if (!taken[found->second] && !e.id.isNull() && !used.contains(e.id) && e.card == node->isCard()
                && similar(e.prints, fingerprints(node))) {
                taken[found->second] = true;
                used.insert(e.id);
                ids.assign(node, e.id);
                ++outcome.matched;
                continue;
            }
        }
        unmatched.push_back(node);
    }
    if (!unmatched.empty()) {
        QMultiHash<QByteArray, size_t> byContent;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!taken[i] && !entries[i].id.isNull() && !used.contains(entries[i].id))
                byContent.insert(contentKey(entries[i].card, entries[i].prints), i);
        }
        for (const CardNode *node : unmatched) {
            const QByteArray k = contentKey(node->isCard(), fingerprints(node));
            auto it = byContent.find(k);
            while (it != byContent.end() && it.key() == k && (taken[*it] || used.contains(entries[*it].id)))
                ++it;
            if (it == byContent.end() || it.key() != k) {
                ++outcome.fresh;
                continue;
            }
            taken[*it] = true;
            used.insert(entries[*it].id);
            ids.assign(node, entries[*it].id);
            ++outcome.matched;
        }
    }
    return outcome;
}

Result<QByteArray> HashDataFile(const QString &dataFilePath)
{
    QFile file(dataFilePath);
    if (!file.open(QIODevice::ReadOnly))
        return Error{ErrorCode::ReadFailed, dataFilePath, file.errorString()};
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return Error{ErrorCode::ReadFailed, dataFilePath, file.errorString()};
    return hash.result();
}

Result<RestoreOutcome> LoadIdentities(const QString &dataFilePath, const CardTree &tree, CardIdentities &ids)
{
    const QString statePath = SyncStatePath(dataFilePath);
    if (!QFile::exists(statePath))
        return RestoreOutcome{0, 0, tree.count()};
    Result<std::unique_ptr<SyncState>> state = SyncState::open(statePath);
    if (!state)
        return state.error();
    const std::optional<SyncState::TreeIdentities> stored = state.value()->treeIdentities();
    if (!stored)
        return RestoreOutcome{0, 0, tree.count()};
    Result<QByteArray> hash = HashDataFile(dataFilePath);
    const bool sameFile = hash && hash.value() == stored->dataHash;
    return RestoreIdentities(stored->nodes, sameFile, tree, ids);
}

Result<> SaveIdentities(const QString &dataFilePath, const CardTree &tree, CardIdentities &ids)
{
    Result<QByteArray> hash = HashDataFile(dataFilePath);
    if (!hash)
        return hash.error();
    const QString statePath = SyncStatePath(dataFilePath);
    Result<std::unique_ptr<SyncState>> state = SyncState::open(statePath);
    if (!state && state.error().code == ErrorCode::DataDamaged)
        state = SyncState::recreate(statePath);
    if (!state)
        return state.error();
    return state.value()->setTreeIdentities(hash.value(), DescribeIdentities(tree, ids));
}

Result<> FollowRewrittenDataFile(const QString &dataFilePath, CardTree &tree)
{
    if (!QFile::exists(SyncStatePath(dataFilePath)))
        return {};
    CardIdentities ids(tree);
    (void)LoadIdentities(dataFilePath, tree, ids); // a damaged state is started anew below
    return SaveIdentities(dataFilePath, tree, ids);
}

} // namespace kelvo::sync
