#include "TfrmCardQrCode.h"

#include "AtomicFile.h"
#include "Dialogs.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelvo {

namespace {

// A file name from a card's name: characters no file name may hold become "_".
QString pictureFileName(const QString &cardName)
{
    QString name = cardName.trimmed();
    for (QChar &c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>'
            || c == u'|' || c.unicode() < 0x20)
            c = u'_';
    }
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(QStringLiteral("名片"));
    return name + QStringLiteral(".png");
}

} // namespace

QString TfrmCardQrCode::tooLongText()
{
    return QStringLiteral("这张名片的姓名、头衔、单位、电话和电子邮件太长，无法生成二维码。");
}

TfrmCardQrCode::TfrmCardQrCode(Dialogs &dialogs, const QString &cardName, capture::CardQrCode code, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_cardName(cardName)
    , m_code(std::move(code))
{
    setObjectName(QStringLiteral("frmCardQrCode"));
    setWindowTitle(QStringLiteral("名片二维码 - %1").arg(cardName));
    setAccessibleName(QStringLiteral("名片二维码"));

    auto *name = new QLabel(cardName, this);
    name->setObjectName(QStringLiteral("lblCardName"));
    name->setAlignment(Qt::AlignCenter);
    QFont large = name->font();
    large.setPointSizeF(large.pointSizeF() * 1.3);
    large.setBold(true);
    name->setFont(large);

    // Modules of at least three pixels, the whole code near 300 pixels.
    const int moduleSize = std::max(3, 300 / std::max(1, m_code.symbol.size + 8));
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgQrCode"));
    picture->setAccessibleName(QStringLiteral("二维码"));
    picture->setAccessibleDescription(QStringLiteral("用手机扫描，把这张名片加入通讯录"));
    picture->setPixmap(QPixmap::fromImage(capture::RenderQrSymbol(m_code.symbol, moduleSize)));
    picture->setAlignment(Qt::AlignCenter);

    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("lblQrNote"));
    m_note->setWordWrap(true);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setText(m_code.compact
                        ? QStringLiteral("名片内容较多，二维码中只有姓名、头衔、单位、电话、传真、手机和电子邮件。")
                        : QStringLiteral("用手机扫描二维码，即可把这张名片加入通讯录。"));
    m_note->setAccessibleName(m_note->text());

    auto *save = new QPushButton(QStringLiteral("保存图片..."), this);
    save->setObjectName(QStringLiteral("btnSavePicture"));
    save->setAccessibleName(QStringLiteral("保存图片"));
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setAccessibleName(close->text());
    close->setDefault(true);
    connect(save, &QPushButton::clicked, this, [this] { btnSavePictureClick(); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(close);
    auto *column = new QVBoxLayout(this);
    column->addWidget(name);
    column->addWidget(picture, 1);
    column->addWidget(m_note);
    column->addLayout(buttons);
    setMinimumWidth(360);
}

QString TfrmCardQrCode::noteText() const
{
    return m_note->text();
}

bool TfrmCardQrCode::btnSavePictureClick()
{
    const std::optional<QString> path = m_dialogs.saveFileName(this, QStringLiteral("保存图片"),
                                                               QStringLiteral("PNG 图片 (*.png)"), QStringLiteral("png"),
                                                               pictureFileName(m_cardName));
    if (!path)
        return false;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    const QImage picture = capture::RenderQrSymbol(m_code.symbol, SavedModuleSize);
    if (picture.isNull() || !picture.save(&buffer, "PNG")) {
        m_dialogs.error(this, QStringLiteral("图片没有保存成功：无法生成图片。"));
        return false;
    }
    const Result<> written = writeFileAtomically(*path, png);
    if (!written) {
        m_dialogs.error(this, QStringLiteral("图片没有保存成功：%1\r\n%2")
                                  .arg(*path, written.error().text.isEmpty() ? describeErrorCode(written.error().code)
                                                                             : written.error().text));
        return false;
    }
    return true;
}

} // namespace kelvo
