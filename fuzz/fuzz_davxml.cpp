// Feeds arbitrary bytes to the reader of WebDAV/CardDAV answers (multistatus
// and error bodies): it must refuse or read them without crashing, without
// unbounded memory, and what it reads must hold together (every response names
// a resource; only 2xx propstats give properties).
#include "DavXml.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

using namespace kelvo::sync;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const auto parsed = parseMultistatus(xml, &error);
    if (parsed) {
        if (!error.isEmpty())
            std::abort();
        for (const DavResponse &r : parsed->responses) {
            if (r.href.isEmpty())
                std::abort();
            if (r.status != 0 && (r.status < 100 || r.status > 599))
                std::abort();
            // Nothing read can be larger than what came in.
            if (r.addressData.size() > xml.size() * 4 || r.etag.size() > xml.size() * 4)
                std::abort();
        }
    } else if (error.isEmpty()) {
        std::abort();
    }
    const QStringList conditions = parseDavErrorConditions(xml);
    for (const QString &c : conditions)
        if (!c.startsWith(QLatin1Char('{')))
            std::abort();
    parseStatusLine(QString::fromUtf8(xml.left(200)));
    return 0;
}
