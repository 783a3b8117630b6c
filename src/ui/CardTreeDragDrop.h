#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <memory>

class QMimeData;
class QTemporaryDir;
class QTreeView;
class QWidget;

namespace kelvo {

class CardNode;
class CardTreeHost;
class LabelEditDelegate;
class TreeCommands;

// Mouse handling of the card tree's viewport:
// - a left press on a node's icon or label arms a drag, which begins once
//   the pointer has moved 5 pixels or more with the button held;
// - drags from the tree itself are accepted only over a node, which is
//   highlighted as the drop target; a drop runs the tree commands' drop step
//   (the store moves the node, the view follows its announcements);
// - .vcf and .csv files from the file manager are accepted over a node and
//   imported into its card class (onto a card: its class) once the drop is
//   over; pictures of cards (when a handler for them is set) are handed to
//   it with the same card class, once the drop is over; other files, mixed
//   drops, and drops over empty space are refused;
// - a drag from the tree also offers the dragged node as a .vcf file, for
//   file managers;
// - a right press opens the context menu without changing the selection;
// - a double-click renames the selected node.
class CardTreeDragDrop : public QObject
{
    Q_OBJECT

public:
    static constexpr int DragDistance = 5;

    CardTreeDragDrop(QTreeView *view, CardTreeHost &host, TreeCommands &commands, LabelEditDelegate *delegate,
                     QObject *parent = nullptr);
    ~CardTreeDragDrop() override;

    // The MIME type that marks a drag as coming from the card tree; its data
    // names the process and the view the drag began in.
    static QString mimeType();
    // What a drag from this view carries.
    QMimeData *makeMimeData() const;
    // The same, offering `node` as a .vcf file too (what a real drag carries).
    QMimeData *makeDragData(const CardNode *node);

    // Runs the drag once it begins. The default starts a QDrag and returns
    // when it has ended; tests replace it.
    using DragStarter = std::function<void()>;
    void setDragStarter(DragStarter starter) { m_startDrag = std::move(starter); }

    // Where pictures of cards dropped from the file manager go: the card class
    // a drop onto the node means, and the pictures' paths.
    using PictureDropHandler = std::function<void(CardNode *targetClass, const QStringList &files)>;
    void setPictureDropHandler(PictureDropHandler handler) { m_pictureDrop = std::move(handler); }
    // The local pictures of cards a drag carries; empty when it carries
    // anything else besides them.
    static QStringList pictureFiles(const QMimeData *mime);

    bool isArmed() const { return m_armed; }
    // The highlighted drop target, or an invalid index.
    QModelIndex dropTarget() const { return m_dropTarget; }
    // Ends an armed drag without a drop.
    void disarm() { m_armed = false; }

    // True when `pos` (viewport coordinates) lies on the icon or the label of
    // the node at that place.
    bool hitsIconOrLabel(const QPoint &pos) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QByteArray dragToken() const;
    bool comesFromThisTree(const QMimeData *mime) const;
    void runDefaultDrag();
    void setDropTarget(const QModelIndex &index);
    // Drags from elsewhere: files to import.
    bool handleFileDrag(QEvent *event);
    void importDroppedFiles(const QPersistentModelIndex &target, const QStringList &files);

    QTreeView *m_view;
    // Kept apart from the view: while the view is being destroyed its
    // viewport still sends events here, and the view is no scroll area then.
    QWidget *m_viewport;
    CardTreeHost &m_host;
    TreeCommands &m_commands;
    QPointer<LabelEditDelegate> m_delegate;
    QWidget *m_highlight;
    DragStarter m_startDrag;
    PictureDropHandler m_pictureDrop;
    bool m_armed = false;
    QPoint m_pressPos;
    QPersistentModelIndex m_dropTarget;
    std::unique_ptr<QTemporaryDir> m_dragFiles; // the .vcf files dragged out, kept until the end
    int m_dragCount = 0;
};

} // namespace kelvo
