#include "CardDetailPanel.h"

#include "CardTree.h"
#include "CardTreeHost.h"
#include "CjkFont.h"
#include "Gb18030.h"
#include "JpegImage.h"
#include "TypedField.h"

#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QtDebug>

namespace kelvo {
namespace {

const char *const TagProperty = "Tag";
const QString PicturePath = QStringLiteral(":/panel/plant.jpg");

// Room left of an editor for its caption, and the gap between them.
constexpr int CaptionWidth = 64;
constexpr int SecondColumnCaptionWidth = 37;
constexpr int CaptionGap = 2;
constexpr int SecondColumnLeft = 308;

QPixmap loadPicture()
{
    QFile file(PicturePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Card panel picture %s is missing", qPrintable(PicturePath));
        return QPixmap();
    }
    QString error;
    const QImage image = DecodeJpeg(file.readAll(), &error);
    if (image.isNull()) {
        qWarning("Card panel picture %s cannot be decoded: %s", qPrintable(PicturePath), qPrintable(error));
        return QPixmap();
    }
    return QPixmap::fromImage(image);
}

} // namespace

const std::array<CardDetailPanel::EditorPlace, 13> &CardDetailPanel::editorPlaces()
{
    static const std::array<EditorPlace, 13> places = {{
        {Field::Name, "edtName", "姓名：", QRect(164, 19, 156, EditorHeight)},
        {Field::TouXian, "edtTouXian", "头衔：", QRect(164, 42, 156, EditorHeight)},
        {Field::DW, "edtDW", "单位：", QRect(164, 68, 251, EditorHeight)},
        {Field::DZ, "edtDZ", "地址：", QRect(164, 88, 250, EditorHeight)},
        {Field::DH, "edtDH", "电话：", QRect(164, 114, 105, EditorHeight)},
        {Field::CZ, "edtCZ", "传真：", QRect(308, 114, 106, EditorHeight)},
        {Field::SJ, "edtSJ", "手机：", QRect(164, 134, 105, EditorHeight)},
        {Field::YB, "edtYB", "邮编：", QRect(308, 134, 106, EditorHeight)},
        {Field::WZ, "edtWZ", "网址：", QRect(164, 154, 250, EditorHeight)},
        {Field::QQ, "edtQQ", "QQ：", QRect(164, 174, 105, EditorHeight)},
        {Field::MSN, "edtMSN", "MSN：", QRect(308, 174, 106, EditorHeight)},
        {Field::EMail, "edtEMail", "E-mail：", QRect(164, 194, 250, EditorHeight)},
        {Field::Other, "edtOther", "其他信息：", QRect(164, 220, 250, EditorHeight)},
    }};
    return places;
}

const std::array<QRect, 3> &CardDetailPanel::ruleRects()
{
    static const std::array<QRect, 3> rules = {{
        QRect(127, 63, 287, 2),
        QRect(127, 109, 287, 2),
        QRect(116, 215, 297, 2),
    }};
    return rules;
}

CardDetailPanel::CardDetailPanel(CardTreeHost &host, QWidget *parent)
    : QWidget(parent)
    , m_host(host)
{
    setObjectName(QStringLiteral("CardDetailPanel"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    white.setColor(QPalette::Text, Qt::black);
    setPalette(white);
    setFont(CjkFont(FontPixelSize));

    m_outline = new QFrame(this);
    m_outline->setObjectName(QStringLiteral("Shape2"));
    m_outline->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_outline->setLineWidth(1);
    m_outline->setGeometry(OutlineRect);
    m_outline->setAttribute(Qt::WA_TransparentForMouseEvents);

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("Image1"));
    m_picture->setScaledContents(true);
    m_picture->setGeometry(PictureRect);
    m_picture->setPixmap(loadPicture());

    buildEditors();
}

void CardDetailPanel::buildEditors()
{
    QWidget *previous = nullptr;
    for (const EditorPlace &place : editorPlaces()) {
        const int slot = place.tag - 1;
        const QString caption = QString::fromUtf8(place.caption);

        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(place.name));
        edit->setProperty(TagProperty, place.tag);
        edit->setFrame(false);
        edit->setGeometry(place.geometry);
        edit->setAccessibleName(caption.chopped(1)); // without the full-width colon
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { edtNameChange(edit); });
        m_editors[static_cast<size_t>(slot)] = edit;

        auto *label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("lbl") + QString::fromLatin1(place.name + 3));
        label->setBuddy(edit);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int width = place.geometry.left() == SecondColumnLeft ? SecondColumnCaptionWidth : CaptionWidth;
        label->setGeometry(place.geometry.left() - CaptionGap - width, place.geometry.top(), width, EditorHeight);
        m_captions[static_cast<size_t>(slot)] = label;

        if (previous)
            setTabOrder(previous, edit);
        previous = edit;
    }
}

QLineEdit *CardDetailPanel::editor(int tag) const
{
    if (tag < Field::First || tag > Field::Last)
        return nullptr;
    return m_editors[static_cast<size_t>(tag - 1)];
}

QLabel *CardDetailPanel::caption(int tag) const
{
    if (tag < Field::First || tag > Field::Last)
        return nullptr;
    return m_captions[static_cast<size_t>(tag - 1)];
}

QSize CardDetailPanel::sizeHint() const
{
    return QSize(OutlineRect.right() + 8, OutlineRect.bottom() + 10);
}

void CardDetailPanel::tvCardChange(CardNode *node)
{
    // The delayed change report may name a node that is no longer selected;
    // the panel always shows the selected node (and never touches a node it
    // was merely told about).
    if (node != m_host.selectedNode())
        node = m_host.selectedNode();
    if (!node || !node->data())
        return; // nothing to show: the editors keep their content

    const TCardData *record = node->data();
    const bool isCard = record->Kind == Kind::Card;
    for (int tag = Field::First; tag <= Field::Last; ++tag) {
        // Each assignment that changes the text writes back at once, before
        // the next one, so `record` is re-read for every field.
        const QString text = isCard ? gb18030::decode(node->data()->field(tag)) : QString();
        QLineEdit *edit = editor(tag);
        edit->setText(text);
        edit->setCursorPosition(0); // a long text shows its beginning
        if (!node->data())
            return;
    }
}

void CardDetailPanel::setNameEditorText(const QString &text)
{
    editor(Field::Name)->setText(text);
}

void CardDetailPanel::edtNameChange(QLineEdit *sender)
{
    CardNode *node = m_host.selectedNode();
    if (!node)
        return;
    const TCardData *record = node->data();
    if (!record || record->Kind != Kind::Card)
        return; // card classes are never written from the panel
    bool isNumber = false;
    const int tag = sender->property(TagProperty).toInt(&isNumber);
    if (!isNumber || tag < Field::First || tag > Field::Last)
        return;

    if (StoreTypedField(m_host.cardTree(), node, tag, sender->text())) {
        // Rule of the write-back: Modified is raised whenever the trimmed
        // text differs from the stored field. The tree announces only what
        // it keeps, so a text past the 255-byte cut raises it here.
        m_host.raiseModifiedWithoutChange();
    }
}

void CardDetailPanel::edtNameKeyPress(QLineEdit *sender)
{
    // Enter acts as Tab: the window moves the focus to its next tab stop.
    if (QWidget *target = sender->window())
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier));
}

bool CardDetailPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (auto *edit = qobject_cast<QLineEdit *>(watched))
                edtNameKeyPress(edit);
        }
    }
    return QWidget::eventFilter(watched, event); // the key itself goes on unchanged
}

void CardDetailPanel::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    for (const QRect &rule : ruleRects())
        painter.fillRect(rule, Qt::black);
}

} // namespace kelvo
