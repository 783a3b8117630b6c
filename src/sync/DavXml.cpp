#include "DavXml.h"

#include <QXmlStreamReader>

#include <vector>

namespace kelvo::sync {

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");

enum class El {
    Other,
    Multistatus,
    Response,
    Href,
    Status,
    Propstat,
    Prop,
    Error,
    SyncToken,
    GetEtag,
    AddressData,
    ResourceType,
    Collection,
    AddressBook,
    CurrentUserPrincipal,
    HomeSet,
    SupportedAddressData,
    DisplayName,
};

El classify(QStringView ns, QStringView name)
{
    if (ns == kDav) {
        if (name == u"multistatus")
            return El::Multistatus;
        if (name == u"response")
            return El::Response;
        if (name == u"href")
            return El::Href;
        if (name == u"status")
            return El::Status;
        if (name == u"propstat")
            return El::Propstat;
        if (name == u"prop")
            return El::Prop;
        if (name == u"error")
            return El::Error;
        if (name == u"sync-token")
            return El::SyncToken;
        if (name == u"getetag")
            return El::GetEtag;
        if (name == u"resourcetype")
            return El::ResourceType;
        if (name == u"collection")
            return El::Collection;
        if (name == u"current-user-principal")
            return El::CurrentUserPrincipal;
        if (name == u"displayname")
            return El::DisplayName;
    } else if (ns == kCardDav) {
        if (name == u"address-data")
            return El::AddressData;
        if (name == u"addressbook")
            return El::AddressBook;
        if (name == u"addressbook-home-set")
            return El::HomeSet;
        if (name == u"supported-address-data")
            return El::SupportedAddressData;
    }
    return El::Other;
}

// The properties of one propstat, applied to the response when its status
// turns out to be 2xx (the status may come after the properties).
struct PropBag
{
    DavResponse props;
    int status = 0;
};

void apply(DavResponse &to, const DavResponse &from)
{
    if (from.hasEtag) {
        to.hasEtag = true;
        to.etag = from.etag;
    }
    if (from.hasAddressData) {
        to.hasAddressData = true;
        to.addressData = from.addressData;
    }
    to.isCollection = to.isCollection || from.isCollection;
    to.isAddressBook = to.isAddressBook || from.isAddressBook;
    to.principalHrefs += from.principalHrefs;
    to.homeSetHrefs += from.homeSetHrefs;
    to.addressDataVersions += from.addressDataVersions;
    if (from.hasSyncToken) {
        to.hasSyncToken = true;
        to.syncToken = from.syncToken;
    }
    if (!from.displayName.isEmpty())
        to.displayName = from.displayName;
}

QString conditionName(QStringView ns, QStringView name)
{
    return QLatin1Char('{') + ns.toString() + QLatin1Char('}') + name.toString();
}

} // namespace

int parseStatusLine(QStringView line)
{
    line = line.trimmed();
    if (!line.startsWith(u"HTTP/"))
        return 0;
    const qsizetype space = line.indexOf(u' ');
    if (space < 0)
        return 0;
    const QStringView rest = line.mid(space + 1).trimmed();
    if (rest.size() < 3)
        return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const QChar c = rest[i];
        if (c < u'0' || c > u'9')
            return 0;
        code = code * 10 + (c.unicode() - u'0');
    }
    if (rest.size() > 3 && rest[3] != u' ')
        return 0;
    return code >= 100 && code <= 599 ? code : 0;
}

std::optional<DavMultistatus> parseMultistatus(const QByteArray &xml, QString *error)
{
    auto failed = [error](const QString &why) -> std::optional<DavMultistatus> {
        if (error)
            *error = why;
        return std::nullopt;
    };

    QXmlStreamReader r(xml);
    DavMultistatus out;
    std::vector<El> stack;
    DavResponse response;
    PropBag bag;
    QString text;          // the text of the element being collected
    bool collecting = false;

    // Where in the document an element stands, by the kinds of its parents.
    auto parent = [&stack](std::size_t up) { return stack.size() > up ? stack[stack.size() - 1 - up] : El::Other; };

    while (!r.atEnd()) {
        const QXmlStreamReader::TokenType token = r.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
            return failed(QStringLiteral("the answer declares a document type"));
        case QXmlStreamReader::EntityReference:
            return failed(QStringLiteral("the answer uses an undeclared entity"));
        case QXmlStreamReader::StartElement: {
            if (stack.size() >= std::size_t(kDavMaxDepth))
                return failed(QStringLiteral("the answer is nested too deeply"));
            const El el = classify(r.namespaceUri(), r.name());
            const std::size_t level = stack.size(); // 0: the root
            if (level == 0 && el != El::Multistatus)
                return failed(QStringLiteral("the answer is not a multistatus"));
            // Which elements start a text to collect or a new record.
            if (level == 1 && el == El::Response) {
                if (out.responses.size() >= kDavMaxResponses)
                    return failed(QStringLiteral("the answer lists too many resources"));
                response = DavResponse();
            } else if (level == 1 && el == El::SyncToken) {
                collecting = true;
            } else if (level == 2 && parent(0) == El::Response) {
                if (el == El::Href || el == El::Status)
                    collecting = true;
                else if (el == El::Propstat)
                    bag = PropBag();
            } else if (level == 3 && parent(0) == El::Error && parent(1) == El::Response) {
                response.errors.append(conditionName(r.namespaceUri(), r.name()));
            } else if (level == 3 && parent(0) == El::Propstat) {
                if (el == El::Status)
                    collecting = true;
            } else if (level == 4 && parent(0) == El::Prop && parent(1) == El::Propstat) {
                switch (el) {
                case El::GetEtag:
                case El::AddressData:
                case El::SyncToken:
                case El::DisplayName:
                    collecting = true;
                    break;
                default:
                    break;
                }
            } else if (level == 5 && parent(1) == El::Prop && parent(2) == El::Propstat) {
                const El property = parent(0);
                if (property == El::ResourceType) {
                    if (el == El::Collection)
                        bag.props.isCollection = true;
                    else if (el == El::AddressBook)
                        bag.props.isAddressBook = true;
                } else if ((property == El::CurrentUserPrincipal || property == El::HomeSet) && el == El::Href) {
                    collecting = true;
                } else if (property == El::SupportedAddressData) {
                    const auto attributes = r.attributes();
                    const QStringView type = attributes.value(QLatin1String("content-type"));
                    const QStringView version = attributes.value(QLatin1String("version"));
                    if (type.compare(u"text/vcard", Qt::CaseInsensitive) == 0 && !version.isEmpty())
                        bag.props.addressDataVersions.append(version.toString());
                }
            }
            if (collecting)
                text.clear();
            stack.push_back(el);
            break;
        }
        case QXmlStreamReader::Characters:
            if (collecting)
                text += r.text();
            break;
        case QXmlStreamReader::EndElement: {
            const El el = stack.back();
            stack.pop_back();
            const std::size_t level = stack.size();
            if (collecting) {
                collecting = false;
                if (level == 1 && el == El::SyncToken) {
                    out.hasSyncToken = true;
                    out.syncToken = text.trimmed().toUtf8();
                } else if (level == 2 && el == El::Href) {
                    const QString href = text.trimmed();
                    if (response.href.isEmpty())
                        response.href = href;
                    else
                        response.moreHrefs.append(href);
                } else if (level == 2 && el == El::Status) {
                    response.status = parseStatusLine(text);
                } else if (level == 3 && el == El::Status) {
                    bag.status = parseStatusLine(text);
                } else if (level == 4) {
                    switch (el) {
                    case El::GetEtag:
                        bag.props.hasEtag = true;
                        bag.props.etag = text.trimmed().toUtf8();
                        break;
                    case El::AddressData:
                        bag.props.hasAddressData = true;
                        bag.props.addressData = text.toUtf8();
                        break;
                    case El::SyncToken:
                        bag.props.hasSyncToken = true;
                        bag.props.syncToken = text.trimmed().toUtf8();
                        break;
                    case El::DisplayName:
                        bag.props.displayName = text.trimmed();
                        break;
                    default:
                        break;
                    }
                } else if (level == 5) {
                    const El property = parent(0);
                    if (property == El::CurrentUserPrincipal)
                        bag.props.principalHrefs.append(text.trimmed());
                    else if (property == El::HomeSet)
                        bag.props.homeSetHrefs.append(text.trimmed());
                }
                text.clear();
            }
            if (level == 2 && el == El::Propstat) {
                if (bag.status >= 200 && bag.status < 300)
                    apply(response, bag.props);
                else
                    response.worstPropStatus = std::max(response.worstPropStatus, bag.status ? bag.status : 500);
            } else if (level == 1 && el == El::Response) {
                if (response.href.isEmpty())
                    return failed(QStringLiteral("a response names no resource"));
                out.responses.append(std::move(response));
                response = DavResponse();
            }
            break;
        }
        default:
            break;
        }
    }
    if (r.hasError())
        return failed(QStringLiteral("the answer is not well-formed XML (line %1: %2)")
                          .arg(r.lineNumber())
                          .arg(r.errorString()));
    return out;
}

QStringList parseDavErrorConditions(const QByteArray &xml)
{
    QXmlStreamReader r(xml);
    QStringList conditions;
    int depth = 0;
    bool inError = false;
    while (!r.atEnd()) {
        const auto token = r.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            return {};
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > kDavMaxDepth)
                return {};
            if (depth == 1)
                inError = r.namespaceUri() == kDav && r.name() == u"error";
            else if (depth == 2 && inError)
                conditions.append(conditionName(r.namespaceUri(), r.name()));
            if (!inError)
                return {};
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return r.hasError() ? QStringList() : conditions;
}

} // namespace kelvo::sync
