#include "CardTreeDragDrop.h"

#include "CardFileImport.h"
#include "CardTree.h"
#include "CardTreeHost.h"
#include "LabelEditDelegate.h"
#include "NodeDragData.h"
#include "TfrmCapture.h"
#include "TreeCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUrl>

namespace kelvo {
namespace {

// Drawn over the drop target while a drag moves over the tree.
class DropHighlight : public QWidget
{
public:
    explicit DropHighlight(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("tvCardDropTarget"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlpha(96);
        painter.fillRect(rect(), fill);
        painter.setPen(palette().color(QPalette::Highlight));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

} // namespace

CardTreeDragDrop::CardTreeDragDrop(QTreeView *view, CardTreeHost &host, TreeCommands &commands,
                                   LabelEditDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_viewport(view->viewport())
    , m_host(host)
    , m_commands(commands)
    , m_delegate(delegate)
    , m_highlight(new DropHighlight(view->viewport()))
{
    // The view never moves rows itself: it neither starts drags nor takes
    // drops; this filter does both and moves nodes through the store.
    m_view->setDragEnabled(false);
    m_view->setDragDropMode(QAbstractItemView::NoDragDrop);
    m_view->setAcceptDrops(true);
    m_view->viewport()->setAcceptDrops(true);
    m_view->viewport()->installEventFilter(this);
    m_startDrag = [this] { runDefaultDrag(); };
    connect(&m_commands, &TreeCommands::labelEditFinished, this, &CardTreeDragDrop::disarm);
}

CardTreeDragDrop::~CardTreeDragDrop() = default;

QString CardTreeDragDrop::mimeType()
{
    return QStringLiteral("application/x-kelvo-card-node");
}

bool CardTreeDragDrop::hitsIconOrLabel(const QPoint &pos) const
{
    const QModelIndex index = m_view->indexAt(pos);
    if (!index.isValid())
        return false;
    const QRect area = m_delegate ? m_delegate->iconAndLabelRect(*m_view, index) : m_view->visualRect(index);
    return area.contains(pos);
}

QByteArray CardTreeDragDrop::dragToken() const
{
    // Names this process and this view, so drags from elsewhere never match.
    return QByteArray::number(QCoreApplication::applicationPid()) + ':'
        + QByteArray::number(reinterpret_cast<quintptr>(m_view), 16);
}

QMimeData *CardTreeDragDrop::makeMimeData() const
{
    auto *mime = new QMimeData;
    mime->setData(mimeType(), dragToken());
    return mime;
}

QMimeData *CardTreeDragDrop::makeDragData(const CardNode *node)
{
    if (!m_dragFiles)
        m_dragFiles = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kelvo-drag-XXXXXX"));
    // A folder per drag, so that a file manager still copying the last one
    // never sees it replaced.
    const QString folder = m_dragFiles->isValid() ? m_dragFiles->filePath(QString::number(++m_dragCount)) : QString();
    CardTreeHost *host = &m_host;
    auto *mime = new NodeDragData(m_host.cardTree(), folder.isEmpty() ? nullptr : node, folder, [host](const CardNode *card) {
        const QString uid = host->cardUid(card);
        host->keepCardUids();
        return uid;
    });
    mime->setData(mimeType(), dragToken());
    return mime;
}

bool CardTreeDragDrop::comesFromThisTree(const QMimeData *mime) const
{
    return mime && mime->hasFormat(mimeType()) && mime->data(mimeType()) == dragToken();
}

void CardTreeDragDrop::setDropTarget(const QModelIndex &index)
{
    m_dropTarget = index;
    if (!index.isValid()) {
        m_highlight->hide();
        return;
    }
    const QRect area = m_delegate ? m_delegate->iconAndLabelRect(*m_view, index) : m_view->visualRect(index);
    m_highlight->setGeometry(area);
    m_highlight->show();
    m_highlight->raise();
    m_highlight->update();
}

void CardTreeDragDrop::runDefaultDrag()
{
    auto *drag = new QDrag(m_view);
    const QModelIndex pressed = m_view->indexAt(m_pressPos);
    drag->setMimeData(makeDragData(pressed.isValid() ? m_host.nodeOfIndex(pressed) : nullptr));
    if (pressed.isValid()) {
        const QRect area = m_delegate ? m_delegate->iconAndLabelRect(*m_view, pressed) : m_view->visualRect(pressed);
        drag->setPixmap(m_view->viewport()->grab(area));
        drag->setHotSpot(m_pressPos - area.topLeft());
    }
    // Copy too, for file managers taking the .vcf file; drops onto the tree
    // itself are moves whatever the drag offers.
    drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}

QStringList CardTreeDragDrop::pictureFiles(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls())
        return {};
    QStringList files;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile() || !isCardPictureFile(url.toLocalFile()))
            return {};
        files.append(url.toLocalFile());
    }
    return files;
}

bool CardTreeDragDrop::handleFileDrag(QEvent *event)
{
    auto *drag = static_cast<QDropEvent *>(event);
    QStringList files = CardFileImport::importableFiles(drag->mimeData());
    bool pictures = false;
    if (files.isEmpty() && m_pictureDrop) {
        files = pictureFiles(drag->mimeData());
        pictures = !files.isEmpty();
    }
    const QModelIndex target = m_view->indexAt(drag->position().toPoint());
    CardNode *targetClass = target.isValid() ? CardFileImport::targetClassFor(m_host.nodeOfIndex(target)) : nullptr;
    if (event->type() == QEvent::DragEnter && !files.isEmpty()) {
        // Taken in, so that the moves follow; each position decides itself.
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        setDropTarget(targetClass ? target : QModelIndex());
        return true;
    }
    if (files.isEmpty() || !targetClass) {
        drag->ignore(); // other files, or empty space
        setDropTarget(QModelIndex());
        return true;
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (event->type() == QEvent::Drop) {
        setDropTarget(QModelIndex());
        // Once the drop is over, so that the file manager is not kept
        // waiting while the notice is up.
        const QPersistentModelIndex where(m_host.indexOfNode(targetClass));
        QMetaObject::invokeMethod(
            this,
            [this, where, files, pictures] {
                if (!pictures) {
                    importDroppedFiles(where, files);
                    return;
                }
                CardNode *targetClass =
                    where.isValid() ? CardFileImport::targetClassFor(m_host.nodeOfIndex(where)) : nullptr;
                if (targetClass && m_pictureDrop)
                    m_pictureDrop(targetClass, files);
            },
            Qt::QueuedConnection);
    } else {
        setDropTarget(target);
    }
    return true;
}

void CardTreeDragDrop::importDroppedFiles(const QPersistentModelIndex &target, const QStringList &files)
{
    CardNode *targetClass = target.isValid() ? CardFileImport::targetClassFor(m_host.nodeOfIndex(target)) : nullptr;
    if (targetClass)
        CardFileImport::importFiles(m_host, targetClass, files);
}

bool CardTreeDragDrop::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_viewport)
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton)
            return true; // the context menu opens without changing the selected node
        if (mouse->button() == Qt::LeftButton) {
            m_pressPos = mouse->position().toPoint();
            m_armed = hitsIconOrLabel(m_pressPos);
        }
        return false;
    }
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton)
            return true;
        if (mouse->button() == Qt::LeftButton) {
            m_armed = false;
            // After the view has handled the click itself.
            QMetaObject::invokeMethod(&m_commands, &TreeCommands::tvCardDblClick, Qt::QueuedConnection);
        }
        return false;
    }
    case QEvent::MouseMove: {
        if (!m_armed)
            return false;
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!(mouse->buttons() & Qt::LeftButton)) {
            m_armed = false;
            return false;
        }
        const QPoint moved = mouse->position().toPoint() - m_pressPos;
        if (qAbs(moved.x()) >= DragDistance || qAbs(moved.y()) >= DragDistance) {
            m_armed = false;
            m_startDrag();
            setDropTarget(QModelIndex());
        }
        return true; // an armed press stays a click: no range selection
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::RightButton)
            return true;
        m_armed = false;
        return false;
    }
    case QEvent::DragEnter: {
        auto *drag = static_cast<QDragEnterEvent *>(event);
        if (!comesFromThisTree(drag->mimeData()))
            return handleFileDrag(event);
        // Taken in, so that the moves follow; each position decides itself.
        drag->setDropAction(Qt::MoveAction);
        drag->accept();
        setDropTarget(m_view->indexAt(drag->position().toPoint()));
        return true;
    }
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (!comesFromThisTree(drag->mimeData()))
            return handleFileDrag(event);
        const QModelIndex target = m_view->indexAt(drag->position().toPoint());
        if (target.isValid() && comesFromThisTree(drag->mimeData())) {
            drag->setDropAction(Qt::MoveAction);
            drag->accept();
            setDropTarget(target);
        } else {
            drag->ignore(); // no drop over empty space
            setDropTarget(QModelIndex());
        }
        return true;
    }
    case QEvent::DragLeave:
        setDropTarget(QModelIndex());
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!comesFromThisTree(drop->mimeData()))
            return handleFileDrag(event);
        setDropTarget(QModelIndex());
        const QModelIndex target = m_view->indexAt(drop->position().toPoint());
        CardNode *targetNode = target.isValid() ? m_host.nodeOfIndex(target) : nullptr;
        if (!targetNode || !comesFromThisTree(drop->mimeData())) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::MoveAction);
        drop->accept();
        m_commands.tvCardDragDrop(targetNode);
        return true;
    }
    default:
        return false;
    }
}

} // namespace kelvo
