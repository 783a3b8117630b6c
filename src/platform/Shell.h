#pragma once

#include "LinkUrl.h"

#include <QString>
#include <QUrl>

namespace kelvo {

// Hands links and files to the desktop (mail program, browser, the program
// registered for a file type). Results are not examined.
class Shell
{
public:
    virtual ~Shell() = default;

    // `link` is the text exactly as the program builds it ("MailTo:...",
    // "http://..."); it is made a valid URI here, once.
    virtual void openLink(const QString &link) = 0;
    // A file by path; a relative path counts from the current folder.
    virtual void openFile(const QString &path) = 0;
};

// The file URL for a path, made absolute first.
QUrl fileToUrl(const QString &path);

} // namespace kelvo
