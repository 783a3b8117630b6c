#include "LinkCommands.h"

#include "CardData.h"
#include "CardTree.h"
#include "Dialogs.h"
#include "Gb18030.h"
#include "KelvoVersion.h"
#include "MailLinkText.h"
#include "Shell.h"

#include <QDir>

namespace kelvo {

namespace links {

QString ProductNameAndVersion()
{
    return QString::fromLatin1(version::ProductNameAndVersion);
}

QString CardMailLink(const TCardData &card)
{
    // Each field is decoded on its own, so a damaged byte at the end of one
    // field cannot take the text after it along, and escaped, so that an
    // address "a@b.cn?bcc=..." or a name "P&G" stays what it is.
    return QStringLiteral("MailTo:") + EscapeCardTextForMailLink(gb18030::decode(card.field(Field::EMail)))
        + QStringLiteral("?Subject=") + EscapeCardTextForMailLink(gb18030::decode(card.field(Field::Name)))
        + QStringLiteral("您好!");
}

QString WebSiteLink(QByteArrayView webSite)
{
    const QString address = gb18030::decode(webSite);
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return address;
    return QStringLiteral("http://") + address;
}

QString AuthorMailLink()
{
    return QStringLiteral("Mailto:") + QString::fromUtf16(AuthorMailbox) + QLatin1Char('?');
}

QString HelpFilePath(const QString &programFolder)
{
    return QDir(QDir(programFolder).absolutePath()).filePath(QStringLiteral("bz.txt"));
}

} // namespace links

LinkCommands::LinkCommands(Dialogs &dialogs, Shell &shell, QWidget *owner, QString programFolder)
    : m_dialogs(dialogs)
    , m_shell(shell)
    , m_owner(owner)
    , m_programFolder(std::move(programFolder))
{
}

void LinkCommands::actSendMailExecute(const CardNode *selected)
{
    // With nothing selected (or a node whose record is gone) there is
    // nobody to write to: nothing happens.
    if (!selected || !selected->data())
        return;
    if (selected->isCardClass()) {
        m_dialogs.notice(m_owner, QStringLiteral("暂不支持按类别发送。"));
        return;
    }
    m_shell.openLink(links::CardMailLink(*selected->data()));
}

void LinkCommands::actOpenMainPageExecute(const CardNode *selected)
{
    if (!selected || !selected->data() || selected->isCardClass()) {
        m_dialogs.notice(m_owner, QStringLiteral("请选择名片"));
        return;
    }
    m_shell.openLink(links::WebSiteLink(selected->data()->field(Field::WZ)));
}

void LinkCommands::actSoftHelpExecute()
{
    m_shell.openFile(links::HelpFilePath(m_programFolder));
}

void LinkCommands::actAuthorMainPageExecute()
{
    m_shell.openLink(QString::fromUtf16(links::AuthorHomePage));
}

void LinkCommands::actMailToAuthorExecute()
{
    m_shell.openLink(links::AuthorMailLink());
}

void LinkCommands::actAboutExecute()
{
    m_dialogs.notice(m_owner, links::ProductNameAndVersion());
}

} // namespace kelvo
