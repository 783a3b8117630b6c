#include "NodeDragData.h"

#include "AtomicFile.h"
#include "CardExport.h"

#include "CardTree.h"

#include <QDir>
#include <QUrl>

namespace kelvo {

namespace {

const QString UriList = QStringLiteral("text/uri-list");

} // namespace

NodeDragData::NodeDragData(const CardTree &tree, const CardNode *node, QString folder,
                           std::function<QString(const CardNode *)> uidOf)
    : m_tree(tree)
    , m_changeCount(tree.changeCount())
    , m_node(node)
    , m_folder(std::move(folder))
    , m_uidOf(std::move(uidOf))
{
}

bool NodeDragData::nodeStillValid() const
{
    // A drop target may ask after the drag has ended; by then a command may
    // have deleted the node.
    return m_node && m_tree.changeCount() == m_changeCount;
}

QStringList NodeDragData::formats() const
{
    QStringList list = QMimeData::formats();
    if (nodeStillValid() && !list.contains(UriList))
        list.append(UriList);
    return list;
}

bool NodeDragData::hasFormat(const QString &mimeType) const
{
    return formats().contains(mimeType);
}

QString NodeDragData::filePath() const
{
    if (m_tried)
        return m_written;
    if (!nodeStillValid())
        return QString();
    m_tried = true;
    if (!QDir().mkpath(m_folder))
        return QString();
    const QByteArray bytes = exchange::ExportCards(exchange::CardsAt(m_node), exchange::ExportFormat::VCard30, m_uidOf);
    const QString path = QDir(m_folder).filePath(exchange::VCardFileNameFor(*m_node));
    if (!writeFileAtomically(path, bytes))
        return QString();
    m_written = path;
    return m_written;
}

QVariant NodeDragData::retrieveData(const QString &mimeType, QMetaType type) const
{
    if (mimeType == UriList && (m_tried || nodeStillValid())) {
        const QString path = filePath();
        if (path.isEmpty())
            return QVariant();
        if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString)
            return QUrl::fromLocalFile(path).toEncoded() + "\r\n";
        return QVariantList{QUrl::fromLocalFile(path)};
    }
    return QMimeData::retrieveData(mimeType, type);
}

} // namespace kelvo
