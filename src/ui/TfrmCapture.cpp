#include "TfrmCapture.h"

#include "CapturePicture.h"
#include "CardImage.h"
#include "CardOcr.h"
#include "CardRecords.h"
#include "CardTreeHost.h"
#include "CardImport.h"
#include "Dialogs.h"
#include "Gb18030.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvo {

namespace {

struct EditorRow
{
    int field;
    const char *name;
    const char16_t *caption;
};

// The editors carry the names and captions of the detail panel's.
const EditorRow Rows[] = {
    {Field::Name, "edtName", u"姓名："},     {Field::TouXian, "edtTouXian", u"头衔："},
    {Field::DW, "edtDW", u"单位："},         {Field::DZ, "edtDZ", u"地址："},
    {Field::DH, "edtDH", u"电话："},         {Field::CZ, "edtCZ", u"传真："},
    {Field::SJ, "edtSJ", u"手机："},         {Field::YB, "edtYB", u"邮编："},
    {Field::WZ, "edtWZ", u"网址："},         {Field::QQ, "edtQQ", u"QQ："},
    {Field::MSN, "edtMSN", u"MSN："},        {Field::EMail, "edtEMail", u"E-mail："},
    {Field::Other, "edtOther", u"其他信息："},
};

const QColor CheckColour(255, 244, 194);

QString withoutColon(const char16_t *caption)
{
    QString text = QString::fromUtf16(caption);
    if (text.endsWith(u'：'))
        text.chop(1);
    return text;
}

} // namespace

bool isCardPictureFile(const QString &path)
{
    static const QStringList suffixes = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                         QStringLiteral("bmp"), QStringLiteral("tif"), QStringLiteral("tiff")};
    return suffixes.contains(QFileInfo(path).suffix(), Qt::CaseInsensitive);
}

QString cardPictureFilter()
{
    return QStringLiteral("图片 (*.jpg *.jpeg *.png *.bmp *.tif *.tiff *.JPG *.JPEG *.PNG *.BMP *.TIF *.TIFF)");
}

TfrmCapture::TfrmCapture(CardTreeHost &host, std::unique_ptr<CardCapturer> capturer, CardNode *targetClass,
                         const QStringList &files, QWidget *parent)
    : QDialog(parent)
    , m_host(host)
    , m_tree(host.cardTree())
    , m_capturer(std::move(capturer))
    , m_targetClass(targetClass)
    , m_files(files)
{
    setObjectName(QStringLiteral("frmCapture"));
    setWindowTitle(QStringLiteral("扫描名片"));
    setAccessibleName(QStringLiteral("扫描名片"));
    buildControls();
    m_tree.addObserver(this);
    connect(m_capturer.get(), &CardCapturer::finished, this, &TfrmCapture::captureFinished);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        for (QLineEdit *edit : m_editors) {
            if (edit == now)
                m_lastEditor = edit;
        }
    });
}

TfrmCapture::~TfrmCapture()
{
    m_tree.removeObserver(this);
    if (m_capturer)
        m_capturer->cancel();
}

void TfrmCapture::buildControls()
{
    auto *columns = new QHBoxLayout;

    auto *left = new QVBoxLayout;
    m_picture = new CapturePicture(this);
    left->addWidget(m_picture, 1);
    auto *pictureButtons = new QHBoxLayout;
    m_rotateLeft = new QPushButton(QStringLiteral("向左旋转"), this);
    m_rotateLeft->setObjectName(QStringLiteral("btnRotateLeft"));
    m_rotateLeft->setAccessibleName(m_rotateLeft->text());
    m_rotateRight = new QPushButton(QStringLiteral("向右旋转"), this);
    m_rotateRight->setObjectName(QStringLiteral("btnRotateRight"));
    m_rotateRight->setAccessibleName(m_rotateRight->text());
    m_verticalBox = new QCheckBox(QStringLiteral("竖排名片"), this);
    m_verticalBox->setObjectName(QStringLiteral("chkVertical"));
    m_verticalBox->setAccessibleName(m_verticalBox->text());
    pictureButtons->addWidget(m_rotateLeft);
    pictureButtons->addWidget(m_rotateRight);
    pictureButtons->addWidget(m_verticalBox);
    pictureButtons->addStretch(1);
    left->addLayout(pictureButtons);
    columns->addLayout(left, 3);

    auto *form = new QFormLayout;
    for (const EditorRow &row : Rows) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(row.name));
        edit->setAccessibleName(withoutColon(row.caption));
        edit->setMinimumWidth(220);
        auto *label = new QLabel(QString::fromUtf16(row.caption), this);
        label->setBuddy(edit);
        form->addRow(label, edit);
        m_editors[size_t(row.field - 1)] = edit;
    }
    columns->addLayout(form, 2);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblCaptureStatus"));
    m_status->setWordWrap(true);
    m_status->setAccessibleDescription(QStringLiteral("识别状态"));

    auto *buttons = new QHBoxLayout;
    m_add = new QPushButton(QStringLiteral("添加"), this);
    m_add->setObjectName(QStringLiteral("btnAdd"));
    m_add->setAccessibleName(m_add->text());
    m_add->setDefault(true);
    m_skip = new QPushButton(QStringLiteral("跳过"), this);
    m_skip->setObjectName(QStringLiteral("btnSkip"));
    m_skip->setAccessibleName(m_skip->text());
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setAccessibleName(close->text());
    close->setAutoDefault(false);
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_add);
    buttons->addWidget(m_skip);
    buttons->addWidget(close);

    auto *all = new QVBoxLayout(this);
    all->addLayout(columns, 1);
    all->addLayout(buttons);

    connect(m_picture, &CapturePicture::lineClicked, this, &TfrmCapture::putLineText);
    connect(m_rotateLeft, &QPushButton::clicked, this, [this] { rotate(-1); });
    connect(m_rotateRight, &QPushButton::clicked, this, [this] { rotate(1); });
    connect(m_verticalBox, &QCheckBox::toggled, this, &TfrmCapture::setVertical);
    connect(m_add, &QPushButton::clicked, this, &TfrmCapture::btnAddClick);
    connect(m_skip, &QPushButton::clicked, this, &TfrmCapture::btnSkipClick);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    resize(980, 520);
}

void TfrmCapture::start()
{
    m_index = 0;
    if (m_files.isEmpty()) {
        close();
        return;
    }
    m_vertical = false;
    readCurrent(-1);
}

void TfrmCapture::readCurrent(int rotation)
{
    const QString &path = m_files.at(m_index);
    if (rotation < 0) {
        // A new picture: shown at once, as its EXIF data turns it; the
        // editors wait for the reading.
        Result<QImage> loaded = capture::loadCardImage(path);
        m_original = loaded ? loaded.value() : QImage();
        m_rotation = 0;
        for (int n = Field::First; n <= Field::Last; ++n) {
            editor(n)->clear();
            setHighlighted(n, false);
        }
        const QSignalBlocker quiet(m_verticalBox);
        m_verticalBox->setChecked(m_vertical);
    }
    m_picture->setPicture(capture::rotatedPicture(m_original, m_rotation), {});
    m_reading = true;
    m_add->setEnabled(false);
    const QString counter = m_files.size() > 1 ? QStringLiteral("（第%1张，共%2张）").arg(m_index + 1).arg(m_files.size())
                                               : QString();
    setStatus(QStringLiteral("正在识别%1%2……").arg(QFileInfo(path).fileName(), counter));
    CardCapturer::Request request;
    request.path = path;
    // A new picture: the reader tells its layout; a picture read again: as
    // the user set it.
    using Layout = CardCapturer::Request::Layout;
    request.layout = rotation < 0 ? Layout::Auto : m_vertical ? Layout::Vertical : Layout::Horizontal;
    request.rotation = rotation;
    m_capturer->start(request);
}

void TfrmCapture::captureFinished(const QString &path, const capture::CaptureResult &result)
{
    if (!m_reading || m_index >= m_files.size() || path != m_files.at(m_index))
        return; // a reading dropped by a later one
    m_reading = false;
    m_add->setEnabled(true);
    m_rotation = ((result.rotation % 360) + 360) % 360;
    {
        const QSignalBlocker quiet(m_verticalBox);
        m_vertical = result.vertical || m_vertical;
        m_verticalBox->setChecked(m_vertical);
    }
    const QString name = QFileInfo(path).fileName();
    if (!result.ok()) {
        m_picture->setPicture(capture::rotatedPicture(m_original, m_rotation), {});
        for (int n = Field::First; n <= Field::Last; ++n) {
            editor(n)->clear();
            setHighlighted(n, true);
        }
        // The reader words its reasons in English (kelvo-tool shares them);
        // the window says in Chinese what happened and keeps the reason.
        setStatus(QStringLiteral("无法识别图片“%1”，可以手工填写后添加，或跳过。（原因：%2）").arg(name, result.error));
        return;
    }
    m_picture->setPicture(capture::rotatedPicture(m_original, m_rotation), result.lines);
    fill(result);
    setStatus(result.fromQrCode ? QStringLiteral("%1：已从名片上的二维码读出，请核对后添加。").arg(name)
                                : QStringLiteral("%1：已识别，请核对标出的项目后添加。").arg(name));
    editor(Field::Name)->setFocus();
}

void TfrmCapture::fill(const capture::CaptureResult &result)
{
    for (int n = Field::First; n <= Field::Last; ++n) {
        const capture::CapturedField &field = result.field(n);
        editor(n)->setText(field.text);
        editor(n)->setCursorPosition(0);
        const bool unsure = field.text.trimmed().isEmpty() || field.confidence < SureConfidence;
        setHighlighted(n, unsure || n == Field::Name || n == Field::TouXian);
    }
}

bool TfrmCapture::isHighlighted(int n) const
{
    return m_highlighted[size_t(n - 1)];
}

void TfrmCapture::setHighlighted(int n, bool on)
{
    m_highlighted[size_t(n - 1)] = on;
    QLineEdit *edit = editor(n);
    QPalette colours = palette();
    if (on)
        colours.setColor(QPalette::Base, CheckColour);
    edit->setPalette(colours);
    edit->setProperty("needsCheck", on);
    edit->setAccessibleDescription(on ? QStringLiteral("请核对") : QString());
}

void TfrmCapture::putLineText(const QString &text)
{
    QLineEdit *target = nullptr;
    for (QLineEdit *edit : m_editors) {
        if (edit->hasFocus())
            target = edit;
    }
    if (!target)
        target = m_lastEditor;
    if (!target)
        return;
    target->setText(text);
    target->setFocus();
}

CapturedTexts TfrmCapture::texts() const
{
    CapturedTexts all;
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = m_editors[i]->text();
    return all;
}

CardNode *TfrmCapture::resolveTargetClass()
{
    if (m_targetClass)
        return m_targetClass;
    // The reserved class, as the add-card command falls back to it (made at
    // the end of the top level when the tree has none).
    m_targetClass = exchange::ImportTargetClass(m_tree, ReservedCardClassLabel());
    return m_targetClass;
}

void TfrmCapture::btnAddClick()
{
    if (m_reading)
        return;
    const CapturedTexts captured = texts();
    if (isEmptyCapture(captured)) {
        m_host.dialogs().notice(this, QStringLiteral("名片的各项都是空的，没有添加。"));
        return;
    }
    CardTree &tree = m_tree;
    CardNode *stored = nullptr;
    if (CardNode *similar = findSimilarCard(tree, captured)) {
        const QString company = gb18030::decode(similar->data()->field(Field::DW));
        const QString who = gb18030::decode(similar->label())
            + (company.isEmpty() ? QString() : QStringLiteral("（%1）").arg(company));
        const bool update = m_host.dialogs().question(
            this,
            QStringLiteral("名片夹中已有一张相似的名片：%1。\r\n"
                           "要用识别出的内容更新这张名片吗？\r\n"
                           "选“是”更新原有名片（空白的项目保留原值），选“否”另外添加一张新名片。")
                .arg(who),
            QStringLiteral("Kelvo"));
        if (update) {
            updateCardFromCapture(tree, similar, captured);
            stored = similar;
        }
    }
    if (!stored)
        stored = addCapturedCard(tree, resolveTargetClass(), captured);
    m_host.selectNode(stored);
    emit cardStored(stored);
    next();
}

void TfrmCapture::btnSkipClick()
{
    next();
}

void TfrmCapture::next()
{
    m_capturer->cancel();
    m_reading = false;
    if (m_index + 1 >= m_files.size()) {
        close();
        return;
    }
    ++m_index;
    m_vertical = false;
    readCurrent(-1);
}

void TfrmCapture::rotate(int quarterTurns)
{
    if (m_index >= m_files.size())
        return;
    m_rotation = (((m_rotation + 90 * quarterTurns) % 360) + 360) % 360;
    readCurrent(m_rotation);
}

void TfrmCapture::setVertical(bool vertical)
{
    if (m_index >= m_files.size() || vertical == m_vertical)
        return;
    m_vertical = vertical;
    readCurrent(m_rotation);
}

QString TfrmCapture::statusText() const
{
    return m_status->text();
}

void TfrmCapture::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setAccessibleName(text);
}

void TfrmCapture::closeEvent(QCloseEvent *event)
{
    m_capturer->cancel();
    m_reading = false;
    QDialog::closeEvent(event);
}

void TfrmCapture::nodesAboutToBeRemoved(CardNode *parent, int first, int last)
{
    if (!m_targetClass)
        return;
    const CardTree &tree = m_tree;
    for (int row = first; row <= last; ++row) {
        const CardNode *going = tree.child(parent, row);
        if (going && (going == m_targetClass || going->isAncestorOf(m_targetClass)))
            m_targetClass = nullptr;
    }
}

void TfrmCapture::treeAboutToBeReset()
{
    m_targetClass = nullptr;
}

} // namespace kelvo
