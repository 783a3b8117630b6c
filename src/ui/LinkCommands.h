#pragma once

#include <QByteArrayView>
#include <QString>

class QWidget;

namespace kelvo {

class CardNode;
class Dialogs;
class Shell;
class TCardData;

// The links the main window hands to the desktop, built as plain text; the
// Shell turns a link text into a valid URI.
namespace links {

// Home page and contact mailbox of the program's maker.
inline constexpr char16_t AuthorHomePage[] = u"https://kelvo.example.org/";
inline constexpr char16_t AuthorMailbox[] = u"kelvo@example.org";

// "Kelvo V2.1" (from the project version), the product name shown by the
// about command.
QString ProductNameAndVersion();

// "MailTo:" + e-mail + "?Subject=" + name + "您好!", where the e-mail and the
// name have their link syntax (% & # ? = +) percent-escaped.
QString CardMailLink(const TCardData &card);

// The card's web site as an address the browser can open: a value that
// starts with "http://" or "https://" (in any letter case) is kept as it
// is; anything else gets "http://" in front, so only web links are ever
// handed on.
QString WebSiteLink(QByteArrayView webSite);

// "Mailto:" + the maker's mailbox + "?".
QString AuthorMailLink();

// The help text "bz.txt" in the program's folder, as an absolute path.
QString HelpFilePath(const QString &programFolder);

} // namespace links

// The six mail, web, help and about commands of the main window. Each reads
// at most the selected node, shows its messages through Dialogs and hands
// what it opens to the Shell. The help text is looked for in
// `programFolder`.
class LinkCommands
{
public:
    LinkCommands(Dialogs &dialogs, Shell &shell, QWidget *owner, QString programFolder);

    void actSendMailExecute(const CardNode *selected);
    void actOpenMainPageExecute(const CardNode *selected);
    void actSoftHelpExecute();
    void actAuthorMainPageExecute();
    void actMailToAuthorExecute();
    void actAboutExecute();

private:
    Dialogs &m_dialogs;
    Shell &m_shell;
    QWidget *m_owner;
    QString m_programFolder;
};

} // namespace kelvo
