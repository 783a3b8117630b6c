#pragma once

#include <QString>
#include <QUrl>

namespace kelvo {

// The URI for a link text as the program builds it ("MailTo:...",
// "http://..."): non-ASCII characters become UTF-8 percent escapes, raw CR and
// LF become %0D and %0A, existing %XX escapes stay as they are. The shell
// hands exactly this to the desktop; `kelvo-tool export --format mailto`
// prints it.
QUrl linkToUrl(const QString &link);

} // namespace kelvo
