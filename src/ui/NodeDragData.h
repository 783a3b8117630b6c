#pragma once

#include <QMimeData>
#include <QString>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace kelvo {

class CardNode;
class CardTree;

// What a drag from the card tree carries besides the tree's own token: a
// .vcf file of the dragged node (a card, or a card class with every card
// below it), named after its label, for file managers. The file is written
// only when a drop target asks for it, into `folder`, which the caller keeps
// until the program ends; once the tree has changed in any way, the node is
// no longer trusted and no file is offered.
class NodeDragData : public QMimeData
{
    Q_OBJECT

public:
    // `uidOf` gives each card's UID in the file (may be empty).
    NodeDragData(const CardTree &tree, const CardNode *node, QString folder,
                 std::function<QString(const CardNode *)> uidOf = {});

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // The file, written on first use; empty when it cannot be written.
    QString filePath() const;

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    bool nodeStillValid() const;

    const CardTree &m_tree;
    quint64 m_changeCount;
    const CardNode *m_node;
    QString m_folder;
    std::function<QString(const CardNode *)> m_uidOf;
    mutable QString m_written;
    mutable bool m_tried = false;
};

} // namespace kelvo
