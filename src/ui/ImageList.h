#pragma once

#include <QIcon>
#include <QList>
#include <QString>

namespace kelvo {

// The main window's picture list `ImageList1`: fourteen small pictures
// addressed by number (0 card class, 1 card, then one for each command), drawn
// from the SVG files in the icon resources. Numbers outside the list give a
// null icon.
class ImageList
{
public:
    static constexpr int Count = 14;

    enum Number {
        CardClass = 0,
        Card = 1,
        OpenMainPage = 2,
        Delete = 3,
        Search = 4,
        Help = 5,
        SendMail = 6,
        Edit = 7,
        Rename = 8,
        Save = 9,
        MailToAuthor = 10,
        About = 11,
        Exit = 12,
        AuthorMainPage = 13,
    };

    ImageList();

    QIcon icon(int number) const;
    int count() const { return static_cast<int>(m_icons.size()); }

    // The resource path of picture `number`.
    static QString resourcePath(int number);
    // The program's own icon (window, tray, desktop entry).
    static QIcon programIcon();
    // An icon drawn from an SVG resource at the usual small sizes.
    static QIcon renderSvg(const QString &resource, const QList<int> &sizes);

private:
    QList<QIcon> m_icons;
};

} // namespace kelvo
